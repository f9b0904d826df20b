#include "ui/TrustPrompt.h"

#include <QMessageBox>
#include <QPushButton>

#include "ui/FormHelpers.h"
#include "ui/Lang.h"

bool AskToTrustCertificate(QWidget* AParent, const std::string& ALanguage, const std::string& AServer,
                           const std::string& AFingerprint)
{
    QMessageBox question(QMessageBox::Warning, AParent ? AParent->windowTitle() : QString(),
                         QStr(Translate(ALanguage, "tls_trust_ask")).arg(QStr(AServer), QStr(AFingerprint)),
                         QMessageBox::Yes | QMessageBox::No, AParent);
    question.setObjectName("dlgTrustCertificate");
    question.button(QMessageBox::Yes)->setText(QStr(Translate(ALanguage, "yes")));
    question.button(QMessageBox::No)->setText(QStr(Translate(ALanguage, "no")));
    // Enter must not trust a stranger.
    question.setDefaultButton(QMessageBox::No);
    return question.exec() == QMessageBox::Yes;
}
