#pragma once

#include <string>

#include "settings/EncoderConfig.h"

// The song title of the now-playing file (NoarPath) as one line, the one
// rule for the strip and every server: text encoded twice as UTF-8 is
// repaired, line breaks become single blanks, runs of blanks collapse, both
// ends trimmed, at most 512 bytes. A link is followed only when it is this
// user's or root's, and the settings file is never read (see
// OpenRegularFile).
// True with an empty title when nothing is on air (no path, no file, empty
// file). False when a file is there but cannot be read right now, or is not
// valid UTF-8: ATitle is left alone, so the caller keeps its last title.
bool ReadNoarTitle(const TEncoderConfig& AConfig, std::string& ATitle);
