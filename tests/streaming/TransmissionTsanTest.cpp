#include <gtest/gtest.h>

#include "tests/streaming/TransmissionHarness.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitUntil.h"

// The whole worker with every thread it meets: the owner pumping events and
// changing the equalizer, the capture library's threads, title workers,
// a reconnection, the recording, and a stop. Run under ThreadSanitizer it must stay silent.
TEST(TransmissionThreads, WholeWorkerLifeWithTitlesReconnectionAndLiveEqualizer)
{
    TIcecastServer server;
    TTempDir dir;
    TEncoderConfig config = StreamConfig("audio/mpeg", server.Port());
    config.NoarPath = dir.File("noar.txt");
    WriteTextFile(config.NoarPath, "Faixa 1");
    config.RecordEnabled = true;
    config.RecordFolder = dir.Path();
    PlayRigTone(880, 30);
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 15000), 0) << run.StatusText();
    ASSERT_TRUE(run.WaitForBlocks(5, 10000));
    for (int i = 0; i < 10; ++i) {
        TEncoderConfig change = config;
        change.EQBands.fill(i % 2 ? 6.0 : -6.0);
        change.CompressorEnabled = i % 2 == 0;
        run.Worker().UpdateAudioProcessing(change);
        WriteTextFile(config.NoarPath, "Faixa " + std::to_string(i + 2));
        run.PumpFor(300);
    }
    const size_t mark = run.Statuses().size();
    RunCommand("curl -s -u admin:adminpass " + ShellQuote(server.BaseUrl() + "/admin/killsource?mount=/stream"));
    EXPECT_GE(run.WaitForStatus("Reconectado ao servidor de radio.", 10000, mark), 0) << run.StatusText();
    run.Stop();
    EXPECT_EQ(run.Statuses().back().Text, "Parado.");
    ASSERT_FALSE(run.RecordEvents().empty());
    EXPECT_EQ(run.RecordEvents().back().Text.rfind("Gravacao concluida: " + dir.Path() + "/", 0), 0u)
        << run.RecordEvents().back().Text;
}

// Alarms come from the capture thread (silence), the listener's ear and the
// actions' thread (a webhook nobody answers); a stop comes while the ear
// may be listening.
TEST(TransmissionThreads, AlarmsFromEveryThreadAndAStopMidCheck)
{
    TIcecastServer server;
    TTempDir dir;
    TEncoderConfig config = StreamConfig("audio/mpeg", server.Port());
    config.SilenceSeconds = 2;
    config.ListenerCheckEnabled = true;
    config.ListenUrl = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/stream";
    config.AlarmWebhookUrl = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/hook";
    config.AlarmCommand = "true";
    PlayRigTone(880, 0.01);
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 15000), 0) << run.StatusText();
    auto seen = [&](TAlarmKind AKind) {
        for (const TAlarmSeen& a : run.Alarms())
            if (a.Alarm.Kind == AKind)
                return true;
        return false;
    };
    EXPECT_TRUE(WaitUntil([&] { run.PumpFor(100); return seen(TAlarmKind::Silence); }, 15000)) << run.AlarmText();
    EXPECT_TRUE(WaitUntil([&] { run.PumpFor(100); return seen(TAlarmKind::NoAudio); }, 20000)) << run.AlarmText();
    EXPECT_TRUE(WaitUntil([&] { run.PumpFor(100); return seen(TAlarmKind::ActionFailed); }, 20000))
        << run.AlarmText();
    PlayRigTone(880, 10);
    run.PumpFor(5200);
    run.Stop();
    EXPECT_EQ(run.Statuses().back().Text, "Parado.");
}
