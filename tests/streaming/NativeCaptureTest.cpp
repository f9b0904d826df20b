#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "platform/Tick.h"

#include "capture/AudioComboItems.h"
#include "capture/SoundServerChannel.h"
#include "tests/streaming/TransmissionHarness.h"
#include "tests/support/IcecastServer.h"
#include "tests/monitoring/HookServer.h"
#include "tests/support/SoundServerRig.h"

// A desktop's sound server with no ALSA configuration at all: an output is
// chosen from the server's own list and what plays into it goes on air.

namespace {

constexpr double KToneHz = 880.0;

class NativeCapture : public ::testing::TestWithParam<TSoundServerKind> {
protected:
    void SetUp() override
    {
        FRig = std::make_unique<TSoundServerRig>(GetParam());
        FSpeakersModule = FRig->LoadNullSink("Speakers", "Speakers");
        FHeadsetModule = FRig->LoadNullSink("Headset", "USB Headset");
        FRig->Apply();
    }

    // The stream goes out at the rate the worker took from the monitor
    // (PulseAudio may switch a sink to the rate of what plays into it, so
    // it is read from the worker's own settings once it has stopped).
    static void ExpectListenerHearsAndStop(TWorkerRun& ARun, const TIcecastServer& AServer)
    {
        ASSERT_TRUE(ARun.WaitForBlocks(10, 8000)) << ARun.StatusText();
        const uint64_t from = GetTickCount64();
        TStreamCapture listener(AServer.Port(), "/stream", 3000);
        const TDecodedStream decoded = DecodeStream(listener.Finish(ARun));
        const uint64_t to = GetTickCount64();
        // The capture keeps up with the clock: a block of 2048 frames every
        // 46 ms at 44100 Hz (fewer than at 48000 Hz), one level event each.
        size_t blocks = 0;
        for (const uint64_t tick : ARun.LevelTicks())
            blocks += tick >= from && tick <= to;
        EXPECT_GE(double(blocks), 0.85 * double(to - from) / 1000.0 * 44100.0 / 2048.0)
            << blocks << " blocks in " << (to - from) << " ms";
        EXPECT_EQ(decoded.Codec, "mp3");
        EXPECT_EQ(decoded.Channels, 2);
        EXPECT_GT(ToneDominance(decoded.Mono, KToneHz), 10.0) << decoded.Mono.size() << " samples";
        EXPECT_EQ(ARun.Worker().CaptureHealth().Overruns.load(), 0u) << "read in time, nothing lost";
        ARun.Stop();
        const int rate = ARun.Worker().Config().SampleRate;
        EXPECT_TRUE(rate == 44100 || rate == 48000) << rate;
        EXPECT_EQ(decoded.SampleRate, rate) << "the monitor's own rate";
    }

    std::unique_ptr<TSoundServerRig> FRig;
    uint32_t FSpeakersModule = 0;
    uint32_t FHeadsetModule = 0;
};

} // namespace

TEST_P(NativeCapture, TheLoopbackOfAnOutputGoesOnAir)
{
    TIcecastServer server;
    FRig->PlayTone("Headset", KToneHz, 30, 0.5);
    FRig->PlayTone("Speakers", KToneHz / 2, 30, 0.5); // must not be heard
    TWorkerRun run(SoundServerLoopbackConfig("Headset", server.Port()));
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    EXPECT_EQ(run.Statuses().front().Text.rfind("Canal de retorno: ", 0), 0u) << run.StatusText();
    ExpectListenerHearsAndStop(run, server);
    EXPECT_EQ(run.Statuses().back().Text, "Parado.");
    for (const TStatus& s : run.Statuses())
        EXPECT_FALSE(s.IsError) << run.StatusText();
}

TEST_P(NativeCapture, TheChoiceIsFoundByNameAfterTheListChangesOrder)
{
    TIcecastServer server;
    const TEncoderConfig chosen = SoundServerLoopbackConfig("Headset", server.Port());
    // Speakers goes and comes back after a new sink: every position moves.
    FRig->UnloadModule(FSpeakersModule);
    FRig->LoadNullSink("Studio", "Studio");
    FRig->LoadNullSink("Speakers", "Speakers");
    FRig->UnloadModule(FHeadsetModule);
    FRig->LoadNullSink("Headset", "USB Headset");
    const auto items = BuildSoundServerComboItems(EnumerateSoundServerDevices());
    ASSERT_GE(items.size(), 3u);
    ASSERT_NE(FindAudioComboItem(items, chosen.AudioDeviceIndex, askOutputLoopback, chosen.AudioDeviceId), -1);
    const auto devices = EnumerateSoundServerDevices().Devices;
    const auto position = static_cast<size_t>(chosen.AudioDeviceIndex - KSoundServerIndexBase);
    ASSERT_LT(position, devices.size());
    ASSERT_NE(devices[position].Name, "Headset") << "the stored position now names another device";

    FRig->PlayTone("Headset", KToneHz, 30, 0.5);
    FRig->PlayTone("Speakers", KToneHz / 2, 30, 0.5);
    FRig->PlayTone("Studio", KToneHz * 2, 30, 0.5);
    TWorkerRun run(chosen);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    ExpectListenerHearsAndStop(run, server);
}

