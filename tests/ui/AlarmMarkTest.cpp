// The alarms in the main window: a blinking red mark beside the meters'
// title with what is wrong while an alarm is raised, each alarm whole in
// the tooltip, a notice in yellow for a moment, all gone with the
// transmission. The alarms come as the worker hands them over.
#include <set>
#include <string>

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "engine/NativeEncoderThread.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Lang.h"
#include "ui/MainWindow.h"
#include "ui/MeterBox.h"

namespace {

const QColor KRed(0xE8, 0x29, 0x29);
const QColor KYellow(0xF5, 0xD8, 0x36);
const QColor KPanel(0x14, 0x17, 0x1A);

const std::string KSilence = "Silencio no programa ha 20 s (abaixo de -50 dBFS).";
const std::string KNoAudio = "Ouvintes nao recebem audio em http://127.0.0.1:9/stream (nenhum byte em 15.0 s).";
const std::string KTitle = "Titulo no servidor difere: \"A\" em vez de \"B\".";

QColor Backdrop(const QWidget* AWidget)
{
    return AWidget->palette().color(QPalette::Window);
}

class AlarmMark : public testing::Test {
protected:
    // A transmission that the worker refuses at once (no password): the
    // window holds it, as running, until stopped.
    void Start()
    {
        FWindow->show();
        Control<QPushButton>(*FWindow, "btnStartStop")->click();
        ASSERT_TRUE(PumpUntilEnded([&] { return FWindow->Encoder(); }, 10000));
        PumpFor(50);
    }

    void Open(const std::function<void(TEncoderConfig&)>& AEdit = {})
    {
        WriteSettings(FSettings, [&](TEncoderConfig& c) {
            c.Host = "127.0.0.1";
            c.Port = 9; // nothing answers a listener query there
            if (AEdit)
                AEdit(c);
        });
        FWindow = std::make_unique<TFrmPrincipal>(FSettings);
        FWindow->show();
    }

    void Alarm(int AServer, TAlarmKind AKind, bool ARaised, const std::string& AText)
    {
        FWindow->Station().HandleAlarm({AServer, AKind, ARaised, AText});
    }

    bool MarkShown() const { return Control<QLabel>(*FWindow, "lblAlarm")->isVisible(); }
    std::string Line() const { return Text(Control<QLabel>(*FWindow, "lblAlarmText")); }
    std::string Tip() const { return Control<QLabel>(*FWindow, "lblAlarmText")->toolTip().toStdString(); }

    // On the meters' title row: clear of the title, above the meters,
    // inside the window and whole.
    void ExpectInItsRow(const std::string& AWhen)
    {
        const QRect text = InWindow(Control<QLabel>(*FWindow, "lblAlarmText"));
        EXPECT_TRUE(InWindow(Control<QWidget>(*FWindow, "pnlVu")).contains(text)) << AWhen;
        EXPECT_LT(text.bottom(), InWindow(Control<TMeterBox>(*FWindow, "pbVuL")).top()) << AWhen;
        EXPECT_LT(text.bottom(), InWindow(Control<TMeterBox>(*FWindow, "pbAnalogL")).top()) << AWhen;
        EXPECT_LE(Control<QLabel>(*FWindow, "lblAlarmText")->fontMetrics().horizontalAdvance(Control<QLabel>(*FWindow, "lblAlarmText")->text()),
                  text.width())
            << AWhen;
        const QRect title = InWindow(Control<QLabel>(*FWindow, "lblVuTitle"));
        if (MarkShown()) {
            const QRect mark = InWindow(Control<QLabel>(*FWindow, "lblAlarm"));
            EXPECT_GT(mark.left(), title.right()) << AWhen;
            EXPECT_LT(mark.right(), text.left()) << AWhen;
            EXPECT_GE(mark.width(), Control<QLabel>(*FWindow, "lblAlarm")->sizeHint().width()) << AWhen;
            EXPECT_EQ(mark.top(), text.top()) << AWhen;
        }
        EXPECT_GT(text.left(), title.right()) << AWhen;
    }

    TTempDir FDir;
    std::string FSettings = FDir.File("TavixEncoder.ini");
    std::unique_ptr<TFrmPrincipal> FWindow;
};

} // namespace

