#include <gtest/gtest.h>

#include "platform/Tick.h"
#include "services/ListenerCountThread.h"
#include "tests/streaming/FakeSourceServer.h"
#include "tests/streaming/HoldingProxy.h"
#include "tests/streaming/TransmissionHarness.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitUntil.h"

// What the operator is told must be what happens on the wire: a dead path
// or a frozen server is noticed, a refused login says why, a stop is never
// mistaken for a lost server.

namespace {

const std::string KLost = "Servidor fechou a conexao. Reconectando...";
const std::string KBack = "Reconectado ao servidor de radio.";

bool AnyStatusContains(const TWorkerRun& ARun, const std::string& AText, size_t AFrom = 0)
{
    for (size_t i = AFrom; i < ARun.Statuses().size(); ++i)
        if (ARun.Statuses()[i].Text.find(AText) != std::string::npos)
            return true;
    return false;
}

bool SourceOnMount(const TIcecastServer& AServer)
{
    return AServer.StatusJson().find("\"source\"") != std::string::npos;
}

// A transmission with AConfig gives AReason in its first retry message.
testing::AssertionResult FirstRetrySays(const TEncoderConfig& AConfig, const std::string& AReason,
                                        int ATimeoutMs = 15000)
{
    TWorkerRun run(AConfig);
    const bool said = run.WaitForStatus("Tentando reconectar ao servidor de radio (1)... " + AReason, ATimeoutMs) >= 0;
    const std::string seen = run.StatusText();
    run.Stop();
    if (said)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << seen;
}

// A stream to a real icecast2 through a path the test can cut.
class OnAirThroughAPath : public testing::Test {
protected:
    OnAirThroughAPath() : FPath(FServer.Port()) { PlayRigTone(880, 60); }

    TIcecastServer FServer;
    THoldingProxy FPath;
    TWorkerRun FRun{StreamConfig("audio/mpeg", FPath.Port())};
};

} // namespace

TEST_F(OnAirThroughAPath, ADeadPathIsNoticedWithinTenSecondsAndTheStreamComesBack)
{
    TIcecastServer& server = FServer;
    THoldingProxy& path = FPath;
    TWorkerRun& run = FRun;
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    run.PumpFor(2000);

    const size_t mark = run.Statuses().size();
    path.Hold(true);
    const uint64_t held = GetTickCount64();
    const int lost = run.WaitForStatus(KLost, 14000, mark);
    ASSERT_GE(lost, 0) << "still \"on air\" over a dead path\n" << run.StatusText();
    const uint64_t noticed = run.Statuses()[lost].Tick - held;
    // Ten seconds from the last byte the relay's small window took (it
    // goes on taking for a few hundred milliseconds after the hold), or
    // from the server's last answer to a probe, which came up to two
    // seconds before the hold.
    EXPECT_LE(noticed, 11000u);
    EXPECT_GE(noticed, 8000u) << "a stall shorter than the server's time-out is no loss";

    // Logins over the dead path get no answer (PUT, then SOURCE, five
    // seconds each), and the operator is told so.
    run.PumpFor(12000);
    EXPECT_TRUE(AnyStatusContains(run, "(sem resposta do servidor)", mark)) << run.StatusText();

    path.Hold(false);
    const uint64_t released = GetTickCount64();
    const int back = run.WaitForStatus(KBack, 12000, static_cast<size_t>(lost));
    ASSERT_GE(back, 0) << run.StatusText();
    EXPECT_LE(run.Statuses()[back].Tick - released, 10000u);
    run.PumpFor(1500);
    EXPECT_TRUE(SourceOnMount(server)) << server.StatusJson();
    run.Stop();
    EXPECT_EQ(run.Statuses().back().Text, "Parado.");
}

TEST_F(OnAirThroughAPath, AShortStallIsNoReconnection)
{
    TIcecastServer& server = FServer;
    THoldingProxy& path = FPath;
    TWorkerRun& run = FRun;
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    run.PumpFor(1000);
    const size_t mark = run.Statuses().size();
    path.Hold(true);
    run.PumpFor(6000);
    path.Hold(false);
    run.PumpFor(6000);
    EXPECT_FALSE(AnyStatusContains(run, "Reconectando", mark)) << run.StatusText();
    int logins = 0;
    for (const TStatus& s : run.Statuses())
        logins += s.Text.rfind("Conectado ao servidor", 0) == 0;
    EXPECT_EQ(logins, 1) << "one login, kept";
    EXPECT_GT(path.Accepted(), 2) << "the probes asked through the same path";
    EXPECT_TRUE(SourceOnMount(server));
    run.Stop();
}

