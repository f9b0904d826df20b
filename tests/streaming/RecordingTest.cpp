#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "capture/AudioComboItems.h"
#include "capture/SoundServerDevices.h"
#include "platform/Tick.h"
#include "tests/streaming/HoldingProxy.h"
#include "tests/streaming/TransmissionHarness.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitUntil.h"

// The recording beside a real stream: whatever the server or the path
// does, the capture, the meters and the recording go on.

namespace {

constexpr double KToneHz = 880.0;
constexpr int KRate = 44100;

TEncoderConfig RecordingStream(int APort, const TTempDir& ADir)
{
    TEncoderConfig c = StreamConfig("audio/ogg", APort);
    c.RecordEnabled = true;
    c.RecordFolder = ADir.Path();
    return c;
}

// The files the recording told of, in order.
std::vector<std::string> RecordedFiles(const TWorkerRun& ARun)
{
    std::vector<std::string> out;
    for (const TRecordEventSeen& e : ARun.RecordEvents())
        if (!e.FileName.empty() && (out.empty() || out.back() != e.FileName))
            out.push_back(e.FileName);
    return out;
}

std::string RecordText(const TWorkerRun& ARun)
{
    std::string out;
    for (const TRecordEventSeen& e : ARun.RecordEvents())
        out += (e.IsError ? "[E] " : "[ ] ") + e.Text + "\n";
    return out;
}

// Captures the loopback of the rig's sink through the sound server itself.
bool UseTheRigsLoopback(TEncoderConfig& AConfig)
{
    for (const TAudioComboItem& item : BuildSoundServerComboItems(EnumerateSoundServerDevices()))
        if (item.DeviceId == "pulse:tavix_out" && item.SourceKind == askOutputLoopback) {
            AConfig.AudioDeviceIndex = item.DeviceIndex;
            AConfig.AudioSourceKind = item.SourceKind;
            AConfig.AudioDeviceId = item.DeviceId;
            return true;
        }
    return false;
}

testing::AssertionResult HearsTone(TWorkerRun& ARun, int APort)
{
    TStreamCapture listener(APort, "/stream", 3000);
    const std::string body = listener.Finish(ARun);
    const double dominance = body.size() > 4000 ? ToneDominance(DecodeStream(body).Mono, KToneHz) : 0.0;
    if (dominance > 10.0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << body.size() << " bytes heard, tone dominance " << dominance;
}

} // namespace

// The recording takes server 1's encode: the titles that go on air in an
// Ogg stream are in the recording too.
TEST(Recording, AServerAwayForTwentySecondsLeavesNoGapInTheRecordingNorTheMeters)
{
    TIcecastServer server;
    TTempDir dir;
    PlayRigTone(KToneHz, 90);
    TEncoderConfig config = RecordingStream(server.Port(), dir);
    UseNowPlaying(config, dir, "Manha de domingo");
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    ASSERT_TRUE(WaitUntil([&] { return !run.RecordEvents().empty(); }, 5000)) << RecordText(run);
    const uint64_t recordingFrom = run.RecordEvents().front().Tick;
    run.PumpFor(15000);

    const size_t mark = run.Statuses().size();
    server.Stop();
    const uint64_t away = GetTickCount64();
    run.PumpFor(20000);
    const uint64_t back = GetTickCount64();
    server.Start();
    EXPECT_LE(run.LongestLevelGap(away, back), 200u) << "the meters froze while the server was away";
    EXPECT_GE(run.WaitForStatus("Reconectado ao servidor de radio.", 15000, mark), 0) << run.StatusText();
    run.PumpFor(1000);
    EXPECT_TRUE(HearsTone(run, server.Port())) << "the stream is back";
    WriteTextFile(config.NoarPath, "Tarde de domingo");
    EXPECT_TRUE(WaitForTitle(run, server, "Tarde de domingo", 10000));
    run.PumpFor(static_cast<int>(recordingFrom + 60000 - std::min(GetTickCount64(), recordingFrom + 60000)));
    const uint64_t stoppedAt = GetTickCount64();
    run.Stop();

    const std::vector<std::string> files = RecordedFiles(run);
    ASSERT_EQ(files.size(), 1u) << RecordText(run);
    EXPECT_EQ(run.RecordEvents().back().Text, "Gravacao concluida: " + files[0]) << RecordText(run);
    const TDecodedStream d = DecodeStream(ReadTextFile(files[0]));
    EXPECT_EQ(d.Codec, "vorbis");
    const double seconds = double(d.Mono.size()) / KRate;
    const double wall = double(stoppedAt - recordingFrom) / 1000.0;
    EXPECT_NEAR(seconds, wall, 0.3) << "recorded " << seconds << " s in " << wall << " s";
    EXPECT_EQ(FirstSecondWithoutTone(d.Mono, KToneHz), -1) << "the tone runs through the recording";
    const std::string recorded = ReadTextFile(files[0]);
    EXPECT_NE(recorded.find("TITLE=Manha de domingo"), std::string::npos);
    EXPECT_NE(recorded.find("TITLE=Tarde de domingo"), std::string::npos);
}

TEST(Recording, AStalledServerNeverDelaysTheMetersOrTheRecording)
{
    TIcecastServer server;
    THoldingProxy path(server.Port());
    TTempDir dir;
    PlayRigTone(KToneHz, 60);
    TWorkerRun run(RecordingStream(path.Port(), dir));
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    ASSERT_TRUE(WaitUntil([&] { return !run.RecordEvents().empty(); }, 5000)) << RecordText(run);
    const uint64_t recordingFrom = run.RecordEvents().front().Tick;
    run.PumpFor(3000);

    path.Hold(true);
    const uint64_t held = GetTickCount64();
    run.PumpFor(8000);
    const uint64_t released = GetTickCount64();
    path.Hold(false);
    EXPECT_LE(run.LongestLevelGap(held, released), 200u) << "a stalled send held up the capture";
    run.PumpFor(3000);
    const uint64_t stoppedAt = GetTickCount64();
    run.Stop();

    const std::vector<std::string> files = RecordedFiles(run);
    ASSERT_EQ(files.size(), 1u) << RecordText(run);
    const TDecodedStream d = DecodeStream(ReadTextFile(files[0]));
    const double seconds = double(d.Mono.size()) / KRate;
    const double wall = double(stoppedAt - recordingFrom) / 1000.0;
    EXPECT_NEAR(seconds, wall, 0.3) << "recorded " << seconds << " s in " << wall << " s";
    EXPECT_EQ(FirstSecondWithoutTone(d.Mono, KToneHz), -1);
}

TEST(Recording, AFolderThatCannotBeWrittenStopsOnlyTheRecording)
{
    TIcecastServer server;
    TTempDir dir;
    WriteTextFile(dir.File("plain"), "x");
    PlayRigTone(KToneHz, 30);
    TEncoderConfig config = RecordingStream(server.Port(), dir);
    config.RecordFolder = dir.File("plain") + "/gravacoes";
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    ASSERT_TRUE(WaitUntil([&] { return !run.RecordEvents().empty(); }, 5000));
    const TRecordEventSeen& refusal = run.RecordEvents().front();
    EXPECT_TRUE(refusal.IsError);
    EXPECT_EQ(refusal.FileName, "");
    EXPECT_EQ(refusal.Text.rfind("Gravacao parada: Not a directory (" + config.RecordFolder + "/", 0), 0u)
        << refusal.Text;
    run.PumpFor(2000);
    EXPECT_TRUE(HearsTone(run, server.Port())) << "the stream goes on";
    for (const TStatus& s : run.Statuses())
        EXPECT_FALSE(s.IsError) << s.Text;
    run.Stop();
    EXPECT_EQ(run.RecordEvents().size(), 1u) << RecordText(run);
}

// The desktop's sound server hands its monitor over in small chunks; the
// capture must still keep up with the clock, or the recording (and the
// stream) would hold a fraction of the programme. And an owner (a window
// in a modal dialog, a headless log on a stalled pipe) busy for two
// seconds costs no captured frame: the capture counts every frame the wall
// clock brought, and the recording holds them all.
TEST(Recording, TheSoundServersChannelKeepsUpWithTheClockThoughTheOwnerFreezes)
{
    TIcecastServer server;
    TTempDir dir;
    PlayRigTone(KToneHz, 30);
    TEncoderConfig config = RecordingStream(server.Port(), dir);
    ASSERT_TRUE(UseTheRigsLoopback(config)) << "the rig's sink is not in the sound server's list";
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    ASSERT_TRUE(WaitUntil([&] { return !run.RecordEvents().empty(); }, 5000)) << RecordText(run);
    const uint64_t recordingFrom = run.RecordEvents().front().Tick;
    run.PumpFor(4000);

    const TLevelReading before = run.Worker().Levels().Latest();
    const uint64_t frozenAt = GetTickCount64();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    run.PumpFor(1000);
    const TLevelReading after = run.Worker().Levels().Latest();
    const uint64_t wallMs = GetTickCount64() - frozenAt;
    const uint64_t stoppedAt = GetTickCount64();
    run.Stop();

    const double rate = run.Worker().Config().SampleRate;
    const double captured = double(after.Frames - before.Frames) / rate;
    // Two blocks of slack at either end of the reading.
    EXPECT_NEAR(captured, double(wallMs) / 1000.0, 0.1) << "captured " << captured << " s in " << wallMs << " ms";
    const std::vector<std::string> files = RecordedFiles(run);
    ASSERT_EQ(files.size(), 1u) << RecordText(run);
    const TDecodedStream d = DecodeStream(ReadTextFile(files[0]));
    const double seconds = double(d.Mono.size()) / KRate;
    const double wall = double(stoppedAt - recordingFrom) / 1000.0;
    EXPECT_NEAR(seconds, wall, 0.3) << "recorded " << seconds << " s in " << wall << " s";
    EXPECT_EQ(FirstSecondWithoutTone(d.Mono, KToneHz), -1) << "the tone runs through the recording";
}
