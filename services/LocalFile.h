#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The few file-system questions the station services ask about the
// now-playing file.

// True for anything at APath that is not a folder.
bool FileExists(const std::string& APath);
// Last modification (symbolic links followed), in days since 1970 as a
// date-time value; none when it cannot be had.
std::optional<double> FileModifiedDays(const std::string& APath);
// Larger than any now-playing text; a bigger file is taken as unreadable.
constexpr size_t KMaxNowPlayingBytes = 1024 * 1024;

// The whole file, when it is a regular file (a pipe or device would block
// its reader), could be read, and is at most AMaxBytes long.
std::optional<std::string> ReadWholeFile(const std::string& APath, size_t AMaxBytes);
// The same as UTF-8 text, a leading byte-order mark dropped; none when the
// bytes are not valid UTF-8 either.
std::optional<std::string> ReadUtf8File(const std::string& APath, size_t AMaxBytes);
