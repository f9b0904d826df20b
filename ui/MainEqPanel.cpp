#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include "dsp/EqPresets.h"
#include "engine/NativeEncoderThread.h"
#include "platform/Text.h"
#include "ui/FormHelpers.h"
#include "ui/MainWindow.h"
#include "ui/WindowColors.h"

namespace {

// Clears the loading flag on every way out.
class TLoadingGuard {
public:
    explicit TLoadingGuard(bool& AFlag) : FFlag(AFlag) { FFlag = true; }
    ~TLoadingGuard() { FFlag = false; }
    TLoadingGuard(const TLoadingGuard&) = delete;
    TLoadingGuard& operator=(const TLoadingGuard&) = delete;

private:
    bool& FFlag;
};

} // namespace

void TFrmPrincipal::SetupEqPanel()
{
    static const char* const captions[10] = {"31", "63", "125", "250", "500", "1k", "2k", "4k", "8k", "16k"};
    for (int i = 0; i < 10; ++i) {
        SetupBandSlider(trEQ[i]);
        connect(trEQ[i], &QSlider::valueChanged, this, [this] { trEQChange(); });
        lblEQ[i]->setText(captions[i]);
        SetTextColor(lblEQ[i], WindowColors::DimText);
    }
    connect(cbEqPresetMain, &QComboBox::activated, this, [this](int AIndex) { cbEqPresetMainChange(AIndex); });
    connect(btnEqFlatMain, &QPushButton::clicked, this, [this] { btnEqFlatMainClick(); });
    connect(chkCompressor, &QCheckBox::clicked, this, [this] { chkCompressorClick(); });
}

void TFrmPrincipal::FillEqPresetList()
{
    FillEqPresetCombo(cbEqPresetMain, FConfig.Language);
}

void TFrmPrincipal::LoadEqControls()
{
    TLoadingGuard loading(FLoadingEq);
    for (int i = 0; i < 10; ++i)
        trEQ[i]->setValue(RoundHalfEven(FConfig.EQBands[i]));
    SelectEqPresetEntry(cbEqPresetMain, FConfig.Language, FConfig.EQPreset);
    chkCompressor->setChecked(FConfig.CompressorEnabled);
    UpdateEqValueLabels();
}

void TFrmPrincipal::StoreEqControls()
{
    for (int i = 0; i < 10; ++i)
        FConfig.EQBands[i] = trEQ[i]->value();
    FConfig.CompressorEnabled = chkCompressor->isChecked();
}

void TFrmPrincipal::UpdateEqValueLabels()
{
    for (int i = 0; i < 10; ++i) {
        const int p = trEQ[i]->value();
        if (p < 0) {
            lblEQVal[i]->setText(QString("%1 dB").arg(p));
            SetTextColor(lblEQVal[i], WindowColors::Yellow);
        } else if (p == 0) {
            lblEQVal[i]->setText("0 dB");
            SetTextColor(lblEQVal[i], WindowColors::DimText);
        } else {
            lblEQVal[i]->setText(QString("+%1 dB").arg(p));
            SetTextColor(lblEQVal[i], WindowColors::Green);
        }
    }
}

void TFrmPrincipal::ApplyEqPreset(const std::string& AName)
{
    const TEqBandGainsDb& gains = MainPresetGains[EqPresetRow(AName)];
    for (int i = 0; i < 10; ++i)
        FConfig.EQBands[i] = gains[i];
    FConfig.EQPreset = AsciiLower(AName);
    LoadEqControls();
    SaveConfig();
    if (TNativeEncoderThread* worker = Encoder())
        worker->UpdateAudioProcessing(FConfig);
}

void TFrmPrincipal::trEQChange()
{
    if (FLoadingEq)
        return;
    StoreEqControls();
    UpdateEqValueLabels();
    FConfig.EQPreset = "custom";
    // A file that cannot be written is reported; the sound still follows.
    SaveConfig();
    if (TNativeEncoderThread* worker = Encoder())
        worker->UpdateAudioProcessing(FConfig);
}

void TFrmPrincipal::cbEqPresetMainChange(int AIndex)
{
    if (AIndex >= 0 && AIndex < int(EqPresetNames.size()))
        ApplyEqPreset(EqPresetNames[AIndex]);
}

void TFrmPrincipal::btnEqFlatMainClick()
{
    ApplyEqPreset("flat");
}

void TFrmPrincipal::chkCompressorClick()
{
    if (FLoadingEq)
        return;
    StoreEqControls();
    SaveConfig();
    if (TNativeEncoderThread* worker = Encoder())
        worker->UpdateAudioProcessing(FConfig);
}
