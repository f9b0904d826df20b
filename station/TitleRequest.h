#pragma once

#include <string>

// A title asked for by the control interface, as one line (tabs and line
// breaks become spaces); false with AError for an empty or too long one.
bool CleanRequestedTitle(std::string& ATitle, std::string& AError);

// Puts ATitle into the now-playing file at APath as playout software
// would (whole, by rename), so everything that reads the file takes it.
// Empty, or why not.
std::string WriteNowPlayingFile(const std::string& APath, const std::string& ATitle);
