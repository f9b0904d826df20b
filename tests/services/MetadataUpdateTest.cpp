#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Tick.h"
#include "services/LocalFile.h"
#include "services/NoarTitle.h"
#include "services/TitleUpdate.h"
#include "tests/services/FakeAdminServer.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitUntil.h"

namespace {

TEncoderConfig AdminConfig(int APort, const std::string& AServerType = "icecast")
{
    TEncoderConfig c;
    DefaultEncoderConfig(c);
    c.ServerType = AServerType;
    c.Host = " 127.0.0.1 ";
    c.Port = APort;
    c.Mount = "live";
    c.UserName = "";
    c.Password = "pw";
    c.Url = "";
    return c;
}

TTitleOutcome Send(const TEncoderConfig& AConfig, const std::string& ATitle)
{
    TConnection connection;
    return SendTitleUpdate(AConfig, ATitle, connection);
}

std::vector<std::string> Push(TFakeAdminServer& AServer, const TEncoderConfig& AConfig,
                              const std::string& ATitle)
{
    Send(AConfig, ATitle);
    return AServer.Requests();
}

size_t Occurrences(const std::string& AText, const std::string& APart)
{
    size_t count = 0;
    for (size_t at = AText.find(APart); at != std::string::npos; at = AText.find(APart, at + 1))
        ++count;
    return count;
}

std::string Title(const std::string& APath, const std::string& AContent)
{
    WriteTextFile(APath, AContent);
    TEncoderConfig c;
    c.NoarPath = APath;
    std::string title = "untouched";
    EXPECT_TRUE(ReadNoarTitle(c, title)) << AContent;
    return title;
}

} // namespace

TEST(NoarTitle, WholeFileBecomesOneLineWithSingleBlanks)
{
    TTempDir dir;
    const std::string f = dir.File("noar.txt");
    EXPECT_EQ(Title(f, "Artist A\r\nSong B\r\n"), "Artist A Song B");
    EXPECT_EQ(Title(f, "\xEF\xBB\xBF  A\rB\nC\n\n\nD   E  \t\n"), "A B C D E");
    EXPECT_EQ(Title(f, "Cora\xC3\xA7\xC3\xA3o"), "Cora\xC3\xA7\xC3\xA3o");
    EXPECT_EQ(Title(f, ""), "");
    EXPECT_EQ(Title(f, " \r\n\r\n "), "");
}

// A now-playing file linked to the settings sent the passwords and the
// token to every server as the title: the settings are never read, a link
// of another user is not followed, and a title is at most 512 bytes.
TEST(NoarTitle, NeverTheSettingsNorAnotherUsersLinkAndCapped)
{
    TTempDir dir;
    TEncoderConfig settings;
    DefaultEncoderConfig(settings);
    settings.Password = "segredo";
    const std::string ini = dir.File("TavixEncoder.ini");
    SaveEncoderConfigTo(ini, settings);
    LoadEncoderConfigFrom(ini, settings);
    TEncoderConfig c;
    c.NoarPath = dir.File("noar.txt");
    ASSERT_EQ(symlink(ini.c_str(), c.NoarPath.c_str()), 0);
    std::string title = "old";
    EXPECT_FALSE(ReadNoarTitle(c, title));
    EXPECT_EQ(title, "old");
    EXPECT_EQ(OpenRegularFile(c.NoarPath), nullptr) << "nor uploaded by FTP";
    ASSERT_EQ(link(ini.c_str(), dir.File("hard.txt").c_str()), 0);
    c.NoarPath = dir.File("hard.txt");
    EXPECT_FALSE(ReadNoarTitle(c, title)) << "another name for the same file";

    // A link of this user's is followed; the same link of another user's
    // is not.
    WriteTextFile(dir.File("song.txt"), "Faixa " + std::string(600, 'x') + "\xC3\xA7");
    c.NoarPath = dir.File("song-link.txt");
    ASSERT_EQ(symlink(dir.File("song.txt").c_str(), c.NoarPath.c_str()), 0);
    EXPECT_TRUE(ReadNoarTitle(c, title));
    EXPECT_EQ(title.size(), 512u);
    EXPECT_EQ(title.rfind("Faixa xx", 0), 0u);
    if (geteuid() == 0) {
        ASSERT_EQ(lchown(c.NoarPath.c_str(), 65534, 65534), 0);
        title = "old";
        EXPECT_FALSE(ReadNoarTitle(c, title));
        EXPECT_EQ(title, "old");
    }
}

