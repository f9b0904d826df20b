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

#include "net/TlsSession.h"
#include "tests/support/AudioRig.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/TempDir.h"
#include "tests/ui/ProbeWindow.h"
#include "tests/ui/RigDevices.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/ConfigForm.h"
#include "ui/Shape.h"

namespace {

const testing::Environment* const GRig = testing::AddGlobalTestEnvironment(new TRigEnvironment);

const QColor KGreen(0x65, 0xD3, 0x44);
const QColor KRed(0xE8, 0x29, 0x29);

// The lines of section [ASection] of an INI file's text.
std::string IniSection(const std::string& AText, const std::string& ASection)
{
    const std::string header = "[" + ASection + "]";
    const size_t start = AText.find(header);
    if (start == std::string::npos)
        return {};
    const size_t next = AText.find("\n[", start);
    return AText.substr(start, next == std::string::npos ? std::string::npos : next - start);
}

// The question about the certificate with AFingerprint of the server on
// loopback port APort.
std::string TrustQuestion(int APort, const std::string& AFingerprint)
{
    return "O certificado do servidor 127.0.0.1:" + std::to_string(APort) +
           " não é confiável. Impressão digital SHA-256:\n" + AFingerprint +
           "\n\nConfiar neste certificado para este servidor?";
}

// The next question, a message box whose default is "No", is counted in
// ACount, its text kept in AText, and answered with AAnswer.
void AnswerNextQuestion(QMessageBox::StandardButton AAnswer, int& ACount, std::string& AText)
{
    OnNextModal([&ACount, &AText, AAnswer](QWidget* ADialog) {
        auto* box = qobject_cast<QMessageBox*>(ADialog);
        ASSERT_NE(box, nullptr);
        ++ACount;
        AText = box->text().toStdString();
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
        EXPECT_EQ(box->button(QMessageBox::No)->text().toStdString(), "Não");
        box->button(AAnswer)->click();
    });
}

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
    AnswerNextQuestion(QMessageBox::No, questions, question);
    Control<QPushButton>(window, "btnStartStop")->click();
    ASSERT_TRUE(PumpUntil([&] { return questions == 1 && window.Encoder() == nullptr; }, 15000))
        << Text(Control<QLabel>(window, "lblStatus"));
    EXPECT_EQ(question, TrustQuestion(server.Port(), fingerprint));
    EXPECT_NE(Text(Control<QLabel>(window, "lblStatus")).find(fingerprint), std::string::npos)
        << "the reason of the stop stays: " << Text(Control<QLabel>(window, "lblStatus"));
    PumpFor(3500);
    EXPECT_EQ(questions, 1) << "asked again";
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    TEncoderConfig stored;
    LoadEncoderConfigFrom(settings, stored);
    EXPECT_EQ(stored.TlsFingerprint, "");

    // "Yes": pinned in the settings, and the next start goes on air.
    AnswerNextQuestion(QMessageBox::Yes, questions, question);
    Control<QPushButton>(window, "btnStartStop")->click();
    ASSERT_TRUE(PumpUntil([&] { return questions == 2 && window.Encoder() == nullptr; }, 15000))
        << Text(Control<QLabel>(window, "lblStatus"));
    EXPECT_EQ(Text(Control<QLabel>(window, "lblStatus")), "Certificado confiável salvo. Inicie a transmissão novamente.");
    LoadEncoderConfigFrom(settings, stored);
    EXPECT_EQ(stored.TlsFingerprint, fingerprint);
    EXPECT_TRUE(stored.UseTls);

    Control<QPushButton>(window, "btnStartStop")->click();
    EXPECT_TRUE(PumpUntil([&] { return Text(Control<QLabel>(window, "lblStatus")) == "Transmitindo."; }, 20000))
        << Text(Control<QLabel>(window, "lblStatus"));
    EXPECT_EQ(questions, 2);
    Control<QPushButton>(window, "btnStartStop")->click();
    EXPECT_TRUE(PumpUntil([&] { return window.Encoder() == nullptr; }, 10000));
    UiRig().StopTone();
}

