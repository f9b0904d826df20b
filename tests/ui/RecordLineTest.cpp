// The local recording's line in the main window: the REC mark and the
// file's name while a file is written, a loss of audio for a moment, and
// why a recording stopped, in red, while the status line stays the server's.
#include <string>

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "tests/support/TempDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/MainWindow.h"

namespace {

const QColor KRed(0xE8, 0x29, 0x29);
const QColor KYellow(0xF5, 0xD8, 0x36);
const QColor KDim(0xAA, 0xB3, 0xB9);

constexpr int KMomentMs = 200;
const std::string KFile = "/home/radio/Music/2026-12-09_14-00-00.mp3";

class RecordLine : public testing::Test {
protected:
    void SetUp() override
    {
        FWindow.show();
        // The warning's moment, shortened for the test.
        Control<QTimer>(FWindow, "tmrRecWarning")->setInterval(KMomentMs);
    }

    void Record(const std::string& AFile, const std::string& AText, bool AIsError)
    {
        FWindow.StationView().RecordChanged(AFile, AText, AIsError);
    }

    // The line keeps to the control bar, right of the buttons.
    void ExpectInsideTheBar(const char* AWhen)
    {
        const QRect line = InWindow(Control<QLabel>(FWindow, "lblRecFile"));
        EXPECT_GT(line.left(), InWindow(Control<QPushButton>(FWindow, "btnConfig")).right()) << AWhen;
        EXPECT_TRUE(InWindow(Control<QWidget>(FWindow, "pnlControls")).contains(line)) << AWhen;
        EXPECT_LE(line.right(), 956) << AWhen;
        EXPECT_LE(Control<QLabel>(FWindow, "lblRecFile")->fontMetrics().horizontalAdvance(Control<QLabel>(FWindow, "lblRecFile")->text()), line.width())
            << AWhen << ": " << Text(Control<QLabel>(FWindow, "lblRecFile"));
        if (Control<QLabel>(FWindow, "lblRec")->isVisible()) {
            EXPECT_LT(InWindow(Control<QLabel>(FWindow, "lblRec")).right(), line.left()) << AWhen;
        }
    }

    TTempDir FDir;
    std::string FSettings = FDir.File("TavixEncoder.ini");
    TFrmPrincipal FWindow{FSettings};
};

} // namespace

TEST_F(RecordLine, HiddenUntilAFileIsWrittenThenMarkNameAndPath)
{
    EXPECT_FALSE(Control<QLabel>(FWindow, "lblRec")->isVisible());
    EXPECT_FALSE(Control<QLabel>(FWindow, "lblRecFile")->isVisible());

    Record(KFile, "Gravando em " + KFile, false);
    ASSERT_TRUE(Control<QLabel>(FWindow, "lblRec")->isVisible());
    EXPECT_EQ(Text(Control<QLabel>(FWindow, "lblRec")), "REC");
    EXPECT_EQ(Control<QLabel>(FWindow, "lblRec")->palette().color(QPalette::Window), KRed);
    EXPECT_TRUE(Control<QLabel>(FWindow, "lblRec")->autoFillBackground());
    ASSERT_TRUE(Control<QLabel>(FWindow, "lblRecFile")->isVisible());
    EXPECT_EQ(Text(Control<QLabel>(FWindow, "lblRecFile")), "2026-12-09_14-00-00.mp3");
    EXPECT_EQ(TextColor(Control<QLabel>(FWindow, "lblRecFile")), KDim);
    EXPECT_EQ(Control<QLabel>(FWindow, "lblRecFile")->toolTip().toStdString(), KFile);
    EXPECT_EQ(Control<QLabel>(FWindow, "lblRec")->toolTip().toStdString(), KFile);
    ExpectInsideTheBar("recording");
    // The status line is the server's, not the recording's.
    EXPECT_EQ(Text(Control<QLabel>(FWindow, "lblStatus")), "Parado.");
    SaveWindowShot(&FWindow, "main-recording.png");

    // The next file of a split recording takes its place.
    Record("/home/radio/Music/2026-12-09_15-00-00.mp3", "Gravando em /home/radio/Music/2026-12-09_15-00-00.mp3",
           false);
    EXPECT_EQ(Text(Control<QLabel>(FWindow, "lblRecFile")), "2026-12-09_15-00-00.mp3");

    // A recording that ends without a fault leaves nothing behind.
    Record("", "", false);
    EXPECT_FALSE(Control<QLabel>(FWindow, "lblRec")->isVisible());
    EXPECT_FALSE(Control<QLabel>(FWindow, "lblRecFile")->isVisible());
    EXPECT_TRUE(Control<QLabel>(FWindow, "lblRecFile")->toolTip().isEmpty());
}

