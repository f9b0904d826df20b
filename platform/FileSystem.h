#pragma once

#include <string>

// What a path names right now, links followed; false when it names nothing.
bool RegularFileExists(const std::string& APath);
bool FolderExists(const std::string& APath);
