#include <algorithm>

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "services/ListenerCountThread.h"
#include "control/ControlServer.h"
#include "platform/Tick.h"
#include "streaming/NativeEncoderThread.h"
#include "ui/FormHelpers.h"
#include "ui/Lang.h"
#include "ui/MainWindow.h"
#include "ui/Shape.h"
#include "ui/WindowControl.h"
#include "ui/WindowColors.h"

using namespace WindowColors;

namespace {

constexpr int KListenerIntervalMs = 15000;
constexpr int KStopPumpMs = 50;
// The marks keep this far left of the listener count, and the words of a
// further server's trouble this far left of the marks and right of the
// title.
constexpr int KMarksGap = 16;
constexpr int KMarkSpacing = 8;
constexpr int KProblemGap = 12;

enum TMarkKind { mkIdle, mkOnItsWay, mkOnAir, mkTrouble };

// What a server's status says of it. A dropped link being logged in again
// is on its way; a refusal (its reason in brackets at the end), a setting
// that cannot work or a failed send is trouble.
TMarkKind MarkKind(const std::string& AText, bool AIsError)
{
    if (!AIsError) {
        if (AText == "Parado.")
            return mkIdle;
        return AText.starts_with("Conectando") ? mkOnItsWay : mkOnAir;
    }
    if (AText.ends_with("Reconectando...") || AText.ends_with("Tentando novamente...") ||
        (AText.starts_with("Tentando reconectar") && AText.ends_with("...")))
        return mkOnItsWay;
    return mkTrouble;
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
    return new TNativeEncoderThread(AConfig);
}

void TFrmPrincipal::btnStartStopClick()
{
    if (FEncoder)
        StopEncoder();
    else
        StartEncoder();
}

void TFrmPrincipal::StartEncoder()
{
    if (FEncoder)
        return;
    // An unwritable settings file stops the start here, after telling why.
    if (!SaveConfig())
        return;
    FEncoder = CreateEncoderThread(FConfig);
    FEncoder->OnStatus = [this](TNativeEncoderThread* Sender, const std::string& Text, bool IsError) {
        HandleEncoderStatus(Sender, Text, IsError);
    };
    FEncoder->OnServerStatus = [this](TNativeEncoderThread* Sender, int AServer, const std::string& AText,
                                      bool AIsError) { HandleServerStatus(Sender, AServer, AText, AIsError); };
    FEncoder->OnRecord = [this](TNativeEncoderThread* Sender, const std::string& AFileName, const std::string& AText,
                                bool AIsError) { HandleEncoderRecord(Sender, AFileName, AText, AIsError); };
    FEncoder->OnAlarm = [this](TNativeEncoderThread* Sender, const TAlarm& AAlarm) {
        HandleEncoderAlarm(Sender, AAlarm);
    };
    // Stopped or ended by itself, the worker records nothing any more and
    // its alarms are over.
    FEncoder->OnTerminate = [this](TThread*) {
        ClearRecordLine();
        ClearAlarms();
    };
    ClearRecordLine();
    ClearAlarms();
    ++FListenerRound;
    FListenerCounts.fill(-1);
    FTrustQuestions = {};
    ResetServerMarks();
    FShownBlocks = 0;
    FEncoder->Start();
    tmrMeters->start();
    SetRunningState(true);
    // Until the worker's first word: the login may take seconds, and the
    // last transmission's "stopped" beside a green light would be a lie.
    SetStatusText(QStr(Tr("starting")));
    SetTextColor(lblStatus, DimText);
    ListenerTimerTick();
}

void TFrmPrincipal::StopEncoder()
{
    // A second stop (a close asked while this one pumps events) must not
    // wait for or free the same worker again.
    if (!FEncoder || FStopping)
        return;
    FStopping = true;
    try {
        btnStartStop->setEnabled(false);
        SetStatusText(QStr(Tr("stopping")));
        FEncoder->StopNow();
        // The window stays alive while the outputs wind down.
        while (!FEncoder->Finished()) {
            TThread::RunQueued(KStopPumpMs);
            QCoreApplication::processEvents();
        }
        FEncoder->WaitFor();
        tmrMetersTimer();
        tmrMeters->stop();
        TNativeEncoderThread* ended = FEncoder;
        FEncoder = nullptr;
        delete ended;
    } catch (...) {
        // Whatever went wrong, the button must come back.
    }
    btnStartStop->setEnabled(true);
    FStopping = false;
    ClearAlarms();
    SetRunningState(false);
    SetStatusText(QStr(Tr("stopped")));
    ++FListenerRound;
    FListenerCounts.fill(-1);
    ShowListenerCounts();
    if (FCloseAfterStop && !FDestroying) {
        FCloseAfterStop = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TFrmPrincipal::SetRunningState(bool ARunning)
{
    if (ARunning)
        FStartTick = GetTickCount64();
    UpdateControlState([&](TStationState& AState) {
        AState.Running = ARunning;
        if (ARunning) {
            AState.Outputs.clear();
            AState.BytesSent = 0;
            AState.UptimeSeconds = 0;
        }
    });
    btnStartStop->setText(QStr(Tr(ARunning ? "stop" : "start")));
    btnConfig->setEnabled(!ARunning);
    shpLed->SetBrushColor(ARunning ? Green : Grey);
    FBlinkState = ARunning;
    SetBackground(PnlPisca, ARunning ? Red : OnAirIdle);
    ShowServerMarks();
}

void TFrmPrincipal::HandleEncoderStatus(TNativeEncoderThread*, const std::string& Text, bool IsError)
{
    UpdateControlState([&](TStationState& AState) {
        AState.Status = Text;
        AState.StatusIsError = IsError;
    });
    SetStatusText(QStr(Text));
    SetServerMark(1, Text, IsError);
    OfferToTrustCertificate(1, Text);
    if (IsError) {
        SetTextColor(lblStatus, Red);
        shpLed->SetBrushColor(Red);
    } else if (FEncoder && MarkKind(Text, false) == mkOnItsWay) {
        // A login still being tried is not on air yet.
        SetTextColor(lblStatus, Yellow);
        shpLed->SetBrushColor(Yellow);
    } else if (FEncoder) {
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

void TFrmPrincipal::HandleServerStatus(TNativeEncoderThread*, int AServer, const std::string& AText, bool AIsError)
{
    // A server stopped for a refused certificate keeps the reason.
    if (AServer < 2 || !ServerInUse(AServer) || FTrustQuestions[AServer - 1].Refused)
        return;
    SetServerMark(AServer, AText, AIsError);
    OfferToTrustCertificate(AServer, AText);
    UpdateControlState([&](TStationState& AState) {
        for (TStationState::TOutput& o : AState.Outputs)
            if (o.Server == AServer) {
                o.Status = AText;
                o.IsError = AIsError;
                return;
            }
        AState.Outputs.push_back({AServer, AText, AIsError, FListenerCounts[static_cast<size_t>(AServer - 1)]});
    });
}

void TFrmPrincipal::HandleEncoderLevel(TNativeEncoderThread*, double L, double R, double LowBand, double MidBand,
                                       double HighBand)
{
    FLevelL = L;
    FLevelR = R;
    FBandLow = LowBand;
    FBandMid = MidBand;
    FBandHigh = HighBand;
    RepaintMeters();
    const uint64_t bytes = FEncoder ? FEncoder->BytesSent() : 0;
    UpdateControlState([&](TStationState& AState) {
        AState.LevelL = L;
        AState.LevelR = R;
        AState.BytesSent = bytes;
        AState.UptimeSeconds = (GetTickCount64() - FStartTick) / 1000;
    });
}

void TFrmPrincipal::tmrMetersTimer()
{
    if (!FEncoder)
        return;
    const TLevelReading reading = FEncoder->Levels().Latest();
    if (reading.Blocks == FShownBlocks)
        return;
    FShownBlocks = reading.Blocks;
    const TAudioLevels& l = reading.Levels;
    HandleEncoderLevel(FEncoder, l.L, l.R, l.LowBand, l.MidBand, l.HighBand);
}

void TFrmPrincipal::HandleEncoderRecord(TNativeEncoderThread*, const std::string& AFileName,
                                        const std::string& AText, bool AIsError)
{
    tmrRecWarning->stop();
    UpdateControlState([&](TStationState& AState) { AState.RecordingFile = AFileName; });
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
    if (FEncoder) {
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
    if (FListenerTimer)
        return;
    FListenerTimer = new QTimer(this);
    FListenerTimer->setInterval(KListenerIntervalMs);
    connect(FListenerTimer, &QTimer::timeout, this, [this] { ListenerTimerTick(); });
    FListenerTimer->start();
}

QString TFrmPrincipal::NoListenersText() const
{
    return QStr(Tr("listeners")) + "--";
}

void TFrmPrincipal::ListenerTimerTick()
{
    if (!lblListeners)
        return;
    if (!FEncoder) {
        ShowListenerCounts();
        return;
    }
    for (int n = 1; n <= KMaxServers; ++n) {
        // A server whose previous query still runs is skipped this time.
        if (!ServerInUse(n) || FListenerThreads[n - 1])
            continue;
        auto* worker = new TTavixListenerCountThread(ConfigForServer(FConfig, n));
        FListenerThreads[n - 1] = worker;
        // Both run on this thread; a window already gone, or going, drops them.
        QPointer<TFrmPrincipal> self(this);
        worker->OnResult = [self, n, round = FListenerRound](TTavixListenerCountThread*, int32_t Count,
                                                              const std::string& ErrorText) {
            if (self && !self->FDestroying && self->FListenerRound == round)
                self->HandleListenerResult(n, Count, ErrorText);
        };
        worker->OnTerminate = [self, n](TThread* Sender) {
            if (self && !self->FDestroying)
                self->HandleListenerThreadEnd(n, Sender);
        };
        worker->Start();
    }
}

void TFrmPrincipal::HandleListenerResult(int AServer, int32_t Count, const std::string&)
{
    if (!ServerInUse(AServer))
        return;
    FListenerCounts[AServer - 1] = Count;
    ShowListenerCounts();
}

void TFrmPrincipal::HandleListenerThreadEnd(int AServer, TThread* Sender)
{
    if (AServer >= 1 && AServer <= KMaxServers && Sender == FListenerThreads[AServer - 1])
        FListenerThreads[AServer - 1] = nullptr;
}

// The sum of the counts known, each server's in the tooltip; one server
// alone shows its count as it always did.
void TFrmPrincipal::ShowListenerCounts()
{
    int32_t sum = -1;
    QStringList parts;
    for (int n = 1; n <= KMaxServers; ++n) {
        if (!ServerInUse(n))
            continue;
        const int32_t count = FListenerCounts[n - 1];
        if (count >= 0)
            sum = std::max(sum, 0) + count;
        parts << QStr(Tr("server_line")).arg(n).arg(count >= 0 ? QString::number(count) : QString("--"));
    }
    SetListenersText(sum >= 0 ? QStr(Tr("listeners")) + QString::number(sum) : NoListenersText());
    UpdateControlState([&](TStationState& AState) {
        AState.Listeners = sum;
        for (TStationState::TOutput& o : AState.Outputs)
            o.Listeners = FListenerCounts[static_cast<size_t>(o.Server - 1)];
    });
    lblListeners->setToolTip(SeveralServers() ? parts.join('\n') : QString());
}

// ---------------------------------------------------------------- servers' marks

bool TFrmPrincipal::ServerInUse(int AServer) const
{
    if (AServer == 1)
        return true;
    return AServer >= 2 && AServer <= KMaxServers && FConfig.ExtraServers[static_cast<size_t>(AServer - 2)].Enabled;
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

void TFrmPrincipal::SetServerMark(int AServer, const std::string& AText, bool AIsError)
{
    FServerMarks[AServer - 1] = {MarkKind(AText, AIsError), QStr(AText)};
    ShowServerMarks();
}

void TFrmPrincipal::ShowServerMarks()
{
    const bool shown = FEncoder && SeveralServers();
    // The worst trouble of a further server, the first in number order.
    int problem = 0;
    for (int n = 1; n <= KMaxServers; ++n) {
        QWidget* mark = pnlServerMark[n - 1];
        const TServerMark& state = FServerMarks[n - 1];
        mark->setVisible(shown && ServerInUse(n));
        shpServer[n - 1]->SetBrushColor(MarkColour(state.Kind));
        // Where it streams, under its state.
        const TEncoderConfig server = ConfigForServer(FConfig, n);
        mark->setToolTip(QStr(Tr("server_line")).arg(n).arg(state.Text) +
                         QString::fromUtf8("\n%1:%2 %3 · %4 kbps")
                             .arg(QStr(server.Host))
                             .arg(server.Port)
                             .arg(QStr(server.Mount))
                             .arg(server.Bitrate));
        if (n > 1 && ServerInUse(n) && (state.Kind == mkTrouble || state.Kind == mkOnItsWay) &&
            (!problem || (state.Kind == mkTrouble && FServerMarks[problem - 1].Kind != mkTrouble)))
            problem = n;
    }
    if (shown && problem) {
        const TServerMark& state = FServerMarks[problem - 1];
        lblServerProblem->setToolTip(QStr(Tr("server_line")).arg(problem).arg(state.Text));
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
    if (!FConfig.ControlEnabled)
        return;
    TWindowControl::TActions actions;
    actions.Start = [this] { StartEncoder(); };
    actions.Stop = [this] { StopEncoder(); };
    actions.Title = [this](const std::string& ATitle) {
        if (FEncoder)
            FEncoder->SetTitle(ATitle);
        UpdateControlState([&](TStationState& AState) { AState.Title = ATitle; });
    };
    FControl = std::make_unique<TWindowControl>(this, std::move(actions), FConfig.NoarPath);
    FControlServer = std::make_unique<TControlServer>(*FControl);
    std::string error;
    if (!FControlServer->Start(FConfig.ControlPort, FConfig.ControlToken, error)) {
        FControlServer.reset();
        FControl.reset();
        SetStatusText(QStr(error));
        SetTextColor(lblStatus, Red);
    }
}

void TFrmPrincipal::UpdateControlState(const std::function<void(TStationState&)>& AChange)
{
    if (FControl)
        FControl->Update(AChange);
}
