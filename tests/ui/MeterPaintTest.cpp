// The seven meters: bar lengths and colours at their thresholds, the needle,
// the dB text, and the window's level handler feeding the right boxes.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include <QEvent>
#include <QImage>
#include <QPainter>

#include "dsp/AudioProcessor.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/MainWindow.h"
#include "ui/MeterPainting.h"
#include "ui/MeterBox.h"
#include "ui/Theme.h"

namespace {

const QRgb KBarBack = qRgb(0x08, 0x09, 0x0A);
const QRgb KFrameFill = qRgb(0x0D, 0x0F, 0x12);
const QRgb KOutline = qRgb(0x38, 0x40, 0x4A);
const QRgb KTicks = qRgb(0x48, 0x51, 0x5B);
const QRgb KPivot = qRgb(0xAA, 0xB3, 0xB9);
const QRgb KGreen = qRgb(0x65, 0xD3, 0x44);
const QRgb KYellow = qRgb(0xF5, 0xD8, 0x36);
const QRgb KRed = qRgb(0xE8, 0x29, 0x29);

QFont MeterFont()
{
    return UiFont("Segoe UI", 12);
}

QImage Render(int AWidth, int AHeight, const std::function<void(QPainter&)>& APaint)
{
    QImage image(AWidth, AHeight, QImage::Format_RGB32);
    image.fill(Qt::magenta); // anything left unpainted shows
    QPainter p(&image);
    APaint(p);
    return image;
}

QImage Vu(double AValue, int AWidth = 600, int AHeight = 64)
{
    return Render(AWidth, AHeight, [&](QPainter& p) { PaintVuBar(p, AWidth, AHeight, AValue, MeterFont()); });
}

QImage Band(double AValue)
{
    return Render(210, 18, [&](QPainter& p) { PaintBandBar(p, 210, 18, AValue); });
}

QImage Analog(double AValue, const std::string& ACaption = "L")
{
    return Render(120, 78, [&](QPainter& p) { PaintAnalogMeter(p, 120, 78, AValue, ACaption, MeterFont()); });
}

// The first column, from the left, that no longer holds the bar colour on
// row AY: the bar's right edge (exclusive).
int BarEnd(const QImage& AImage, int AX0, int AY, QRgb AColor)
{
    int x = AX0;
    while (x < AImage.width() && AImage.pixel(x, AY) == AColor)
        ++x;
    return x;
}

// Bright text pixels inside a rectangle.
int TextPixels(const QImage& AImage, const QRect& AArea)
{
    int count = 0;
    for (int y = AArea.top(); y <= AArea.bottom(); ++y)
        for (int x = AArea.left(); x <= AArea.right(); ++x)
            if (qGray(AImage.pixel(x, y)) > 200)
                ++count;
    return count;
}

bool ColorNear(const QImage& AImage, QPoint AAt, QRgb AColor, int ARadius = 1)
{
    for (int dy = -ARadius; dy <= ARadius; ++dy)
        for (int dx = -ARadius; dx <= ARadius; ++dx) {
            const QPoint p = AAt + QPoint(dx, dy);
            if (AImage.rect().contains(p) && AImage.pixel(p) == AColor)
                return true;
        }
    return false;
}

} // namespace

TEST(MeterPaint, LevelToDbTextFloorsAtMinus60AndRoundsToOneDecimal)
{
    EXPECT_EQ(LevelToDbText(0.0), "-60.0 dB");
    EXPECT_EQ(LevelToDbText(0.001), "-60.0 dB");
    EXPECT_EQ(LevelToDbText(1.0), "0.0 dB");
    EXPECT_EQ(LevelToDbText(0.5), "-6.0 dB");
    EXPECT_EQ(LevelToDbText(0.1), "-20.0 dB");
    EXPECT_EQ(LevelToDbText(1.7), "0.0 dB");
    EXPECT_EQ(LevelToDbText(-3), "-60.0 dB");
    // Just below full scale rounds to zero, without a minus sign.
    EXPECT_EQ(LevelToDbText(0.9999), "0.0 dB");
}