TEST(OnAir, AFrozenServerIsNoticedAndTheStreamComesBackWhenItWakes)
{
    TIcecastServer server;
    PlayRigTone(880, 60);
    TEncoderConfig config = StreamConfig("audio/mpeg", server.Port());
    // At a low rate the server's kernel takes the stream into its buffers
    // for minutes: the send queue alone would say nothing.
    config.Bitrate = 64;
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    run.PumpFor(2000);
    // The probes are requests the server takes for a listener's, which
    // leave nothing in its error log.
    EXPECT_TRUE(WaitUntil([&] { return server.AccessLog().find("\"GET /status-json.xsl HTTP/1.0\" 200") !=
                                       std::string::npos; },
                          5000))
        << server.AccessLog();
    EXPECT_EQ(server.ErrorLog().find("EROR"), std::string::npos) << server.ErrorLog();
    const size_t mark = run.Statuses().size();
    server.Freeze();
    const uint64_t frozen = GetTickCount64();
    const int lost = run.WaitForStatus(KLost, 20000, mark);
    const uint64_t noticed = lost >= 0 ? run.Statuses()[lost].Tick - frozen : 0;
    server.Thaw();
    ASSERT_GE(lost, 0) << "a frozen server was never noticed\n" << run.StatusText();
    EXPECT_LE(noticed, 10500u);
    ASSERT_GE(run.WaitForStatus(KBack, 15000, static_cast<size_t>(lost)), 0) << run.StatusText();
    run.PumpFor(1500);
    EXPECT_TRUE(SourceOnMount(server));
    run.Stop();
}

// A fake: a server that takes each login and hangs up at once.
TEST(OnAir, ALoginDroppedAtOnceIsRetriedAtTheNormalPace)
{
    FakeSourceServer::TOptions options;
    options.Answers.assign(100, std::string("HTTP/1.0 200 OK\r\n\r\n"));
    options.CloseAfterAnswer = true;
    FakeSourceServer fake(options);
    PlayRigTone(880, 30);
    TWorkerRun run(StreamConfig("audio/mpeg", fake.Port()));
    run.PumpFor(8000);
    EXPECT_LE(fake.Connections(), 5) << run.StatusText();
    EXPECT_GE(fake.Connections(), 2);
    EXPECT_TRUE(AnyStatusContains(run, "(servidor encerrou a conexao logo apos o login)")) << run.StatusText();
    run.Stop();
    EXPECT_EQ(run.Statuses().back().Text, "Parado.");
}

// A fake: a web server that answers every request with a redirect.
TEST(OnAir, AWebServersRedirectIsNoLogin)
{
    FakeSourceServer::TOptions options;
    options.Answers.assign(20, std::string("HTTP/1.1 302 Found\r\nSet-Cookie: session=ok\r\nLocation: /login\r\n\r\n"));
    FakeSourceServer fake(options);
    PlayRigTone(880, 10);
    TWorkerRun run(StreamConfig("audio/mpeg", fake.Port()));
    ASSERT_GE(run.WaitForStatus("Servidor recusou a conex\xC3\xA3o source Icecast.", 15000), 0) << run.StatusText();
    ASSERT_GE(run.WaitForStatus("Tentando reconectar ao servidor de radio (1)... (302 Found)", 3000), 0)
        << run.StatusText();
    EXPECT_FALSE(AnyStatusContains(run, "Conectado ao servidor")) << run.StatusText();
    EXPECT_FALSE(AnyStatusContains(run, "Transmitindo.")) << run.StatusText();
    run.Stop();
}

