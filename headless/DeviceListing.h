#pragma once

#include <string>
#include <vector>

#include "capture/AudioComboItems.h"

// The capture channels as the settings dialog offers them, one per line,
// tab-separated: the DeviceIndex, SourceKind and DeviceName that choosing
// it would store, its caption, then its DeviceId (empty for PortAudio's).
std::string DeviceListingText(const std::vector<TAudioComboItem>& AItems);
