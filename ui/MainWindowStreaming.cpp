#include <algorithm>

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "control/ControlServer.h"
#include "engine/NativeEncoderThread.h"
#include "platform/Tick.h"
#include "station/Station.h"
#include "ui/FormHelpers.h"
#include "ui/Lang.h"
#include "ui/MainWindow.h"
#include "ui/OutputStateText.h"
#include "ui/Shape.h"
#include "ui/WindowColors.h"

using namespace WindowColors;

namespace {

// The marks keep this far left of the listener count, and the words of a
// further server's trouble this far left of the marks and right of the
// title.
constexpr int KMarksGap = 16;
constexpr int KMarkSpacing = 8;
constexpr int KProblemGap = 12;

enum TMarkKind { mkIdle, mkOnItsWay, mkOnAir, mkTrouble };

// A login under way, or a dropped link being logged in again, is on its
// way; a refusal, a setting that cannot work, a failed send or a slow
// server is trouble.
TMarkKind MarkKind(const TOutputState& AState)
{
    switch (AState.Phase) {
    case TOutputPhase::Idle:
    case TOutputPhase::Stopped:
        return mkIdle;
    case TOutputPhase::OnAir:
        return AState.Behind ? mkTrouble : mkOnAir;
    case TOutputPhase::Failed:
        return mkTrouble;
    default:
        return IsOnItsWay(AState) ? mkOnItsWay : mkTrouble;
    }
}

QColor MarkColour(int AKind)
{
    switch (AKind) {
    case mkOnItsWay:
        return Yellow;
    case mkOnAir:
        return Green;
    case mkTrouble:
        return Red;
    default:
        return Grey;
    }
}

} // namespace

TNativeEncoderThread* TFrmPrincipal::CreateEncoderThread(const TEncoderConfig& AConfig)
{
    std::string unsafe; // told when the window opened
    return new TNativeEncoderThread(ObeyableSettings(FSettingsPath, AConfig, unsafe));
}

void TFrmPrincipal::btnStartStopClick()
{
    if (Encoder())
        StopEncoder();
    else
        StartEncoder();
}

void TFrmPrincipal::StartEncoder()
{
    FStation->Start();
}

void TFrmPrincipal::StopEncoder()
{
    FStation->Stop();
}

bool TFrmPrincipal::StartAllowed()
{
    // An unwritable settings file stops the start here, after telling why.
    return SaveConfig();
}

void TFrmPrincipal::StopBegan()
{
    btnStartStop->setEnabled(false);
    SetStatusText(QStr(Tr("stopping")));
}

void TFrmPrincipal::StopWaiting()
{
    // The window stays alive while the outputs wind down.
    QCoreApplication::processEvents();
}

