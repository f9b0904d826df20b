#include <gtest/gtest.h>

#include <iostream>

#include "platform/Tick.h"
#include "tests/streaming/TransmissionHarness.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/TempDir.h"

// Ten minutes of an ordinary programme (songs with short gaps between
// them, titles changing with the songs) on two servers, every alarm on: not
// one may be raised.

namespace {

int Occurrences(const std::string& AText, const std::string& AWhat)
{
    int n = 0;
    for (size_t at = AText.find(AWhat); at != std::string::npos; at = AText.find(AWhat, at + 1))
        ++n;
    return n;
}

} // namespace

TEST(LongRun, TenMinutesOfProgrammeRaiseNoAlarm)
{
    TIcecastServer mp3, ogg;
    TTempDir dir;
    TEncoderConfig config = StreamConfig("audio/mpeg", mp3.Port());
    config.Bitrate = 128;
    config.ListenerCheckEnabled = true;
    UseNowPlaying(config, dir, "Musica 0");
    TServerRecord& s = config.ExtraServers[0];
    s.Enabled = true;
    s.ServerType = "icecast";
    s.Host = "127.0.0.1";
    s.Port = ogg.Port();
    s.Mount = "/stream";
    s.Password = "hackme";
    s.Codec = "audio/ogg";
    s.Bitrate = 96;
    s.Channels = 2;
    const double songs[] = {440.0, 523.25, 659.25, 392.0, 880.0};
    PlayRigTone(songs[0], 40);
    TWorkerRun run(config);
    const uint64_t start = GetTickCount64();
    // A new song every 40 s: a moment without sound between two, and the
    // title with it.
    for (int song = 1; GetTickCount64() - start < 600000; ++song) {
        run.PumpFor(40000);
        PlayRigTone(songs[song % 5], 40);
        WriteTextFile(config.NoarPath, "Musica " + std::to_string(song));
    }
    const int checks1 = Occurrences(mp3.AccessLog(), "listener check");
    const int checks2 = Occurrences(ogg.AccessLog(), "listener check");
    std::cout << "listener checks: " << checks1 << " on the MP3 server, " << checks2 << " on the Ogg one\n";
    EXPECT_GE(checks1, 36);
    EXPECT_GE(checks2, 36);
    EXPECT_EQ(run.Alarms().size(), 0u) << run.AlarmText();
    run.Stop();
}
