#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "services/ListenerCountThread.h"
#include "streaming/NativeEncoderThread.h"
#include "streaming/TlsSession.h"
#include "ui/FormHelpers.h"
#include "ui/MainWindow.h"
#include "ui/Shape.h"
#include "ui/TrustPrompt.h"
#include "ui/WindowColors.h"

using namespace WindowColors;

namespace {

constexpr int KListenerIntervalMs = 15000;
constexpr int KStopPumpMs = 50;

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
    FEncoder->OnLevel = [this](TNativeEncoderThread* Sender, double L, double R, double Low, double Mid,
                               double High) { HandleEncoderLevel(Sender, L, R, Low, Mid, High); };
    FEncoder->OnStatus = [this](TNativeEncoderThread* Sender, const std::string& Text, bool IsError) {
        HandleEncoderStatus(Sender, Text, IsError);
    };
    FEncoder->OnRecord = [this](TNativeEncoderThread* Sender, const std::string& AFileName, const std::string& AText,
                                bool AIsError) { HandleEncoderRecord(Sender, AFileName, AText, AIsError); };
    // Stopped or ended by itself, the worker records nothing any more.
    FEncoder->OnTerminate = [this](TThread*) { ClearRecordLine(); };
    ClearRecordLine();
    FEncoder->Start();
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
        // The worker hands its events over synchronously: keep taking them
        // so it can reach its end.
        while (!FEncoder->Finished()) {
            TThread::CheckSynchronize(KStopPumpMs);
            QCoreApplication::processEvents();
        }
        FEncoder->WaitFor();
        TNativeEncoderThread* ended = FEncoder;
        FEncoder = nullptr;
        delete ended;
    } catch (...) {
        // Whatever went wrong, the button must come back.
    }
    btnStartStop->setEnabled(true);
    FStopping = false;
    SetRunningState(false);
    SetStatusText(QStr(Tr("stopped")));
    SetListenersText(NoListenersText());
    if (FCloseAfterStop && !FDestroying) {
        FCloseAfterStop = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TFrmPrincipal::SetRunningState(bool ARunning)
{
    btnStartStop->setText(QStr(Tr(ARunning ? "stop" : "start")));
    btnConfig->setEnabled(!ARunning);
    shpLed->SetBrushColor(ARunning ? Green : Grey);
    FBlinkState = ARunning;
    SetBackground(PnlPisca, ARunning ? Red : OnAirIdle);
}

void TFrmPrincipal::HandleEncoderStatus(TNativeEncoderThread*, const std::string& Text, bool IsError)
{
    SetStatusText(QStr(Text));
    // An untrusted certificate would be refused at every retry: stop, then
    // ask once, out of the worker's hand-off, whether to trust it.
    if (const std::string fingerprint = FingerprintInUntrustedStatus(Text); !fingerprint.empty() && FEncoder)
        QTimer::singleShot(0, this, [this, fingerprint] {
            if (!FEncoder || FStopping)
                return;
            StopEncoder();
            if (!AskToTrustCertificate(this, FConfig.Language, fingerprint))
                return;
            FConfig.TlsFingerprint = fingerprint;
            if (SaveConfig())
                SetStatusText(QStr(Tr("tls_trusted")));
        });
    if (IsError) {
        SetTextColor(lblStatus, Red);
        shpLed->SetBrushColor(Red);
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

void TFrmPrincipal::HandleEncoderLevel(TNativeEncoderThread*, double L, double R, double LowBand, double MidBand,
                                       double HighBand)
{
    FLevelL = L;
    FLevelR = R;
    FBandLow = LowBand;
    FBandMid = MidBand;
    FBandHigh = HighBand;
    RepaintMeters();
}

void TFrmPrincipal::HandleEncoderRecord(TNativeEncoderThread*, const std::string& AFileName,
                                        const std::string& AText, bool AIsError)
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
        SetListenersText(NoListenersText());
        return;
    }
    if (FListenerThread)
        return; // the previous query is still running
    auto* worker = new TTavixListenerCountThread(FConfig);
    FListenerThread = worker;
    // Both run on this thread; a window already gone, or going, drops them.
    QPointer<TFrmPrincipal> self(this);
    worker->OnResult = [self](TTavixListenerCountThread* Sender, int32_t Count, const std::string& ErrorText) {
        if (self && !self->FDestroying)
            self->HandleListenerResult(Sender, Count, ErrorText);
    };
    worker->OnTerminate = [self](TThread* Sender) {
        if (self && !self->FDestroying)
            self->HandleListenerThreadEnd(Sender);
    };
    worker->Start();
}

void TFrmPrincipal::HandleListenerResult(TTavixListenerCountThread*, int32_t Count, const std::string&)
{
    SetListenersText(Count >= 0 ? QStr(Tr("listeners")) + QString::number(Count) : NoListenersText());
}

void TFrmPrincipal::HandleListenerThreadEnd(TThread* Sender)
{
    if (Sender == FListenerThread)
        FListenerThread = nullptr;
}
