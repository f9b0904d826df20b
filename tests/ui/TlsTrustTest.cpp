// TLS in the window: the server page's switch, and an untrusted server
// certificate met on start (a real icecast2 with a certificate made here).
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "streaming/TlsSession.h"
#include "tests/support/AudioRig.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/TempDir.h"
#include "tests/ui/ProbeWindow.h"
#include "tests/ui/RigDevices.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/ConfigForm.h"

namespace {

const testing::Environment* const GRig = testing::AddGlobalTestEnvironment(new TRigEnvironment);

} // namespace

TEST(TlsWindow, ServerPageSwitchesTlsAndKeepsThePinnedCertificate)
{
    TTempDir dir;
    TFrmConfig dialog(dir.File("TavixEncoder.ini"));
    TEncoderConfig config;
    DefaultEncoderConfig(config);
    config.TlsFingerprint = "AB:CD";
    dialog.LoadFromConfig(config);
    EXPECT_FALSE(dialog.chkTls->isChecked());
    EXPECT_EQ(dialog.chkTls->text().toStdString(), "Conexão segura (TLS)");
    dialog.chkTls->setChecked(true);
    TEncoderConfig saved = config;
    dialog.SaveToConfig(saved);
    EXPECT_TRUE(saved.UseTls);
    EXPECT_EQ(saved.TlsFingerprint, "AB:CD");
    config.UseTls = true;
    dialog.LoadFromConfig(config);
    EXPECT_TRUE(dialog.chkTls->isChecked());
    // On the server page, clear of the other fields.
    EXPECT_EQ(dialog.chkTls->parentWidget(), dialog.tabServidor);
    EXPECT_FALSE(dialog.chkTls->geometry().intersects(dialog.edPassword->geometry()));
    EXPECT_FALSE(dialog.chkTls->geometry().intersects(dialog.edUser->geometry()));
}

TEST(TlsWindow, UntrustedCertificateStopsAsksOnceAndYesPinsIt)
{
    // The test's certificate is in no CA store the session looks at.
    setenv("SSL_CERT_FILE", "/nonexistent-ca-file.pem", 1);
    TIcecastServer server(true);
    TTempDir dir;
    const std::string settings = dir.File("TavixEncoder.ini");
    WriteSettings(settings, [&](TEncoderConfig& c) {
        UseRigAndServer(c, server.Port(), server.SourcePassword());
        c.UseTls = true;
    });
    const std::string fingerprint = PemCertificateFingerprint(ReadTextFile(server.CertificateFile()));
    UiRig().PlayTone(1000, 60, 0.15);
    TProbeWindow window(settings);
    window.show();

    // "No" first: stopped, nothing stored.
    int questions = 0;
    std::string question;
    OnNextModal([&](QWidget* ADialog) {
        auto* box = qobject_cast<QMessageBox*>(ADialog);
        ASSERT_NE(box, nullptr);
        ++questions;
        question = box->text().toStdString();
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
        EXPECT_EQ(box->button(QMessageBox::No)->text().toStdString(), "Não");
        box->button(QMessageBox::No)->click();
    });
    window.btnStartStop->click();
    ASSERT_TRUE(PumpUntil([&] { return questions == 1 && window.Encoder() == nullptr; }, 15000))
        << Text(window.lblStatus);
    EXPECT_EQ(question, "O certificado do servidor não é confiável. Impressão digital SHA-256:\n" + fingerprint +
                            "\n\nConfiar neste certificado para este servidor?");
    EXPECT_NE(Text(window.lblStatus).find(fingerprint), std::string::npos)
        << "the reason of the stop stays: " << Text(window.lblStatus);
    PumpFor(3500);
    EXPECT_EQ(questions, 1) << "asked again";
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    TEncoderConfig stored;
    LoadEncoderConfigFrom(settings, stored);
    EXPECT_EQ(stored.TlsFingerprint, "");

    // "Yes": pinned in the settings, and the next start goes on air.
    OnNextModal([&](QWidget* ADialog) {
        ++questions;
        qobject_cast<QMessageBox*>(ADialog)->button(QMessageBox::Yes)->click();
    });
    window.btnStartStop->click();
    ASSERT_TRUE(PumpUntil([&] { return questions == 2 && window.Encoder() == nullptr; }, 15000))
        << Text(window.lblStatus);
    EXPECT_EQ(Text(window.lblStatus), "Certificado confiável salvo. Inicie a transmissão novamente.");
    LoadEncoderConfigFrom(settings, stored);
    EXPECT_EQ(stored.TlsFingerprint, fingerprint);
    EXPECT_TRUE(stored.UseTls);

    window.btnStartStop->click();
    EXPECT_TRUE(PumpUntil([&] { return Text(window.lblStatus) == "Transmitindo."; }, 20000))
        << Text(window.lblStatus);
    EXPECT_EQ(questions, 2);
    window.btnStartStop->click();
    EXPECT_TRUE(PumpUntil([&] { return window.Encoder() == nullptr; }, 10000));
    UiRig().StopTone();
}
