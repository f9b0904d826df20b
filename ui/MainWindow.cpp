#include "ui/MainWindow.h"

#include <utility>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTimer>

#include "capture/DeviceCaption.h"
#include "control/ControlServer.h"
#include "engine/NativeEncoderThread.h"
#include "services/NowPlayingWatcher.h"
#include "settings/GuardedFile.h"
#include "settings/SettingsWriteError.h"
#include "ui/ConfigForm.h"
#include "ui/FormHelpers.h"
#include "ui/Lang.h"
#include "ui/Logo.h"
#include "ui/Marquee.h"
#include "ui/MeterBox.h"
#include "ui/PictureLabel.h"
#include "ui/Shape.h"
#include "ui/Theme.h"
#include "ui/ThreadHandOff.h"
#include "ui/WindowColors.h"


using namespace WindowColors;

namespace {

// Half a block of 2048 frames at 44.1 kHz: a level is shown at most this
// late.
constexpr int KMetersReadMs = 20;
// How long a loss of recorded audio stays in place of the file's name.
constexpr int KRecWarningMs = 5000;
// The recording's line, beside the buttons, to the bar's right margin.
constexpr int KRecLineLeft = 392;
constexpr int KRecMarkWidth = 46;
constexpr int KRecLineRight = 956;
// Between a mark and its line.
constexpr int KMarkLineGap = 8;
// One server's mark in the top bar: its number, then its light.
constexpr int KMarkWidth = 22;
constexpr int KMarkHeight = 18;
constexpr int KMarkLight = 10;
// Right of the on-air caption, inside its box: the marquee's first letters
// come out at the box's edge and must not read as part of the caption.
constexpr int KCaptionClearance = 8;

// Something is at APath, and it reads as a settings file.
bool FileReads(const std::string& APath)
{
    return ReadFileBytes(APath).State == TFileBytes::fbRead;
}

} // namespace

TFrmPrincipal::TFrmPrincipal(const std::string& ASettingsPath, QWidget* AParent)
    : QWidget(AParent), FSettingsPath(ASettingsPath)
{
    InstallFontSubstitutes();
    ConnectThreadHandOffs(this);
    BuildControls();
    // Its control requests and the queries' answers come through the event
    // loop: a wake-up runs the station's turn at once.
    QPointer<TFrmPrincipal> self(this);
    FStation = std::make_unique<TStation>(
        FConfig, static_cast<TStationObserver&>(*this),
        [this](const TEncoderConfig& AConfig) { return CreateEncoderThread(AConfig); },
        [self] {
            QMetaObject::invokeMethod(
                self.data(),
                [self] {
                    if (self && !self->FDestroying)
                        self->FStation->Tick();
                },
                Qt::QueuedConnection);
        });
    // The marquee asks at every step; the text changes far less often.
    FMarquee = std::make_unique<TMarquee>(
        [this, measured = std::string(), font = QFont(), width = 0](const std::string& AText) mutable {
            if (AText != measured || lblNoarText->font() != font) {
                measured = AText;
                font = lblNoarText->font();
                width = QFontMetrics(font).horizontalAdvance(QStr(AText));
            }
            return width;
        });
    FMarquee->SetStripWidth(pnlNoar->width());
    FormCreate();
}

TFrmPrincipal::~TFrmPrincipal()
{
    FormDestroy();
}

// ---------------------------------------------------------------- layout

