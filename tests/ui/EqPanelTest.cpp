// The main window's equalizer panel: what loading shows and never writes,
// presets, the flat button, the compressor switch, hand-made slider moves,
// and the live path into a running transmission.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>

#include "dsp/EqPresets.h"
#include "tests/support/AudioRig.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/TempDir.h"
#include "tests/ui/ProbeWindow.h"
#include "tests/ui/RigDevices.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/MeterBox.h"

namespace {

const testing::Environment* const GRig = testing::AddGlobalTestEnvironment(new TRigEnvironment);

const QColor KYellow(0xF5, 0xD8, 0x36);
const QColor KDim(0xAA, 0xB3, 0xB9);
const QColor KGreen(0x65, 0xD3, 0x44);

TEncoderConfig ReadSettings(const std::string& APath)
{
    TEncoderConfig c;
    LoadEncoderConfigFrom(APath, c);
    return c;
}

std::array<double, 10> SliderPositions(const TFrmPrincipal& AWindow)
{
    std::array<double, 10> positions{};
    for (int i = 0; i < 10; ++i)
        positions[i] = Control<QSlider>(AWindow, "trEQ", i)->value();
    return positions;
}

class EqPanel : public testing::Test {
protected:
    TTempDir FDir;
    std::string FSettings = FDir.File("TavixEncoder.ini");
};

} // namespace

TEST_F(EqPanel, LoadingShowsTheStoredValuesAndWritesNothing)
{
    WriteSettings(FSettings, [](TEncoderConfig& c) {
        c.EQBands = {-3, 0, 4, 20, -20, 2.5, 3.5, -0.5, 1, 12};
        c.EQPreset = "MUSIC";
    });
    const std::string before = ReadTextFile(FSettings);
    TProbeWindow window(FSettings);
    window.show();
    PumpFor(100);
    EXPECT_EQ(ReadTextFile(FSettings), before);

    // Clamped to the slider's ends, halves to even.
    EXPECT_EQ(SliderPositions(window), (std::array<double, 10>{-3, 0, 4, 12, -12, 2, 4, 0, 1, 12}));
    // The record keeps what the file holds.
    EXPECT_EQ(window.Config().EQBands[3], 20);
    EXPECT_EQ(window.Config().EQPreset, "MUSIC");
    EXPECT_EQ(Control<QComboBox>(window, "cbEqPresetMain")->currentText().toStdString(), "Música");

    EXPECT_EQ(Control<QLabel>(window, "lblEQVal", 0)->text(), "-3 dB");
    EXPECT_EQ(Control<QLabel>(window, "lblEQVal", 0)->palette().color(QPalette::WindowText), KYellow);
    EXPECT_EQ(Control<QLabel>(window, "lblEQVal", 1)->text(), "0 dB");
    EXPECT_EQ(Control<QLabel>(window, "lblEQVal", 1)->palette().color(QPalette::WindowText), KDim);
    EXPECT_EQ(Control<QLabel>(window, "lblEQVal", 2)->text(), "+4 dB");
    EXPECT_EQ(Control<QLabel>(window, "lblEQVal", 2)->palette().color(QPalette::WindowText), KGreen);
    EXPECT_EQ(Control<QLabel>(window, "lblEQVal", 3)->text(), "+12 dB");
    EXPECT_EQ(Control<QLabel>(window, "lblEQVal", 4)->text(), "-12 dB");
    // The ten fixed band captions.
    EXPECT_EQ(Control<QLabel>(window, "lblEQ", 0)->text(), "31");
    EXPECT_EQ(Control<QLabel>(window, "lblEQ", 9)->text(), "16k");
}

TEST_F(EqPanel, CustomShowsNoPresetSelected)
{
    WriteSettings(FSettings, [](TEncoderConfig& c) { c.EQPreset = "custom"; });
    TProbeWindow window(FSettings);
    EXPECT_EQ(Control<QComboBox>(window, "cbEqPresetMain")->currentIndex(), -1);
}

