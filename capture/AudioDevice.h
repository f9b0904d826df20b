#pragma once

#include <cstdint>
#include <optional>
#include <string>

// One device as the capture library reports it.
struct TTavixAudioDevice {
    int32_t Index = -1;
    std::string Name;
    std::string HostApiName;
    int32_t MaxInputChannels = 0;
    int32_t MaxOutputChannels = 0;
    double DefaultSampleRate = 0.0;
    int32_t HostApiType = -1; // -1 when the library gave no host-API information
};

// The host API whose outputs are offered as loopback channels and whose
// inputs may be their partners. Linux has no WASAPI; PortAudio's ALSA host
// API (paALSA) plays that role, the PulseAudio monitors being ALSA inputs.
constexpr int32_t KLoopbackHostApiType = 8;
constexpr const char* KLoopbackHostApiName = "ALSA";

// What opening a capture stream needs to know about a device beyond the
// catalogue record.
struct TAudioDeviceInfo {
    TTavixAudioDevice Device;
    double DefaultHighInputLatency = 0.0;
};

// The devices as seen by the capture-channel logic. The live one reads the
// capture library; tests fill their own.
class TAudioDeviceList {
public:
    virtual ~TAudioDeviceList() = default;
    virtual int Count() const = 0;
    // Empty when the library has no information for AIndex.
    virtual std::optional<TAudioDeviceInfo> Info(int AIndex) const = 0;
};
