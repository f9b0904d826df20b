#include "services/FtpUploader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "tests/services/UploadRig.h"
#include "tests/support/WaitUntil.h"
#include "tests/support/Process.h"

namespace {

// Runs one upload worker to its end; gives its ErrorMessage.
std::string RunUpload(const TEncoderConfig& AConfig, const std::string& ALocalFile)
{
    auto* upload = new TTavixFtpUploadThread(AConfig, ALocalFile);
    bool done = false;
    std::string error;
    upload->OnTerminate = [&](TThread* ASender) {
        error = static_cast<TTavixFtpUploadThread*>(ASender)->ErrorMessage();
        done = true;
    };
    upload->Start();
    EXPECT_TRUE(WaitUntil([&] { return done; }, 30000));
    return error;
}

} // namespace

TEST(FtpUpload, AbsoluteDirectoryIsCreatedLevelByLevelFromTheRoot)
{
    TUploadRig rig;
    rig.Config.FtpRemoteDir = " /radio/site/ ";
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()), "");
    EXPECT_EQ(ReadTextFile(rig.Remote("radio/site/noar.txt")), "Artist - Song\r\n");
    EXPECT_FALSE(std::filesystem::exists(rig.Remote("login/radio")));
    // Each level entered, created when missing, entered again.
    const std::string log = rig.Ftp.CommandLog();
    EXPECT_NE(log.find("MKD radio"), std::string::npos) << log;
    EXPECT_NE(log.find("MKD site"), std::string::npos) << log;
    EXPECT_EQ(rig.CronHits(), 1u);

    // Second time round the folders are there already.
    WriteTextFile(rig.Dir.File("tocando.txt"), "Other - Song");
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()), "");
    EXPECT_EQ(ReadTextFile(rig.Remote("radio/site/noar.txt")), "Other - Song");
    EXPECT_EQ(rig.CronHits(), 2u);
}

TEST(FtpUpload, RelativeDirectoryWithBackslashesFromTheLoginFolder)
{
    TUploadRig rig;
    rig.Config.FtpRemoteDir = "radio\\site";
    rig.Config.FtpRemoteFile = "  ";
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()), "");
    // A blank remote name keeps the local one.
    EXPECT_EQ(ReadTextFile(rig.Remote("login/radio/site/tocando.txt")), "Artist - Song\r\n");
    EXPECT_FALSE(std::filesystem::exists(rig.Remote("radio")));
}

TEST(FtpUpload, BlankDirectoryMeansTheRoot)
{
    TUploadRig rig;
    rig.Config.FtpRemoteDir = "";
    // Binary transfer: every byte arrives as it is.
    const std::string bytes("a\r\nb\nc\r\x00\xFF\xC3\xA3", 10);
    WriteTextFile(rig.Dir.File("tocando.txt"), bytes);
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()), "");
    EXPECT_EQ(ReadTextFile(rig.Remote("noar.txt")), bytes);
}

TEST(FtpUpload, PassiveAndActiveDataConnections)
{
    TUploadRig rig;
    rig.Config.FtpRemoteDir = "/";
    rig.Config.FtpPassive = true;
    rig.Config.FtpRemoteFile = "passive.txt";
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()), "");
    rig.Config.FtpPassive = false;
    rig.Config.FtpRemoteFile = "active.txt";
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()), "");
    EXPECT_TRUE(std::filesystem::exists(rig.Remote("passive.txt")));
    EXPECT_TRUE(std::filesystem::exists(rig.Remote("active.txt")));
    const std::string log = rig.Ftp.CommandLog();
    const size_t split = log.find("<- STOR passive.txt");
    ASSERT_NE(split, std::string::npos) << log;
    const std::string passive = log.substr(0, split), active = log.substr(split);
    EXPECT_TRUE(passive.find("<- EPSV") != std::string::npos || passive.find("<- PASV") != std::string::npos) << log;
    EXPECT_TRUE(active.find("<- EPRT") != std::string::npos || active.find("<- PORT") != std::string::npos) << log;
    EXPECT_EQ(active.find("<- EPSV"), std::string::npos) << log;
}