TEST_F(EqPanel, PresetFromTheListThenTheFlatButton)
{
    WriteSettings(FSettings);
    TProbeWindow window(FSettings);
    window.show();
    Control<QComboBox>(window, "cbEqPresetMain")->setCurrentIndex(1);
    emit Control<QComboBox>(window, "cbEqPresetMain")->activated(1); // as the user picks "Voz"

    const TEncoderConfig voice = ReadSettings(FSettings);
    EXPECT_EQ(voice.EQPreset, "voice");
    EXPECT_EQ(voice.EQBands, MainPresetGains[1]);
    EXPECT_EQ(SliderPositions(window), MainPresetGains[1]);
    EXPECT_EQ(Control<QComboBox>(window, "cbEqPresetMain")->currentText().toStdString(), "Voz");
    EXPECT_EQ(Control<QLabel>(window, "lblEQVal", 0)->text(), "-5 dB");

    Control<QPushButton>(window, "btnEqFlatMain")->click();
    const TEncoderConfig flat = ReadSettings(FSettings);
    EXPECT_EQ(flat.EQPreset, "flat");
    EXPECT_EQ(flat.EQBands, MainPresetGains[0]);
    EXPECT_EQ(SliderPositions(window), MainPresetGains[0]);
    EXPECT_EQ(Control<QComboBox>(window, "cbEqPresetMain")->currentIndex(), 0);
    EXPECT_EQ(Control<QLabel>(window, "lblEQVal", 0)->text(), "0 dB");
}

TEST_F(EqPanel, OneSliderStoresAllTenPositionsAsCustom)
{
    WriteSettings(FSettings, [](TEncoderConfig& c) {
        c.EQBands[3] = 20;
        c.EQBands[9] = -4;
        c.EQPreset = "bass";
        c.CompressorEnabled = true;
    });
    TProbeWindow window(FSettings);
    window.show();
    Control<QSlider>(window, "trEQ", 5)->setValue(-7);

    const TEncoderConfig stored = ReadSettings(FSettings);
    EXPECT_EQ(stored.EQPreset, "custom");
    EXPECT_EQ(stored.EQBands, (std::array<double, 10>{0, 0, 0, 12, 0, -7, 0, 0, 0, -4}));
    EXPECT_TRUE(stored.CompressorEnabled);
    // The list keeps showing the last preset until the next start.
    EXPECT_EQ(Control<QComboBox>(window, "cbEqPresetMain")->currentText().toStdString(), "Graves");
    EXPECT_EQ(Control<QLabel>(window, "lblEQVal", 5)->text(), "-7 dB");
    TProbeWindow restarted(FSettings);
    EXPECT_EQ(Control<QComboBox>(restarted, "cbEqPresetMain")->currentIndex(), -1);
}

TEST_F(EqPanel, CompressorSwitchStoresTheSlidersButLeavesThePreset)
{
    WriteSettings(FSettings, [](TEncoderConfig& c) {
        c.EQBands[0] = 20;
        c.EQPreset = "presence";
    });
    TProbeWindow window(FSettings);
    window.show();
    Control<QCheckBox>(window, "chkCompressor")->click();
    const TEncoderConfig stored = ReadSettings(FSettings);
    EXPECT_TRUE(stored.CompressorEnabled);
    EXPECT_EQ(stored.EQPreset, "presence");
    EXPECT_EQ(stored.EQBands[0], 12);
}

TEST_F(EqPanel, AnUnwritableSettingsFileIsReportedAndTheWindowGoesOn)
{
    WriteTextFile(FDir.File("blocker"), "a file where a folder should be\n");
    const std::string settings = FDir.File("blocker/TavixEncoder.ini");
    TProbeWindow window(settings);
    window.show();

    std::string message;
    auto capture = [&message](QWidget* ADialog) {
        auto* box = qobject_cast<QMessageBox*>(ADialog);
        ASSERT_NE(box, nullptr);
        message = box->text().toStdString();
        box->accept();
    };
    OnNextModal(capture);
    Control<QSlider>(window, "trEQ", 2)->setValue(6);
    EXPECT_EQ(message, "Unable to write to " + settings);
    EXPECT_EQ(window.Config().EQPreset, "custom");
    EXPECT_EQ(window.Config().EQBands[2], 6);
    EXPECT_EQ(Control<QLabel>(window, "lblEQVal", 2)->text(), "+6 dB");

    // A start that cannot save its settings does not start.
    message.clear();
    OnNextModal(capture);
    Control<QPushButton>(window, "btnStartStop")->click();
    EXPECT_EQ(message, "Unable to write to " + settings);
    EXPECT_EQ(window.Encoder(), nullptr);
    EXPECT_TRUE(Control<QPushButton>(window, "btnConfig")->isEnabled());
}

