#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <portaudio.h>

#include "capture/AudioDevice.h"

// The devices of the initialised capture library, read on each call.
class TPortAudioDeviceList : public TAudioDeviceList {
public:
    int Count() const override;
    std::optional<TAudioDeviceInfo> Info(int AIndex) const override;
};

// Every device the library reports, in index order. Brackets its own
// Pa_Initialize/Pa_Terminate; empty when the library does not start.
std::vector<TTavixAudioDevice> EnumerateAudioDevices();

// PortAudio's start and stop are not safe from two threads at once: a
// device list asked for in the background could meet a transmission
// starting. Held around every Pa_Initialize/Pa_Terminate and what runs
// between them, never across reads of a running stream.
std::mutex& PortAudioLibraryLock();

// The library's text for an error code, or "Erro PortAudio <code>".
std::string PortAudioErrorText(PaError ACode);
