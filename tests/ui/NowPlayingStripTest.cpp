// The now-playing strip of the main window, the workers' hand-offs on the
// Qt event loop, and the program itself starting up.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <set>

#include "platform/Thread.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/MainWindow.h"
#include "ui/Shape.h"

TEST(NowPlayingStrip, ShowsTheFileAndScrollsItUnderTheOnAirBox)
{
    TTempDir dir;
    WriteTextFile(dir.File("noar.txt"), "Primeira\r\nSegunda\r\n");
    WriteSettings(dir.File("TavixEncoder.ini"), [&](TEncoderConfig& c) { c.NoarPath = dir.File("noar.txt"); });
    TFrmPrincipal window(dir.File("TavixEncoder.ini"));
    window.show();

    // The title as the servers get it: one line, single blanks.
    EXPECT_EQ(Control<QLabel>(window, "lblNoarText")->text().toStdString(), "   Primeira Segunda   ");
    // It enters from the strip's right edge, vertically centred.
    const auto inStrip = [&] { return Control<QLabel>(window, "lblNoarText")->mapTo(Control<QWidget>(window, "pnlNoar"), QPoint(0, 0)); };
    EXPECT_EQ(inStrip().x(), Control<QWidget>(window, "pnlNoar")->width());
    EXPECT_EQ(inStrip().y(), (Control<QWidget>(window, "pnlNoar")->height() - Control<QLabel>(window, "lblNoarText")->height()) / 2);
    PumpFor(500);
    const int moved = Control<QWidget>(window, "pnlNoar")->width() - inStrip().x();
    EXPECT_GT(moved, 0);
    EXPECT_EQ(moved % 3, 0);
    // It shows beside the on-air box, which lies above it; it is drawn
    // from the box's right edge on and never reaches beneath it.
    const QWidget* marquee = Control<QLabel>(window, "lblNoarText")->parentWidget();
    const QObjectList& strip = Control<QWidget>(window, "pnlNoar")->children();
    EXPECT_GT(strip.indexOf(Control<QWidget>(window, "PnlPisca")), strip.indexOf(marquee));
    EXPECT_EQ(marquee->geometry(), QRect(Control<QWidget>(window, "PnlPisca")->width(), 0, Control<QWidget>(window, "pnlNoar")->width() - Control<QWidget>(window, "PnlPisca")->width(),
                                         Control<QWidget>(window, "pnlNoar")->height()));

    WriteTextFile(dir.File("noar.txt"), "");
    ASSERT_TRUE(PumpUntil([&] { return Control<QLabel>(window, "lblNoarText")->text().contains("Nenhuma"); }, 4000));
    EXPECT_EQ(Control<QLabel>(window, "lblNoarText")->text().toStdString(), "   Nenhuma música informada no noar.txt   ");
}

namespace {

class THandingThread : public TThread {
public:
    THandingThread() : TThread(true) {}
    ~THandingThread() override { Shutdown(); }
    std::atomic<bool> RanOnMain{false};

protected:
    void Execute() override
    {
        Queue([this] { RanOnMain = TThread::IsMainThread(); });
    }
};

} // namespace

