#include <QLabel>
#include <QTimer>

#include "engine/NativeEncoderThread.h"
#include "platform/Text.h"
#include "ui/FormHelpers.h"
#include "ui/MainWindow.h"
#include "ui/TrustPrompt.h"
#include "ui/WindowColors.h"

using namespace WindowColors;

void TFrmPrincipal::OfferToTrustCertificate(int AServer, const TOutputState& AState)
{
    TTrustQuestion& asked = FTrustQuestions[AServer - 1];
    // Every retry meets the same certificate again.
    if (AState.Refusal != TRefusal::UntrustedCertificate || AState.Fingerprint.empty() || !Encoder() ||
        asked.Fingerprint == AState.Fingerprint)
        return;
    asked.Fingerprint = AState.Fingerprint;
    QTimer::singleShot(0, this, [this, AServer, AState, round = FListenerRound] {
        if (Encoder() && !FStation->Stopping() && FListenerRound == round)
            AnswerTrustQuestion(AServer, AState, round);
    });
}

void TFrmPrincipal::AnswerTrustQuestion(int AServer, const TOutputState& AState, unsigned ARound)
{
    const std::string& fingerprint = AState.Fingerprint;
    // Server 1 carries the transmission and would be refused at every
    // retry: it stops first. A further server keeps trying beside the
    // others while the operator decides.
    if (AServer == 1)
        StopEncoder();
    const TEncoderConfig server = ConfigForServer(FConfig, AServer);
    const bool trusted = AskToTrustCertificate(this, FConfig.Language,
                                               Trim(server.Host) + ":" + std::to_string(server.Port), fingerprint);
    // The transmission may have been stopped meanwhile, or started again.
    TNativeEncoderThread* running = AServer > 1 && Encoder() && FListenerRound == ARound ? Encoder() : nullptr;
    if (!trusted) {
        if (AServer == 1) {
            // Stopped for this reason: "Parado." alone would hide it.
            SetStatusText(StateText(AState));
            SetTextColor(lblStatus, Red);
        } else if (running) {
            running->Server(AServer).Stop();
            SetServerMark(AServer, AState);
            FTrustQuestions[AServer - 1].Refused = true;
        }
        return;
    }
    (AServer == 1 ? FConfig.TlsFingerprint : FConfig.ExtraServers[static_cast<size_t>(AServer - 2)].TlsFingerprint) =
        fingerprint;
    const bool saved = SaveConfig();
    if (running)
        running->Server(AServer).TrustCertificate(fingerprint);
    else if (AServer == 1 && saved)
        SetStatusText(QStr(Tr("tls_trusted")));
}
