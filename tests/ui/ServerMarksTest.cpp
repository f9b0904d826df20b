// The servers' marks in the main window's top bar and the listener count
// of several servers: each server in use gets a light that follows its
// own states, a further server's trouble is told in words beside the
// marks while the status line stays server 1's, and the count is the sum
// of the servers' counts. With server 1 alone the bar is as it always was.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "engine/NativeEncoderThread.h"
#include "tests/services/FakeAdminServer.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/MainWindow.h"
#include "ui/Shape.h"

namespace {

TOutputState State(TOutputPhase APhase, const std::string& AText, TRefusal ARefusal = TRefusal::None, int AAttempt = 0,
                   int ACode = 0, bool ABehind = false)
{
    TOutputState s;
    s.Phase = APhase;
    s.Refusal = ARefusal;
    s.Attempt = AAttempt;
    s.AnswerCode = ACode;
    s.Behind = ABehind;
    s.Text = AText;
    return s;
}


const QColor KGreen(0x65, 0xD3, 0x44);
const QColor KRed(0xE8, 0x29, 0x29);
const QColor KYellow(0xF5, 0xD8, 0x36);
const QColor KGrey(0x80, 0x80, 0x80);

// A server of the settings, numbered as the operator sees it (2 to 4).
TServerRecord& Server(TEncoderConfig& AConfig, int AServer)
{
    return AConfig.ExtraServers[static_cast<size_t>(AServer - 2)];
}

void UseServer(TEncoderConfig& AConfig, int AServer, int APort)
{
    TServerRecord& s = Server(AConfig, AServer);
    s.Enabled = true;
    s.Host = "127.0.0.1";
    s.Port = APort;
}

// FakeStatsPage: an Icecast statistics page with a chosen listener count,
// which a real icecast2 only gives with that many real listeners.
std::string StatsReply(int AListeners)
{
    return "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n"
           "{\"icestats\":{\"server_id\":\"Icecast 2.4.4\",\"source\":{\"listener_peak\":99,\"listeners\":" +
           std::to_string(AListeners) + ",\"listenurl\":\"http://127.0.0.1/stream\"}}}";
}

class ServerMarks : public testing::Test {
protected:
    // A transmission that the worker refuses at once (server 1 has no
    // password): the window holds it, as running, until stopped, and
    // nothing the worker says comes after its end.
    void Start(TFrmPrincipal& AWindow)
    {
        AWindow.show();
        Control<QPushButton>(AWindow, "btnStartStop")->click();
        ASSERT_TRUE(PumpUntilEnded([&] { return AWindow.Encoder(); }, 10000));
        PumpFor(100);
        ASSERT_EQ(Text(Control<QLabel>(AWindow, "lblStatus")), "Configure a senha do servidor.");
    }

    std::string Settings(const std::function<void(TEncoderConfig&)>& AEdit)
    {
        WriteSettings(FSettings, [&](TEncoderConfig& c) {
            c.Host = "127.0.0.1";
            c.Port = 9; // nothing answers a listener query there
            AEdit(c);
        });
        return FSettings;
    }

    TTempDir FDir;
    std::string FSettings = FDir.File("TavixEncoder.ini");
};

} // namespace

