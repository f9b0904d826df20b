#pragma once

#include <string>
#include <vector>

#include "capture/AudioDevice.h"
#include "settings/EncoderConfig.h"

// The configured capture channel resolved to the device to open and how
// to open it, before any stream exists.
struct TCaptureChannelPlan {
    std::string Error;              // the refusal message; empty when resolved
    int DeviceIndex = -1;           // the input itself, or the output's partner
    bool Loopback = false;
    std::string PartnerName;        // loopback only
    int32_t SampleRate = 0;         // the settings' rate, or the partner's
    double SuggestedLatency = 0.0;  // seconds
    std::vector<int> ChannelCandidates;
};

// Channel counts to try in order: the wanted one, 2, 1, the device's
// maximum, 4, 8; each held to the maximum, no count twice.
std::vector<int> CaptureChannelCandidates(int AWanted, int ADeviceInputChannels);

// Resolves AudioDeviceIndex/AudioSourceKind of AConfig against ADevices.
TCaptureChannelPlan ResolveCaptureChannel(const TAudioDeviceList& ADevices,
                                          const TEncoderConfig& AConfig);