TEST(MeterPaint, LevelToDbTextUsesTheUsersDecimalSeparator)
{
    RequireProgram("localedef");
    TTempDir dir;
    int rc = -1;
    RunCommand("localedef -i pt_BR -f UTF-8 " + ShellQuote(dir.File("pt_BR.UTF-8")) + " 2>&1", &rc);
    ASSERT_EQ(rc, 0);
    const char* oldLocPath = std::getenv("LOCPATH");
    const std::string savedLocPath = oldLocPath ? oldLocPath : "";
    const char* oldAll = std::getenv("LC_ALL");
    const std::string savedAll = oldAll ? oldAll : "";
    setenv("LOCPATH", dir.Path().c_str(), 1);
    setenv("LC_ALL", "pt_BR.UTF-8", 1);
    const std::string half = LevelToDbText(0.5);
    const std::string quiet = LevelToDbText(0.0);
    oldLocPath ? setenv("LOCPATH", savedLocPath.c_str(), 1) : unsetenv("LOCPATH");
    oldAll ? setenv("LC_ALL", savedAll.c_str(), 1) : unsetenv("LC_ALL");
    EXPECT_EQ(half, "-6,0 dB");
    EXPECT_EQ(quiet, "-60,0 dB");
}

TEST(MeterPaint, VuBarFrameLengthAndColourThresholds)
{
    const QImage idle = Vu(0.0);
    EXPECT_EQ(idle.pixel(0, 0), KBarBack);
    EXPECT_EQ(idle.pixel(599, 63), KBarBack);
    EXPECT_EQ(idle.pixel(8, 30), KOutline);
    EXPECT_EQ(idle.pixel(591, 30), KOutline);
    EXPECT_EQ(idle.pixel(300, 8), KOutline);
    EXPECT_EQ(idle.pixel(300, 55), KOutline);
    EXPECT_EQ(idle.pixel(10, 45), KFrameFill);
    EXPECT_EQ(idle.pixel(592, 30), KBarBack);

    struct TCase {
        double Level;
        QRgb Color;
        int Length;
    };
    const TCase cases[] = {
        {0.62, KGreen, 360}, {0.63, KYellow, 365}, {0.82, KYellow, 476},
        {0.83, KRed, 481},   {1.0, KRed, 580},     {1.3, KRed, 580},
    };
    for (const TCase& c : cases) {
        const QImage img = Vu(c.Level);
        EXPECT_EQ(img.pixel(10, 45), c.Color) << c.Level;
        EXPECT_EQ(BarEnd(img, 10, 45, c.Color), 10 + c.Length) << c.Level;
        // Rows 10 to 53 hold the bar, rows 9 and 54 the frame.
        EXPECT_EQ(img.pixel(100, 10), c.Color) << c.Level;
        EXPECT_EQ(img.pixel(100, 53), c.Color) << c.Level;
        EXPECT_EQ(img.pixel(100, 54), KFrameFill) << c.Level;
    }
    // Below zero paints like zero: no bar at all.
    EXPECT_EQ(Vu(-0.2).pixel(10, 45), KFrameFill);
}

TEST(MeterPaint, VuBarScalesWithWidthAndRoundsHalvesToEven)
{
    // 280 pixels of bar in a 300-wide box.
    EXPECT_EQ(BarEnd(Vu(0.5, 300), 10, 45, KGreen), 10 + 140);
    // 8 pixels of bar: 4.5 rounds to 4 and 5.5 to 6.
    EXPECT_EQ(BarEnd(Vu(0.5625, 28), 10, 45, KGreen), 14);
    EXPECT_EQ(BarEnd(Vu(0.6875, 28), 10, 45, KYellow), 16);
}

TEST(MeterPaint, VuBarDrawsItsDbTextFromTwentyEighteen)
{
    const QImage img = Vu(0.3);
    EXPECT_GT(TextPixels(img, QRect(20, 18, 80, 18)), 30);
    EXPECT_EQ(TextPixels(img, QRect(10, 10, 9, 40)), 0);
    EXPECT_EQ(TextPixels(img, QRect(10, 10, 200, 7)), 0);
    // Another level, another text.
    EXPECT_NE(Vu(0.3).copy(20, 18, 80, 18), Vu(0.05).copy(20, 18, 80, 18));
}