TEST(NoarTitle, NothingOnAirAndUnreadableFiles)
{
    TTempDir dir;
    TEncoderConfig c;
    std::string title = "old";
    c.NoarPath = "  ";
    EXPECT_TRUE(ReadNoarTitle(c, title));
    EXPECT_EQ(title, "");
    title = "old";
    c.NoarPath = dir.File("missing.txt");
    EXPECT_TRUE(ReadNoarTitle(c, title));
    EXPECT_EQ(title, "");
    title = "old";
    c.NoarPath = dir.Path(); // a folder is no now-playing file
    EXPECT_TRUE(ReadNoarTitle(c, title));
    EXPECT_EQ(title, "");

    // Not UTF-8 (a Latin-1 "ç"): the read fails and the last title stays.
    c.NoarPath = dir.File("latin1.txt");
    WriteTextFile(c.NoarPath, "Cora\xE7\xE3o");
    title = "old";
    EXPECT_FALSE(ReadNoarTitle(c, title));
    EXPECT_EQ(title, "old");

    // Far larger than any title: a failed read as well, not a huge request.
    c.NoarPath = dir.File("huge.txt");
    WriteTextFile(c.NoarPath, std::string(KMaxNowPlayingBytes + 1, 'a'));
    EXPECT_FALSE(ReadNoarTitle(c, title));
    EXPECT_EQ(title, "old");
}

TEST(MetadataUpdate, IcecastRequestAndRetryAsAdminOnRefusal)
{
    TFakeAdminServer server("HTTP/1.0 401 Authentication Required\r\n\r\n");
    const auto requests = Push(server, AdminConfig(server.Port()), " Rock & Roll + Caf\xC3\xA9 ");
    ASSERT_EQ(requests.size(), 2u);
    const std::string port = std::to_string(server.Port());
    EXPECT_EQ(requests[0],
              "GET /admin/metadata?mount=%2Flive&mode=updinfo&charset=UTF-8&song=Rock+%26+Roll+%2B+Caf%C3%A9"
              " HTTP/1.0\r\n"
              "Host: 127.0.0.1:" + port + "\r\n"
              "Authorization: Basic c291cmNlOnB3\r\n" // source:pw
              "User-Agent: TAVIX-Encoder-Nativo/2.1\r\n"
              "Content-Type: text/plain; charset=UTF-8\r\n"
              "Accept-Charset: UTF-8\r\n"
              "Connection: close\r\n\r\n");
    EXPECT_NE(requests[1].find("Authorization: Basic YWRtaW46cHc=\r\n"), std::string::npos) // admin:pw
        << requests[1];
}

TEST(MetadataUpdate, AcceptanceRuleDecidesTheRetry)
{
    struct TCase {
        std::string Reply;
        std::string User;
        size_t Requests;
    };
    const TCase cases[] = {
        {"HTTP/1.0 200 OK\r\n\r\n", "", 1},
        {"HTTP/1.1 500 broken\r\n\r\n", "dj", 1}, // "ok" inside a word counts
        {"HTTP/1.0 403 Forbidden\r\n\r\n", "dj", 2},
        {"HTTP/1.0 401 Unauthorized\r\n\r\n", "Admin", 1}, // already admin
        // icecast2's answer on a mount that does not take titles is no success.
        {"HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n<?xml version=\"1.0\"?>\n<iceresponse><message>"
         "Mountpoint will not accept URL updates</message><return>1</return></iceresponse>\n",
         "dj", 2},
    };
    for (const TCase& c : cases) {
        TFakeAdminServer server(c.Reply);
        TEncoderConfig config = AdminConfig(server.Port());
        config.UserName = c.User;
        EXPECT_EQ(Push(server, config, "T").size(), c.Requests) << c.Reply;
    }
}

TEST(MetadataUpdate, SilentServerCountsAsAcceptedAfterTheReplyTimeOut)
{
    TFakeAdminServer server("");
    const uint64_t start = GetTickCount64();
    EXPECT_EQ(Push(server, AdminConfig(server.Port()), "T").size(), 1u);
    const uint64_t took = GetTickCount64() - start;
    EXPECT_GE(took, 1100u);
    EXPECT_LT(took, 3000u);
}

TEST(MetadataUpdate, ShoutcastRequestGoesToThePortWithThePasswordInTheQuery)
{
    TFakeAdminServer server("HTTP/1.0 403 Forbidden\r\n\r\n");
    TEncoderConfig config = AdminConfig(server.Port(), "SHOUTcast");
    config.Password = "p&w";
    auto requests = Push(server, config, "A\r\nB");
    ASSERT_EQ(requests.size(), 1u) << "no second attempt on SHOUTcast";
    EXPECT_EQ(requests[0],
              "GET /admin.cgi?pass=p%26w&mode=updinfo&charset=UTF-8&song=A+B&url= HTTP/1.0\r\n"
              "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"
              "User-Agent: TAVIX-Encoder-Nativo/2.1\r\n"
              "Content-Type: text/plain; charset=UTF-8\r\n"
              "Accept-Charset: UTF-8\r\n"
              "Connection: close\r\n\r\n");

    config.Url = " http://radio.example/a b ";
    requests = Push(server, config, "C");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].find("&song=C&url=http%3A%2F%2Fradio.example%2Fa+b HTTP/1.0\r\n"), std::string::npos)
        << requests[1];
}