// Server 2 over TLS with a certificate of its own, server 1 plain: the
// question names server 2, server 1 stays on air whatever the answer; "No"
// stops server 2 alone with the reason on its mark, "Yes" pins the
// certificate in [Servidor2] and server 2 logs in at its next retry,
// titles and all, without a new start.
TEST(TlsWindow, UntrustedCertificateOfAFurtherServerIsAskedAboutWhileServerOneStreams)
{
    setenv("SSL_CERT_FILE", "/nonexistent-ca-file.pem", 1);
    TIcecastServer first;
    TIcecastServer second(true);
    TTempDir dir;
    WriteTextFile(dir.File("noar.txt"), "Faixa Segura - Servidor Dois\r\n");
    const std::string settings = dir.File("TavixEncoder.ini");
    WriteSettings(settings, [&](TEncoderConfig& c) {
        UseRigAndServer(c, first.Port(), first.SourcePassword());
        c.NoarPath = dir.File("noar.txt");
        TServerRecord& s = c.ExtraServers[0];
        s.Enabled = true;
        s.Host = "127.0.0.1";
        s.Port = second.Port();
        s.Password = second.SourcePassword();
        s.UseTls = true;
        c.ListenerCheckEnabled = true;
    });
    const std::string fingerprint = PemCertificateFingerprint(ReadTextFile(second.CertificateFile()));
    ASSERT_FALSE(fingerprint.empty());
    UiRig().PlayTone(1000, 60, 0.15);
    TProbeWindow window(settings);
    window.show();
    const auto serverOneOnAir = [&] {
        return window.Encoder() != nullptr && Text(Control<QLabel>(window, "lblStatus")) == "Transmitindo." &&
               Control<TShape>(window, "shpServer", 0)->BrushColor() == KGreen;
    };

    int questions = 0;
    std::string question;
    AnswerNextQuestion(QMessageBox::No, questions, question);
    Control<QPushButton>(window, "btnStartStop")->click();
    ASSERT_TRUE(PumpUntil([&] { return questions == 1; }, 15000)) << Control<QWidget>(window, "pnlServerMark", 1)->toolTip().toStdString();
    EXPECT_EQ(question, TrustQuestion(second.Port(), fingerprint));
    ASSERT_TRUE(PumpUntil(serverOneOnAir, 15000)) << Text(Control<QLabel>(window, "lblStatus"));
    // Long enough for a retry, had server 2 kept trying.
    PumpFor(4000);
    EXPECT_EQ(questions, 1) << "asked again";
    EXPECT_TRUE(serverOneOnAir()) << Text(Control<QLabel>(window, "lblStatus"));
    EXPECT_EQ(Control<TShape>(window, "shpServer", 1)->BrushColor(), KRed);
    ASSERT_TRUE(Control<QLabel>(window, "lblServerProblem")->isVisible());
    const std::string reason = Control<QLabel>(window, "lblServerProblem")->toolTip().toStdString();
    EXPECT_TRUE(reason.starts_with("Servidor 2: Certificado do servidor não é confiável: ")) << reason;
    EXPECT_NE(reason.find(fingerprint), std::string::npos) << reason;
    EXPECT_EQ(second.StatusJson().find("Faixa Segura"), std::string::npos) << "server 2 on air after the refusal";
    TEncoderConfig stored;
    LoadEncoderConfigFrom(settings, stored);
    EXPECT_EQ(stored.ExtraServers[0].TlsFingerprint, "");
    Control<QPushButton>(window, "btnStartStop")->click();
    ASSERT_TRUE(PumpUntil([&] { return window.Encoder() == nullptr; }, 10000));

    // "Yes" while server 1 streams: the same transmission goes on.
    AnswerNextQuestion(QMessageBox::Yes, questions, question);
    Control<QPushButton>(window, "btnStartStop")->click();
    TNativeEncoderThread* const transmission = window.Encoder();
    ASSERT_TRUE(PumpUntil([&] { return questions == 2; }, 15000)) << Control<QWidget>(window, "pnlServerMark", 1)->toolTip().toStdString();
    const std::string file = ReadTextFile(settings);
    EXPECT_NE(IniSection(file, "Servidor2").find("TlsFingerprint=" + fingerprint), std::string::npos) << file;
    LoadEncoderConfigFrom(settings, stored);
    EXPECT_EQ(stored.ExtraServers[0].TlsFingerprint, fingerprint);
    EXPECT_EQ(stored.TlsFingerprint, "");

    EXPECT_TRUE(PumpUntil([&] { return Control<TShape>(window, "shpServer", 1)->BrushColor() == KGreen; }, 15000))
        << Control<QWidget>(window, "pnlServerMark", 1)->toolTip().toStdString();
    EXPECT_TRUE(PumpUntil(
        [&] { return Control<QWidget>(window, "pnlServerMark", 1)->toolTip().startsWith("Servidor 2: Transmitindo.\n"); },
        2000))
        << Control<QWidget>(window, "pnlServerMark", 1)->toolTip().toStdString();
    // The title update speaks TLS to server 2 as well, with the same trust.
    EXPECT_TRUE(PumpUntil([&] { return second.StatusJson().find("Faixa Segura") != std::string::npos; }, 10000))
        << second.StatusJson();
    EXPECT_EQ(window.Encoder(), transmission);
    EXPECT_TRUE(serverOneOnAir()) << Text(Control<QLabel>(window, "lblStatus"));
    EXPECT_FALSE(Control<QLabel>(window, "lblServerProblem")->isVisible()) << Text(Control<QLabel>(window, "lblServerProblem"));
    EXPECT_EQ(questions, 2);
    // The listener's check of server 2 trusts the same certificate.
    EXPECT_TRUE(PumpUntil([&] { return second.AccessLog().find("listener check") != std::string::npos; }, 15000))
        << second.AccessLog();
    PumpFor(500);
    EXPECT_FALSE(Control<QLabel>(window, "lblAlarm")->isVisible()) << Control<QLabel>(window, "lblAlarmText")->toolTip().toStdString();
    Control<QPushButton>(window, "btnStartStop")->click();
    EXPECT_TRUE(PumpUntil([&] { return window.Encoder() == nullptr; }, 10000));
    UiRig().StopTone();
}
