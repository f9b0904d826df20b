#include "services/NowPlayingWatcher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/TempDir.h"

namespace {

constexpr double kSecond = 1.0 / 86400.0;
constexpr int kStrip = 300;
constexpr int kCharWidth = 7;

// A watcher on a settings record of the test's own, with a wall clock the
// test moves by hand and a fixed-pitch font.
struct TWatcherRig {
    TTempDir Dir;
    TEncoderConfig Config;
    double Now = 45000.0;
    NowPlayingWatcher Watcher{Config, [](const std::string& AText) { return kCharWidth * int(AText.size()); },
                              [this] { return Now; }};

    TWatcherRig()
    {
        Config.Language = "pt-BR";
        Config.NoarPath = Dir.File("noar.txt");
        Watcher.SetStripWidth(kStrip);
    }
    std::string Show(const std::string& AContent)
    {
        WriteTextFile(Config.NoarPath, AContent);
        Watcher.CheckNoarFile();
        return Watcher.NoarText();
    }
};

} // namespace

TEST(NowPlayingWatcher, LineBreaksBecomeTwoSpacesAndTextIsPadded)
{
    TWatcherRig rig;
    EXPECT_EQ(rig.Show("Artist - Song\r\nAlbum\r\n"), "Artist - Song  Album");
    EXPECT_EQ(rig.Watcher.DisplayText(), "   Artist - Song  Album   ");
    EXPECT_EQ(rig.Show("\r\n  A\n\nB\rC \r\n\r\n"), "A    B  C");
    EXPECT_EQ(rig.Show("\xEF\xBB\xBFTitle"), "Title");
}

TEST(NowPlayingWatcher, DoubleEncodedTextIsRepaired)
{
    TWatcherRig rig;
    EXPECT_EQ(rig.Show("Jo\xC3\x83\xC2\xA3o e Maria - Cora\xC3\x83\xC2\xA7\xC3\x83\xC2\xA3o"),
              "Jo\xC3\xA3o e Maria - Cora\xC3\xA7\xC3\xA3o");
    // Correct capitals: "Ã" followed by a plain letter is no broken UTF-8.
    EXPECT_EQ(rig.Show("S\xC3\x83O PAULO"), "S\xC3\x83O PAULO");
}

TEST(NowPlayingWatcher, NothingOnAirShowsTheTranslatedText)
{
    TWatcherRig rig;
    EXPECT_EQ(rig.Show(" \r\n "), "Nenhuma música informada no noar.txt");
    rig.Config.NoarPath = "";
    rig.Config.Language = "en-US";
    rig.Watcher.CheckNoarFile();
    EXPECT_EQ(rig.Watcher.NoarText(), "No song informed in noar.txt");
    rig.Config.NoarPath = rig.Dir.File("missing.txt");
    rig.Config.Language = "es-ES";
    rig.Watcher.CheckNoarFile();
    EXPECT_EQ(rig.Watcher.NoarText(), "Ninguna canción informada en noar.txt");
    // A folder is no now-playing file either.
    rig.Config.NoarPath = rig.Dir.Path();
    rig.Config.Language = "fr-FR";
    rig.Watcher.CheckNoarFile();
    EXPECT_EQ(rig.Watcher.NoarText(), "Aucun titre indiqué dans noar.txt");
    EXPECT_FALSE(rig.Watcher.FtpUploadRunning());
}

TEST(NowPlayingWatcher, UnreadableFileKeepsTheStrip)
{
    TWatcherRig rig;
    rig.Show("Good title");
    for (int i = 0; i < 10; ++i)
        rig.Watcher.Tick();
    const int x = rig.Watcher.MarqueeX();
    EXPECT_EQ(rig.Show("Bad \xC3\x28 bytes"), "Good title");
    EXPECT_TRUE(rig.Watcher.NoarReadFailed());
    EXPECT_EQ(rig.Watcher.MarqueeX(), x);
    EXPECT_EQ(rig.Show("Next title"), "Next title");
    EXPECT_FALSE(rig.Watcher.NoarReadFailed());

    // A pipe at the path would block the window's thread if it were opened.
    rig.Config.NoarPath = rig.Dir.File("pipe");
    ASSERT_EQ(mkfifo(rig.Config.NoarPath.c_str(), 0644), 0);
    rig.Watcher.CheckNoarFile();
    EXPECT_EQ(rig.Watcher.NoarText(), "Next title");
    EXPECT_TRUE(rig.Watcher.NoarReadFailed());
}

TEST(NowPlayingWatcher, ChecksEveryTwoSecondsOfWallClock)
{
    TWatcherRig rig;
    WriteTextFile(rig.Config.NoarPath, "First");
    rig.Watcher.Tick(); // the first tick always checks
    EXPECT_EQ(rig.Watcher.NoarText(), "First");

    WriteTextFile(rig.Config.NoarPath, "Second");
    rig.Now += 1.9 * kSecond;
    rig.Watcher.Tick();
    EXPECT_EQ(rig.Watcher.NoarText(), "First");
    rig.Now += 0.2 * kSecond;
    rig.Watcher.Tick();
    EXPECT_EQ(rig.Watcher.NoarText(), "Second");

    // A clock set back does not hold the checks off.
    WriteTextFile(rig.Config.NoarPath, "Third");
    rig.Now -= 3600 * kSecond;
    rig.Watcher.Tick();
    EXPECT_EQ(rig.Watcher.NoarText(), "Third");
}

TEST(NowPlayingWatcher, MarqueeScrollsAndReenters)
{
    TWatcherRig rig;
    rig.Show("abcd"); // padded: 10 characters, 70 pixels
    EXPECT_EQ(rig.Watcher.MarqueeX(), kStrip);
    rig.Watcher.Tick();
    EXPECT_EQ(rig.Watcher.MarqueeX(), kStrip - 3);
    // Leaves the strip on the left once x + 70 < 0, then re-enters.
    int ticks = 1;
    while (rig.Watcher.MarqueeX() != kStrip && ticks < 1000) {
        EXPECT_GE(rig.Watcher.MarqueeX() + 70, -3);
        rig.Watcher.Tick();
        ++ticks;
    }
    EXPECT_EQ(ticks, (kStrip + 70) / 3 + 1);

    // The same text again does not restart the marquee; a new text does.
    rig.Watcher.Tick();
    rig.Show("abcd");
    EXPECT_EQ(rig.Watcher.MarqueeX(), kStrip - 3);
    rig.Show("abcde");
    EXPECT_EQ(rig.Watcher.MarqueeX(), kStrip);
}