void TFrmPrincipal::BuildControls()
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(980, 640);
    setFont(UiFont("Segoe UI", 12));
    SetTextColor(this, White);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    BuildTopBar();
    Shape3 = new TShape(TShape::stRectangle, this);
    Shape3->setGeometry(3, 60, 974, 5);
    Shape3->SetBrushColor(TopRule);

    pnlBody = new QWidget(this);
    pnlBody->setGeometry(0, 68, 980, 477);
    BuildNowPlayingStrip();
    Shape1 = new TShape(TShape::stRectangle, pnlBody);
    Shape1->setGeometry(3, 55, 974, 2);
    Shape1->SetBrushColor(Grey);
    BuildMeterPanel();
    BuildAlarmLine();
    Shape4 = new TShape(TShape::stRectangle, pnlBody);
    Shape4->setGeometry(3, 301, 974, 2);
    Shape4->SetBrushColor(Grey);
    BuildEqPanel();
    lblServerInfo = new QLabel(pnlBody);
    lblServerInfo->setGeometry(3, 459, 974, 15);

    BuildControlBar();
    Shape2 = new TShape(TShape::stRectangle, this);
    Shape2->setGeometry(3, 632, 974, 5);
    Shape2->SetBrushColor(BottomRule);

    tmrPisca = new QTimer(this);
    tmrPisca->setInterval(500);
    connect(tmrPisca, &QTimer::timeout, this, [this] { tmrPiscaTimer(); });
    tmrPisca->start();
    tmrNoar = new QTimer(this);
    tmrNoar->setInterval(40);
    connect(tmrNoar, &QTimer::timeout, this, [this] { tmrNoarTimer(); });
    tmrMeters = new QTimer(this);
    tmrMeters->setInterval(KMetersReadMs);
    connect(tmrMeters, &QTimer::timeout, this, [this] { tmrMetersTimer(); });
    NameControls();
    // Servers, streams and files put words here: shown as they are, never
    // as markup (a server's "<img src=...>" would be fetched and drawn).
    for (QLabel* label : findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
}

void TFrmPrincipal::NameControls()
{
    const std::pair<QObject*, const char*> named[] = {
        {pnlTop, "pnlTop"}, {pnlBody, "pnlBody"}, {pnlNoar, "pnlNoar"}, {PnlPisca, "PnlPisca"}, {pnlVu, "pnlVu"},
        {pnlEQ, "pnlEQ"}, {pnlControls, "pnlControls"}, {Image1, "Image1"}, {lblTitle, "lblTitle"},
        {lblStatus, "lblStatus"}, {lblListeners, "lblListeners"}, {shpLed, "shpLed"}, {Shape1, "Shape1"},
        {Shape2, "Shape2"}, {Shape3, "Shape3"}, {Shape4, "Shape4"}, {ShapePisca, "ShapePisca"},
        {lblNoarCaption, "lblNoarCaption"}, {lblNoarText, "lblNoarText"}, {lblVuTitle, "lblVuTitle"},
        {lblL, "lblL"}, {lblR, "lblR"}, {lblGrave, "lblGrave"}, {lblMedio, "lblMedio"}, {lblAgudo, "lblAgudo"},
        {lblCurrentDevice, "lblCurrentDevice"}, {pbVuL, "pbVuL"}, {pbVuR, "pbVuR"}, {pbAnalogL, "pbAnalogL"},
        {pbAnalogR, "pbAnalogR"}, {pbBandLow, "pbBandLow"}, {pbBandMid, "pbBandMid"}, {pbBandHigh, "pbBandHigh"},
        {lblEQTitle, "lblEQTitle"}, {cbEqPresetMain, "cbEqPresetMain"}, {btnEqFlatMain, "btnEqFlatMain"},
        {chkCompressor, "chkCompressor"}, {lblServerInfo, "lblServerInfo"}, {btnStartStop, "btnStartStop"},
        {btnConfig, "btnConfig"}, {lblRec, "lblRec"}, {lblRecFile, "lblRecFile"},
        {lblServerProblem, "lblServerProblem"}, {lblAlarm, "lblAlarm"}, {lblAlarmText, "lblAlarmText"},
        {tmrPisca, "tmrPisca"}, {tmrNoar, "tmrNoar"}, {tmrRecWarning, "tmrRecWarning"}, {tmrAlarm, "tmrAlarm"},
        {tmrAlarmNotice, "tmrAlarmNotice"}, {tmrMeters, "tmrMeters"},
    };
    for (const auto& [object, name] : named)
        object->setObjectName(name);
    const auto nameEach = [](const auto& AObjects, const QString& AName) {
        for (size_t i = 0; i < AObjects.size(); ++i)
            AObjects[i]->setObjectName(AName + QString::number(i));
    };
    nameEach(lblEQVal, "lblEQVal");
    nameEach(trEQ, "trEQ");
    nameEach(lblEQ, "lblEQ");
    nameEach(pnlServerMark, "pnlServerMark");
    nameEach(shpServer, "shpServer");
}