TEST(OnAir, RefusedLoginsSayWhy)
{
    TIcecastServer server;
    PlayRigTone(880, 30);
    TEncoderConfig wrong = StreamConfig("audio/mpeg", server.Port());
    wrong.Password = "not-the-password";
    EXPECT_TRUE(FirstRetrySays(wrong, "(401 senha recusada)"));
    // icecast2's SHOUTcast port hangs up on a wrong password without a word.
    wrong.ServerType = "SHOUTcast";
    EXPECT_TRUE(FirstRetrySays(wrong, "(o servidor nao respondeu a senha; confira a senha)"));
    TWorkerRun first(StreamConfig("audio/mpeg", server.Port()));
    ASSERT_GE(first.WaitForStatus("Transmitindo.", 10000), 0) << first.StatusText();
    EXPECT_TRUE(FirstRetrySays(StreamConfig("audio/mpeg", server.Port()), "(403 ponto de montagem em uso)"));
    first.Stop();
}

// A fake: a SHOUTcast server that takes the password and never answers is
// silent, not refusing: no hint at the password.
TEST(OnAir, ASilentShoutcastServerIsNotTakenForAWrongPassword)
{
    FakeSourceServer fake(FakeSourceServer::TOptions{});
    PlayRigTone(880, 20);
    TEncoderConfig config = StreamConfig("audio/mpeg", fake.Port());
    config.ServerType = "SHOUTcast";
    EXPECT_TRUE(FirstRetrySays(config, "(sem resposta do servidor)", 20000)) << "no hint at the password";
}

// Fakes: a SHOUTcast source port that hangs up on the password without a
// word, above a configured port that stays silent. The source port's
// refusal is the reason, not the fallback's silence after it.
TEST(OnAir, AShoutcastSourcePortThatHangsUpOnThePasswordIsTheReasonGiven)
{
    const int base = FreeLoopbackPort(2);
    FakeSourceServer::TOptions silent;
    silent.Port = base;
    FakeSourceServer fallback(silent);
    FakeSourceServer::TOptions hangsUp;
    hangsUp.Port = base + 1;
    hangsUp.RequestEnd = "\r\n";
    hangsUp.Answers.assign(8, std::string());
    hangsUp.CloseAfterAnswer = true;
    FakeSourceServer source(hangsUp);
    PlayRigTone(880, 20);
    TEncoderConfig config = StreamConfig("audio/mpeg", base);
    config.ServerType = "SHOUTcast";
    EXPECT_TRUE(FirstRetrySays(config, "(o servidor nao respondeu a senha; confira a senha)", 20000));
    EXPECT_GE(fallback.Connections(), 1) << "the configured port was tried too";
}

// A fake: a server that accepts the connection and never answers.
TEST(OnAir, AStopDuringTheFirstLoginIsAStopAndTheLoginIsShown)
{
    FakeSourceServer fake(FakeSourceServer::TOptions{});
    PlayRigTone(880, 10);
    TWorkerRun run(StreamConfig("audio/mpeg", fake.Port()));
    const std::string connecting = "Conectando ao servidor de radio em 127.0.0.1:" + std::to_string(fake.Port()) + "...";
    ASSERT_GE(run.WaitForStatus(connecting, 8000), 0) << run.StatusText();
    EXPECT_FALSE(run.Statuses()[static_cast<size_t>(run.WaitForStatus(connecting, 0))].IsError);
    run.PumpFor(1000);
    EXPECT_LT(run.Stop(), 1000u);
    EXPECT_FALSE(AnyStatusContains(run, "Reconectando")) << run.StatusText();
    EXPECT_FALSE(AnyStatusContains(run, "Tentando reconectar")) << run.StatusText();
    EXPECT_EQ(run.Statuses().back().Text, "Parado.");
}

// A fake: a listener that counts the connections made to it.
TEST(OnAir, AStopSetBeforeAConnectionIsPublishedEndsIt)
{
    FakeSourceServer fake(FakeSourceServer::TOptions{});
    TNativeEncoderThread worker(StreamConfig("audio/mpeg", fake.Port()));
    worker.StopNow();
    const uint64_t before = GetTickCount64();
    EXPECT_FALSE(worker.Server().ConnectToServer(fake.Port()));
    EXPECT_LT(GetTickCount64() - before, 500u);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(fake.Connections(), 0);
}

