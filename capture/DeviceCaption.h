#pragma once

#include <string>

// A device name or capture-channel text as the window shows it: no
// "Saída:" prefix, no bracketed loopback host-API name, single blanks.
std::string CleanDeviceCaption(const std::string& AText);