TEST(MeterPaint, BandBarOutlineLengthAndColourThresholds)
{
    const QImage idle = Band(0.0);
    EXPECT_EQ(idle.pixel(0, 9), KBarBack);
    EXPECT_EQ(idle.pixel(1, 9), KOutline);
    EXPECT_EQ(idle.pixel(208, 9), KOutline);
    EXPECT_EQ(idle.pixel(100, 1), KOutline);
    EXPECT_EQ(idle.pixel(100, 16), KOutline);
    EXPECT_EQ(idle.pixel(4, 9), KBarBack);

    struct TCase {
        double Level;
        QRgb Color;
    };
    const TCase cases[] = {{0.65, KGreen}, {0.66, KYellow}, {0.86, KYellow}, {0.87, KRed}, {2.0, KRed}};
    for (const TCase& c : cases) {
        const QImage img = Band(c.Level);
        const double v = c.Level > 1 ? 1 : c.Level;
        EXPECT_EQ(BarEnd(img, 4, 9, c.Color), 4 + qRound(202 * v)) << c.Level;
        EXPECT_EQ(img.pixel(50, 4), c.Color) << c.Level;
        EXPECT_EQ(img.pixel(50, 13), c.Color) << c.Level;
        EXPECT_EQ(img.pixel(50, 14), KBarBack) << c.Level;
    }
}

TEST(MeterPaint, AnalogNeedleTicksPivotAndCaption)
{
    const QImage mid = Analog(0.5);
    EXPECT_EQ(mid.pixel(3, 40), KFrameFill);
    EXPECT_EQ(mid.pixel(1, 40), KOutline);
    // Pivot at (60, 68).
    EXPECT_EQ(mid.pixel(60, 68), KPivot);
    // v = 0.5: the needle points at 140 degrees, its end 42 pixels out at (28, 41).
    EXPECT_TRUE(ColorNear(mid, QPoint(28, 41), KGreen));
    EXPECT_TRUE(ColorNear(mid, QPoint(44, 55), KGreen)); // half way along
    // The 127-degree tick runs between radius 42 and 52.
    EXPECT_TRUE(ColorNear(mid, QPoint(60 - 28, 68 - 38), KTicks));
    // Caption in the top-left corner.
    EXPECT_GT(TextPixels(mid, QRect(8, 7, 12, 16)), 5);
    EXPECT_NE(mid.copy(8, 7, 12, 16), Analog(0.5, "R").copy(8, 7, 12, 16));

    // Green up to 0.82, red above: their ends at (54, 26) and (55, 26).
    const QImage at82 = Analog(0.82);
    const QImage at83 = Analog(0.83);
    EXPECT_TRUE(ColorNear(at82, QPoint(54, 26), KGreen));
    EXPECT_FALSE(ColorNear(at82, QPoint(54, 26), KRed, 3));
    EXPECT_TRUE(ColorNear(at83, QPoint(55, 26), KRed));
    // At 0.9 the needle stands at 88 degrees.
    EXPECT_TRUE(ColorNear(Analog(0.9), QPoint(61, 26), KRed));
    // Out-of-range levels are limited: 1.5 draws like 1 (75 degrees).
    EXPECT_EQ(Analog(1.5), Analog(1.0));
    EXPECT_EQ(Analog(-1.0), Analog(0.0));
}

namespace {

// Counts the paint events a widget receives.
class TPaintCounter : public QObject {
public:
    explicit TPaintCounter(QWidget* AWidget) { AWidget->installEventFilter(this); }
    int Count = 0;

protected:
    bool eventFilter(QObject*, QEvent* AEvent) override
    {
        if (AEvent->type() == QEvent::Paint)
            ++Count;
        return false;
    }
};

// The box as shown, in the format of the reference paintings.
QImage Shown(QWidget* ABox)
{
    return Snapshot(ABox).convertToFormat(QImage::Format_RGB32);
}

} // namespace

