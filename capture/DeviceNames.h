#pragma once

#include <string>

// Device-name comparison used to pair an output with the input that
// carries its signal back.

// Lower-case ASCII, common Portuguese words in English, accents folded,
// everything but a-z and 0-9 as single blanks, trimmed.
std::string NormalizeDeviceName(const std::string& AName);
// Names of stereo-mix, monitor, loopback and virtual-cable inputs.
bool IsLoopbackDeviceName(const std::string& AName);
// How well ACandidateName suits as the loopback partner of AOutputName;
// 100 or more counts as a partner.
int LoopbackMatchScore(const std::string& AOutputName, const std::string& ACandidateName);
