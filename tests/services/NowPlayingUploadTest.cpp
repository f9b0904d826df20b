#include "services/NowPlayingWatcher.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include "tests/services/UploadRig.h"
#include "tests/support/WaitUntil.h"

namespace {

constexpr double kSecond = 1.0 / 86400.0;

// The watcher of the window, publishing through real FTP and cron peers;
// the test moves the wall clock by hand.
struct TWatcherUploadRig : TUploadRig {
    double Now = 45000.0;
    time_t Stamp = 1700000000;
    std::unique_ptr<NowPlayingWatcher> Watcher =
        std::make_unique<NowPlayingWatcher>(Config, [this] { return Now; });

    TWatcherUploadRig() { Config.FtpRemoteDir = "/radio"; }
    // Writes the now-playing file with a modification time of its own.
    void Rewrite(const std::string& AContent)
    {
        WriteTextFile(NoarFile(), AContent);
        Stamp += 5;
        const timespec times[2] = {{Stamp, 0}, {Stamp, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, NoarFile().c_str(), times, 0), 0);
    }
    // Two seconds and a bit later, one timer tick.
    void TickLater()
    {
        Now += 2.1 * kSecond;
        Watcher->Tick();
    }
    std::string Published() const { return ReadTextFile(Remote("radio/noar.txt")); }
};

} // namespace

TEST(NowPlayingUpload, ChangesDuringAnUploadCollapseIntoOneMore)
{
    TWatcherUploadRig rig;
    rig.Cron.Hold(); // keeps each upload running until released
    rig.Rewrite("Song 1");
    rig.Watcher->Tick(); // the first check uploads whatever is there
    ASSERT_TRUE(WaitUntil([&] { return rig.CronHits() == 1; }, 20000));
    EXPECT_TRUE(rig.Watcher->FtpUploadRunning());

    for (int i = 2; i <= 4; ++i) {
        rig.Rewrite("Song " + std::to_string(i));
        rig.TickLater();
        EXPECT_EQ(rig.Watcher->Title(), "Song " + std::to_string(i));
    }
    EXPECT_TRUE(rig.Watcher->FtpUploadPending());
    EXPECT_EQ(rig.Published(), "Song 1");

    rig.Cron.Release();
    ASSERT_TRUE(WaitUntil([&] { return !rig.Watcher->FtpUploadRunning(); }, 20000));
    // Let anything that would still come arrive.
    WaitUntil([] { return false; }, 500);
    EXPECT_EQ(rig.CronHits(), 2u);
    EXPECT_FALSE(rig.Watcher->FtpUploadPending());
    EXPECT_EQ(rig.Published(), "Song 4");
}

TEST(NowPlayingUpload, SameTextRewrittenUploadsAgain)
{
    TWatcherUploadRig rig;
    rig.Rewrite("Same song");
    rig.Watcher->Tick();
    ASSERT_TRUE(WaitUntil([&] { return rig.CronHits() == 1 && !rig.Watcher->FtpUploadRunning(); }, 20000));

    // Unchanged file: no upload.
    rig.TickLater();
    EXPECT_FALSE(rig.Watcher->FtpUploadRunning());

    rig.Rewrite("Same song");
    rig.TickLater();
    EXPECT_TRUE(rig.Watcher->FtpUploadRunning());
    ASSERT_TRUE(WaitUntil([&] { return rig.CronHits() == 2 && !rig.Watcher->FtpUploadRunning(); }, 20000));
}

TEST(NowPlayingUpload, StampIsTrackedWhilePublishingIsOff)
{
    TWatcherUploadRig rig;
    rig.Config.FtpEnabled = false;
    rig.Rewrite("Song");
    rig.Watcher->Tick();
    rig.Rewrite("Song 2");
    rig.TickLater();
    EXPECT_FALSE(rig.Watcher->FtpUploadRunning());

    // Switched on in the settings dialog: nothing until the dialog's
    // confirmation forgets the stamp.
    rig.Config.FtpEnabled = true;
    rig.TickLater();
    EXPECT_FALSE(rig.Watcher->FtpUploadRunning());
    rig.Watcher->ForgetFtpStamp();
    rig.Watcher->CheckNoarFile();
    EXPECT_TRUE(rig.Watcher->FtpUploadRunning());
    ASSERT_TRUE(WaitUntil([&] { return !rig.Watcher->FtpUploadRunning(); }, 20000));
    EXPECT_EQ(rig.Published(), "Song 2");
    EXPECT_EQ(rig.CronHits(), 1u);
}

TEST(NowPlayingUpload, WatcherGoneBeforeItsUploadEnds)
{
    TWatcherUploadRig rig;
    rig.Cron.Hold();
    rig.Rewrite("Song");
    rig.Watcher->Tick();
    ASSERT_TRUE(WaitUntil([&] { return rig.CronHits() == 1; }, 20000));
    rig.Watcher.reset();
    rig.Cron.Release();
    // The worker ends and hands its termination over to this thread; it must
    // not reach the destroyed watcher (the sanitizers would tell).
    WaitUntil([] { return false; }, 1000);
    EXPECT_EQ(rig.Published(), "Song");
}

TEST(NowPlayingUpload, APipeAtThePathHoldsNoLaterUploadBack)
{
    TWatcherUploadRig rig;
    ASSERT_EQ(unlink(rig.NoarFile().c_str()), 0);
    ASSERT_EQ(mkfifo(rig.NoarFile().c_str(), 0644), 0);
    rig.Watcher->Tick();
    EXPECT_TRUE(rig.Watcher->FtpUploadRunning());
    const bool fast = WaitUntil([&] { return !rig.Watcher->FtpUploadRunning(); }, 5000);
    if (!fast)
        ReleasePipeReader(rig.NoarFile());
    ASSERT_TRUE(WaitUntil([&] { return !rig.Watcher->FtpUploadRunning(); }, 30000));
    EXPECT_TRUE(fast) << "the upload waited for a writer";
    EXPECT_EQ(rig.CronHits(), 0u);

    // The playout software writes a regular file there again: it goes out.
    ASSERT_EQ(unlink(rig.NoarFile().c_str()), 0);
    rig.Rewrite("After the pipe");
    rig.TickLater();
    ASSERT_TRUE(WaitUntil([&] { return !rig.Watcher->FtpUploadRunning(); }, 20000));
    EXPECT_EQ(rig.Published(), "After the pipe");
    EXPECT_EQ(rig.CronHits(), 1u);
}
