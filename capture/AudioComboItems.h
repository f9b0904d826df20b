#pragma once

#include <string>
#include <vector>

#include "capture/AudioDevice.h"
#include "settings/EncoderConfig.h"

// One capture channel as the settings dialog offers it.
struct TAudioComboItem {
    int32_t DeviceIndex = -1;
    TAudioSourceKind SourceKind = askInput;
    std::string DisplayName;
};

// The capture channels of a catalogue, in its order: per device its input
// entry, then its loopback entry when it is an output of the loopback host
// API.
std::vector<TAudioComboItem> BuildAudioComboItems(const std::vector<TTavixAudioDevice>& ADevices);

// Position of the entry for (AIndex, AKind), or -1 when none matches.
int FindAudioComboItem(const std::vector<TAudioComboItem>& AItems, int32_t AIndex,
                       TAudioSourceKind AKind);