TEST_F(EqPanel, ASettingsFileThatCannotBeReadIsNamedAndNotSavedOver)
{
    // Something is at the path that is no settings file to read.
    std::filesystem::create_directory(FSettings);
    TProbeWindow window(FSettings);
    window.show();
    const std::string reason = "Unable to read " + FSettings + ": not a regular file";
    EXPECT_EQ(Control<QLabel>(window, "lblStatus")->text().toStdString(), reason);

    std::string message;
    OnNextModal([&message](QWidget* ADialog) {
        auto* box = qobject_cast<QMessageBox*>(ADialog);
        ASSERT_NE(box, nullptr);
        message = box->text().toStdString();
        box->accept();
    });
    Control<QSlider>(window, "trEQ", 2)->setValue(6);
    EXPECT_EQ(message, "Unable to write to " + FSettings + "\n" + reason);
    EXPECT_TRUE(std::filesystem::is_directory(FSettings));
}

namespace {

// Mean length of the left VU bar over a number of repaints.
double MeanBarLength(TFrmPrincipal& AWindow, int ASamples)
{
    double sum = 0;
    for (int i = 0; i < ASamples; ++i) {
        PumpFor(60);
        const QImage img = Snapshot(Control<TMeterBox>(AWindow, "pbVuL"));
        int x = 10;
        while (x < 590 && img.pixel(x, 45) != qRgb(0x0D, 0x0F, 0x12))
            ++x;
        sum += x - 10;
    }
    return sum / ASamples;
}

} // namespace

TEST_F(EqPanel, WhileStreamingEveryChangeReachesTheWorkerAndTheSound)
{
    TIcecastServer server;
    WriteSettings(FSettings, [&](TEncoderConfig& c) {
        UseRigAndServer(c, server.Port(), server.SourcePassword());
        c.EQBands[0] = 20;
    });
    UiRig().PlayTone(1000, 60, 0.08);
    TProbeWindow window(FSettings);
    window.show();
    Control<QPushButton>(window, "btnStartStop")->click();
    ASSERT_TRUE(PumpUntil([&] { return Control<QLabel>(window, "lblStatus")->text() == "Transmitindo."; }, 20000));
    // The stored gain goes to the worker as it is, until a slider moves.
    EXPECT_EQ(window.Probe()->Bands()[0], 20);

    // Measured once the meters show the tone, not while they still rise.
    ASSERT_TRUE(PumpUntil([&] { return MeanBarLength(window, 2) > 0; }, 3000));
    PumpFor(500);
    const double quiet = MeanBarLength(window, 10);
    Control<QSlider>(window, "trEQ", 5)->setValue(12); // the 1 kHz band
    EXPECT_EQ(window.Probe()->Bands(), (std::array<double, 10>{12, 0, 0, 0, 0, 12, 0, 0, 0, 0}));
    EXPECT_EQ(ReadSettings(FSettings).EQPreset, "custom");
    EXPECT_EQ(Control<QComboBox>(window, "cbEqPresetMain")->currentText().toStdString(), "Plano");
    PumpFor(500);
    const double loud = MeanBarLength(window, 10);
    // 12 dB more at the tone's band: the meter, a scaled mean, nearly doubles.
    EXPECT_GT(loud, quiet * 1.6) << quiet << " -> " << loud;

    Control<QCheckBox>(window, "chkCompressor")->click();
    EXPECT_TRUE(window.Probe()->Compressor());
    Control<QComboBox>(window, "cbEqPresetMain")->setCurrentIndex(3);
    emit Control<QComboBox>(window, "cbEqPresetMain")->activated(3);
    EXPECT_EQ(window.Probe()->Bands(), MainPresetGains[3]);
    Control<QPushButton>(window, "btnEqFlatMain")->click();
    EXPECT_EQ(window.Probe()->Bands(), MainPresetGains[0]);
    Control<QPushButton>(window, "btnStartStop")->click();
    UiRig().StopTone();
}