TEST_F(ServerMarks, EachServerInUseHasALightThatFollowsItsOwnStates)
{
    TFrmPrincipal w(Settings([](TEncoderConfig& c) {
        UseServer(c, 2, 9);
        UseServer(c, 4, 9);
        Server(c, 4).Mount = "/live4";
        Server(c, 4).Bitrate = 64;
        Server(c, 3).Host = "127.0.0.1"; // set up but not ticked
    }));
    w.show();
    for (QWidget* mark : Controls<QWidget>(w, "pnlServerMark"))
        EXPECT_FALSE(mark->isVisible()) << "none before a transmission";
    Start(w);
    const std::vector<bool> shown = {true, true, false, true};
    for (size_t i = 0; i < shown.size(); ++i)
        EXPECT_EQ(Control<QWidget>(w, "pnlServerMark", i)->isVisible(), shown[i]) << i + 1;
    // Server 1's refusal reached its light.
    EXPECT_EQ(Control<TShape>(w, "shpServer", 0)->BrushColor(), KRed);
    // Its state and where it streams.
    EXPECT_EQ(Control<QWidget>(w, "pnlServerMark", 0)->toolTip().toStdString(),
              "Servidor 1: Configure a senha do servidor.\n127.0.0.1:9 /stream \xC2\xB7 192 kbps");
    // The others wait in yellow until their first word.
    EXPECT_EQ(Control<TShape>(w, "shpServer", 1)->BrushColor(), KYellow);
    EXPECT_EQ(Control<TShape>(w, "shpServer", 3)->BrushColor(), KYellow);

    // In number order, in the top bar, on the listener line, left of the
    // count and clear of the status line above.
    const QRect bar = InWindow(Control<QWidget>(w, "pnlTop"));
    int left = InWindow(Control<QLabel>(w, "lblTitle")).right();
    for (int i : {0, 1, 3}) {
        const QRect mark = InWindow(Control<QWidget>(w, "pnlServerMark", i));
        EXPECT_TRUE(bar.contains(mark)) << i + 1;
        EXPECT_GT(mark.left(), left) << i + 1;
        EXPECT_GT(mark.top(), InWindow(Control<QLabel>(w, "lblStatus")).bottom()) << i + 1;
        EXPECT_LT(mark.right(), InWindow(Control<QLabel>(w, "lblListeners")).left()) << i + 1;
        left = mark.right();
    }

    w.StationView().OutputChanged(1, State(TOutputPhase::OnAir, "Transmitindo."));
    w.StationView().OutputChanged(2, State(TOutputPhase::Connecting, "Conectando ao servidor de radio em 127.0.0.1:8001..."));
    EXPECT_EQ(Control<TShape>(w, "shpServer", 0)->BrushColor(), KGreen);
    EXPECT_EQ(Control<TShape>(w, "shpServer", 1)->BrushColor(), KYellow);
    // Not on air yet: said beside the marks, in the mark's colour.
    EXPECT_TRUE(Control<QLabel>(w, "lblServerProblem")->isVisible());
    EXPECT_EQ(Text(Control<QLabel>(w, "lblServerProblem")), "Servidor 2: Conectando ao servidor de radio em 127.0.0.1:8001...");
    EXPECT_EQ(TextColor(Control<QLabel>(w, "lblServerProblem")), KYellow);

    w.StationView().OutputChanged(2, State(TOutputPhase::OnAir, "Transmitindo."));
    EXPECT_EQ(Control<TShape>(w, "shpServer", 1)->BrushColor(), KGreen);
    w.StationView().OutputChanged(4, State(TOutputPhase::OnAir, "Transmitindo."));
    EXPECT_FALSE(Control<QLabel>(w, "lblServerProblem")->isVisible()) << "all on air: nothing to say";

    // A refused login of server 4: red light, the reason beside the marks,
    // and server 1's status line as it was.
    const std::string refused = "Tentando reconectar ao servidor de radio (3)... (401 senha recusada)";
    w.StationView().OutputChanged(4, State(TOutputPhase::Retrying, refused, TRefusal::PasswordRefused, 3, 401));
    EXPECT_EQ(Control<TShape>(w, "shpServer", 3)->BrushColor(), KRed);
    EXPECT_EQ(Control<QWidget>(w, "pnlServerMark", 3)->toolTip().toStdString(),
              "Servidor 4: " + refused + "\n127.0.0.1:9 /live4 \xC2\xB7 64 kbps");
    // Shortened in the middle where it must be: the server and the reason
    // stay; the whole of it in the tooltip.
    EXPECT_EQ(Control<QLabel>(w, "lblServerProblem")->toolTip().toStdString(), "Servidor 4: " + refused);
    EXPECT_TRUE(Text(Control<QLabel>(w, "lblServerProblem")).starts_with("Servidor 4: ")) << Text(Control<QLabel>(w, "lblServerProblem"));
    EXPECT_TRUE(Text(Control<QLabel>(w, "lblServerProblem")).ends_with("(401 senha recusada)")) << Text(Control<QLabel>(w, "lblServerProblem"));
    EXPECT_EQ(TextColor(Control<QLabel>(w, "lblServerProblem")), KRed);
    EXPECT_EQ(Text(Control<QLabel>(w, "lblStatus")), "Transmitindo.");
    EXPECT_EQ(TextColor(Control<QLabel>(w, "lblStatus")), KGreen);
    EXPECT_EQ(Control<TShape>(w, "shpLed")->BrushColor(), KGreen);
    const QRect words = InWindow(Control<QLabel>(w, "lblServerProblem"));
    EXPECT_GT(words.left(), InWindow(Control<QLabel>(w, "lblTitle")).right());
    EXPECT_LT(words.right(), InWindow(Control<QWidget>(w, "pnlServerMark", 0)).left());
    EXPECT_LE(Control<QLabel>(w, "lblServerProblem")->fontMetrics().horizontalAdvance(Control<QLabel>(w, "lblServerProblem")->text()), words.width());

    // A trouble outranks a server on its way, whatever their numbers.
    w.StationView().OutputChanged(2, State(TOutputPhase::Retrying, "Servidor fechou a conexao. Reconectando..."));
    EXPECT_EQ(Control<TShape>(w, "shpServer", 1)->BrushColor(), KYellow);
    EXPECT_EQ(Control<QLabel>(w, "lblServerProblem")->toolTip().toStdString(), "Servidor 4: " + refused);
    w.StationView().OutputChanged(4, State(TOutputPhase::OnAir, "Reconectado ao servidor de radio."));
    EXPECT_EQ(Control<TShape>(w, "shpServer", 3)->BrushColor(), KGreen);
    EXPECT_EQ(Text(Control<QLabel>(w, "lblServerProblem")), "Servidor 2: Servidor fechou a conexao. Reconectando...");

    // Server 1's troubles are the status line's, never the words beside.
    w.StationView().OutputChanged(2, State(TOutputPhase::OnAir, "Reconectado ao servidor de radio."));
    w.StationView().OutputChanged(1, State(TOutputPhase::Connecting, "Servidor recusou a conexão source Icecast.",
                                           TRefusal::PasswordRefused, 0, 401));
    EXPECT_EQ(Control<TShape>(w, "shpServer", 0)->BrushColor(), KRed);
    EXPECT_FALSE(Control<QLabel>(w, "lblServerProblem")->isVisible());

    // A server not ticked has no light to change.
    w.StationView().OutputChanged(3, State(TOutputPhase::OnAir, "Transmitindo."));
    EXPECT_FALSE(Control<QWidget>(w, "pnlServerMark", 2)->isVisible());

    Control<QPushButton>(w, "btnStartStop")->click();
    ASSERT_EQ(w.Encoder(), nullptr);
    for (QWidget* mark : Controls<QWidget>(w, "pnlServerMark"))
        EXPECT_FALSE(mark->isVisible());
    EXPECT_FALSE(Control<QLabel>(w, "lblServerProblem")->isVisible());

    // The next transmission starts from yellow, not from the last states.
    Start(w);
    EXPECT_EQ(Control<TShape>(w, "shpServer", 3)->BrushColor(), KYellow);
    Control<QPushButton>(w, "btnStartStop")->click();
}