TEST_F(RecordLine, LostAudioShowsForAMomentAndStaysInTheTooltip)
{
    Record(KFile, "Gravando em " + KFile, false);
    const std::string warning = "Gravacao atrasada: parte do audio foi descartada.";
    Record(KFile, warning, true);
    // The file goes on: the mark stays, the warning shows in its name's place.
    EXPECT_TRUE(Control<QLabel>(FWindow, "lblRec")->isVisible());
    EXPECT_EQ(Text(Control<QLabel>(FWindow, "lblRecFile")), warning);
    EXPECT_EQ(TextColor(Control<QLabel>(FWindow, "lblRecFile")), KYellow);
    EXPECT_EQ(Control<QLabel>(FWindow, "lblRecFile")->toolTip().toStdString(), KFile + "\n" + warning);
    ExpectInsideTheBar("audio lost");
    EXPECT_EQ(Text(Control<QLabel>(FWindow, "lblStatus")), "Parado.");

    ASSERT_TRUE(PumpUntil([&] { return Text(Control<QLabel>(FWindow, "lblRecFile")) == "2026-12-09_14-00-00.mp3"; }, 5 * KMomentMs))
        << Text(Control<QLabel>(FWindow, "lblRecFile"));
    EXPECT_EQ(TextColor(Control<QLabel>(FWindow, "lblRecFile")), KDim);
    EXPECT_TRUE(Control<QLabel>(FWindow, "lblRec")->isVisible());
    EXPECT_EQ(Control<QLabel>(FWindow, "lblRecFile")->toolTip().toStdString(), KFile + "\n" + warning);

    // A new file before the moment is over shows at once and stays.
    Record(KFile, warning, true);
    Record("/home/radio/Music/b.mp3", "Gravando em /home/radio/Music/b.mp3", false);
    EXPECT_EQ(Text(Control<QLabel>(FWindow, "lblRecFile")), "b.mp3");
    PumpFor(2 * KMomentMs);
    EXPECT_EQ(Text(Control<QLabel>(FWindow, "lblRecFile")), "b.mp3");
    EXPECT_EQ(Control<QLabel>(FWindow, "lblRecFile")->toolTip().toStdString(), "/home/radio/Music/b.mp3");
}

TEST_F(RecordLine, AStoppedRecordingSaysWhyInRedWhereTheMarkWas)
{
    Record(KFile, "Gravando em " + KFile, false);
    const std::string why = "Gravacao parada: No space left on device (" + KFile + ")";
    Record("", why, true);
    EXPECT_FALSE(Control<QLabel>(FWindow, "lblRec")->isVisible());
    ASSERT_TRUE(Control<QLabel>(FWindow, "lblRecFile")->isVisible());
    EXPECT_EQ(Text(Control<QLabel>(FWindow, "lblRecFile")), why);
    EXPECT_EQ(TextColor(Control<QLabel>(FWindow, "lblRecFile")), KRed);
    EXPECT_EQ(Control<QLabel>(FWindow, "lblRecFile")->toolTip().toStdString(), why);
    EXPECT_EQ(InWindow(Control<QLabel>(FWindow, "lblRecFile")).left(), 392);
    ExpectInsideTheBar("stopped");
    EXPECT_EQ(Text(Control<QLabel>(FWindow, "lblStatus")), "Parado.");
    // It stays: no moment runs out on it.
    PumpFor(2 * KMomentMs);
    EXPECT_EQ(Text(Control<QLabel>(FWindow, "lblRecFile")), why);

    // Too long for the bar: cut in the middle, whole in the tooltip.
    const std::string longWhy = "Gravacao parada: Permission denied (/srv/" + std::string(200, 'x') + "/a.mp3)";
    Record("", longWhy, true);
    EXPECT_EQ(Control<QLabel>(FWindow, "lblRecFile")->toolTip().toStdString(), longWhy);
    EXPECT_TRUE(Control<QLabel>(FWindow, "lblRecFile")->text().startsWith("Gravacao parada: Permission denied"))
        << Text(Control<QLabel>(FWindow, "lblRecFile"));
    EXPECT_TRUE(Control<QLabel>(FWindow, "lblRecFile")->text().endsWith("/a.mp3)")) << Text(Control<QLabel>(FWindow, "lblRecFile"));
    EXPECT_LT(Control<QLabel>(FWindow, "lblRecFile")->text().size(), QString::fromStdString(longWhy).size());
    ExpectInsideTheBar("long");
}
