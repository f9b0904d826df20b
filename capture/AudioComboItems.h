#pragma once

#include <string>
#include <vector>

#include "capture/AudioDevice.h"
#include "capture/SoundServerDevices.h"
#include "settings/EncoderConfig.h"

// One capture channel as the settings dialog offers it.
struct TAudioComboItem {
    int32_t DeviceIndex = -1;
    TAudioSourceKind SourceKind = askInput;
    std::string DisplayName;
    std::string DeviceId; // sound-server devices: their stable name
};

// The capture channels of a catalogue, in its order: per device its input
// entry, then its loopback entry when it is an output of the loopback host
// API.
std::vector<TAudioComboItem> BuildAudioComboItems(const std::vector<TTavixAudioDevice>& ADevices);

// The sound server's capture channels: each source that is not a monitor
// as an input, each sink as an output whose loopback is its monitor.
std::vector<TAudioComboItem> BuildSoundServerComboItems(const TSoundServerCatalogue& ACatalogue);

// Both lists, the sound server's first. With a sound server answering,
// PortAudio's devices that only lead back to it ("pulse", "default") are
// left out: they would be the same audio under a vaguer name.
std::vector<TAudioComboItem> BuildCaptureChannelList(const std::vector<TTavixAudioDevice>& ADevices,
                                                     const TSoundServerCatalogue& ACatalogue);

// Position of the entry for (AIndex, AKind), or -1 when none matches. A
// non-empty ADeviceId matches by that name instead of the index, so a
// choice survives a reordered device list.
int FindAudioComboItem(const std::vector<TAudioComboItem>& AItems, int32_t AIndex,
                       TAudioSourceKind AKind, const std::string& ADeviceId = {});
