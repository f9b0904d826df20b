#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef void CURL;

// One logged-in FTP connection as the uploader needs it: enter a directory
// level by level (creating missing levels) and store one file there. Built
// on one libcurl handle, whose connection stays open between the steps.
class TFtpSession {
public:
    explicit TFtpSession(const std::string& AAgent);
    ~TFtpSession();
    TFtpSession(const TFtpSession&) = delete;
    TFtpSession& operator=(const TFtpSession&) = delete;

    // APort 0 means the FTP default. Passive mode tries EPSV, then PASV;
    // active mode has the server connect back to this machine.
    bool Connect(const std::string& AHost, uint16_t APort, const std::string& AUser,
                 const std::string& APassword, bool APassive);
    // Enters each level in turn ("/" is the root; other levels are relative
    // to the one before, the first to the login folder). A level that cannot
    // be entered is created and entered again. When that fails too,
    // AFailedLevel names it; on other failures it is left empty.
    bool ChangeDirCreating(const std::vector<std::string>& ALevels, std::string& AFailedLevel);
    // Stores the local file under ARemoteName in the current folder, in
    // binary mode.
    bool PutFile(const std::string& ALocalFile, const std::string& ARemoteName);
    // Text of the last failure.
    const std::string& LastError() const { return FLastError; }

private:
    bool Perform(const std::string& AUrlPath);
    std::string DirUrlPath() const;

    CURL* FCurl = nullptr;
    std::string FBaseUrl;
    std::vector<std::string> FDir;
    std::string FLastCommand;
    int FLastResult = 0;
    std::string FLastError;
    char FErrorBuffer[256] = {};
};
