#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Thread.h"
#include "settings/EncoderConfig.h"

class TFtpSession;

class EFtpUploadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Uploads the now-playing file to the station's FTP server, then fetches
// the cron address once. Frees itself when done; a failure's text stays in
// ErrorMessage until then (readable from OnTerminate).
class TTavixFtpUploadThread : public TThread {
public:
    TTavixFtpUploadThread(const TEncoderConfig& AConfig, const std::string& ALocalFile);
    ~TTavixFtpUploadThread() override;

    const std::string& ErrorMessage() const { return FError; }

protected:
    void Execute() override;

private:
    TEncoderConfig FConfig;
    std::string FLocalFile;
    std::string FError;
};

// The directory setting as an FTP path: trimmed, backslashes as "/", "/"
// when empty.
std::string NormalizeRemoteDir(const std::string& ARemoteDir);
// The levels to enter for the directory setting: "/" first when the path
// starts at the root, then each non-empty level, trimmed.
std::vector<std::string> RemoteDirLevels(const std::string& ARemoteDir);
// Enters the directory of the setting, creating missing levels; throws
// EFtpUploadError naming a level that can be neither entered nor created.
void EnsureRemoteDir(TFtpSession& AFtp, const std::string& ARemoteDir);
// The remote file name setting, else the local file's name, else "noar.txt".
std::string RemoteFileName(const std::string& ARemoteFile, const std::string& ALocalFile);
// One GET of an http or https address (scheme in any case), body discarded;
// anything else, and any failure, is ignored.
void FetchCronUrl(const std::string& ACronUrl);
