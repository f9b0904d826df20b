#include "services/ListenerCountThread.h"
#include "services/OwnListeners.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "tests/services/ScriptedHttpServer.h"
#include "tests/support/WaitUntil.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"

namespace {

// FakeShoutcastStats: SHOUTcast v1 servers do not run here, so their two
// statistics pages come from a scripted HTTP server.
struct FakeShoutcastStats : TScriptedHttpServer {
    FakeShoutcastStats(const std::string& AStats, const std::string& ASevenHtml)
        : TScriptedHttpServer({{"/stats?sid=1", {200, AStats}}, {"/7.html", {200, ASevenHtml}}})
    {
    }
};

std::unique_ptr<TChildProcess> ToneSource(const TIcecastServer& AServer, const std::string& AMount)
{
    RequireProgram("ffmpeg");
    auto source = std::make_unique<TChildProcess>(std::vector<std::string>{
        "ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
        "sine=frequency=440:sample_rate=44100", "-c:a", "libmp3lame", "-b:a", "64k", "-content_type", "audio/mpeg",
        "-f", "mp3",
        "icecast://source:" + AServer.SourcePassword() + "@127.0.0.1:" + std::to_string(AServer.Port()) + AMount});
    if (!WaitUntil([&] { return AServer.StatusJson().find(AMount + "\"") != std::string::npos; }, 15000))
        throw std::runtime_error("no source on the icecast mount " + AMount + ": " + AServer.ErrorLog());
    return source;
}

// A real icecast2 with a source on "/stream" (ffmpeg sending a tone).
struct TIcecastWithSource {
    TIcecastServer Server;
    std::unique_ptr<TChildProcess> Source = ToneSource(Server, "/stream");
};

// A listener of the test's own: a socket that keeps reading the mount.
class TListener {
public:
    explicit TListener(int APort, const std::string& AMount = "/stream")
    {
        FSocket = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(APort));
        if (connect(FSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            throw std::runtime_error("listener cannot connect");
        const std::string request = "GET " + AMount + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        send(FSocket, request.data(), request.size(), MSG_NOSIGNAL);
        FReader = std::thread([this] {
            char buffer[4096];
            while (recv(FSocket, buffer, sizeof buffer, 0) > 0) {
            }
        });
    }
    ~TListener()
    {
        shutdown(FSocket, SHUT_RDWR);
        FReader.join();
        close(FSocket);
    }

private:
    int FSocket = -1;
    std::thread FReader;
};

TEncoderConfig ServerConfig(const std::string& AType, const std::string& AHost, int APort)
{
    TEncoderConfig config;
    config.ServerType = AType;
    config.Host = AHost;
    config.Port = APort;
    return config;
}

struct TResult {
    int32_t Count = -2;
    std::string ErrorText;
};

int32_t Query(const TEncoderConfig& AConfig, std::string& AErrorText)
{
    AErrorText.clear();
    return QueryListenerCount(AConfig, AErrorText);
}

} // namespace

TEST(ListenerCount, IcecastCountsTheListenersOfTheMount)
{
    TIcecastWithSource icecast;
    const int port = icecast.Server.Port();
    std::string error;
    EXPECT_EQ(Query(ServerConfig("icecast", "127.0.0.1", port), error), 0);
    EXPECT_EQ(error, "");
    {
        TListener listener(port);
        // A scheme and a path in the host setting are dropped; any server
        // type but "shoutcast" means Icecast.
        const TEncoderConfig config = ServerConfig("", " http://127.0.0.1/admin/page ", port);
        EXPECT_TRUE(WaitUntil([&] { return Query(config, error) == 1; }, 10000)) << icecast.Server.StatusJson();
        EXPECT_EQ(error, "");
    }
    const TEncoderConfig config = ServerConfig("ICECAST2", "127.0.0.1", port);
    EXPECT_TRUE(WaitUntil([&] { return Query(config, error) == 0; }, 10000)) << icecast.Server.StatusJson();
}

// Stations often put several mounts on one server (one per codec): each
// counts its own listeners, whichever the server lists first.
TEST(ListenerCount, IcecastWithSeveralMountsCountsTheStationsOwn)
{
    TIcecastWithSource icecast;
    const std::unique_ptr<TChildProcess> other = ToneSource(icecast.Server, "/aaa.mp3");
    const int port = icecast.Server.Port();
    TEncoderConfig config = ServerConfig("icecast", "127.0.0.1", port);
    config.Mount = "stream";
    std::string error;
    TListener first(port, "/aaa.mp3");
    TListener second(port, "/aaa.mp3");
    ASSERT_TRUE(WaitUntil([&] { return icecast.Server.StatusJson().find("\"listeners\":2") != std::string::npos; },
                          10000))
        << icecast.Server.StatusJson();
    EXPECT_EQ(Query(config, error), 0) << icecast.Server.StatusJson();
    {
        TListener ours(port);
        EXPECT_TRUE(WaitUntil([&] { return Query(config, error) == 1; }, 10000)) << icecast.Server.StatusJson();
        // The program's own check of the other mount is not taken from this one.
        const TOwnListener elsewhere("127.0.0.1", port, "/aaa.mp3");
        EXPECT_EQ(Query(config, error), 1);
        const TOwnListener check("127.0.0.1", port, "/stream");
        EXPECT_EQ(Query(config, error), 0);
    }
    config.Mount = "/aaa.mp3";
    EXPECT_EQ(Query(config, error), 2);
    config.Mount = "/not-on-air";
    EXPECT_EQ(Query(config, error), 0) << "a mount the server does not carry has no listeners";
    EXPECT_EQ(error, "");
}

TEST(ListenerCount, NoCountGivesTheReason)
{
    std::string error;
    EXPECT_EQ(Query(ServerConfig("icecast", " \t ", 8000), error), -1);
    EXPECT_EQ(error, "sem servidor");
    EXPECT_EQ(Query(ServerConfig("icecast", "http://", 8000), error), -1);
    EXPECT_EQ(error, "sem servidor");
    EXPECT_EQ(Query(ServerConfig("icecast", "127.0.0.1", FreeLoopbackPort()), error), -1);
    EXPECT_EQ(error, "indisponivel");

    // Icecast answers both SHOUTcast pages with 404 pages.
    TIcecastServer icecast;
    EXPECT_EQ(Query(ServerConfig("shoutcast", "127.0.0.1", icecast.Port()), error), -1);
    EXPECT_EQ(error, "indisponivel");
}

TEST(ListenerCount, ShoutcastStatisticsThenLegacyPage)
{
    {
        FakeShoutcastStats stats("<SHOUTCASTSERVER><CURRENTLISTENERS> 7 </CURRENTLISTENERS>"
                                 "<PEAKLISTENERS>9</PEAKLISTENERS></SHOUTCASTSERVER>",
                                 "<html><body>5,1,15,100,5,128,x</body></html>");
        std::string error;
        EXPECT_EQ(Query(ServerConfig("SHOUTCAST", "127.0.0.1", stats.Port()), error), 7);
        EXPECT_EQ(error, "");
        const std::vector<std::string> requests = stats.Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].rfind("GET /stats?sid=1 HTTP/1.1", 0), 0u) << requests[0];
        EXPECT_NE(requests[0].find("User-Agent: TAVIX Encoder Listeners"), std::string::npos) << requests[0];
        EXPECT_NE(requests[0].find("Pragma: no-cache"), std::string::npos) << requests[0];
        EXPECT_EQ(requests[0].find("Authorization"), std::string::npos) << requests[0];
        // The program's own check, at the server's root, is one of them.
        const TOwnListener check("127.0.0.1", stats.Port(), "/");
        EXPECT_EQ(Query(ServerConfig("SHOUTCAST", "127.0.0.1", stats.Port()), error), 6);
    }
    {
        FakeShoutcastStats stats("<SHOUTCASTSERVER></SHOUTCASTSERVER>",
                                 "<html><body>3,1,15,100,3,128,Artist - Song, live</body></html>");
        std::string error;
        EXPECT_EQ(Query(ServerConfig("shoutcast", "127.0.0.1", stats.Port()), error), 3);
        EXPECT_EQ(stats.Requests().size(), 2u);
        EXPECT_EQ(stats.Requests().back().rfind("GET /7.html ", 0), 0u);
    }
    {
        FakeShoutcastStats stats("", "<html><body>,1,15</body></html>");
        std::string error;
        EXPECT_EQ(Query(ServerConfig("shoutcast", "127.0.0.1", stats.Port()), error), -1);
        EXPECT_EQ(error, "indisponivel");
    }
}

