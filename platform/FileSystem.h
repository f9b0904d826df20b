#pragma once

#include <string>

// What a path names right now, links followed; false when it names nothing.
bool RegularFileExists(const std::string& APath);
bool FolderExists(const std::string& APath);
// Whether this process may create files in the folder. The superuser passes
// every permission check, so for it a folder counts as writable only when
// its permission bits let it in: a folder made read-only stays read-only.
bool FolderWritable(const std::string& APath);
// Creates the folder and any missing parents, each private to the user
// (0700); true when the folder is there at the end.
bool CreatePrivateFolders(const std::string& APath);