void TFrmPrincipal::BuildTopBar()
{
    pnlTop = new QWidget(this);
    pnlTop->setGeometry(0, 0, 980, 57);
    Image1 = new QLabel(pnlTop);
    Image1->setGeometry(3, 3, 145, 51);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setPixmap(DrawTavixLogo(Image1->size()));
    lblTitle = NewLabel(pnlTop, 158, 12, UiFont("Segoe UI Semibold", 21, true));
    lblStatus = NewLabel(pnlTop, 908, 11, font());
    shpLed = new TShape(TShape::stCircle, pnlTop);
    shpLed->setGeometry(936, 10, 18, 18);
    shpLed->SetPenColor(LedOutline);
    shpLed->SetBrushColor(Grey);
    lblListeners = NewLabel(pnlTop, 925, 36, UiFont("Segoe UI", 13));
    const QFont markFont = UiFont("Segoe UI", 11, true);
    for (int i = 0; i < KMaxServers; ++i) {
        QWidget* mark = new QWidget(pnlTop);
        mark->resize(KMarkWidth, KMarkHeight);
        QLabel* number = NewLabel(mark, 0, 0, markFont);
        number->setText(QString::number(i + 1));
        number->adjustSize();
        number->move(0, (KMarkHeight - number->height()) / 2);
        SetTextColor(number, DimText);
        shpServer[i] = new TShape(TShape::stCircle, mark);
        shpServer[i]->setGeometry(KMarkWidth - KMarkLight, (KMarkHeight - KMarkLight) / 2, KMarkLight, KMarkLight);
        shpServer[i]->SetPenColor(LedOutline);
        shpServer[i]->SetBrushColor(Grey);
        mark->hide();
        pnlServerMark[i] = mark;
    }
    lblServerProblem = new QLabel(pnlTop);
    lblServerProblem->setFont(font());
    lblServerProblem->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblServerProblem->hide();
}

void TFrmPrincipal::BuildNowPlayingStrip()
{
    pnlNoar = new QWidget(pnlBody);
    pnlNoar->setGeometry(3, 3, 974, 46);
    // The marquee runs beside the on-air box, not beneath it: the box hides
    // that part anyway, and a text moving beneath it would repaint the box
    // at every step.
    auto* marquee = new QWidget(pnlNoar);
    marquee->setGeometry(97, 0, 974 - 97, 46);
    lblNoarText = new TPictureLabel(marquee);
    lblNoarText->setFont(UiFont("Calibri", 16, true));
    lblNoarText->move(974 - marquee->x(), 0);
    PnlPisca = new QWidget(pnlNoar);
    PnlPisca->setGeometry(0, 0, 97, 46);
    ShapePisca = new TShape(TShape::stRectangle, PnlPisca);
    ShapePisca->setGeometry(0, 0, 97, 46);
    ShapePisca->SetBrushColor(Bar);
    auto* caption = new TPictureLabel(PnlPisca);
    // The marquee repaints the box whenever it passes beneath it.
    caption->Backdrop = [this] { return ShapePisca->BrushColor(); };
    lblNoarCaption = caption;
    lblNoarCaption->setFont(UiFont("Calibri", 16, true));
    lblNoarCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblNoarCaption->setGeometry(0, 0, 97, 46);
    lblNoarCaption->setContentsMargins(0, 0, KCaptionClearance, 0);
    // The marquee passes underneath the on-air box.
    PnlPisca->raise();
}

