#include <gtest/gtest.h>

#include "tests/streaming/FakeSourceServer.h"
#include "tests/streaming/WorkerProbe.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"

namespace {

using TStatuses = std::vector<std::pair<std::string, bool>>;

TEncoderConfig ShoutcastConfig(int APort, const std::string& APassword)
{
    TEncoderConfig c = LoopbackConfig(APort, APassword);
    c.ServerType = "SHOUTcast";
    return c;
}

} // namespace

TEST(ShoutcastLogin, AcceptedOnThePortAboveTheConfiguredOne)
{
    TIcecastServer server;
    TEncoderConfig config = ShoutcastConfig(server.Port(), server.SourcePassword());
    config.StreamName = "Shout Test";
    TWorkerProbe worker(config);
    ASSERT_TRUE(worker.Server().ConnectAndHandshake("audio/mpeg"));
    EXPECT_EQ(worker.Statuses, (TStatuses{{"Conectado ao servidor de rádio SHOUTcast na porta " +
                                               std::to_string(server.ShoutcastPort()) + ".",
                                           false}}));
    EXPECT_TRUE(worker.Server().Connected());
    // Some audio makes the mount appear, named by the icy headers.
    ASSERT_TRUE(worker.Server().SendBytes(std::string(20000, '\0')));
    std::string status;
    for (int i = 0; i < 50 && status.find("Shout Test") == std::string::npos; ++i) {
        ASSERT_TRUE(worker.Server().SendBytes(std::string(2000, '\0')));
        status = server.StatusJson();
    }
    EXPECT_NE(status.find("\"server_name\":\"Shout Test\""), std::string::npos) << status;
}

TEST(ShoutcastLogin, WrongPasswordIsRefusedOnBothPorts)
{
    TIcecastServer server;
    TWorkerProbe worker(ShoutcastConfig(server.Port(), "wrong"));
    EXPECT_FALSE(worker.Server().ShoutcastHandshake("audio/aacp"));
    EXPECT_EQ(worker.Statuses, (TStatuses{{"Servidor recusou a conexão source SHOUTcast.", true}}));
    EXPECT_FALSE(worker.Server().Connected());
}

TEST(ShoutcastLogin, FallsBackToTheConfiguredPortAndSendsTheHeaderBlock)
{
    const int port = FreeLoopbackPort(2);
    FakeSourceServer fake({.Answers = {"OK2\r\nicy-caps:11\r\n\r\n"}, .RequestEnd = "\r\n", .Port = port});
    TEncoderConfig config = ShoutcastConfig(port, "s\xC3\xAAnha");
    config.StreamName = "Name\r\nInjected: 1";
    config.Genre = "Pop";
    config.Url = "http://radio.example";
    config.Bitrate = 64;
    config.SampleRate = 22050;
    config.Channels = 5;
    TWorkerProbe worker(config);
    ASSERT_TRUE(worker.Server().ShoutcastHandshake("audio/aacp"));
    EXPECT_EQ(worker.Statuses,
              (TStatuses{{"Nao conectou ao servidor de radio em 127.0.0.1:" + std::to_string(port + 1) + ".", true},
                         {"Conectado ao servidor de rádio SHOUTcast na porta " + std::to_string(port) + ".",
                          false}}));
    ASSERT_TRUE(worker.Server().SendBytes("AUDIO"));
    worker.Server().CloseConnection();
    for (int i = 0; i < 100 && fake.Closed() < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(fake.Connections(), 1);
    ASSERT_EQ(fake.Transcripts().size(), 1u);
    EXPECT_EQ(fake.Transcripts()[0],
              "s\xEAnha\r\n"
              "icy-name:Name  Injected: 1\r\n"
              "icy-genre:Pop\r\n"
              "icy-url:http://radio.example\r\n"
              "icy-pub:0\r\n"
              "icy-br:64\r\n"
              "icy-sr:22050\r\n"
              "icy-channels:5\r\n"
              "icy-audio-info:ice-bitrate=64;ice-channels=5;ice-samplerate=22050\r\n"
              "icy-irc:N/A\r\n"
              "icy-icq:N/A\r\n"
              "icy-aim:N/A\r\n"
              "content-type:audio/aacp\r\n"
              "\r\n"
              "AUDIO");
}

TEST(ShoutcastLogin, OggOrFlacFailsBeforeConnecting)
{
    const int port = FreeLoopbackPort(2);
    FakeSourceServer upper({.Answers = {"OK2\r\n\r\n"}, .RequestEnd = "\r\n", .Port = port + 1});
    FakeSourceServer lower({.Answers = {"OK2\r\n\r\n"}, .RequestEnd = "\r\n", .Port = port});
    for (const char* type : {"application/ogg", "audio/ogg", "Audio/FLAC"}) {
        TWorkerProbe worker(ShoutcastConfig(port, "x"));
        EXPECT_FALSE(worker.Server().ConnectAndHandshake(type)) << type;
        EXPECT_EQ(worker.Statuses, (TStatuses{{"Shoutcast comum deve usar MP3 ou AAC+.", true}})) << type;
    }
    EXPECT_EQ(upper.Connections() + lower.Connections(), 0);
}
