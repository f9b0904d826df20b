#include <gtest/gtest.h>

#include "platform/Tick.h"
#include "tests/streaming/FakeSourceServer.h"
#include "tests/streaming/WorkerProbe.h"
#include "tests/support/WaitUntil.h"

namespace {

using TStatuses = std::vector<std::pair<std::string, bool>>;

// Lines 3 to 11 of both requests for the settings below.
const std::string KCommonLines =
    "Authorization: Basic c291cmNlOnPqbmhh\r\n" // "source:s\xEAnha"
    "User-Agent: TAVIX-Encoder-Nativo/2.0\r\n"
    "Content-Type: audio/mpeg\r\n"
    "ice-name: My  Radio\r\n"
    "ice-description: My  Radio\r\n"
    "ice-genre: Rock\r\n"
    "ice-bitrate: 128\r\n"
    "ice-public: 0\r\n"
    "ice-audio-info: ice-bitrate=128;ice-channels=5;ice-samplerate=48000\r\n";

TEncoderConfig FakeConfig(int APort)
{
    TEncoderConfig c = LoopbackConfig(APort, "s\xC3\xAAnha");
    c.Host = " 127.0.0.1 ";
    c.Mount = " live ";
    c.UserName = "";
    c.StreamName = "My\r\nRadio";
    c.Genre = "Rock";
    c.Bitrate = 128;
    c.SampleRate = 48000;
    c.Channels = 5; // announced as is, although the stream has at most two
    return c;
}

void WaitClosed(const FakeSourceServer& AServer, int ACount)
{
    WaitUntil([&] { return AServer.Closed() >= ACount; }, 3000);
}

} // namespace

TEST(SourceFallback, PutAcceptedUsesOneConnection)
{
    FakeSourceServer fake({.Answers = {"HTTP/1.1 100 Continue\r\nContent-Length: 0\r\n\r\n"}});
    TWorkerProbe worker(FakeConfig(fake.Port()));
    ASSERT_TRUE(worker.Server().IcecastHandshake("audio/mpeg"));
    EXPECT_EQ(worker.Statuses, (TStatuses{{"Conectado ao servidor de rádio Icecast (PUT).", false}}));
    worker.Server().CloseConnection();
    WaitClosed(fake, 1);
    EXPECT_EQ(fake.Connections(), 1);
    ASSERT_EQ(fake.Transcripts().size(), 1u);
    EXPECT_EQ(fake.Transcripts()[0], "PUT /live HTTP/1.1\r\n"
                                     "Host: 127.0.0.1:" + std::to_string(fake.Port()) + "\r\n" +
                                         KCommonLines + "Expect: 100-continue\r\n\r\n");
}

TEST(SourceFallback, RefusedPutFallsBackToSourceOnAFreshConnection)
{
    FakeSourceServer fake({.Answers = {"HTTP/1.1 403 Forbidden\r\n\r\nMethod not allowed", "HTTP/1.0 200 OK\r\n\r\n"}});
    TWorkerProbe worker(FakeConfig(fake.Port()));
    ASSERT_TRUE(worker.Server().IcecastHandshake("audio/mpeg"));
    EXPECT_EQ(worker.Statuses, (TStatuses{{"Conectado ao servidor de rádio Icecast (SOURCE).", false}}));
    ASSERT_TRUE(worker.Server().SendBytes("DATA"));
    worker.Server().CloseConnection();
    WaitClosed(fake, 2);
    EXPECT_EQ(fake.Connections(), 2);
    const auto t = fake.Transcripts();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].rfind("PUT /live HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(t[1], "SOURCE /live HTTP/1.0\r\n" + KCommonLines + "\r\nDATA") << "no Host and no Expect line";
}

TEST(SourceFallback, AnswerThatNeverComesIsARefusal)
{
    // Silent twice: both waits of 5 s run out, and the login is refused.
    FakeSourceServer fake({.Answers = {std::nullopt, std::nullopt}});
    TWorkerProbe worker(FakeConfig(fake.Port()));
    EXPECT_FALSE(worker.Server().IcecastHandshake("audio/mpeg"));
    EXPECT_EQ(worker.Statuses, (TStatuses{{"Servidor recusou a conexão source Icecast.", true}}));
    EXPECT_FALSE(worker.Server().Connected());
    WaitClosed(fake, 2);
    EXPECT_EQ(fake.Connections(), 2);
    EXPECT_EQ(fake.Closed(), 2) << "each refused attempt is closed";
}

TEST(SourceFallback, AnswerReaderGathersFullChunksAndStopsAtSilence)
{
    const std::string big = "HTTP/1.0 200 OK\r\n\r\n" + std::string(5000 - 19, 'x');
    FakeSourceServer fake({.Answers = {big, std::nullopt}});
    TWorkerProbe worker(FakeConfig(fake.Port()));
    ASSERT_TRUE(worker.Server().ConnectToServer(0));
    ASSERT_TRUE(worker.Server().SendBytes("GET / HTTP/1.0\r\n\r\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the whole answer has arrived
    EXPECT_EQ(worker.Server().ReadServerAnswer(1000), big) << "reading goes on while the buffer fills up";

    ASSERT_TRUE(worker.Server().ConnectToServer(0)) << "a new connection drops the old one";
    ASSERT_TRUE(worker.Server().SendBytes("GET / HTTP/1.0\r\n\r\n"));
    const uint64_t start = GetTickCount64();
    EXPECT_EQ(worker.Server().ReadServerAnswer(300), "");
    const uint64_t waited = GetTickCount64() - start;
    EXPECT_GE(waited, 250u);
    EXPECT_LT(waited, 3000u) << "the given time-out, not the connection's default";
    EXPECT_TRUE(worker.Statuses.empty()) << "connecting succeeds silently";
}
