#include <gtest/gtest.h>

#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/TlsSession.h"
#include "services/ListenerCountThread.h"
#include "tests/streaming/TransmissionHarness.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitUntil.h"

// The source login, the title updates and the listener count over TLS to a
// real icecast2 with a self-signed certificate made for the test.

namespace {

constexpr double KToneHz = 880;
const std::string KUntrusted = "Certificado do servidor não é confiável: ";

// Whether the test's certificate is in the "system" CA store: OpenSSL
// reads SSL_CERT_FILE each time a session starts. Set before any worker of
// the test runs.
void TrustAsCa(const TIcecastServer* AServer)
{
    if (AServer)
        setenv("SSL_CERT_FILE", AServer->CertificateFile().c_str(), 1);
    else
        setenv("SSL_CERT_FILE", "/nonexistent-ca-file.pem", 1);
}

TEncoderConfig TlsConfig(const TIcecastServer& AServer)
{
    TEncoderConfig c = StreamConfig("audio/mpeg", AServer.Port());
    c.UseTls = true;
    return c;
}

std::string Fingerprint(const TIcecastServer& AServer)
{
    return PemCertificateFingerprint(ReadTextFile(AServer.CertificateFile()));
}

// A listener on the https mount (curl trusting the test's certificate),
// decoded by ffmpeg; the worker's hand-offs are pumped meanwhile.
TDecodedStream ListenOverHttps(TWorkerRun& ARun, const TIcecastServer& AServer, const TTempDir& ADir)
{
    EXPECT_TRUE(ARun.WaitForBlocks(10, 6000)) << ARun.StatusText();
    const std::string file = ADir.File("heard.mp3");
    std::remove(file.c_str());
    TChildProcess curl({"curl", "-s", "--max-time", "4", "--cacert", AServer.CertificateFile(), "-o", file,
                        AServer.BaseUrl() + "/stream"});
    for (int i = 0; i < 100 && curl.Running(); ++i)
        ARun.PumpFor(100);
    return DecodeStream(ReadTextFile(file));
}

int32_t Listeners(const TEncoderConfig& AConfig)
{
    std::string error;
    return QueryListenerCount(AConfig, error);
}

int FirstStatusStartingWith(TWorkerRun& ARun, const std::string& APrefix, int ATimeoutMs)
{
    int found = -1;
    WaitUntil(
        [&] {
            ARun.PumpFor(20);
            for (size_t i = 0; i < ARun.Statuses().size() && found < 0; ++i)
                if (ARun.Statuses()[i].Text.rfind(APrefix, 0) == 0)
                    found = static_cast<int>(i);
            return found >= 0;
        },
        ATimeoutMs);
    return found;
}

} // namespace

TEST(TlsTransmission, LoginToneTitlesAndListenersOverTls)
{
    TIcecastServer server(true);
    TrustAsCa(&server);
    TTempDir dir;
    TEncoderConfig config = TlsConfig(server);
    UseNowPlaying(config, dir, "Canção segura");
    // A plain client gets nowhere on the TLS socket: what works below is TLS.
    TEncoderConfig plain = config;
    plain.UseTls = false;
    EXPECT_EQ(Listeners(plain), -1);

    PlayRigTone(KToneHz, 30);
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 15000), 0) << run.StatusText();
    EXPECT_GE(run.WaitForStatus("Conectado ao servidor de rádio Icecast (PUT).", 0), 0) << run.StatusText();
    EXPECT_TRUE(WaitForTitle(run, server, "Canção segura", 10000)) << server.StatusJson();
    EXPECT_EQ(Listeners(config), 0) << server.StatusJson();

    TDecodedStream heard;
    {
        const std::string file = dir.File("listener.mp3");
        TChildProcess listener({"curl", "-s", "--max-time", "6", "--cacert", server.CertificateFile(), "-o", file,
                                server.BaseUrl() + "/stream"});
        bool counted = false;
        for (int i = 0; i < 50 && !counted; ++i) {
            run.PumpFor(100);
            counted = Listeners(config) == 1;
        }
        EXPECT_TRUE(counted) << server.StatusJson();
        while (listener.Running())
            run.PumpFor(100);
        heard = DecodeStream(ReadTextFile(file));
    }
    EXPECT_EQ(heard.Codec, "mp3");
    EXPECT_GT(ToneDominance(heard.Mono, KToneHz), 10.0) << heard.Mono.size() << " samples";
    run.Stop();
    EXPECT_EQ(run.Statuses().back().Text, "Parado.");
}