TEST(FtpUpload, FailuresLeaveAMessageAndSkipTheCronAddress)
{
    TUploadRig rig;
    rig.Config.FtpRemoteDir = "/radio";
    rig.Config.FtpPassword = "wrong";
    EXPECT_NE(RunUpload(rig.Config, rig.NoarFile()), "");
    EXPECT_FALSE(std::filesystem::exists(rig.Remote("radio")));

    // A file where a folder should be: neither entered nor created.
    rig.Config.FtpPassword = rig.Ftp.Password();
    WriteTextFile(rig.Remote("radio"), "in the way");
    rig.Config.FtpRemoteDir = "/radio/site";
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()), "Não foi possível acessar o diretório FTP: radio");
    // Relative to the login folder, and the level named as trimmed.
    WriteTextFile(rig.Remote("login/news"), "in the way");
    rig.Config.FtpRemoteDir = " news \\x";
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()), "Não foi possível acessar o diretório FTP: news");

    // A port beyond 16 bits is refused, not cut down to the server's own.
    const int32_t port = rig.Config.FtpPort;
    rig.Config.FtpPort = port + 65536;
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()),
              "Porta FTP inválida: " + std::to_string(port + 65536) + " (use de 1 a 65535).");
    rig.Config.FtpPort = 0;
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()), "Porta FTP inválida: 0 (use de 1 a 65535).");

    // Nothing listens: a connection failure.
    rig.Config.FtpPort = FreeLoopbackPort();
    EXPECT_NE(RunUpload(rig.Config, rig.NoarFile()), "");
    EXPECT_EQ(rig.CronHits(), 0u);
}

TEST(FtpUpload, NothingHappensWithoutEverythingItNeeds)
{
    TUploadRig rig;
    rig.Config.FtpEnabled = false;
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()), "");
    rig.Config.FtpEnabled = true;
    rig.Config.FtpHost = "  ";
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()), "");
    rig.Config.FtpHost = "127.0.0.1";
    EXPECT_EQ(RunUpload(rig.Config, rig.Dir.File("missing.txt")), "");
    EXPECT_EQ(rig.Ftp.CommandLog().find("USER"), std::string::npos);
    EXPECT_EQ(rig.CronHits(), 0u);
}

TEST(FtpUpload, CronAddressOncePerUploadHttpOnly)
{
    TUploadRig rig;
    rig.Config.FtpRemoteDir = "/";
    rig.Config.FtpCronUrl = "  HTTP://127.0.0.1:" + std::to_string(rig.Cron.Port()) + "/cron ";
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()), "");
    const std::vector<std::string> requests = rig.Cron.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("GET /cron HTTP/1.1", 0), 0u) << requests[0];
    EXPECT_NE(requests[0].find("User-Agent: TAVIX Encoder FTP"), std::string::npos) << requests[0];
    EXPECT_NE(requests[0].find("no-cache"), std::string::npos) << requests[0];

    // Any other scheme is not fetched at all (an FTP client would sit
    // waiting for a greeting from this HTTP server).
    rig.Config.FtpCronUrl = "ftp://127.0.0.1:" + std::to_string(rig.Cron.Port()) + "/cron";
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()), "");
    rig.Config.FtpCronUrl = "www.example.com/cron";
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()), "");
    EXPECT_EQ(rig.CronHits(), 1u);

    // A cron address that cannot be fetched is no failure of the upload.
    rig.Config.FtpCronUrl = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/cron";
    EXPECT_EQ(RunUpload(rig.Config, rig.NoarFile()), "");
}

TEST(FtpUpload, APipeIsRefusedAtOnceAndNothingIsStored)
{
    TUploadRig rig;
    const std::string pipe = rig.Dir.File("pipe.txt");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    auto* upload = new TTavixFtpUploadThread(rig.Config, pipe);
    bool done = false;
    std::string error;
    upload->OnTerminate = [&](TThread* ASender) {
        error = static_cast<TTavixFtpUploadThread*>(ASender)->ErrorMessage();
        done = true;
    };
    upload->Start();
    const bool fast = WaitUntil([&] { return done; }, 5000);
    if (!fast)
        ReleasePipeReader(pipe);
    ASSERT_TRUE(WaitUntil([&] { return done; }, 30000));
    EXPECT_TRUE(fast) << "the upload waited for a writer";
    EXPECT_EQ(error, "Erro ao abrir " + pipe + ": não é um arquivo comum");
    EXPECT_EQ(rig.Ftp.CommandLog().find("STOR"), std::string::npos) << rig.Ftp.CommandLog();
    EXPECT_EQ(rig.CronHits(), 0u);
}