TEST(ListenerCount, SilentServerGivesUp)
{
    FakeShoutcastStats stats("<CURRENTLISTENERS>7</CURRENTLISTENERS>", "");
    stats.Hold();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HttpGetText(stats.Url("/stats?sid=1")), "");
    // Well below the time a hung request would take; not a speed figure.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(ListenerCount, WorkerReportsOnceOnTheUserInterfaceThread)
{
    FakeShoutcastStats stats("<CURRENTLISTENERS>11</CURRENTLISTENERS>", "");
    std::vector<TResult> results;
    bool ended = false;
    bool onMainThread = false;
    auto* worker = new TTavixListenerCountThread(ServerConfig("shoutcast", "127.0.0.1", stats.Port()));
    worker->OnResult = [&](TTavixListenerCountThread*, int32_t ACount, const std::string& AErrorText) {
        onMainThread = TThread::IsMainThread();
        results.push_back({ACount, AErrorText});
    };
    worker->OnTerminate = [&](TThread*) { ended = true; };
    worker->Start();
    ASSERT_TRUE(WaitUntil([&] { return ended; }, 20000));
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].Count, 11);
    EXPECT_EQ(results[0].ErrorText, "");
    EXPECT_TRUE(onMainThread);
}

TEST(ListenerCount, TerminatedWorkerSendsNoResult)
{
    FakeShoutcastStats stats("<CURRENTLISTENERS>11</CURRENTLISTENERS>", "");
    stats.Hold();
    int results = 0;
    bool ended = false;
    auto* worker = new TTavixListenerCountThread(ServerConfig("shoutcast", "127.0.0.1", stats.Port()));
    worker->OnResult = [&](TTavixListenerCountThread*, int32_t, const std::string&) { ++results; };
    worker->OnTerminate = [&](TThread*) { ended = true; };
    worker->Start();
    ASSERT_TRUE(WaitUntil([&] { return stats.Requests().size() == 1; }, 20000));
    worker->Terminate();
    stats.Release();
    ASSERT_TRUE(WaitUntil([&] { return ended; }, 20000));
    EXPECT_EQ(results, 0);
}