TEST(TlsTransmission, UntrustedCertificateIsRefusedUntilItsFingerprintIsPinned)
{
    TIcecastServer server(true);
    TrustAsCa(nullptr);
    TTempDir dir;
    const std::string fingerprint = Fingerprint(server);
    ASSERT_EQ(fingerprint.size(), 95u) << fingerprint;
    TEncoderConfig config = TlsConfig(server);
    UseNowPlaying(config, dir, "Sem confiança");
    {
        TWorkerRun run(config);
        const int refused = FirstStatusStartingWith(run, KUntrusted, 10000);
        ASSERT_GE(refused, 0) << run.StatusText();
        const std::string status = run.Statuses()[refused].Text;
        EXPECT_EQ(status, KUntrusted + "self-signed certificate. Impressão digital SHA-256: " + fingerprint + ".");
        EXPECT_TRUE(run.Statuses()[refused].IsError);
        const TOutputState& state = run.Statuses()[refused].State;
        EXPECT_EQ(state.Fingerprint, fingerprint);
        EXPECT_EQ(state.Refusal, TRefusal::UntrustedCertificate);
        EXPECT_EQ(state.Phase, TOutputPhase::Connecting);
        EXPECT_LT(run.WaitForStatus("Transmitindo.", 1000), 0) << run.StatusText();
        run.Stop();
    }
    // Nothing of ours went out: no source.
    EXPECT_EQ(server.StatusJson().find("\"source\""), std::string::npos) << server.StatusJson();

    // Another certificate's fingerprint is no trust either.
    TEncoderConfig wrongPin = config;
    wrongPin.TlsFingerprint = std::string(fingerprint).replace(0, 2, fingerprint.substr(0, 2) == "00" ? "01" : "00");
    {
        TWorkerRun run(wrongPin);
        EXPECT_GE(FirstStatusStartingWith(run, KUntrusted, 10000), 0) << run.StatusText();
        run.Stop();
    }

    // Pinned as the operator may paste it: lower case, without colons.
    TEncoderConfig pinned = config;
    for (const char c : fingerprint)
        if (c != ':')
            pinned.TlsFingerprint += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    PlayRigTone(KToneHz, 20);
    TWorkerRun run(pinned);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 15000), 0) << run.StatusText();
    EXPECT_TRUE(WaitForTitle(run, server, "Sem confiança", 10000)) << server.StatusJson();
    EXPECT_EQ(Listeners(pinned), 0) << server.StatusJson();
    EXPECT_EQ(Listeners(config), -1);
    const TDecodedStream heard = ListenOverHttps(run, server, dir);
    EXPECT_GT(ToneDominance(heard.Mono, KToneHz), 10.0) << heard.Mono.size() << " samples";
    run.Stop();
}

TEST(TlsTransmission, CertificateForAnotherNameIsRefused)
{
    TIcecastServer server(true);
    TrustAsCa(&server);
    const TEncoderConfig right = TlsConfig(server);
    PlayRigTone(KToneHz, 20);
    TWorkerRun streaming(right);
    ASSERT_GE(streaming.WaitForStatus("Transmitindo.", 15000), 0) << streaming.StatusText();
    // The mount shows a moment after the login.
    EXPECT_TRUE(WaitUntil([&] { return Listeners(right) == 0; }, 5000))
        << server.StatusJson();

    // The certificate names 127.0.0.1 only; the CA store vouches for it.
    TEncoderConfig wrong = right;
    wrong.Host = "localhost";
    EXPECT_EQ(Listeners(wrong), -1);
    TWorkerRun run(wrong);
    const int refused = FirstStatusStartingWith(run, KUntrusted, 10000);
    ASSERT_GE(refused, 0) << run.StatusText();
    EXPECT_EQ(run.Statuses()[refused].Text,
              KUntrusted + "hostname mismatch. Impressão digital SHA-256: " + Fingerprint(server) + ".");
    run.Stop();
    streaming.Stop();
}

TEST(TlsTransmission, ReconnectsOverTlsAfterServerRestart)
{
    TIcecastServer server(true);
    TrustAsCa(&server);
    TTempDir dir;
    PlayRigTone(KToneHz, 40);
    TWorkerRun run(TlsConfig(server));
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 15000), 0) << run.StatusText();
    ASSERT_TRUE(run.WaitForBlocks(10, 6000));
    const size_t mark = run.Statuses().size();
    server.Stop();
    run.PumpFor(1500);
    server.Start();
    ASSERT_GE(run.WaitForStatus("Reconectado ao servidor de radio.", 20000, mark), 0) << run.StatusText();
    const TDecodedStream heard = ListenOverHttps(run, server, dir);
    EXPECT_GT(ToneDominance(heard.Mono, KToneHz), 10.0) << heard.Mono.size() << " samples";
    run.Stop();
}

TEST(TlsTransmission, StopEndsAHandshakeTheServerNeverAnswers)
{
    // Accepts (in the kernel's backlog) and never says a word.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int port = FreeLoopbackPort();
    addr.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    TEncoderConfig config = ServerConfig("audio/mpeg", port);
    config.UseTls = true;
    config.AudioDeviceIndex = RigMonitorDevice();
    TWorkerRun run(config);
    run.PumpFor(1500);
    EXPECT_TRUE(run.Statuses().empty() || !run.Statuses().back().IsError) << run.StatusText();
    EXPECT_LT(run.Stop(), 1000u) << run.StatusText();
    EXPECT_EQ(run.Statuses().back().Text, "Parado.");
    close(listener);
}