TEST(OnAir, TheTitleIsBackAfterEveryReconnection)
{
    TIcecastServer server;
    TTempDir dir;
    TEncoderConfig config = StreamConfig("audio/mpeg", server.Port());
    UseNowPlaying(config, dir, "Faixa Que Continua");
    PlayRigTone(880, 60);
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    ASSERT_TRUE(WaitForTitle(run, server, "Faixa Que Continua", 4000)) << server.StatusJson();
    for (int restart = 0; restart < 2; ++restart) {
        const size_t mark = run.Statuses().size();
        server.Stop();
        server.Start();
        ASSERT_GE(run.WaitForStatus(KBack, 15000, mark), 0) << run.StatusText();
        EXPECT_TRUE(WaitForTitle(run, server, "Faixa Que Continua", 5000))
            << "restart " << restart << ": " << server.StatusJson();
    }
    run.Stop();
}

namespace {

// A listener's bytes hold the title in a chain's comment header.
bool ListenerSeesTitle(TWorkerRun& ARun, const TIcecastServer& AServer, const std::string& ATitle)
{
    TStreamCapture listener(AServer.Port(), "/stream", 2500);
    return listener.Finish(ARun).find("TITLE=" + ATitle) != std::string::npos;
}

// Ogg titles travel inside the stream: at the start, after a change and
// after a reconnection, the server and a listener who joins see them.
void ExpectOggTitlesThroughout(const std::string& ACodec, bool AServerShowsTitle)
{
    TIcecastServer server;
    TTempDir dir;
    TEncoderConfig config = StreamConfig(ACodec, server.Port());
    UseNowPlaying(config, dir, "Primeira Can\xC3\xA7\xC3\xA3o");
    PlayRigTone(880, 60);
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    // The mount serves listeners once some audio has arrived.
    ASSERT_TRUE(run.WaitForBlocks(10, 6000)) << run.StatusText();
    const auto seen = [&](const std::string& ATitle) {
        if (AServerShowsTitle) {
            EXPECT_TRUE(WaitForTitle(run, server, ATitle, 5000)) << ACodec << " " << server.StatusJson();
        }
        EXPECT_TRUE(ListenerSeesTitle(run, server, ATitle)) << ACodec << ": " << ATitle;
    };
    seen("Primeira Can\xC3\xA7\xC3\xA3o");
    WriteTextFile(config.NoarPath, "Segunda = Faixa");
    run.PumpFor(3000);
    seen("Segunda = Faixa");
    const size_t mark = run.Statuses().size();
    server.Stop();
    server.Start();
    ASSERT_GE(run.WaitForStatus(KBack, 15000, mark), 0) << run.StatusText();
    seen("Segunda = Faixa");
    // A listener through all of it decodes the chains without a fault.
    TStreamCapture listener(server.Port(), "/stream", 6000);
    run.PumpFor(1000);
    WriteTextFile(config.NoarPath, "Terceira");
    const TDecodedStream decoded = DecodeStream(listener.Finish(run));
    EXPECT_GT(ToneDominance(decoded.Mono, 880), 10.0) << ACodec;
    run.Stop();
}

} // namespace

TEST(OnAir, OggVorbisTitlesAtTheStartAfterAChangeAndAfterAReconnection)
{
    ExpectOggTitlesThroughout("audio/ogg", true);
}

// icecast2 2.4.4 shows no title for an Ogg FLAC mount at all; the
// listeners get it in the stream.
TEST(OnAir, OggFlacTitlesReachTheListeners)
{
    ExpectOggTitlesThroughout("audio/flac", false);
}

// A station's host may have an IPv6 address alone: the login, the title
// and the listener count all reach it there.
TEST(OnAir, AServerOnIpv6AloneTakesTheStreamTheTitleAndTheCount)
{
    TIcecastServer server(false, true);
    TTempDir dir;
    TEncoderConfig config = StreamConfig("audio/mpeg", server.Port());
    config.Host = "::1";
    UseNowPlaying(config, dir, "Faixa em IPv6");
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    EXPECT_TRUE(WaitForTitle(run, server, "Faixa em IPv6", 8000)) << server.StatusJson();
    std::string why;
    EXPECT_EQ(QueryListenerCount(config, why), 0) << why;
    // Still on air after the probe has been at it a few times.
    run.PumpFor(5000);
    for (const TStatus& s : run.Statuses())
        EXPECT_FALSE(s.IsError) << s.Text;
    run.Stop();
}