// A USB interface pulled and plugged in again: the servers never notice,
// the outputs go on at the clock's pace meanwhile, the operator is told
// once each way, an outage longer than the silence alarm's time raises an
// alarm through the webhook, and the channel is found again by its name.
// A hung server (no audio for 5 s) heals the same way once it resumes.
TEST_P(NativeCapture, AnOutputPulledWhileOnAirIsBridgedAndFoundAgainByItsName)
{
    TIcecastServer server;
    THookServer hook;
    FRig->PlayTone("Headset", KToneHz, 60, 0.5);
    TEncoderConfig config = SoundServerLoopbackConfig("Headset", server.Port());
    config.SilenceSeconds = 2;
    config.AlarmWebhookUrl = hook.Url("/hook");
    config.StreamName = "Radio Teste";
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    ASSERT_TRUE(run.WaitForBlocks(5, 8000));
    const size_t statusMark = run.Statuses().size();

    FRig->UnloadModule(FHeadsetModule);
    const uint64_t pulled = GetTickCount64();
    ASSERT_TRUE(run.PumpUntilAlarm(TAlarmKind::CaptureDown, 3000)) << run.AlarmText();
    EXPECT_EQ(run.FindAlarm(TAlarmKind::CaptureDown)->Alarm.Text,
              "Canal de captura perdido (o dispositivo foi removido do servidor de som). Tentando reabrir...");
    run.PumpFor(3000);
    const uint64_t checked = GetTickCount64();
    size_t blocks = 0;
    for (const uint64_t tick : run.LevelTicks())
        blocks += tick > pulled + 500 && tick <= checked;
    const double due =
        double(checked - pulled - 500) / 1000.0 * run.Worker().Config().SampleRate / KDefaultFramesPerBlock;
    EXPECT_NEAR(double(blocks), due, 0.1 * due + 2) << "the outputs go on at the clock's pace";

    FHeadsetModule = FRig->LoadNullSink("Headset", "USB Headset");
    FRig->PlayTone("Headset", KToneHz, 30, 0.5);
    const uint64_t plugged = GetTickCount64();
    ASSERT_TRUE(run.PumpUntilAlarm(TAlarmKind::CaptureBack, 5000)) << run.AlarmText();
    const TAlarmSeen back = *run.FindAlarm(TAlarmKind::CaptureBack);
    std::cout << "device plugged in again: on air " << back.Tick - plugged << " ms later\n";
    EXPECT_LE(back.Tick - plugged, 2500u) << "picked up within 2 s";
    EXPECT_EQ(back.Alarm.Text, "Canal de captura de volta: " + config.AudioDeviceName + ".");
    run.PumpFor(500);
    TStreamCapture listener(server.Port(), "/stream", 3000);
    EXPECT_GT(ToneDominance(DecodeStream(listener.Finish(run)).Mono, KToneHz), 10.0) << "the tone is on air again";

    // Hung: the server stops sending without closing anything.
    const size_t alarmMark = run.Alarms().size();
    FRig->PauseServer();
    run.PumpFor(6500);
    FRig->ResumeServer();
    const uint64_t resumed = GetTickCount64();
    ASSERT_TRUE(run.PumpUntilAlarm(TAlarmKind::CaptureBack, 6000, alarmMark)) << run.AlarmText();
    std::cout << "hung server resumed: on air " << run.FindAlarm(TAlarmKind::CaptureBack, alarmMark)->Tick - resumed
              << " ms later\n";
    EXPECT_EQ(run.FindAlarm(TAlarmKind::CaptureDown, alarmMark)->Alarm.Text,
              "Canal de captura perdido (o servidor de som parou de enviar \xC3\xA1udio). Tentando reabrir...");

    for (size_t i = statusMark; i < run.Statuses().size(); ++i)
        EXPECT_EQ(run.Statuses()[i].State.Phase, TOutputPhase::OnAir) << "no login again\n" << run.StatusText();
    const auto called = [&hook](const std::string& ACall) {
        const std::vector<std::string> calls = hook.Calls();
        return std::find(calls.begin(), calls.end(), ACall) != calls.end();
    };
    for (int waited = 0; waited < 3000 && !called("capture_lost/cleared/Radio Teste"); waited += 100)
        run.PumpFor(100);
    EXPECT_TRUE(called("capture_lost/raised/Radio Teste"));
    EXPECT_TRUE(called("capture_lost/cleared/Radio Teste"));
    const TAlarmSeen* raised = run.FindAlarm(TAlarmKind::CaptureLost);
    ASSERT_NE(raised, nullptr) << run.AlarmText();
    EXPECT_TRUE(raised->Alarm.Raised);
    EXPECT_EQ(raised->Alarm.Text, "Canal de captura perdido ha 2 s (o dispositivo foi removido do servidor de som).");
    EXPECT_GE(raised->Tick - pulled, 1900u);
    const TAlarmSeen* cleared = run.FindAlarm(TAlarmKind::CaptureLost, size_t(raised - run.Alarms().data()) + 1);
    ASSERT_NE(cleared, nullptr) << run.AlarmText();
    EXPECT_FALSE(cleared->Alarm.Raised);
    EXPECT_GE(cleared->Tick, back.Tick);
    EXPECT_LT(run.Stop(), 1000u);
    EXPECT_GE(run.Worker().CaptureHealth().Reopens.load(), 2u);
}