TEST_F(ServerMarks, WhatEachKindOfStatusShows)
{
    TFrmPrincipal w(Settings([](TEncoderConfig& c) { UseServer(c, 3, 9); }));
    Start(w);
    struct TCase {
        TOutputState State;
        QColor Light;
    };
    using P = TOutputPhase;
    using R = TRefusal;
    const TCase cases[] = {
        {State(P::Connecting, "Conectando ao servidor de radio em radio.example.net:8000..."), KYellow},
        {State(P::Connecting, "Canal de retorno: Monitor of Null Output"), KYellow},
        {State(P::Connecting, "Host não encontrado: radio.example.net", R::HostNotFound), KRed},
        {State(P::OnAir, "Conectado ao servidor de rádio Icecast (PUT)."), KGreen},
        {State(P::OnAir, "Transmitindo."), KGreen},
        {State(P::OnAir, "Reconectado ao servidor de radio."), KGreen},
        {State(P::Retrying, "Servidor fechou a conexao. Reconectando..."), KYellow},
        {State(P::Retrying, "Nao conectou ao servidor de radio. Reconectando..."), KYellow},
        {State(P::Retrying, "Servidor fechou durante a reconexao. Tentando novamente..."), KYellow},
        {State(P::Retrying, "Tentando reconectar ao servidor de radio (2)...", R::None, 2), KYellow},
        {State(P::Retrying, "Tentando reconectar ao servidor de radio (3)... (conexao recusada)", R::ConnectionRefused, 3),
         KRed},
        {State(P::Retrying, "Tentando reconectar ao servidor de radio (4)... (401 senha recusada)", R::PasswordRefused, 4,
               401),
         KRed},
        {State(P::Failed, "Configure o host do servidor.", R::Settings), KRed},
        {State(P::Failed, "Ogg Opus deve ser usado com Icecast. Para Shoutcast comum, use MP3 ou AAC+.", R::Settings),
         KRed},
        {State(P::OnAir, "Servidor lento: parte do audio foi descartada.", R::None, 0, 0, true), KRed},
        {State(P::Stopped, "Parado."), KGrey},
    };
    for (const TCase& c : cases) {
        const QString text = QString::fromStdString(c.State.Text);
        w.StationView().OutputChanged(3, c.State);
        EXPECT_EQ(Control<TShape>(w, "shpServer", 2)->BrushColor(), c.Light) << c.State.Text;
        EXPECT_TRUE(Control<QWidget>(w, "pnlServerMark", 2)->toolTip().startsWith(QString("Servidor 3: ") + text + "\n")) << c.State.Text;
        // Words beside the marks for what is neither on air nor stopped.
        EXPECT_EQ(Control<QLabel>(w, "lblServerProblem")->isVisible(), c.Light == KYellow || c.Light == KRed) << c.State.Text;
    }
    Control<QPushButton>(w, "btnStartStop")->click();
}