void TFrmPrincipal::BuildMeterPanel()
{
    pnlVu = new QWidget(pnlBody);
    pnlVu->setGeometry(0, 60, 980, 238);
    lblVuTitle = NewLabel(pnlVu, 24, 18, UiFont("Segoe UI Semibold", 16));
    lblL = NewLabel(pnlVu, 26, 64, font());
    lblL->setText("L");
    lblR = NewLabel(pnlVu, 26, 154, font());
    lblR->setText("R");
    auto box = [this](int AX, int AY, int AW, int AH, TMeterBox::TKind AKind, const char* ACaption = "") {
        auto* meter = new TMeterBox(AKind, ACaption, pnlVu);
        meter->setGeometry(AX, AY, AW, AH);
        return meter;
    };
    pbVuL = box(56, 48, 600, 64, TMeterBox::mkVu);
    pbVuR = box(56, 138, 600, 64, TMeterBox::mkVu);
    pbAnalogL = box(690, 45, 120, 78, TMeterBox::mkAnalog, "L");
    pbAnalogR = box(830, 45, 120, 78, TMeterBox::mkAnalog, "R");
    lblGrave = NewLabel(pnlVu, 690, 136, font());
    pbBandLow = box(740, 134, 210, 18, TMeterBox::mkBand);
    lblMedio = NewLabel(pnlVu, 690, 160, font());
    pbBandMid = box(740, 158, 210, 18, TMeterBox::mkBand);
    lblAgudo = NewLabel(pnlVu, 690, 184, font());
    pbBandHigh = box(740, 182, 210, 18, TMeterBox::mkBand);
    for (QLabel* label : {lblL, lblR})
        label->adjustSize();
    lblCurrentDevice = NewLabel(pnlVu, 24, 216, font());
}

void TFrmPrincipal::BuildEqPanel()
{
    pnlEQ = new QWidget(pnlBody);
    pnlEQ->setGeometry(0, 306, 980, 150);
    lblEQTitle = NewLabel(pnlEQ, 24, 12, UiFont("Segoe UI Semibold", 16));
    const QFont valueFont = UiFont("Segoe UI", 11, true);
    for (int i = 0; i < 10; ++i) {
        lblEQVal[i] = NewCentredLabel(pnlEQ, 20 + 60 * i, 35, 50, valueFont);
        trEQ[i] = new QSlider(pnlEQ);
        trEQ[i]->setGeometry(20 + 60 * i, 52, 50, 70);
        lblEQ[i] = NewCentredLabel(pnlEQ, 30 + 60 * i, 126, 30, font());
    }
    cbEqPresetMain = new QComboBox(pnlEQ);
    cbEqPresetMain->setGeometry(650, 16, 150, 23);
    btnEqFlatMain = new QPushButton(pnlEQ);
    btnEqFlatMain->setGeometry(810, 16, 82, 23);
    chkCompressor = new QCheckBox(pnlEQ);
    chkCompressor->setGeometry(650, 50, 230, 24);
    SetTextColor(chkCompressor, White);
}

