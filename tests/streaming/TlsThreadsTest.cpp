#include <gtest/gtest.h>

#include "net/TlsSession.h"
#include "tests/streaming/TransmissionHarness.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitUntil.h"

// The worker over TLS with the threads it meets: title workers with their
// own sessions, a reconnection and a stop during the transmission. Run
// under ThreadSanitizer it must stay silent.
TEST(TlsThreads, WorkerOverTlsWithTitlesReconnectionAndStop)
{
    TIcecastServer server(true);
    TTempDir dir;
    TEncoderConfig config = StreamConfig("audio/mpeg", server.Port());
    config.UseTls = true;
    config.TlsFingerprint = PemCertificateFingerprint(ReadTextFile(server.CertificateFile()));
    config.NoarPath = dir.File("noar.txt");
    WriteTextFile(config.NoarPath, "Faixa 1");
    PlayRigTone(880, 30);
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 15000), 0) << run.StatusText();
    ASSERT_TRUE(run.WaitForBlocks(5, 10000));
    for (int i = 0; i < 6; ++i) {
        WriteTextFile(config.NoarPath, "Faixa " + std::to_string(i + 2));
        run.PumpFor(400);
    }
    EXPECT_TRUE(WaitForTitle(run, server, "Faixa 7", 10000)) << server.StatusJson();
    const size_t mark = run.Statuses().size();
    RunCommand("curl -s " + server.CurlTrust() + "-u admin:adminpass " +
               ShellQuote(server.BaseUrl() + "/admin/killsource?mount=/stream"));
    EXPECT_GE(run.WaitForStatus("Reconectado ao servidor de radio.", 10000, mark), 0) << run.StatusText();
    run.PumpFor(500);
    EXPECT_LT(run.Stop(), 2000u);
    EXPECT_EQ(run.Statuses().back().Text, "Parado.");
}
