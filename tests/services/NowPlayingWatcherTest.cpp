#include "services/NoarTitle.h"
#include "services/NowPlayingWatcher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/TempDir.h"

namespace {

constexpr double kSecond = 1.0 / 86400.0;

// A watcher on a settings record of the test's own, with a wall clock the
// test moves by hand.
struct TWatcherRig {
    TTempDir Dir;
    TEncoderConfig Config;
    double Now = 45000.0;
    NowPlayingWatcher Watcher{Config, [this] { return Now; }};

    TWatcherRig() { Config.NoarPath = Dir.File("noar.txt"); }
    std::string Show(const std::string& AContent)
    {
        WriteTextFile(Config.NoarPath, AContent);
        Watcher.CheckNoarFile();
        return Watcher.Title();
    }
};

} // namespace

// One rule for the strip and the servers alike.
TEST(NowPlayingWatcher, TheTitleIsOneLineWithSingleBlanks)
{
    TWatcherRig rig;
    EXPECT_EQ(rig.Show("Artist - Song\r\nAlbum\r\n"), "Artist - Song Album");
    EXPECT_EQ(rig.Show("\r\n  A\n\nB\rC \r\n\r\n"), "A B C");
    EXPECT_EQ(rig.Show("\xEF\xBB\xBFTitle"), "Title");
    std::string servers;
    ASSERT_TRUE(ReadNoarTitle(rig.Config, servers));
    EXPECT_EQ(servers, rig.Watcher.Title());
}

TEST(NowPlayingWatcher, DoubleEncodedTextIsRepaired)
{
    TWatcherRig rig;
    EXPECT_EQ(rig.Show("Jo\xC3\x83\xC2\xA3o e Maria - Cora\xC3\x83\xC2\xA7\xC3\x83\xC2\xA3o"),
              "Jo\xC3\xA3o e Maria - Cora\xC3\xA7\xC3\xA3o");
    // Correct capitals: "Ã" followed by a plain letter is no broken UTF-8.
    EXPECT_EQ(rig.Show("S\xC3\x83O PAULO"), "S\xC3\x83O PAULO");
}

// Nothing on air is an empty title, never a placeholder: the strip's words
// for it are the window's.
TEST(NowPlayingWatcher, NothingOnAirIsAnEmptyTitle)
{
    TWatcherRig rig;
    EXPECT_EQ(rig.Show(" \r\n "), "");
    rig.Show("Song");
    rig.Config.NoarPath = "";
    rig.Watcher.CheckNoarFile();
    EXPECT_EQ(rig.Watcher.Title(), "");
    rig.Config.NoarPath = rig.Dir.File("noar.txt");
    rig.Show("Song");
    rig.Config.NoarPath = rig.Dir.File("missing.txt");
    rig.Watcher.CheckNoarFile();
    EXPECT_EQ(rig.Watcher.Title(), "");
    // A folder is no now-playing file either.
    rig.Config.NoarPath = rig.Dir.Path();
    rig.Watcher.CheckNoarFile();
    EXPECT_EQ(rig.Watcher.Title(), "");
    EXPECT_FALSE(rig.Watcher.FtpUploadRunning());
}

TEST(NowPlayingWatcher, UnreadableFileKeepsTheTitle)
{
    TWatcherRig rig;
    rig.Show("Good title");
    EXPECT_EQ(rig.Show("Bad \xC3\x28 bytes"), "Good title");
    EXPECT_TRUE(rig.Watcher.NoarReadFailed());
    EXPECT_EQ(rig.Show("Next title"), "Next title");
    EXPECT_FALSE(rig.Watcher.NoarReadFailed());

    // A pipe at the path would block the owner's thread if it were opened:
    // it is no now-playing file.
    rig.Config.NoarPath = rig.Dir.File("pipe");
    ASSERT_EQ(mkfifo(rig.Config.NoarPath.c_str(), 0644), 0);
    rig.Watcher.CheckNoarFile();
    EXPECT_EQ(rig.Watcher.Title(), "");
}

TEST(NowPlayingWatcher, ChecksEveryTwoSecondsOfWallClock)
{
    TWatcherRig rig;
    WriteTextFile(rig.Config.NoarPath, "First");
    rig.Watcher.Tick(); // the first tick always checks
    EXPECT_EQ(rig.Watcher.Title(), "First");

    WriteTextFile(rig.Config.NoarPath, "Second");
    rig.Now += 1.9 * kSecond;
    rig.Watcher.Tick();
    EXPECT_EQ(rig.Watcher.Title(), "First");
    rig.Now += 0.2 * kSecond;
    rig.Watcher.Tick();
    EXPECT_EQ(rig.Watcher.Title(), "Second");

    // A clock set back does not hold the checks off.
    WriteTextFile(rig.Config.NoarPath, "Third");
    rig.Now -= 3600 * kSecond;
    rig.Watcher.Tick();
    EXPECT_EQ(rig.Watcher.Title(), "Third");
}