TEST_F(AlarmMark, TwoRaisedOneClearsTheOtherStaysWithItsWholeTextInTheTooltip)
{
    Open([](TEncoderConfig& c) {
        c.ExtraServers[0].Enabled = true;
        c.ExtraServers[0].Host = "127.0.0.1";
        c.ExtraServers[0].Port = 9;
    });
    EXPECT_FALSE(MarkShown());
    EXPECT_FALSE(Control<QLabel>(*FWindow, "lblAlarmText")->isVisible());
    Start();
    EXPECT_FALSE(MarkShown()) << "nothing raised yet";

    Alarm(0, TAlarmKind::Silence, true, KSilence);
    ASSERT_TRUE(MarkShown());
    EXPECT_EQ(Text(Control<QLabel>(*FWindow, "lblAlarm")), "ALARME");
    EXPECT_EQ(Backdrop(Control<QLabel>(*FWindow, "lblAlarm")), KRed);
    EXPECT_TRUE(Control<QLabel>(*FWindow, "lblAlarmText")->isVisible());
    // The programme's alarm has no server to name.
    EXPECT_EQ(Line(), "Silencio no programa");
    EXPECT_EQ(TextColor(Control<QLabel>(*FWindow, "lblAlarmText")), KRed);
    EXPECT_EQ(Tip(), KSilence);
    ExpectInItsRow("one");

    // The newest first; the server named, several being in use.
    Alarm(2, TAlarmKind::NoAudio, true, KNoAudio);
    EXPECT_EQ(Line(), "Servidor 2: Ouvintes nao recebem audio \xC2\xB7 Silencio no programa");
    EXPECT_EQ(Tip(), "Servidor 2: " + KNoAudio + "\n" + KSilence);
    EXPECT_EQ(Control<QLabel>(*FWindow, "lblAlarm")->toolTip().toStdString(), Tip());
    ExpectInItsRow("two");

    // Sound back in the programme: the listeners' alarm stays, alone.
    Alarm(0, TAlarmKind::Silence, false, "Som de volta no programa.");
    ASSERT_TRUE(MarkShown());
    EXPECT_EQ(Line(), "Servidor 2: Ouvintes nao recebem audio");
    EXPECT_EQ(Tip(), "Servidor 2: " + KNoAudio);
    EXPECT_TRUE(Control<QTimer>(*FWindow, "tmrAlarm")->isActive());

    // The same alarm of another server is another alarm; the same one
    // raised again takes its new reason and is not shown twice.
    Alarm(1, TAlarmKind::NoAudio, true, "Ouvintes nao recebem audio em http://127.0.0.1:9/stream (8 kbit em 15.0 s).");
    const std::string again = "Ouvintes nao recebem audio em http://127.0.0.1:9/stream (16 kbit em 15.0 s).";
    Alarm(2, TAlarmKind::NoAudio, true, again);
    // Too long for the row: the newest whole, the rest cut at the end.
    EXPECT_TRUE(Line().starts_with("Servidor 2: Ouvintes nao recebem audio \xC2\xB7 Servidor 1: ")) << Line();
    EXPECT_TRUE(Line().ends_with("\xE2\x80\xA6")) << Line();
    EXPECT_EQ(Tip(), "Servidor 2: " + again +
                         "\nServidor 1: Ouvintes nao recebem audio em http://127.0.0.1:9/stream (8 kbit em 15.0 s).");

    // Each cleared: none left, nothing shown and no blinking.
    Alarm(1, TAlarmKind::NoAudio, false, "Ouvintes voltaram a receber audio.");
    Alarm(2, TAlarmKind::NoAudio, false, "Ouvintes voltaram a receber audio.");
    EXPECT_FALSE(MarkShown());
    EXPECT_FALSE(Control<QLabel>(*FWindow, "lblAlarmText")->isVisible());
    EXPECT_FALSE(Control<QTimer>(*FWindow, "tmrAlarm")->isActive());
    EXPECT_TRUE(Control<QLabel>(*FWindow, "lblAlarmText")->toolTip().isEmpty());
    // A clear of what was never raised changes nothing.
    Alarm(3, TAlarmKind::TitleDiffers, false, "Titulo no servidor confere.");
    EXPECT_FALSE(MarkShown());
    Control<QPushButton>(*FWindow, "btnStartStop")->click();
}