TEST(MetadataUpdate, ImpossibleSettingsSendNothing)
{
    TFakeAdminServer server("HTTP/1.0 200 OK\r\n\r\n");
    TEncoderConfig config = AdminConfig(server.Port());
    EXPECT_TRUE(Send(config, " \r\n ").Skipped);
    config.Password = "";
    EXPECT_TRUE(Send(config, "T").Skipped);
    config = AdminConfig(server.Port(), "shoutcast");
    config.Password = "";
    EXPECT_TRUE(Send(config, "T").Skipped);
    config = AdminConfig(server.Port());
    config.Host = "  ";
    EXPECT_TRUE(Send(config, "T").Skipped);
    EXPECT_TRUE(server.Requests().empty());
    // A port nobody listens on: refused at once, and said so.
    config = AdminConfig(1);
    const uint64_t start = GetTickCount64();
    const TTitleOutcome refused = Send(config, "T");
    EXPECT_LT(GetTickCount64() - start, 5000u);
    EXPECT_FALSE(refused.Accepted);
    EXPECT_EQ(refused.Why, "sem conexao com o servidor");
}

TEST(MetadataUpdate, PortBeyondSixteenBitsReachesNoServer)
{
    TIcecastServer icecast;
    TEncoderConfig config = AdminConfig(icecast.Port());
    config.Password = icecast.SourcePassword();
    auto logged = [&] { return Occurrences(icecast.AccessLog(), "/admin/metadata"); };
    // On its own port the server logs the requests (as the source user,
    // then as admin when refused): the log is a fair witness once each
    // line is in.
    Send(config, "Right port");
    ASSERT_TRUE(WaitUntil([&] { return logged() > 0; }, 5000)) << icecast.AccessLog();
    WaitUntil([] { return false; }, 500);
    const size_t before = logged();

    // Cut to 16 bits these would be the server's port.
    for (const int64_t port : {int64_t{65536} + icecast.Port(), int64_t{131072} + icecast.Port()}) {
        config.Port = static_cast<int32_t>(port);
        EXPECT_TRUE(Send(config, "Wrong port").Skipped);
    }
    WaitUntil([] { return false; }, 500);
    EXPECT_EQ(logged(), before) << icecast.AccessLog();
}

// One output's titles: in order, a newer waiting title replacing an older
// one, each outcome told; and a publisher that goes ends the update under
// way at once, though the server keeps it waiting.
TEST(TitlePublisher, SendsInOrderKeepsTheNewestAndEndsAtOnce)
{
    TFakeAdminServer server(""); // silence: taken as accepted after the reply time-out
    std::mutex lock;
    std::vector<std::pair<std::string, bool>> told;
    auto publisher = std::make_unique<TTitlePublisher>([&](const std::string& ATitle, const TTitleOutcome& AOutcome) {
        const std::lock_guard<std::mutex> guard(lock);
        told.emplace_back(ATitle, AOutcome.Accepted);
    });
    const TEncoderConfig config = AdminConfig(server.Port());
    publisher->Publish(config, "Primeira");
    ASSERT_TRUE(WaitUntil([&] { return server.Requests().size() == 1; }, 3000));
    publisher->Publish(config, "Segunda");
    publisher->Publish(config, "Terceira");
    ASSERT_TRUE(WaitUntil([&] { return !publisher->Busy(); }, 8000));
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].find("song=Primeira "), std::string::npos) << requests[0];
    EXPECT_NE(requests[1].find("song=Terceira "), std::string::npos) << requests[1];
    {
        const std::lock_guard<std::mutex> guard(lock);
        EXPECT_EQ(told, (std::vector<std::pair<std::string, bool>>{{"Primeira", true}, {"Terceira", true}}));
    }

    publisher->Publish(config, "Quarta");
    ASSERT_TRUE(WaitUntil([&] { return server.Requests().size() == 3; }, 3000));
    const uint64_t start = GetTickCount64();
    publisher.reset();
    EXPECT_LT(GetTickCount64() - start, 500u) << "the stop waited for the server";
    const std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(told.size(), 2u) << "nothing told once it is going";
}
