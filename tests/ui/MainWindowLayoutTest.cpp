// Where the main window's controls stand, in window coordinates, and that
// captions of every language keep clear of their neighbours.
#include <string>

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include "tests/support/TempDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/FormHelpers.h"
#include "ui/MainWindow.h"
#include "ui/MeterBox.h"
#include "ui/Shape.h"

TEST(MainWindowLayout, ControlsStandWhereTheLayoutPutsThem)
{
    TTempDir dir;
    WriteSettings(dir.File("TavixEncoder.ini"));
    TFrmPrincipal w(dir.File("TavixEncoder.ini"));
    w.show();
    EXPECT_EQ(w.size(), QSize(980, 640));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());

    const std::pair<const QWidget*, QRect> boxes[] = {
        {Control<QWidget>(w, "pnlTop"), {0, 0, 980, 57}},          {Control<QLabel>(w, "Image1"), {3, 3, 145, 51}},
        {Control<TShape>(w, "shpLed"), {936, 10, 18, 18}},        {Control<TShape>(w, "Shape3"), {3, 60, 974, 5}},
        {Control<QWidget>(w, "pnlNoar"), {3, 71, 974, 46}},        {Control<QWidget>(w, "PnlPisca"), {3, 71, 97, 46}},
        {Control<TShape>(w, "Shape1"), {3, 123, 974, 2}},         {Control<QWidget>(w, "pnlVu"), {0, 128, 980, 238}},
        {Control<TMeterBox>(w, "pbVuL"), {56, 176, 600, 64}},        {Control<TMeterBox>(w, "pbVuR"), {56, 266, 600, 64}},
        {Control<TMeterBox>(w, "pbAnalogL"), {690, 173, 120, 78}},   {Control<TMeterBox>(w, "pbAnalogR"), {830, 173, 120, 78}},
        {Control<TMeterBox>(w, "pbBandLow"), {740, 262, 210, 18}},   {Control<TMeterBox>(w, "pbBandMid"), {740, 286, 210, 18}},
        {Control<TMeterBox>(w, "pbBandHigh"), {740, 310, 210, 18}},  {Control<TShape>(w, "Shape4"), {3, 369, 974, 2}},
        {Control<QWidget>(w, "pnlEQ"), {0, 374, 980, 150}},        {Control<QComboBox>(w, "cbEqPresetMain"), {650, 390, 150, 23}},
        {Control<QPushButton>(w, "btnEqFlatMain"), {810, 390, 82, 23}}, {Control<QCheckBox>(w, "chkCompressor"), {650, 424, 230, 24}},
        {Control<QLabel>(w, "lblServerInfo"), {3, 527, 974, 15}}, {Control<QWidget>(w, "pnlControls"), {0, 545, 980, 84}},
        {Control<QPushButton>(w, "btnStartStop"), {24, 563, 180, 42}}, {Control<QPushButton>(w, "btnConfig"), {220, 563, 150, 42}},
        {Control<QLabel>(w, "lblRec"), {392, 573, 46, 22}},
        {Control<TShape>(w, "Shape2"), {3, 632, 974, 5}},
    };
    for (const auto& [control, box] : boxes)
        EXPECT_EQ(InWindow(control), box) << control->metaObject()->className();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(InWindow(Control<QSlider>(w, "trEQ", i)), QRect(20 + 60 * i, 426, 50, 70)) << i;
        EXPECT_EQ(InWindow(Control<QLabel>(w, "lblEQVal", i)).topLeft(), QPoint(20 + 60 * i, 409)) << i;
        EXPECT_EQ(InWindow(Control<QLabel>(w, "lblEQ", i)).topLeft(), QPoint(30 + 60 * i, 500)) << i;
    }
    // Captions by their top-left corner; the status and listener lines by
    // their right edge.
    const std::pair<const QWidget*, QPoint> corners[] = {
        {Control<QLabel>(w, "lblTitle"), {158, 12}},   {Control<QLabel>(w, "lblVuTitle"), {24, 146}}, {Control<QLabel>(w, "lblL"), {26, 192}},
        {Control<QLabel>(w, "lblR"), {26, 282}},       {Control<QLabel>(w, "lblGrave"), {690, 264}},  {Control<QLabel>(w, "lblMedio"), {690, 288}},
        {Control<QLabel>(w, "lblAgudo"), {690, 312}},  {Control<QLabel>(w, "lblCurrentDevice"), {24, 344}}, {Control<QLabel>(w, "lblEQTitle"), {24, 386}},
    };
    for (const auto& [control, corner] : corners)
        EXPECT_EQ(InWindow(control).topLeft(), corner) << static_cast<const QLabel*>(control)->text().toStdString();
    EXPECT_EQ(InWindow(Control<QLabel>(w, "lblStatus")).right() + 1, 908);
    EXPECT_EQ(InWindow(Control<QLabel>(w, "lblStatus")).top(), 11);
    EXPECT_EQ(InWindow(Control<QLabel>(w, "lblListeners")).right() + 1, 925);
    EXPECT_EQ(InWindow(Control<QLabel>(w, "lblListeners")).top(), 36);
}

TEST(MainWindowLayout, CaptionsOfEveryLanguageKeepClearOfTheirNeighbours)
{
    for (const char* language : {"pt-BR", "en-US", "es-ES", "fr-FR"}) {
        TTempDir dir;
        WriteSettings(dir.File("TavixEncoder.ini"), [&](TEncoderConfig& c) { c.Language = language; });
        TFrmPrincipal w(dir.File("TavixEncoder.ini"));
        w.show();
        for (const QLabel* band : {Control<QLabel>(w, "lblGrave"), Control<QLabel>(w, "lblMedio"), Control<QLabel>(w, "lblAgudo")}) {
            EXPECT_FALSE(band->text().isEmpty()) << language;
            EXPECT_LT(InWindow(band).right(), InWindow(Control<TMeterBox>(w, "pbBandLow")).left()) << language << " "
                                                                             << band->text().toStdString();
        }
        EXPECT_LT(InWindow(Control<QLabel>(w, "lblTitle")).right(), InWindow(Control<QLabel>(w, "lblStatus")).left()) << language;
        EXPECT_LT(InWindow(Control<QLabel>(w, "lblStatus")).right(), InWindow(Control<TShape>(w, "shpLed")).left()) << language;
        EXPECT_LE(Control<QPushButton>(w, "btnStartStop")->sizeHint().width(), Control<QPushButton>(w, "btnStartStop")->width()) << language;
    }
}

// Servers, streams and files put words into the window: a server's
// "<img src=...>" must be shown as those characters, never drawn.
TEST(MainWindowLayout, WordsFromOutsideAreShownAsTextNeverAsMarkup)
{
    TTempDir dir;
    TFrmPrincipal w(dir.File("TavixEncoder.ini"));
    for (QLabel* label : w.findChildren<QLabel*>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    EXPECT_EQ(PlainTip("Recusado (403 <b>x</b>)").toStdString(),
              "<p style='white-space:pre-wrap'>Recusado (403 &lt;b&gt;x&lt;/b&gt;)</p>");
    EXPECT_EQ(PlainTip("Servidor 2: no ar").toStdString(), "Servidor 2: no ar");
}
