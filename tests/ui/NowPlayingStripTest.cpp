// The now-playing strip of the main window, the workers' hand-offs on the
// Qt event loop, and the program itself starting up.
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <QLabel>

#include "platform/Thread.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/MainWindow.h"

TEST(NowPlayingStrip, ShowsTheFileAndScrollsItUnderTheOnAirBox)
{
    TTempDir dir;
    WriteTextFile(dir.File("noar.txt"), "Primeira\r\nSegunda\r\n");
    WriteSettings(dir.File("TavixEncoder.ini"), [&](TEncoderConfig& c) { c.NoarPath = dir.File("noar.txt"); });
    TFrmPrincipal window(dir.File("TavixEncoder.ini"));
    window.show();

    EXPECT_EQ(window.lblNoarText->text().toStdString(), "   Primeira  Segunda   ");
    // It enters from the strip's right edge, vertically centred.
    EXPECT_EQ(window.lblNoarText->x(), window.pnlNoar->width());
    EXPECT_EQ(window.lblNoarText->y(), (window.pnlNoar->height() - window.lblNoarText->height()) / 2);
    PumpFor(500);
    const int moved = window.pnlNoar->width() - window.lblNoarText->x();
    EXPECT_GT(moved, 0);
    EXPECT_EQ(moved % 3, 0);
    // The on-air box lies above the marquee.
    const QObjectList& strip = window.pnlNoar->children();
    EXPECT_GT(strip.indexOf(window.PnlPisca), strip.indexOf(window.lblNoarText));

    WriteTextFile(dir.File("noar.txt"), "");
    ASSERT_TRUE(PumpUntil([&] { return window.lblNoarText->text().contains("Nenhuma"); }, 4000));
    EXPECT_EQ(window.lblNoarText->text().toStdString(), "   Nenhuma música informada no noar.txt   ");
}

TEST(ThreadHandOffs, AWorkersSynchronizeRunsOnTheEventLoopOfTheWindow)
{
    TTempDir dir;
    TFrmPrincipal window(dir.File("TavixEncoder.ini"));
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        TThread::Synchronize([&] { ranOnMain = TThread::IsMainThread(); });
        returned = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return returned.load(); }, 5000));
    worker.join();
    EXPECT_TRUE(ranOnMain);
}

TEST(ProgramStart, TheProgramComesUpAndKeepsRunning)
{
    const char* build = std::getenv("TAVIX_BINARY_DIR");
    ASSERT_NE(build, nullptr);
    TTempDir dir;
    TChildProcess program({std::string(build) + "/ui/TavixEncoder"}, {{"QT_QPA_PLATFORM", "offscreen"}},
                          dir.File("program.log"));
    PumpFor(2000);
    EXPECT_TRUE(program.Running()) << ReadTextFile(dir.File("program.log"));
    program.Stop();
}