void TFrmPrincipal::RunningChanged(bool ARunning)
{
    ++FListenerRound;
    if (ARunning) {
        ClearRecordLine();
        ClearAlarms();
        FTrustQuestions = {};
        ResetServerMarks();
        FShownBlocks = 0;
        tmrMeters->start();
        SetRunningState(true);
        // Until the worker's first word: the login may take seconds, and the
        // last transmission's "stopped" beside a green light would be a lie.
        SetStatusText(QStr(Tr("starting")));
        SetTextColor(lblStatus, DimText);
        return;
    }
    tmrMeters->stop();
    // The meters keep the last levels the worker had.
    FShownBlocks = 0;
    btnStartStop->setEnabled(true);
    ClearRecordLine();
    ClearAlarms();
    SetRunningState(false);
    SetStatusText(QStr(Tr("stopped")));
    ShowListenerCounts();
    if (FCloseAfterStop && !FDestroying) {
        FCloseAfterStop = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TFrmPrincipal::WorkerEnded()
{
    // Ended by itself, the worker records nothing any more and its alarms
    // are over; the window holds it until stopped.
    ClearRecordLine();
    ClearAlarms();
}

void TFrmPrincipal::OutputChanged(int AServer, const TOutputState& AState)
{
    if (AServer == 1)
        HandleEncoderStatus(AState);
    else
        HandleServerStatus(AServer, AState);
}

void TFrmPrincipal::RecordChanged(const std::string& AFileName, const std::string& AText, bool AIsError)
{
    HandleEncoderRecord(AFileName, AText, AIsError);
}

void TFrmPrincipal::AlarmChanged(const TAlarm& AAlarm)
{
    HandleEncoderAlarm(AAlarm);
}

void TFrmPrincipal::ListenersChanged()
{
    ShowListenerCounts();
}

void TFrmPrincipal::SetRunningState(bool ARunning)
{
    btnStartStop->setText(QStr(Tr(ARunning ? "stop" : "start")));
    btnConfig->setEnabled(!ARunning);
    shpLed->SetBrushColor(ARunning ? Green : Grey);
    FBlinkState = ARunning;
    SetBackground(PnlPisca, ARunning ? Red : OnAirIdle);
    ShowServerMarks();
}

QString TFrmPrincipal::StateText(const TOutputState& AState) const
{
    return QStr(OutputStateText(AState, FConfig.Language));
}

void TFrmPrincipal::HandleEncoderStatus(const TOutputState& AState)
{
    const bool isError = IsErrorState(AState);
    SetStatusText(StateText(AState));
    SetServerMark(1, AState);
    OfferToTrustCertificate(1, AState);
    if (isError) {
        SetTextColor(lblStatus, Red);
        shpLed->SetBrushColor(Red);
    } else if (Encoder() && MarkKind(AState) == mkOnItsWay) {
        // A login still being tried is not on air yet.
        SetTextColor(lblStatus, Yellow);
        shpLed->SetBrushColor(Yellow);
    } else if (Encoder()) {
        SetTextColor(lblStatus, Green);
        shpLed->SetBrushColor(Green);
        FBlinkState = true;
        SetBackground(PnlPisca, Red);
    } else {
        SetTextColor(lblStatus, DimText);
        shpLed->SetBrushColor(Grey);
        FBlinkState = false;
        SetBackground(PnlPisca, OnAirIdle);
    }
}

void TFrmPrincipal::HandleServerStatus(int AServer, const TOutputState& AState)
{
    // A server stopped for a refused certificate keeps the reason.
    if (AServer < 2 || !ServerInUse(AServer) || FTrustQuestions[AServer - 1].Refused)
        return;
    SetServerMark(AServer, AState);
    OfferToTrustCertificate(AServer, AState);
}

void TFrmPrincipal::ShowLevels(const TAudioLevels& ALevels)
{
    FLevelL = ALevels.L;
    FLevelR = ALevels.R;
    FBandLow = ALevels.LowBand;
    FBandMid = ALevels.MidBand;
    FBandHigh = ALevels.HighBand;
    RepaintMeters();
}

void TFrmPrincipal::tmrMetersTimer()
{
    TNativeEncoderThread* worker = Encoder();
    if (!worker)
        return;
    const TLevelReading reading = worker->Levels().Latest();
    if (reading.Blocks == FShownBlocks)
        return;
    FShownBlocks = reading.Blocks;
    ShowLevels(reading.Levels);
}

void TFrmPrincipal::HandleEncoderRecord(const std::string& AFileName, const std::string& AText, bool AIsError)
{
    tmrRecWarning->stop();
    const QString text = QStr(AText);
    if (AFileName.empty()) {
        // The stream goes on, so the status line stays the server's and
        // this line says why the recording stopped.
        if (AIsError)
            ShowRecordLine(false, text, Red, text);
        else
            ClearRecordLine();
        return;
    }
    const QString path = QStr(AFileName);
    FRecordName = QFileInfo(path).fileName();
    if (!AIsError) {
        ShowRecordLine(true, FRecordName, DimText, path);
        return;
    }
    // Audio was lost but the file goes on: the warning for a moment in
    // place of the name, and in the tooltip until the next word.
    ShowRecordLine(true, text, Yellow, path + '\n' + text);
    tmrRecWarning->start();
}

void TFrmPrincipal::tmrPiscaTimer()
{
    if (Encoder()) {
        const bool was = FBlinkState;
        FBlinkState = !FBlinkState;
        ShapePisca->SetBrushColor(was ? Bar : Red);
    } else {
        FBlinkState = false;
        ShapePisca->SetBrushColor(Bar);
    }
}

// ---------------------------------------------------------------- listener count

void TFrmPrincipal::SetupListenerTimer()
{
    SetListenersText(NoListenersText());
    SetTextColor(lblListeners, DimText);
}

QString TFrmPrincipal::NoListenersText() const
{
    return QStr(Tr("listeners")) + "--";
}

// The sum of the counts known, each server's in the tooltip; one server
// alone shows its count as it always did.
void TFrmPrincipal::ShowListenerCounts()
{
    QStringList parts;
    for (int n = 1; n <= KMaxServers; ++n) {
        if (!ServerInUse(n))
            continue;
        const int32_t count = FStation->Listeners(n);
        parts << QStr(Tr("server_line")).arg(n).arg(count >= 0 ? QString::number(count) : QString("--"));
    }
    const int32_t sum = FStation->ListenerSum();
    SetListenersText(sum >= 0 ? QStr(Tr("listeners")) + QString::number(sum) : NoListenersText());
    lblListeners->setToolTip(SeveralServers() ? parts.join('\n') : QString());
}

// ---------------------------------------------------------------- servers' marks

bool TFrmPrincipal::ServerInUse(int AServer) const
{
    return FStation->ServerInUse(AServer);
}

bool TFrmPrincipal::SeveralServers() const
{
    for (int n = 2; n <= KMaxServers; ++n)
        if (ServerInUse(n))
            return true;
    return false;
}

void TFrmPrincipal::ResetServerMarks()
{
    for (int n = 1; n <= KMaxServers; ++n)
        FServerMarks[n - 1] = {mkOnItsWay, QStr(Tr("starting"))};
    ShowServerMarks();
}

void TFrmPrincipal::SetServerMark(int AServer, const TOutputState& AState)
{
    FServerMarks[AServer - 1] = {MarkKind(AState), StateText(AState)};
    ShowServerMarks();
}

void TFrmPrincipal::ShowServerMarks()
{
    const bool shown = Encoder() && SeveralServers();
    // The worst trouble of a further server, the first in number order.
    int problem = 0;
    for (int n = 1; n <= KMaxServers; ++n) {
        QWidget* mark = pnlServerMark[n - 1];
        const TServerMark& state = FServerMarks[n - 1];
        mark->setVisible(shown && ServerInUse(n));
        shpServer[n - 1]->SetBrushColor(MarkColour(state.Kind));
        // Where it streams, under its state.
        const TEncoderConfig server = ConfigForServer(FConfig, n);
        mark->setToolTip(PlainTip(QStr(Tr("server_line")).arg(n).arg(state.Text) +
                                  QString::fromUtf8("\n%1:%2 %3 · %4 kbps")
                                      .arg(QStr(server.Host))
                                      .arg(server.Port)
                                      .arg(QStr(server.Mount))
                                      .arg(server.Bitrate)));
        if (n > 1 && ServerInUse(n) && (state.Kind == mkTrouble || state.Kind == mkOnItsWay) &&
            (!problem || (state.Kind == mkTrouble && FServerMarks[problem - 1].Kind != mkTrouble)))
            problem = n;
    }
    if (shown && problem) {
        const TServerMark& state = FServerMarks[problem - 1];
        lblServerProblem->setToolTip(PlainTip(QStr(Tr("server_line")).arg(problem).arg(state.Text)));
        SetTextColor(lblServerProblem, MarkColour(state.Kind));
    } else {
        lblServerProblem->setToolTip(QString());
    }
    lblServerProblem->setVisible(shown && problem);
    PlaceServerMarks();
}

void TFrmPrincipal::PlaceServerMarks()
{
    int right = lblListeners->x() - KMarksGap;
    for (int n = KMaxServers; n >= 1; --n) {
        QWidget* mark = pnlServerMark[n - 1];
        if (mark->isHidden())
            continue;
        mark->move(right - mark->width(), lblListeners->y() + (lblListeners->height() - mark->height()) / 2);
        right = mark->x() - KMarkSpacing;
    }
    if (lblServerProblem->isHidden())
        return;
    // Between the title and the marks, shortened in the middle to fit.
    const int left = lblTitle->geometry().right() + 1 + KProblemGap;
    right += KMarkSpacing - KProblemGap;
    lblServerProblem->setGeometry(left, lblListeners->y(), std::max(0, right - left), lblListeners->height());
    lblServerProblem->setText(lblServerProblem->fontMetrics().elidedText(lblServerProblem->toolTip(), Qt::ElideMiddle,
                                                                         lblServerProblem->width()));
}

// ---------------------------------------------------------------- control interface

void TFrmPrincipal::StartControlInterface()
{
    std::string unsafe; // told when the window opened
    if (!ObeyableSettings(FSettingsPath, FConfig, unsafe).ControlEnabled)
        return;
    FControlServer = std::make_unique<TControlServer>(*FStation);
    std::string error;
    if (!FControlServer->Start(FConfig.ControlPort, FConfig.ControlToken, error)) {
        FControlServer.reset();
        SetStatusText(QStr(error));
        SetTextColor(lblStatus, Red);
    }
}
