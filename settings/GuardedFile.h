#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

// The settings file as bytes on disk. Only a regular file is read or
// replaced: a pipe at the path would freeze the window and a device could
// feed it without end. A linked file is written where the link points.

constexpr size_t KMaxSettingsFileBytes = 1024 * 1024;

struct TFileBytes {
    enum TState { fbMissing, fbRead, fbFailed };
    TState State = fbMissing;
    std::string Bytes;
    std::string Reason; // why it could not be read
    // Of the file read, so a replacement keeps who may read the passwords.
    mode_t Mode = 0;
    uid_t Owner = 0;
    gid_t Group = 0;
};

// Nothing at APath is fbMissing, not a failure.
TFileBytes ReadFileBytes(const std::string& APath);

// The file APath names once its links are followed; it may not exist yet.
// Empty, with AReason, when the links go round in circles.
std::string FollowLinks(const std::string& APath, std::string& AReason);

// An exclusive lock on "<file>.lock" beside AFile, between processes and
// between threads, for one read-modify-write. It is polled for at most
// ATimeoutMs so a stuck peer costs a bounded wait, never a frozen window.
// Once held, temporary files a crashed save left behind are removed: every
// save makes its own only while holding the lock.
class TFileLock {
public:
    TFileLock(const std::string& AFile, int ATimeoutMs);
    ~TFileLock();
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;
    bool Held() const { return FFd >= 0; }

private:
    int FFd = -1;
};

// Replaces AFile whole by a fresh temporary file beside it, synced and then
// renamed over it, so the file on disk is never half-written. The new file
// takes AOld's mode and owner, or 0600 when there was none. Call it holding
// the file's lock.
bool ReplaceFileBytes(const std::string& AFile, const std::string& ABytes, const TFileBytes& AOld);
