#pragma once

#include <string>

#include "capture/AudioDevice.h"

// Looks among the inputs of the loopback host API (or of no known host API)
// for the one that carries what output AOutputIndex plays. The output
// itself is never its own partner (duplex devices would always win).
// APartnerIndex keeps the best candidate even when it scores below 100;
// found only at 100 or more.
bool FindLoopbackInput(const TAudioDeviceList& ADevices, int AOutputIndex, int& APartnerIndex,
                       std::string& APartnerName);
