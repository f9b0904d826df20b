#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capture/CaptureReport.h"
#include "capture/CaptureSource.h"
#include "capture/SoundServerDevices.h"
#include "settings/EncoderConfig.h"

// Sound-server devices live in the same capture-channel numbering as the
// PortAudio ones, from this index up (their position in the catalogue);
// their stable identity is the server's name, stored with this prefix.
constexpr int32_t KSoundServerIndexBase = 1000000;
constexpr const char* KSoundServerIdPrefix = "pulse:";

std::string SoundServerDeviceId(const TSoundServerDevice& ADevice);
bool IsSoundServerChannel(const TEncoderConfig& AConfig);

// The configured channel resolved to the source to record, before any
// stream exists.
struct TSoundServerChannelPlan {
    std::string Error;      // the refusal message; empty when resolved
    // The refusal is of a channel that may come (the server not up yet,
    // the device not plugged in), not of the settings.
    bool Absent = false;
    std::string SourceName; // an input, or the chosen output's monitor
    bool Loopback = false;
    std::string PartnerName; // loopback only: the monitor's description
    int32_t SampleRate = 0;  // the settings' rate, or the monitor's
    int Channels = 0;
};

// By the stored name when there is one (a reordered or grown device list
// changes positions, never names); by position for a channel stored
// without one.
TSoundServerChannelPlan ResolveSoundServerChannel(const TSoundServerCatalogue& ACatalogue,
                                                  const TEncoderConfig& AConfig);

// Asks the server, resolves, opens and starts the capture. Null after
// reporting the reason; AAbsent, when given, says whether the channel may
// yet come. A loopback may replace AConfig.SampleRate, unless AKeepRate (a
// channel opened again keeps the transmission's rate).
std::unique_ptr<TCaptureSource> OpenSoundServerChannel(TEncoderConfig& AConfig, int AFramesPerBlock,
                                                       const TCaptureReport& AReport, bool AKeepRate = false,
                                                       bool* AAbsent = nullptr);