TEST_F(AlarmMark, TheMarkBlinksWhileRaisedAndStopsWhenNoneIsLeft)
{
    Open();
    Start();
    Alarm(1, TAlarmKind::SilentStream, true, "Ouvintes recebem silencio em http://127.0.0.1:9/stream.");
    // One server alone: no number before it.
    EXPECT_EQ(Line(), "Ouvintes recebem silencio");
    // About twice a second, on and off, and the text stays as it is.
    EXPECT_LE(Control<QTimer>(*FWindow, "tmrAlarm")->interval(), 500);
    ASSERT_EQ(Backdrop(Control<QLabel>(*FWindow, "lblAlarm")), KRed);
    ASSERT_TRUE(PumpUntil([&] { return Backdrop(Control<QLabel>(*FWindow, "lblAlarm")) == KPanel; }, 1000));
    EXPECT_TRUE(MarkShown());
    EXPECT_EQ(Line(), "Ouvintes recebem silencio");
    ASSERT_TRUE(PumpUntil([&] { return Backdrop(Control<QLabel>(*FWindow, "lblAlarm")) == KRed; }, 1000));
    EXPECT_EQ(Text(Control<QLabel>(*FWindow, "lblAlarm")), "ALARME");

    // Cleared while dark: a new alarm blinks again, starting lit.
    ASSERT_TRUE(PumpUntil([&] { return Backdrop(Control<QLabel>(*FWindow, "lblAlarm")) == KPanel; }, 1000));
    Alarm(1, TAlarmKind::SilentStream, false, "Ouvintes voltaram a ouvir o programa.");
    EXPECT_FALSE(Control<QTimer>(*FWindow, "tmrAlarm")->isActive());
    EXPECT_FALSE(MarkShown());
    Alarm(1, TAlarmKind::TitleDiffers, true, KTitle);
    EXPECT_TRUE(Control<QTimer>(*FWindow, "tmrAlarm")->isActive());
    EXPECT_EQ(Backdrop(Control<QLabel>(*FWindow, "lblAlarm")), KRed);
    EXPECT_EQ(Line(), "Titulo no servidor difere");
    Control<QPushButton>(*FWindow, "btnStartStop")->click();
}

TEST_F(AlarmMark, TheEndOfTheTransmissionClearsEveryAlarmAndTheControlInterfaceTellsThem)
{
    const int port = FreeLoopbackPort();
    Open([&](TEncoderConfig& c) {
        c.ControlEnabled = true;
        c.ControlPort = port;
        c.ControlToken = "ficha";
    });
    const auto status = [port] {
        return RunCommand("curl -s -m 5 -H 'Authorization: Bearer ficha' " +
                          ShellQuote("http://127.0.0.1:" + std::to_string(port) + "/status"));
    };
    Start();
    Alarm(0, TAlarmKind::Silence, true, KSilence);
    Alarm(1, TAlarmKind::TitleDiffers, true, KTitle);
    const std::string raised = status();
    EXPECT_NE(raised.find(R"("event":"silence")"), std::string::npos) << raised;
    EXPECT_NE(raised.find(R"("event":"title_differs")"), std::string::npos) << raised;
    // A notice is no alarm.
    Alarm(0, TAlarmKind::ActionFailed, false, "Webhook do alarme falhou: conexao recusada.");
    EXPECT_EQ(status().find("action_failed"), std::string::npos);
    Alarm(0, TAlarmKind::Silence, false, "Som de volta no programa.");
    const std::string cleared = status();
    EXPECT_EQ(cleared.find(R"("event":"silence")"), std::string::npos) << cleared;
    EXPECT_NE(cleared.find(R"("event":"title_differs")"), std::string::npos) << cleared;
    Alarm(0, TAlarmKind::Silence, true, KSilence);

    // The worker says nothing more at its stop: the window clears them.
    Control<QPushButton>(*FWindow, "btnStartStop")->click();
    ASSERT_EQ(FWindow->Encoder(), nullptr);
    EXPECT_FALSE(MarkShown());
    EXPECT_FALSE(Control<QLabel>(*FWindow, "lblAlarmText")->isVisible());
    EXPECT_FALSE(Control<QTimer>(*FWindow, "tmrAlarm")->isActive());
    const std::string stopped = status();
    EXPECT_NE(stopped.find(R"("state":"stopped")"), std::string::npos) << stopped;
    EXPECT_EQ(stopped.find("\"event\""), std::string::npos) << stopped;

    // A worker that ends by itself ends its alarms too.
    Control<QPushButton>(*FWindow, "btnStartStop")->click();
    Alarm(0, TAlarmKind::Silence, true, KSilence);
    EXPECT_TRUE(MarkShown());
    ASSERT_TRUE(PumpUntilEnded([&] { return FWindow->Encoder(); }, 10000));
    EXPECT_FALSE(MarkShown());
    EXPECT_FALSE(Control<QTimer>(*FWindow, "tmrAlarm")->isActive());
    EXPECT_EQ(status().find("\"event\""), std::string::npos);
    Control<QPushButton>(*FWindow, "btnStartStop")->click();
}

