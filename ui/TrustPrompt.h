#pragma once

#include <string>

class QWidget;

// Asks the operator, in ALanguage, whether to trust the server certificate
// with AFingerprint; "No" is the default. True for "Yes".
bool AskToTrustCertificate(QWidget* AParent, const std::string& ALanguage, const std::string& AFingerprint);
