#include <gtest/gtest.h>

#include <dirent.h>

#include <unistd.h>

#include <fstream>
#include <iostream>

#include "platform/Tick.h"
#include "tests/streaming/TransmissionHarness.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"
#include "tests/support/SoundServerRig.h"
#include "tests/support/TempDir.h"

// Ten minutes on the loopback of a sound-server sink while the desktop
// misbehaves: the sound server restarted every 2 minutes and the sink
// pulled every 3. The station never leaves the air, never logs in again,
// and neither its memory nor its open files grow with each outage.

namespace {

constexpr double KToneHz = 880.0;

// What each open descriptor is, one per line.
std::vector<std::string> OpenFiles()
{
    std::vector<std::string> files;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(dir)) {
            char target[512] = {};
            const std::string path = std::string("/proc/self/fd/") + entry->d_name;
            if (entry->d_name[0] != '.' && readlink(path.c_str(), target, sizeof(target) - 1) > 0)
                files.push_back(std::string(entry->d_name) + " " + target);
        }
        closedir(dir);
    }
    return files;
}

std::string Lines(const std::vector<std::string>& ALines)
{
    std::string text;
    for (const std::string& line : ALines)
        text += line + "\n";
    return text;
}

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:" && status >> value)
            return value;
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

} // namespace

TEST(HealingLongRun, TenMinutesOfSoundServerRestartsAndPulledSinksKeepTheStationOnAir)
{
    TSoundServerRig rig(TSoundServerKind::PulseAudio);
    uint32_t sink = rig.LoadNullSink("Studio", "Studio");
    rig.Apply();
    rig.PlayTone("Studio", KToneHz, 700, 0.5);
    TIcecastServer server;
    TTempDir folder;
    int code = -1;
    RunCommand(RequireProgram("ffmpeg") + " -v error -f lavfi -i sine=frequency=440:duration=4 " +
                   ShellQuote(folder.File("reserva.ogg")),
               &code);
    ASSERT_EQ(code, 0);
    TEncoderConfig config = SoundServerLoopbackConfig("Studio", server.Port());
    config.SilenceSeconds = 2;
    config.FallbackEnabled = true;
    config.FallbackSource = "pasta";
    config.FallbackFolder = folder.Path();
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    const size_t statusMark = run.Statuses().size();

    const uint64_t start = GetTickCount64();
    const auto at = [start](int ASeconds) { return GetTickCount64() - start >= uint64_t(ASeconds) * 1000; };
    long rssAtOne = 0;
    std::vector<std::string> filesAtOne;
    int restarts = 0, pulls = 0;
    for (int minute = 1; minute <= 10; ++minute) {
        while (!at(minute * 60))
            run.PumpFor(200);
        ASSERT_FALSE(run.Worker().Finished()) << "still on the air at minute " << minute << "\n" << run.StatusText();
        if (minute % 2 == 0 && minute < 10) {
            rig.StopServer();
            run.PumpFor(3000);
            rig.StartServer();
            sink = rig.LoadNullSink("Studio", "Studio");
            rig.PlayTone("Studio", KToneHz, 700, 0.5);
            ++restarts;
        }
        if (minute % 3 == 0) {
            run.PumpFor(5000);
            rig.UnloadModule(sink);
            run.PumpFor(3000);
            sink = rig.LoadNullSink("Studio", "Studio");
            rig.PlayTone("Studio", KToneHz, 700, 0.5);
            ++pulls;
        }
        // Before the first outage: the channel live, as at the end.
        if (minute == 1) {
            rssAtOne = ResidentKiB();
            filesAtOne = OpenFiles();
        }
    }
    run.PumpFor(8000);
    const long rss = ResidentKiB();
    const std::vector<std::string> files = OpenFiles();
    std::cout << restarts << " restarts, " << pulls << " pulls; resident " << rssAtOne << " KiB at minute 1, " << rss
              << " KiB at the end; open files " << filesAtOne.size() << ", then " << files.size() << "\n";
    EXPECT_LT(rss - rssAtOne, 10 * 1024) << "memory flat";
    EXPECT_LE(files.size(), filesAtOne.size() + 2) << "open files flat; at minute 1:\n"
                                                   << Lines(filesAtOne) << "at the end:\n"
                                                   << Lines(files);
    EXPECT_GE(run.Worker().CaptureHealth().Reopens.load(), uint32_t(restarts + pulls));
    TStreamCapture listener(server.Port(), "/stream", 3000);
    EXPECT_GT(ToneDominance(DecodeStream(listener.Finish(run)).Mono, KToneHz), 10.0) << "the programme on air";
    for (size_t i = statusMark; i < run.Statuses().size(); ++i)
        EXPECT_EQ(run.Statuses()[i].State.Phase, TOutputPhase::OnAir) << "no login again\n" << run.StatusText();
    EXPECT_LT(run.Stop(), 1000u);
}