void TFrmPrincipal::BuildControlBar()
{
    pnlControls = new QWidget(this);
    pnlControls->setGeometry(0, 545, 980, 84);
    btnStartStop = new QPushButton(pnlControls);
    btnStartStop->setGeometry(24, 18, 180, 42);
    btnStartStop->setFont(UiFont("Segoe UI Semibold", 13));
    connect(btnStartStop, &QPushButton::clicked, this, [this] { btnStartStopClick(); });
    btnConfig = new QPushButton(pnlControls);
    btnConfig->setGeometry(220, 18, 150, 42);
    btnConfig->setFont(UiFont("Segoe UI Semibold", 13, true));
    btnConfig->setStyleSheet("QPushButton { color: #FFFFFF; } QPushButton:disabled { color: #6B7279; }");
    connect(btnConfig, &QPushButton::clicked, this, [this] { btnConfigClick(); });
    lblRec = new QLabel(pnlControls);
    lblRec->setFont(UiFont("Segoe UI Semibold", 11, true));
    lblRec->setGeometry(KRecLineLeft, 28, KRecMarkWidth, 22);
    lblRec->setAlignment(Qt::AlignCenter);
    lblRec->setText("REC");
    SetBackground(lblRec, Red);
    SetTextColor(lblRec, White);
    lblRecFile = new QLabel(pnlControls);
    lblRecFile->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    tmrRecWarning = new QTimer(this);
    tmrRecWarning->setSingleShot(true);
    tmrRecWarning->setInterval(KRecWarningMs);
    connect(tmrRecWarning, &QTimer::timeout, this,
            [this] { ShowRecordLine(true, FRecordName, DimText, lblRecFile->toolTip()); });
    ClearRecordLine();
}

// ---------------------------------------------------------------- life cycle

void TFrmPrincipal::FormCreate()
{
    FLevelL = FLevelR = FBandLow = FBandMid = FBandHigh = 0;
    FBlinkState = false;
    FLoadingEq = false;
    LoadEncoderConfigFrom(FSettingsPath, FConfig);
    SetupEqPanel();
    FillEqPresetList();
    LoadEqControls();
    SetupListenerTimer();
    ApplyTexts();
    ApplyThemeAndInfo();
    CheckNoarFile();
    tmrNoar->start();
    SetRunningState(false);
    // Said once the window stands, in the status line an operator reads.
    std::string unsafe;
    ObeyableSettings(FSettingsPath, FConfig, unsafe);
    if (const std::string warning = unsafe.empty() ? SettingsExposedWarning(FSettingsPath, FConfig) : unsafe;
        !warning.empty()) {
        SetStatusText(QStr(warning));
        SetTextColor(lblStatus, Red);
    }
    // A settings file that is there but unreadable is never saved over;
    // say so before the first save refuses.
    const std::string loadError = SettingsLoadError(FSettingsPath);
    FOnDefaults = !loadError.empty();
    if (FOnDefaults) {
        SetStatusText(QStr(loadError));
        SetTextColor(lblStatus, Red);
    }
    StartControlInterface();
}

void TFrmPrincipal::FormDestroy()
{
    FDestroying = true;
    // Its threads end here, before anything they call into goes.
    FControlServer.reset();
    tmrNoar->stop();
    tmrPisca->stop();
    FCloseAfterStop = false;
    StopEncoder();
}

