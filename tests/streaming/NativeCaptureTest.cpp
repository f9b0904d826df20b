#include <gtest/gtest.h>

#include "platform/Tick.h"

#include "capture/AudioComboItems.h"
#include "capture/SoundServerChannel.h"
#include "tests/streaming/TransmissionHarness.h"
#include "tests/support/IcecastServer.h"
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

    // The settings the dialog would store for the loopback of sink AName.
    TEncoderConfig LoopbackOf(const std::string& AName, int APort)
    {
        const auto items = BuildSoundServerComboItems(EnumerateSoundServerDevices());
        const int at = FindAudioComboItem(items, -1, askOutputLoopback, "pulse:" + AName);
        EXPECT_GE(at, 0) << "no loopback entry for " << AName;
        TEncoderConfig c = ServerConfig("audio/mpeg", APort);
        if (at >= 0) {
            c.AudioDeviceIndex = items[at].DeviceIndex;
            c.AudioSourceKind = items[at].SourceKind;
            c.AudioDeviceId = items[at].DeviceId;
            c.AudioDeviceName = items[at].DisplayName;
        }
        return c;
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
    TWorkerRun run(LoopbackOf("Headset", server.Port()));
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
    const TEncoderConfig chosen = LoopbackOf("Headset", server.Port());
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

TEST_P(NativeCapture, AnOutputRemovedWhileOnAirEndsWithTheReadFailure)
{
    TIcecastServer server;
    FRig->PlayTone("Headset", KToneHz, 30, 0.5);
    TWorkerRun run(LoopbackOf("Headset", server.Port()));
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    ASSERT_TRUE(run.WaitForBlocks(5, 8000));
    FRig->UnloadModule(FHeadsetModule);
    ASSERT_TRUE(run.WaitFinished(6000)) << "a removed device must end the transmission\n" << run.StatusText();
    const TStatus& last = run.Statuses().back();
    EXPECT_TRUE(last.IsError);
    EXPECT_EQ(last.Text, "Falha na leitura do audio: o dispositivo foi removido do servidor de som.");
    EXPECT_LT(run.Stop(), 500u);
}

INSTANTIATE_TEST_SUITE_P(Servers, NativeCapture,
                         ::testing::Values(TSoundServerKind::PulseAudio, TSoundServerKind::PipeWire),
                         [](const ::testing::TestParamInfo<TSoundServerKind>& AInfo) {
                             return AInfo.param == TSoundServerKind::PipeWire ? "PipeWire" : "PulseAudio";
                         });