TEST_F(AlarmMark, ANoticeShowsInYellowForAMomentWithoutBlinking)
{
    Open();
    constexpr int KMomentMs = 200;
    Control<QTimer>(*FWindow, "tmrAlarmNotice")->setInterval(KMomentMs);
    Start();
    const std::string off = "Verificacao do som dos ouvintes desligada: decodificador de Opus ausente.";
    Alarm(1, TAlarmKind::CheckOff, false, off);
    EXPECT_FALSE(MarkShown()) << "a notice has no mark";
    EXPECT_FALSE(Control<QTimer>(*FWindow, "tmrAlarm")->isActive());
    ASSERT_TRUE(Control<QLabel>(*FWindow, "lblAlarmText")->isVisible());
    EXPECT_EQ(Line(), off);
    EXPECT_EQ(TextColor(Control<QLabel>(*FWindow, "lblAlarmText")), KYellow);
    EXPECT_EQ(Tip(), off);
    // It takes the mark's place.
    EXPECT_EQ(Control<QLabel>(*FWindow, "lblAlarmText")->x(), Control<QLabel>(*FWindow, "lblAlarm")->x());
    ExpectInItsRow("notice");
    ASSERT_TRUE(PumpUntil([&] { return !Control<QLabel>(*FWindow, "lblAlarmText")->isVisible(); }, 5 * KMomentMs));
    EXPECT_FALSE(MarkShown());

    // Beside a raised alarm: the alarm keeps its mark and its blinking,
    // and comes back once the moment is over.
    Alarm(0, TAlarmKind::Silence, true, KSilence);
    const std::string failed = "Comando do alarme falhou: saida 127.";
    Alarm(0, TAlarmKind::ActionFailed, false, failed);
    EXPECT_TRUE(MarkShown());
    EXPECT_TRUE(Control<QTimer>(*FWindow, "tmrAlarm")->isActive());
    EXPECT_EQ(Line(), failed);
    EXPECT_EQ(TextColor(Control<QLabel>(*FWindow, "lblAlarmText")), KYellow);
    EXPECT_EQ(Tip(), failed + "\n" + KSilence);
    ExpectInItsRow("notice beside an alarm");
    ASSERT_TRUE(PumpUntil([&] { return Line() == "Silencio no programa"; }, 5 * KMomentMs)) << Line();
    EXPECT_EQ(TextColor(Control<QLabel>(*FWindow, "lblAlarmText")), KRed);
    EXPECT_EQ(Tip(), KSilence);

    // An alarm's change shows at once, the notice's moment cut short.
    Alarm(0, TAlarmKind::ActionFailed, false, failed);
    Alarm(1, TAlarmKind::NoAudio, true, KNoAudio);
    EXPECT_EQ(Line(), "Ouvintes nao recebem audio \xC2\xB7 Silencio no programa");
    PumpFor(2 * KMomentMs);
    EXPECT_EQ(Line(), "Ouvintes nao recebem audio \xC2\xB7 Silencio no programa");
    Control<QPushButton>(*FWindow, "btnStartStop")->click();
}

TEST_F(AlarmMark, EachAlarmSpeaksTheWindowsLanguageAndFitsItsRow)
{
    const std::pair<TAlarmKind, const char*> kinds[] = {
        {TAlarmKind::Silence, "Silencio no programa"},
        {TAlarmKind::NoAudio, "Ouvintes nao recebem audio"},
        {TAlarmKind::SilentStream, "Ouvintes recebem silencio"},
        {TAlarmKind::TitleDiffers, "Titulo no servidor difere"},
    };
    for (const TLanguage& language : Languages) {
        const std::string code(language.Code);
        Open([&](TEncoderConfig& c) {
            c.Language = code;
            for (TServerRecord& s : c.ExtraServers) {
                s.Enabled = true;
                s.Host = "127.0.0.1";
                s.Port = 9;
            }
        });
        Start();
        EXPECT_EQ(Text(Control<QLabel>(*FWindow, "lblAlarm")), Translate(code, "alarm_mark")) << code;
        std::set<std::string> names;
        for (const auto& [kind, portuguese] : kinds) {
            Alarm(0, kind, true, "x");
            names.insert(Line());
            if (code == "pt-BR")
                EXPECT_EQ(Line(), portuguese);
            else
                EXPECT_NE(Line(), portuguese) << code;
            ExpectInItsRow(code + " " + Line());
            Alarm(0, kind, false, "");
        }
        EXPECT_EQ(names.size(), std::size(kinds)) << code;
        // Every kind of every server at once: cut to fit, whole in the
        // tooltip.
        for (int server = 1; server <= 4; ++server)
            for (const auto& [kind, portuguese] : kinds)
                Alarm(server, kind, true, "server " + std::to_string(server));
        ExpectInItsRow(code + " all");
        EXPECT_EQ(Control<QLabel>(*FWindow, "lblAlarmText")->toolTip().count('\n'), 15) << code;
        // The newest first: server 4's title.
        const QString newest = QString::fromStdString(Translate(code, "server_line"))
                                   .arg(4)
                                   .arg(QString::fromStdString(Translate(code, "alarm_title_differs")));
        EXPECT_TRUE(Control<QLabel>(*FWindow, "lblAlarmText")->text().startsWith(newest)) << code << " " << Line();
        Control<QPushButton>(*FWindow, "btnStartStop")->click();
    }
}
