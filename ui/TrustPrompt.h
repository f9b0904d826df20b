#pragma once

#include <string>

class QWidget;

// Asks the operator, in ALanguage, whether to trust the certificate with
// AFingerprint that the server at AServer ("host:port") showed; "No" is the
// default. True for "Yes".
bool AskToTrustCertificate(QWidget* AParent, const std::string& ALanguage, const std::string& AServer,
                           const std::string& AFingerprint);
