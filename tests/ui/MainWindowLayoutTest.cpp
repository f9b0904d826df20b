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
        {w.pnlTop, {0, 0, 980, 57}},          {w.Image1, {3, 3, 145, 51}},
        {w.shpLed, {936, 10, 18, 18}},        {w.Shape3, {3, 60, 974, 5}},
        {w.pnlNoar, {3, 71, 974, 46}},        {w.PnlPisca, {3, 71, 97, 46}},
        {w.Shape1, {3, 123, 974, 2}},         {w.pnlVu, {0, 128, 980, 238}},
        {w.pbVuL, {56, 176, 600, 64}},        {w.pbVuR, {56, 266, 600, 64}},
        {w.pbAnalogL, {690, 173, 120, 78}},   {w.pbAnalogR, {830, 173, 120, 78}},
        {w.pbBandLow, {740, 262, 210, 18}},   {w.pbBandMid, {740, 286, 210, 18}},
        {w.pbBandHigh, {740, 310, 210, 18}},  {w.Shape4, {3, 369, 974, 2}},
        {w.pnlEQ, {0, 374, 980, 150}},        {w.cbEqPresetMain, {650, 390, 150, 23}},
        {w.btnEqFlatMain, {810, 390, 82, 23}}, {w.chkCompressor, {650, 424, 230, 24}},
        {w.lblServerInfo, {3, 527, 974, 15}}, {w.pnlControls, {0, 545, 980, 84}},
        {w.btnStartStop, {24, 563, 180, 42}}, {w.btnConfig, {220, 563, 150, 42}},
        {w.lblRec, {392, 573, 46, 22}},
        {w.Shape2, {3, 632, 974, 5}},
    };
    for (const auto& [control, box] : boxes)
        EXPECT_EQ(InWindow(control), box) << control->metaObject()->className();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(InWindow(w.trEQ[i]), QRect(20 + 60 * i, 426, 50, 70)) << i;
        EXPECT_EQ(InWindow(w.lblEQVal[i]).topLeft(), QPoint(20 + 60 * i, 409)) << i;
        EXPECT_EQ(InWindow(w.lblEQ[i]).topLeft(), QPoint(30 + 60 * i, 500)) << i;
    }
    // Captions by their top-left corner; the status and listener lines by
    // their right edge.
    const std::pair<const QWidget*, QPoint> corners[] = {
        {w.lblTitle, {158, 12}},   {w.lblVuTitle, {24, 146}}, {w.lblL, {26, 192}},
        {w.lblR, {26, 282}},       {w.lblGrave, {690, 264}},  {w.lblMedio, {690, 288}},
        {w.lblAgudo, {690, 312}},  {w.lblCurrentDevice, {24, 344}}, {w.lblEQTitle, {24, 386}},
    };
    for (const auto& [control, corner] : corners)
        EXPECT_EQ(InWindow(control).topLeft(), corner) << static_cast<const QLabel*>(control)->text().toStdString();
    EXPECT_EQ(InWindow(w.lblStatus).right() + 1, 908);
    EXPECT_EQ(InWindow(w.lblStatus).top(), 11);
    EXPECT_EQ(InWindow(w.lblListeners).right() + 1, 925);
    EXPECT_EQ(InWindow(w.lblListeners).top(), 36);
}

TEST(MainWindowLayout, CaptionsOfEveryLanguageKeepClearOfTheirNeighbours)
{
    for (const char* language : {"pt-BR", "en-US", "es-ES", "fr-FR"}) {
        TTempDir dir;
        WriteSettings(dir.File("TavixEncoder.ini"), [&](TEncoderConfig& c) { c.Language = language; });
        TFrmPrincipal w(dir.File("TavixEncoder.ini"));
        w.show();
        for (const QLabel* band : {w.lblGrave, w.lblMedio, w.lblAgudo}) {
            EXPECT_FALSE(band->text().isEmpty()) << language;
            EXPECT_LT(InWindow(band).right(), InWindow(w.pbBandLow).left()) << language << " "
                                                                             << band->text().toStdString();
        }
        EXPECT_LT(InWindow(w.lblTitle).right(), InWindow(w.lblStatus).left()) << language;
        EXPECT_LT(InWindow(w.lblStatus).right(), InWindow(w.shpLed).left()) << language;
        EXPECT_LE(w.btnStartStop->sizeHint().width(), w.btnStartStop->width()) << language;
    }
}