TEST(ThreadHandOffs, AWorkersHandOffRunsOnTheEventLoopOfTheWindow)
{
    TTempDir dir;
    TFrmPrincipal window(dir.File("TavixEncoder.ini"));
    THandingThread worker;
    worker.Start();
    // Qt's own loop only: no explicit RunQueued.
    EXPECT_TRUE(PumpUntil([&] { return worker.RanOnMain.load(); }, 5000));
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

namespace {

// Every widget that receives a paint event while it is alive.
class TPaintLog : public QObject {
public:
    TPaintLog() { qApp->installEventFilter(this); }
    ~TPaintLog() override { qApp->removeEventFilter(this); }
    std::set<QWidget*> Painted;

protected:
    bool eventFilter(QObject* AObject, QEvent* AEvent) override
    {
        if (AEvent->type() == QEvent::Paint && AObject->isWidgetType())
            Painted.insert(static_cast<QWidget*>(AObject));
        return false;
    }
};

// A plain label with AShown's text, font, colours and alignment over AColour.
QImage PlainLabelPicture(const QLabel* AShown, const QColor& AColour)
{
    QWidget back;
    back.setFixedSize(AShown->size());
    QPalette palette = back.palette();
    palette.setColor(QPalette::Window, AColour);
    back.setPalette(palette);
    back.setAutoFillBackground(true);
    QLabel plain(&back);
    plain.setTextFormat(Qt::PlainText);
    plain.setFont(AShown->font());
    plain.setPalette(AShown->palette());
    plain.setAlignment(AShown->alignment());
    plain.setContentsMargins(AShown->contentsMargins());
    plain.setText(AShown->text());
    plain.setGeometry(back.rect());
    return Snapshot(&back).convertToFormat(QImage::Format_RGB32);
}

} // namespace

TEST(NowPlayingStrip, TheMarqueeRepaintsTheStripAloneAndLooksLikeAPlainLabel)
{
    TTempDir dir;
    WriteTextFile(dir.File("noar.txt"), "Artista - Canção <b>sem</b> marcas\r\n");
    WriteSettings(dir.File("TavixEncoder.ini"), [&](TEncoderConfig& c) { c.NoarPath = dir.File("noar.txt"); });
    TFrmPrincipal window(dir.File("TavixEncoder.ini"));
    window.show();
    ASSERT_TRUE(PumpUntil([&] { return Control<QLabel>(window, "lblNoarText")->mapTo(Control<QWidget>(window, "pnlNoar"), QPoint(0, 0)).x() < 700; }, 5000));

    // The strip and the on-air caption as plain labels over the same
    // colours would show them, the markup in the title shown as written.
    EXPECT_EQ(Control<QLabel>(window, "lblNoarText")->text().toStdString(), "   Artista - Canção <b>sem</b> marcas   ");
    EXPECT_EQ(Snapshot(Control<QLabel>(window, "lblNoarText")).convertToFormat(QImage::Format_RGB32),
              PlainLabelPicture(Control<QLabel>(window, "lblNoarText"), Control<QWidget>(window, "pnlNoar")->palette().color(QPalette::Window)));
    const QColor idleBox = Control<TShape>(window, "ShapePisca")->BrushColor();
    for (int blink = 0; blink < 2; ++blink) {
        EXPECT_EQ(Snapshot(Control<QLabel>(window, "lblNoarCaption")).convertToFormat(QImage::Format_RGB32),
                  PlainLabelPicture(Control<QLabel>(window, "lblNoarCaption"), Control<TShape>(window, "ShapePisca")->BrushColor()));
        Control<TShape>(window, "ShapePisca")->SetBrushColor(Qt::red);
    }
    Control<TShape>(window, "ShapePisca")->SetBrushColor(idleBox);

    // Well past the on-air box's edge, under it in part: the box must not
    // repaint for the marquee.
    ASSERT_TRUE(PumpUntil([&] { return Control<QLabel>(window, "lblNoarText")->mapTo(Control<QWidget>(window, "pnlNoar"), QPoint(0, 0)).x() < 60; }, 15000));

    {
        TPaintLog log;
        PumpFor(600);
        ASSERT_FALSE(log.Painted.empty());
        for (QWidget* w : log.Painted)
            EXPECT_TRUE(w == Control<QWidget>(window, "pnlNoar") || Control<QLabel>(window, "lblNoarText")->parentWidget()->isAncestorOf(w) ||
                        w == Control<QLabel>(window, "lblNoarText")->parentWidget())
                << w->metaObject()->className() << " " << w->objectName().toStdString();
    }
}

// The on-air caption and the clear space right of its letters look the
// same whatever the marquee shows beside them: a long title never runs into
// the caption. The window has one size, which is also the smallest it
// allows.
TEST(NowPlayingStrip, ALongTitleNeverRunsIntoTheOnAirCaption)
{
    // Less than the window keeps, more than antialiasing can blur.
    constexpr int KClearSpace = 6;
    TTempDir dir;
    std::string title;
    while (title.size() < 400)
        title += "Artista Com Um Nome Muito Comprido - WWMM Cancao Sem Fim ";
    WriteTextFile(dir.File("noar.txt"), title + "\r\n");
    WriteSettings(dir.File("TavixEncoder.ini"), [&](TEncoderConfig& c) { c.NoarPath = dir.File("noar.txt"); });
    TFrmPrincipal window(dir.File("TavixEncoder.ini"));
    window.show();
    EXPECT_EQ(window.minimumSize(), window.size());
    EXPECT_EQ(window.maximumSize(), window.size());

    const auto inStrip = [&] { return Control<QLabel>(window, "lblNoarText")->mapTo(Control<QWidget>(window, "pnlNoar"), QPoint(0, 0)).x(); };
    const auto strip = [&] { return Snapshot(Control<QWidget>(window, "pnlNoar")).convertToFormat(QImage::Format_RGB32); };
    // The title still enters at the far right: the caption stands alone.
    ASSERT_GT(inStrip(), Control<QWidget>(window, "pnlNoar")->width() / 2);
    const QImage alone = strip();
    const QRect caption(Control<QLabel>(window, "lblNoarCaption")->mapTo(Control<QWidget>(window, "pnlNoar"), QPoint(0, 0)), Control<QLabel>(window, "lblNoarCaption")->size());
    const QRgb box = Control<TShape>(window, "ShapePisca")->BrushColor().rgb();
    int inkRight = -1;
    for (int y = caption.top(); y <= caption.bottom(); ++y)
        for (int x = caption.left(); x <= caption.right(); ++x)
            if (alone.pixel(x, y) != box)
                inkRight = std::max(inkRight, x);
    ASSERT_GE(inkRight, caption.left()) << "no caption drawn";
    const QRect guarded(caption.left(), caption.top(), inkRight + 1 + KClearSpace - caption.left(), caption.height());

    // The title runs past the caption's box for a while, drawn right up to
    // the guarded area's edge.
    ASSERT_TRUE(PumpUntil([&] { return inStrip() < 0; }, 20000)) << inStrip();
    const QRect beside(guarded.right() + 1, 0, Control<QLabel>(window, "lblNoarText")->parentWidget()->width() / 2, caption.height());
    bool titleBeside = false;
    for (int frame = 0; frame < 12; ++frame) {
        PumpFor(45);
        const QImage now = strip();
        EXPECT_EQ(now.copy(guarded), alone.copy(guarded)) << "frame " << frame << ", title at " << inStrip();
        titleBeside = titleBeside || now.copy(beside) != alone.copy(beside);
    }
    EXPECT_TRUE(titleBeside);
}