TEST_F(ServerMarks, TheCountIsTheSumOfTheServersInUseEachInTheTooltip)
{
    TFakeAdminServer first(StatsReply(3)), second(StatsReply(4)), third(StatsReply(100)), fourth(StatsReply(5));
    TFrmPrincipal w(Settings([&](TEncoderConfig& c) {
        c.Port = first.Port();
        UseServer(c, 2, second.Port());
        UseServer(c, 4, fourth.Port());
        Server(c, 3).Host = "127.0.0.1";
        Server(c, 3).Port = third.Port();
    }));
    w.show();
    EXPECT_EQ(Text(Control<QLabel>(w, "lblListeners")), "Ouvintes: --");
    Start(w); // asks every server in use at once
    ASSERT_TRUE(PumpUntil([&] { return Text(Control<QLabel>(w, "lblListeners")) == "Ouvintes: 12"; }, 15000)) << Text(Control<QLabel>(w, "lblListeners"));
    ASSERT_TRUE(PumpUntil([&] { return Control<QLabel>(w, "lblListeners")->toolTip().count('\n') == 2; }, 5000));
    EXPECT_EQ(Control<QLabel>(w, "lblListeners")->toolTip().toStdString(), "Servidor 1: 3\nServidor 2: 4\nServidor 4: 5");
    EXPECT_EQ(InWindow(Control<QLabel>(w, "lblListeners")).right() + 1, 925);
    // Each server was asked for its own page; the one not ticked never.
    for (TFakeAdminServer* asked : {&first, &second, &fourth}) {
        ASSERT_FALSE(asked->Requests().empty());
        for (const std::string& request : asked->Requests())
            EXPECT_EQ(request.rfind("GET /status-json.xsl ", 0), 0u) << request;
    }
    EXPECT_TRUE(third.Requests().empty());

    // A server with no count leaves the others' sum, and says "--".
    w.Station().HandleListenerResult(2, -1);
    EXPECT_EQ(Text(Control<QLabel>(w, "lblListeners")), "Ouvintes: 8");
    EXPECT_EQ(Control<QLabel>(w, "lblListeners")->toolTip().toStdString(), "Servidor 1: 3\nServidor 2: --\nServidor 4: 5");
    // The marks keep clear of a count that grows.
    w.Station().HandleListenerResult(1, 123456);
    EXPECT_LT(InWindow(Control<QWidget>(w, "pnlServerMark", 3)).right(), InWindow(Control<QLabel>(w, "lblListeners")).left());
    for (int n : {1, 4})
        w.Station().HandleListenerResult(n, -1);
    EXPECT_EQ(Text(Control<QLabel>(w, "lblListeners")), "Ouvintes: --");

    // In the window's language, and gone with the transmission.
    Control<QPushButton>(w, "btnStartStop")->click();
    EXPECT_EQ(Text(Control<QLabel>(w, "lblListeners")), "Ouvintes: --");
    EXPECT_EQ(Control<QLabel>(w, "lblListeners")->toolTip().toStdString(), "Servidor 1: --\nServidor 2: --\nServidor 4: --");
}

