#include <QLabel>
#include <QTimer>

#include "platform/Text.h"
#include "streaming/NativeEncoderThread.h"
#include "streaming/TlsSession.h"
#include "ui/FormHelpers.h"
#include "ui/MainWindow.h"
#include "ui/TrustPrompt.h"
#include "ui/WindowColors.h"

using namespace WindowColors;

void TFrmPrincipal::OfferToTrustCertificate(int AServer, const std::string& AText)
{
    const std::string fingerprint = FingerprintInUntrustedStatus(AText);
    TTrustQuestion& asked = FTrustQuestions[AServer - 1];
    // Every retry meets the same certificate again.
    if (fingerprint.empty() || !FEncoder || asked.Fingerprint == fingerprint)
        return;
    asked.Fingerprint = fingerprint;
    QTimer::singleShot(0, this, [this, AServer, AText, fingerprint, round = FListenerRound] {
        if (FEncoder && !FStopping && FListenerRound == round)
            AnswerTrustQuestion(AServer, AText, fingerprint, round);
    });
}

void TFrmPrincipal::AnswerTrustQuestion(int AServer, const std::string& AText, const std::string& AFingerprint,
                                        unsigned ARound)
{
    // Server 1 carries the transmission and would be refused at every
    // retry: it stops first. A further server keeps trying beside the
    // others while the operator decides.
    if (AServer == 1)
        StopEncoder();
    const TEncoderConfig server = ConfigForServer(FConfig, AServer);
    const bool trusted = AskToTrustCertificate(this, FConfig.Language,
                                               Trim(server.Host) + ":" + std::to_string(server.Port), AFingerprint);
    // The transmission may have been stopped meanwhile, or started again.
    TNativeEncoderThread* running = AServer > 1 && FEncoder && FListenerRound == ARound ? FEncoder : nullptr;
    if (!trusted) {
        if (AServer == 1) {
            // Stopped for this reason: "Parado." alone would hide it.
            SetStatusText(QStr(AText));
            SetTextColor(lblStatus, Red);
        } else if (running) {
            running->Server(AServer).Stop();
            SetServerMark(AServer, AText, true);
            FTrustQuestions[AServer - 1].Refused = true;
        }
        return;
    }
    (AServer == 1 ? FConfig.TlsFingerprint : FConfig.ExtraServers[static_cast<size_t>(AServer - 2)].TlsFingerprint) =
        AFingerprint;
    const bool saved = SaveConfig();
    if (running)
        running->Server(AServer).TrustCertificate(AFingerprint);
    else if (AServer == 1 && saved)
        SetStatusText(QStr(Tr("tls_trusted")));
}
