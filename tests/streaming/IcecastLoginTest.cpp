#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/streaming/FakeSourceServer.h"
#include "tests/streaming/WorkerProbe.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitUntil.h"

namespace {

using TStatuses = std::vector<std::pair<std::string, bool>>;

size_t Count(const std::string& AText, const std::string& AWord)
{
    size_t n = 0;
    for (size_t at = AText.find(AWord); at != std::string::npos; at = AText.find(AWord, at + 1))
        ++n;
    return n;
}

} // namespace

TEST(IcecastLogin, PutAcceptedAndTheStreamReachesAListener)
{
    RequireProgram("ffmpeg");
    RequireProgram("ffprobe");
    RequireProgram("curl");
    TIcecastServer server;
    TTempDir dir;
    const std::string mp3File = dir.File("x.mp3");
    int rc = -1;
    RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=1000:duration=5 -b:a 128k " +
                   ShellQuote(mp3File) + " 2>&1",
               &rc);
    ASSERT_EQ(rc, 0);
    const std::string mp3 = ReadTextFile(mp3File);
    ASSERT_GT(mp3.size(), 60000u);

    TEncoderConfig config = LoopbackConfig(server.Port(), server.SourcePassword());
    config.Mount = "stream"; // the slash is added
    config.StreamName = "R\xC3\xA1" "dio Teste";
    TWorkerProbe worker(config);
    ASSERT_TRUE(worker.Server().IcecastHandshake("audio/mpeg"));
    EXPECT_EQ(worker.Statuses, (TStatuses{{"Conectado ao servidor de rádio Icecast (PUT).", false}}));
    ASSERT_TRUE(worker.Server().Connected()) << "the logged-in connection stays open";
    EXPECT_EQ(Count(server.ErrorLog(), "Source logging in"), 1u) << "PUT needs no second connection";

    const size_t first = 16384;
    ASSERT_TRUE(worker.Server().SendBytes(mp3.substr(0, first)));
    const std::string received = dir.File("received.mp3");
    TChildProcess listener({"curl", "-s", "--max-time", "20", "-o", received, server.BaseUrl() + "/stream"});
    ASSERT_TRUE(WaitUntil([&] { return server.StatusJson().find("\"listeners\":1") != std::string::npos; }, 10000))
        << server.StatusJson();
    EXPECT_NE(server.StatusJson().find("R\xC3\xA1" "dio Teste"), std::string::npos) << "ice-name reached the server";
    for (size_t pos = first; pos < mp3.size(); pos += 8192) {
        ASSERT_TRUE(worker.Server().SendBytes(mp3.substr(pos, 8192)));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    worker.Server().CloseConnection();
    EXPECT_NE(listener.WaitExit(10000), -1) << "the listener ends with the source";

    const std::string got = ReadTextFile(received);
    ASSERT_GT(got.size(), mp3.size() / 2) << "the listener got the stream";
    const size_t at = mp3.find(got.substr(0, 4096));
    ASSERT_NE(at, std::string::npos) << "the bytes arrive unchanged";
    EXPECT_EQ(got, mp3.substr(at, got.size())) << "and in order, without gaps";
    EXPECT_EQ(RunCommand("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + ShellQuote(received)),
              "mp3\n");
}

TEST(IcecastLogin, WrongPasswordIsRefusedAndLeavesNoConnection)
{
    TIcecastServer server;
    TWorkerProbe worker(LoopbackConfig(server.Port(), "wrong"));
    EXPECT_FALSE(worker.Server().IcecastHandshake("audio/mpeg"));
    EXPECT_EQ(worker.Statuses, (TStatuses{{"Servidor recusou a conexão source Icecast.", true}}));
    EXPECT_FALSE(worker.Server().Connected());
    EXPECT_TRUE(WaitUntil([&] { return Count(server.ErrorLog(), "invalid or missing password") == 2; }, 3000))
        << "two connections, one per method:\n"
        << server.ErrorLog();
}

// A login answer that never ends (a drip of full chunks) held the login
// for as long as the server liked: the answer's time bounds it whole.
TEST(IcecastLogin, AnAnswerThatNeverEndsHoldsTheLoginOnlyForItsTime)
{
    FakeSourceServer::TOptions options;
    // Whole chunks of the reader's size, one after another.
    const std::string status = "HTTP/1.0 200 OK\r\n";
    options.Answers = {status + "X-Pad: " + std::string(2048 - status.size() - 9, 'a') + "\r\n"};
    options.DripMs = 50;
    FakeSourceServer fake(options);
    TWorkerProbe worker(LoopbackConfig(fake.Port()));
    const auto start = std::chrono::steady_clock::now();
    worker.Server().IcecastHandshake("audio/mpeg");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
}

TEST(IcecastLogin, UnresolvableHostAndClosedPortEndAtOnce)
{
    TEncoderConfig config = LoopbackConfig(8000);
    config.Host = " nonexistent.invalid ";
    TWorkerProbe lost(config);
    EXPECT_FALSE(lost.Server().IcecastHandshake("audio/mpeg"));
    EXPECT_EQ(lost.Statuses, (TStatuses{{"Host não encontrado:  nonexistent.invalid ", true}}))
        << "one message, the host as configured, no second attempt, no refusal";

    const int port = FreeLoopbackPort();
    TWorkerProbe closed(LoopbackConfig(port));
    EXPECT_FALSE(closed.Server().ConnectAndHandshake("audio/mpeg"));
    EXPECT_EQ(closed.Statuses, (TStatuses{{"Nao conectou ao servidor de radio em 127.0.0.1:" +
                                               std::to_string(port) + ".",
                                           true}}));
    EXPECT_FALSE(closed.Server().Connected());

    config = LoopbackConfig(70000 + port);
    TWorkerProbe outOfRange(config);
    EXPECT_FALSE(outOfRange.Server().ConnectToServer(0)) << "0 means the configured port, which is no TCP port";
    EXPECT_EQ(outOfRange.Texts(), (std::vector<std::string>{"Nao conectou ao servidor de radio em 127.0.0.1:" +
                                                            std::to_string(70000 + port) + "."}));
}
