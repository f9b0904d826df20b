#pragma once

#include <string>

#include "net/OutputState.h"

// AState in the window's language (ALangCode as the settings keep it).
// Portuguese is the engine's own sentence, word for word as the log has
// it; the other languages say the phase, the attempt and the reason, with
// the engine's own words only where they name what only it knows (a
// setting, a capture or encoder failure).
std::string OutputStateText(const TOutputState& AState, const std::string& ALangCode);
