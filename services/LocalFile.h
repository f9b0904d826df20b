#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
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

struct TFileCloser {
    void operator()(std::FILE* AFile) const { std::fclose(AFile); }
};
using TFileHandle = std::unique_ptr<std::FILE, TFileCloser>;
// APath opened for binary reading, when it is a regular file: a pipe or
// device would block its reader, maybe for good. A link only when it is
// this user's or root's; never a settings file this process loaded. Null
// otherwise, errno then telling why (0: there, but not a regular file).
TFileHandle OpenRegularFile(const std::string& APath);

// The whole file, when it is a regular file, could be read, and is at most
// AMaxBytes long.
std::optional<std::string> ReadWholeFile(const std::string& APath, size_t AMaxBytes);
// The same as UTF-8 text, a leading byte-order mark dropped; none when the
// bytes are not valid UTF-8 either.
std::optional<std::string> ReadUtf8File(const std::string& APath, size_t AMaxBytes);