TEST_F(ServerMarks, WithServerOneAloneTheTopBarIsAsItWas)
{
    TFakeAdminServer stats(StatsReply(7)), unused(StatsReply(50));
    TFrmPrincipal w(Settings([&](TEncoderConfig& c) {
        c.Port = stats.Port();
        // Filled in but not ticked: not used at all.
        Server(c, 2).Host = "127.0.0.1";
        Server(c, 2).Port = unused.Port();
        Server(c, 2).Password = "hackme";
    }));
    Start(w);
    ASSERT_TRUE(PumpUntil([&] { return Text(Control<QLabel>(w, "lblListeners")) == "Ouvintes: 7"; }, 15000)) << Text(Control<QLabel>(w, "lblListeners"));
    w.StationView().OutputChanged(2,
                         State(TOutputPhase::Retrying, "Tentando reconectar ao servidor de radio (3)... (401 senha recusada)",
                               TRefusal::PasswordRefused, 3, 401));
    w.Station().HandleListenerResult(2, 50);
    // Only what the bar always showed.
    std::vector<const QWidget*> visible;
    for (const QWidget* child : Control<QWidget>(w, "pnlTop")->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->isVisible())
            visible.push_back(child);
    const std::vector<const QWidget*> always = {Control<QLabel>(w, "Image1"), Control<QLabel>(w, "lblTitle"), Control<QLabel>(w, "lblStatus"), Control<TShape>(w, "shpLed"), Control<QLabel>(w, "lblListeners")};
    EXPECT_EQ(visible, always);
    EXPECT_EQ(Text(Control<QLabel>(w, "lblListeners")), "Ouvintes: 7");
    EXPECT_TRUE(Control<QLabel>(w, "lblListeners")->toolTip().isEmpty());
    EXPECT_EQ(Text(Control<QLabel>(w, "lblStatus")), "Configure a senha do servidor.");
    EXPECT_FALSE(stats.Requests().empty());
    EXPECT_TRUE(unused.Requests().empty()) << "the server not ticked is never asked";
    Control<QPushButton>(w, "btnStartStop")->click();
    EXPECT_TRUE(Control<QLabel>(w, "lblListeners")->toolTip().isEmpty());
}

// The lines and the engine's states alike: Portuguese word for word as the
// log has them, the others made from the state.
TEST_F(ServerMarks, TheServersLinesSpeakTheWindowsLanguage)
{
    struct TExpected {
        const char* Language;
        const char* Tooltip;
        const char* Refused;
        const char* OnAir;
    };
    const TExpected expected[] = {
        {"pt-BR", "Servidor 1: --\nServidor 2: --",
         "Servidor 2: Tentando reconectar ao servidor de radio (3)... (401 senha recusada)", "Transmitindo."},
        {"en-US", "Server 1: --\nServer 2: --", "Server 2: Reconnecting to the radio server (3)... (401 password refused)",
         "On air."},
        {"es-ES", "Servidor 1: --\nServidor 2: --",
         "Servidor 2: Reconectando con el servidor de radio (3)... (401 contraseña rechazada)", "Transmitiendo."},
        {"fr-FR", "Serveur 1 : --\nServeur 2 : --",
         "Serveur 2 : Reconnexion au serveur radio (3)... (401 mot de passe refusé)", "Diffusion en cours."},
    };
    for (const TExpected& e : expected) {
        TFrmPrincipal w(Settings([&](TEncoderConfig& c) {
            c.Language = e.Language;
            UseServer(c, 2, 9);
        }));
        EXPECT_EQ(Control<QLabel>(w, "lblListeners")->toolTip().toStdString(), e.Tooltip) << e.Language;
        w.StationView().OutputChanged(2,
                             State(TOutputPhase::Retrying,
                                   "Tentando reconectar ao servidor de radio (3)... (401 senha recusada)",
                                   TRefusal::PasswordRefused, 3, 401));
        EXPECT_EQ(Control<QWidget>(w, "pnlServerMark", 1)->toolTip().section('\n', 0, 0).toStdString(), e.Refused) << e.Language;
        w.StationView().OutputChanged(1, State(TOutputPhase::OnAir, "Transmitindo."));
        EXPECT_EQ(Text(Control<QLabel>(w, "lblStatus")), e.OnAir) << e.Language;
    }
}