// The sound server restarted (a desktop update, a logout): the same, with
// the channel found again among the new server's devices.
TEST_P(NativeCapture, ASoundServerRestartedWhileOnAirIsBridgedAndFoundAgain)
{
    TIcecastServer server;
    FRig->PlayTone("Headset", KToneHz, 60, 0.5);
    TWorkerRun run(SoundServerLoopbackConfig("Headset", server.Port()));
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    ASSERT_TRUE(run.WaitForBlocks(5, 8000));
    const size_t statusMark = run.Statuses().size();

    FRig->StopServer();
    ASSERT_TRUE(run.PumpUntilAlarm(TAlarmKind::CaptureDown, 3000)) << run.AlarmText();
    EXPECT_EQ(run.FindAlarm(TAlarmKind::CaptureDown)->Alarm.Text,
              "Canal de captura perdido (o servidor de som foi encerrado). Tentando reabrir...");
    run.PumpFor(3000);
    FRig->StartServer();
    FSpeakersModule = FRig->LoadNullSink("Speakers", "Speakers");
    FHeadsetModule = FRig->LoadNullSink("Headset", "USB Headset");
    FRig->PlayTone("Headset", KToneHz, 30, 0.5);
    const uint64_t started = GetTickCount64();
    ASSERT_TRUE(run.PumpUntilAlarm(TAlarmKind::CaptureBack, 5000)) << run.AlarmText();
    const uint64_t tookMs = run.FindAlarm(TAlarmKind::CaptureBack)->Tick - started;
    std::cout << "sound server back with its sinks: on air " << tookMs << " ms later\n";
    EXPECT_LE(tookMs, 2500u) << "picked up within 2 s";
    run.PumpFor(500);
    TStreamCapture listener(server.Port(), "/stream", 3000);
    EXPECT_GT(ToneDominance(DecodeStream(listener.Finish(run)).Mono, KToneHz), 10.0) << "the tone is on air again";
    for (size_t i = statusMark; i < run.Statuses().size(); ++i)
        EXPECT_EQ(run.Statuses()[i].State.Phase, TOutputPhase::OnAir) << "no login again\n" << run.StatusText();
    EXPECT_LT(run.Stop(), 1000u);
}

// The channel not there yet when the transmission starts (a user unit
// started before the sound server had its devices): on the air on silence,
// picked up when it appears. Settings that name no channel still refuse.
TEST_P(NativeCapture, AnOutputMissingAtTheStartIsPickedUpWhenItAppears)
{
    TIcecastServer server;
    const TEncoderConfig config = SoundServerLoopbackConfig("Headset", server.Port());
    FRig->UnloadModule(FHeadsetModule);
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    ASSERT_TRUE(run.PumpUntilAlarm(TAlarmKind::CaptureDown, 3000)) << run.AlarmText();
    EXPECT_EQ(run.FindAlarm(TAlarmKind::CaptureDown)->Alarm.Text,
              "Canal de captura perdido (O canal selecionado n\xC3\xA3o est\xC3\xA1 mais no servidor de som: " +
                  config.AudioDeviceName + ". Conecte o dispositivo ou escolha outro canal). Tentando reabrir...");
    for (const TStatus& s : run.Statuses())
        EXPECT_FALSE(s.IsError) << run.StatusText();

    FHeadsetModule = FRig->LoadNullSink("Headset", "USB Headset");
    FRig->PlayTone("Headset", KToneHz, 30, 0.5);
    ASSERT_TRUE(run.PumpUntilAlarm(TAlarmKind::CaptureBack, 5000)) << run.AlarmText();
    run.PumpFor(500);
    TStreamCapture listener(server.Port(), "/stream", 3000);
    EXPECT_GT(ToneDominance(DecodeStream(listener.Finish(run)).Mono, KToneHz), 10.0);
    EXPECT_LT(run.Stop(), 1000u);

    TEncoderConfig unnamed = config;
    unnamed.AudioDeviceId.clear();
    unnamed.AudioDeviceIndex = KSoundServerIndexBase + 999;
    TWorkerRun refused(unnamed);
    ASSERT_TRUE(refused.WaitFinished(5000)) << refused.StatusText();
    EXPECT_EQ(refused.Statuses().back().Text, "Canal de \xC3\xA1udio inv\xC3\xA1lido.");
}

INSTANTIATE_TEST_SUITE_P(Servers, NativeCapture,
                         ::testing::Values(TSoundServerKind::PulseAudio, TSoundServerKind::PipeWire),
                         [](const ::testing::TestParamInfo<TSoundServerKind>& AInfo) {
                             return AInfo.param == TSoundServerKind::PipeWire ? "PipeWire" : "PulseAudio";
                         });