TEST(MeterPaint, ABoxDrawnFromItsFixedPictureMatchesTheWholePainting)
{
    QWidget parent;
    parent.setFont(MeterFont());
    TMeterBox vu(TMeterBox::mkVu, "", &parent);
    vu.setGeometry(0, 0, 600, 64);
    TMeterBox band(TMeterBox::mkBand, "", &parent);
    band.setGeometry(0, 70, 210, 18);
    TMeterBox analog(TMeterBox::mkAnalog, "R", &parent);
    analog.setGeometry(0, 100, 120, 78);
    parent.resize(620, 200);
    parent.show();
    for (double level : {0.0, 0.003, 0.05, 0.3, 0.5, 0.62, 0.63, 0.83, 0.9, 1.0, 0.2}) {
        for (TMeterBox* box : {&vu, &band, &analog})
            box->SetLevel(level);
        PumpFor(20);
        EXPECT_EQ(Shown(&vu), Vu(level)) << level;
        EXPECT_EQ(Shown(&band), Band(level)) << level;
        EXPECT_EQ(Shown(&analog), Analog(level, "R")) << level;
    }
    // A new size draws the fixed parts again, to the new size.
    vu.resize(300, 64);
    PumpFor(20);
    EXPECT_EQ(Shown(&vu), Vu(0.2, 300));
}

TEST(MeterPaint, ABoxRepaintsOnlyWhenWhatItShowsChanges)
{
    QWidget parent;
    parent.setFont(MeterFont());
    TMeterBox vu(TMeterBox::mkVu, "", &parent);
    vu.setGeometry(0, 0, 600, 64);
    TMeterBox band(TMeterBox::mkBand, "", &parent);
    band.setGeometry(0, 70, 210, 18);
    TMeterBox analog(TMeterBox::mkAnalog, "L", &parent);
    analog.setGeometry(0, 100, 120, 78);
    parent.resize(620, 200);
    parent.show();
    PumpFor(50);
    TPaintCounter vuPaints(&vu), bandPaints(&band), analogPaints(&analog);

    for (TMeterBox* box : {&vu, &band, &analog})
        box->SetLevel(0.5);
    PumpFor(30);
    for (TMeterBox* box : {&vu, &band, &analog})
        box->SetLevel(0.5);
    PumpFor(30);
    EXPECT_EQ(vuPaints.Count, 1);
    EXPECT_EQ(bandPaints.Count, 1);
    EXPECT_EQ(analogPaints.Count, 1);

    // Less than a pixel of bar and needle, the same dB text: no repaint.
    for (TMeterBox* box : {&vu, &band, &analog})
        box->SetLevel(0.5001);
    PumpFor(30);
    EXPECT_EQ(vuPaints.Count, 1);
    EXPECT_EQ(bandPaints.Count, 1);
    EXPECT_EQ(analogPaints.Count, 1);

    // A new dB text alone repaints the digital bar: -40.0 and -39.9 dB
    // share their bar pixels.
    vu.SetLevel(0.01);
    PumpFor(30);
    vu.SetLevel(0.01012);
    PumpFor(30);
    EXPECT_EQ(vuPaints.Count, 3);
    EXPECT_EQ(Shown(&vu), Vu(0.01012));

    // A pixel more of band bar repaints it.
    band.SetLevel(0.5 + 1.0 / 202);
    PumpFor(30);
    EXPECT_EQ(bandPaints.Count, 2);
}

TEST(MeterPaint, WindowLevelHandlerFeedsEachBoxItsOwnValue)
{
    TTempDir dir;
    WriteSettings(dir.File("TavixEncoder.ini"));
    TFrmPrincipal window(dir.File("TavixEncoder.ini"));
    window.show();
    window.ShowLevels({0.9, 0.25, 0.5, 0.7, 0.95});
    PumpFor(50);

    const QImage left = Snapshot(Control<TMeterBox>(window, "pbVuL"));
    const QImage right = Snapshot(Control<TMeterBox>(window, "pbVuR"));
    EXPECT_EQ(BarEnd(left, 10, 45, KRed), 10 + 522);
    EXPECT_EQ(BarEnd(right, 10, 45, KGreen), 10 + 145);
    EXPECT_EQ(BarEnd(Snapshot(Control<TMeterBox>(window, "pbBandLow")), 4, 9, KGreen), 4 + 101);
    EXPECT_EQ(Snapshot(Control<TMeterBox>(window, "pbBandMid")).pixel(10, 9), KYellow);
    EXPECT_EQ(Snapshot(Control<TMeterBox>(window, "pbBandHigh")).pixel(10, 9), KRed);
    EXPECT_TRUE(ColorNear(Snapshot(Control<TMeterBox>(window, "pbAnalogL")), QPoint(61, 26), KRed));
    EXPECT_FALSE(ColorNear(Snapshot(Control<TMeterBox>(window, "pbAnalogR")), QPoint(61, 26), KRed));
}
