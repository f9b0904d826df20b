#pragma once

#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "settings/EncoderConfig.h"
#include "tests/services/ScriptedHttpServer.h"
#include "tests/support/FtpServer.h"
#include "tests/support/TempDir.h"

// FTP publishing set up against real peers: an FTP server whose user logs
// in to "/login", a cron address served by a local HTTP server, and a
// now-playing file to publish.
struct TUploadRig {
    TFtpServer Ftp{"login"};
    TScriptedHttpServer Cron{{{"/cron", {200, "ok"}}}};
    TTempDir Dir;
    TEncoderConfig Config;

    TUploadRig()
    {
        Config.FtpEnabled = true;
        Config.FtpHost = "127.0.0.1";
        Config.FtpPort = Ftp.Port();
        Config.FtpUser = Ftp.User();
        Config.FtpPassword = Ftp.Password();
        Config.FtpPassive = true;
        Config.FtpRemoteFile = "noar.txt";
        Config.FtpCronUrl = Cron.Url("/cron");
        Config.NoarPath = Dir.File("tocando.txt");
        WriteTextFile(NoarFile(), "Artist - Song\r\n");
    }
    std::string NoarFile() const { return Dir.File("tocando.txt"); }
    // A path on the FTP server, as a local file.
    std::string Remote(const std::string& APath) const { return Ftp.Home() + "/" + APath; }
    size_t CronHits() const { return Cron.Requests().size(); }
};

// Opens and closes the pipe at APath for writing: a reader waiting to open
// it (the fault some tests look for) goes on and reads an empty file,
// rather than waiting past the test.
inline void ReleasePipeReader(const std::string& APath)
{
    const int fd = open(APath.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0)
        close(fd);
}
