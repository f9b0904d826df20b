#pragma once

#include <memory>
#include <string>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

// A real FTP server (pyftpdlib) on loopback with one user, who sees Home()
// as the root "/" and starts in ALoginFolder below it (the root when empty).
// Passive and active data connections both work.
class TFtpServer {
public:
    // Starts it; throws when it does not come up.
    explicit TFtpServer(const std::string& ALoginFolder = "");
    ~TFtpServer();
    TFtpServer(const TFtpServer&) = delete;
    TFtpServer& operator=(const TFtpServer&) = delete;

    int Port() const { return FPort; }
    std::string User() const { return "tavix"; }
    std::string Password() const { return "s3cret"; }
    // The user's login folder on disk.
    std::string Home() const { return FDir.File("home"); }
    // Every command the server received so far, one a line.
    std::string CommandLog() const;

private:
    TTempDir FDir;
    int FPort = 0;
    std::unique_ptr<TChildProcess> FProcess;
};