void TFrmPrincipal::closeEvent(QCloseEvent* AEvent)
{
    if (FStation->Stopping()) {
        // A stop is already under way: close once it has completed.
        FCloseAfterStop = true;
        AEvent->ignore();
        return;
    }
    if (!Encoder() || Encoder()->Finished()) {
        AEvent->accept();
        return;
    }
    QMessageBox question(QMessageBox::Question, windowTitle(), QStr(Tr("active_close")),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.button(QMessageBox::Yes)->setText(QStr(Tr("yes")));
    question.button(QMessageBox::No)->setText(QStr(Tr("no")));
    // Enter must not take a station off the air.
    question.setDefaultButton(QMessageBox::No);
    if (question.exec() != QMessageBox::Yes) {
        AEvent->ignore();
        return;
    }
    StopEncoder();
    AEvent->accept();
}

// ---------------------------------------------------------------- texts and colours

std::string TFrmPrincipal::Tr(const char* AKey) const
{
    return Translate(FConfig.Language, AKey);
}

void TFrmPrincipal::ApplyTexts()
{
    setWindowTitle(QStr(Tr("app_title")));
    lblTitle->setText(QStr(Tr("encoder")));
    lblTitle->adjustSize();
    lblVuTitle->setText(QStr(Tr("vu_title")));
    lblVuTitle->adjustSize();
    btnConfig->setText(QStr(Tr("config")));
    lblNoarCaption->setText(QStr(Tr("noar_caption")));
    const std::pair<QLabel*, const char*> bands[] = {
        {lblGrave, "band_low"}, {lblMedio, "band_mid"}, {lblAgudo, "band_high"}};
    for (auto [label, key] : bands) {
        label->setText(QStr(Tr(key)));
        label->adjustSize();
    }
    lblEQTitle->setText(QStr(Tr("eq_title")));
    lblEQTitle->adjustSize();
    btnEqFlatMain->setText(QStr(Tr("eq_flat")));
    chkCompressor->setText(QStr(Tr("compressor")));
    ShowAlarms();
    SetRunningState(Encoder() != nullptr);
    if (!Encoder()) {
        SetStatusText(QStr(Tr("stopped")));
        ShowListenerCounts();
    }
}

void TFrmPrincipal::ApplyThemeAndInfo()
{
    SetBackground(this, Background);
    SetBackground(pnlBody, Background);
    SetBackground(pnlTop, Bar);
    SetBackground(pnlControls, Bar);
    SetBackground(pnlNoar, Bar);
    SetBackground(pnlVu, Panel);
    SetBackground(pnlEQ, Panel);
    SetBackground(PnlPisca, OnAirIdle);

    for (QWidget* w : {static_cast<QWidget*>(lblTitle), static_cast<QWidget*>(lblVuTitle),
                       static_cast<QWidget*>(lblNoarText), static_cast<QWidget*>(lblEQTitle)})
        SetTextColor(w, BrightText);
    for (QWidget* w : {lblStatus, lblServerInfo, lblListeners, lblL, lblR, lblCurrentDevice, lblNoarCaption,
                       lblGrave, lblMedio, lblAgudo})
        SetTextColor(w, DimText);

    lblServerInfo->setText(QString::fromUtf8("%1:%2 %3 · %4 kbps · %5 Hz")
                               .arg(QStr(FConfig.Host))
                               .arg(FConfig.Port)
                               .arg(QStr(FConfig.Mount))
                               .arg(FConfig.Bitrate)
                               .arg(FConfig.SampleRate));
    lblCurrentDevice->setText(FConfig.AudioDeviceName.empty() ? QStr(Tr("no_device"))
                                                              : QStr(CleanDeviceCaption(FConfig.AudioDeviceName)));
    lblCurrentDevice->adjustSize();
    RepaintMeters();
}

void TFrmPrincipal::SetStatusText(const QString& AText)
{
    lblStatus->setText(AText);
    lblStatus->adjustSize();
    lblStatus->move(908 - lblStatus->width(), 11);
}

void TFrmPrincipal::SetListenersText(const QString& AText)
{
    lblListeners->setText(AText);
    lblListeners->adjustSize();
    lblListeners->move(925 - lblListeners->width(), 36);
    PlaceServerMarks();
}

void TFrmPrincipal::ShowMarkedLine(QLabel* AMark, QLabel* ALine, int ARight, Qt::TextElideMode AElide,
                                   bool AShowMark, const QString& AText, const QColor& AColor, const QString& ATip)
{
    AMark->setVisible(AShowMark);
    AMark->setToolTip(PlainTip(ATip));
    const int left = AShowMark ? AMark->geometry().right() + 1 + KMarkLineGap : AMark->x();
    ALine->setGeometry(left, AMark->y(), ARight - left, AMark->height());
    ALine->setText(ALine->fontMetrics().elidedText(AText, AElide, ALine->width()));
    ALine->setToolTip(PlainTip(ATip));
    SetTextColor(ALine, AColor);
    ALine->show();
}

void TFrmPrincipal::ShowRecordLine(bool AMark, const QString& AText, const QColor& AColor, const QString& ATip)
{
    // A file's name and a reason keep both ends.
    ShowMarkedLine(lblRec, lblRecFile, KRecLineRight, Qt::ElideMiddle, AMark, AText, AColor, ATip);
}

void TFrmPrincipal::ClearRecordLine()
{
    tmrRecWarning->stop();
    FRecordName.clear();
    lblRec->hide();
    lblRecFile->hide();
    lblRecFile->clear();
    lblRec->setToolTip(QString());
    lblRecFile->setToolTip(QString());
}

// ---------------------------------------------------------------- settings

bool TFrmPrincipal::SaveConfig()
{
    // The settings layer refuses only while the file's last load failed,
    // and the dialog loads it too: these defaults never go over the
    // operator's settings once the file reads again.
    if (FOnDefaults && FileReads(FSettingsPath)) {
        ShowError(QStr(Tr("settings_unread_at_start")).arg(QStr(FSettingsPath)));
        return false;
    }
    try {
        SaveEncoderConfigTo(FSettingsPath, FConfig);
        // The file holds this record now, even one that was missing.
        FOnDefaults = false;
        return true;
    } catch (const ESettingsWriteError& e) {
        const std::string loadError = SettingsLoadError(FSettingsPath);
        ShowError(QString::fromStdString(loadError.empty() ? e.what() : e.what() + ("\n" + loadError)));
        return false;
    }
}

bool TFrmPrincipal::ReloadConfig()
{
    if (!FileReads(FSettingsPath))
        return false;
    TEncoderConfig fromFile;
    LoadEncoderConfigFrom(FSettingsPath, fromFile);
    if (!SettingsLoadError(FSettingsPath).empty())
        return false;
    FConfig = fromFile;
    FOnDefaults = false;
    return true;
}

void TFrmPrincipal::ShowError(const QString& AText)
{
    QMessageBox::critical(this, windowTitle(), AText);
}

void TFrmPrincipal::btnConfigClick()
{
    TFrmConfig dialog(FSettingsPath, this);
    dialog.LoadFromConfig(FConfig);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The dialog wrote its fields into the file as it found it, which may
    // hold more than this window's copy: the defaults of a file unreadable
    // at start, say. Only a file that does not read back leaves the copy.
    if (!ReloadConfig()) {
        dialog.SaveToConfig(FConfig);
        SaveConfig();
    }
    FillEqPresetList();
    LoadEqControls();
    ApplyTexts();
    ApplyThemeAndInfo();
    FStation->NowPlaying().ForgetFtpStamp();
    CheckNoarFile();
}

// ---------------------------------------------------------------- now playing

void TFrmPrincipal::CheckNoarFile()
{
    FStation->NowPlaying().CheckNoarFile();
    ShowNoarText();
}

void TFrmPrincipal::tmrNoarTimer()
{
    // The station's turn: requests, listener counts, the now-playing file.
    FStation->Tick();
    ShowNoarText();
    FMarquee->Step();
    PlaceNoarText();
}

void TFrmPrincipal::ShowNoarText()
{
    const std::string& title = FStation->NowPlaying().Title();
    // The placeholder is the strip's alone, never a title.
    FMarquee->Show(title.empty() ? Tr("noar_empty") : title);
    const QString text = QStr(FMarquee->DisplayText());
    if (lblNoarText->text() != text) {
        lblNoarText->setText(text);
        lblNoarText->adjustSize();
    }
    PlaceNoarText();
}

void TFrmPrincipal::PlaceNoarText()
{
    // X counts from the strip's left edge.
    lblNoarText->move(FMarquee->X() - lblNoarText->parentWidget()->x(), (pnlNoar->height() - lblNoarText->height()) / 2);
}

// ---------------------------------------------------------------- meters

void TFrmPrincipal::RepaintMeters()
{
    pbVuL->SetLevel(FLevelL);
    pbVuR->SetLevel(FLevelR);
    pbAnalogL->SetLevel(FLevelL);
    pbAnalogR->SetLevel(FLevelR);
    pbBandLow->SetLevel(FBandLow);
    pbBandMid->SetLevel(FBandMid);
    pbBandHigh->SetLevel(FBandHigh);
}
