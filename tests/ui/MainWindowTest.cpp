// The main window against real peers: a real icecast2, the PulseAudio rig
// and the real streaming worker.
#include <regex>
#include <set>
#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "tests/streaming/FakeSourceServer.h"
#include "tests/support/AudioRig.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "tests/ui/ProbeWindow.h"
#include "tests/ui/RigDevices.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/MeterBox.h"
#include "ui/Shape.h"

namespace {

const QColor KGreen(0x65, 0xD3, 0x44);
const QColor KYellow(0xF5, 0xD8, 0x36);
const QColor KRed(0xE8, 0x29, 0x29);
const QColor KGrey(0x80, 0x80, 0x80);
const QColor KBar(0x1A, 0x1F, 0x24);
const QColor KDim(0xAA, 0xB3, 0xB9);

const testing::Environment* const GRig = testing::AddGlobalTestEnvironment(new TRigEnvironment);

// Whether a VU meter's bar reaches column AX.
bool BarAt(QWidget* AMeter, int AX)
{
    const QRgb pixel = Snapshot(AMeter).pixel(AX, 45);
    return pixel == KGreen.rgb() || pixel == KRed.rgb() || pixel == KYellow.rgb();
}

// The colours the on-air box takes over AMs milliseconds.
std::set<QRgb> BlinkColours(TFrmPrincipal& AWindow, int AMs)
{
    std::set<QRgb> seen;
    PumpUntil(
        [&] {
            seen.insert(Control<TShape>(AWindow, "ShapePisca")->BrushColor().rgb());
            return false;
        },
        AMs);
    return seen;
}

class MainWindowStreaming : public testing::Test {
protected:
    void SetUp() override
    {
        FSettings = FDir.File("TavixEncoder.ini");
        UiRig().PlayTone(1000, 60, 0.15);
    }
    void TearDown() override { UiRig().StopTone(); }

    TEncoderConfig WriteStreamSettings(const std::function<void(TEncoderConfig&)>& AEdit = {})
    {
        return WriteSettings(FSettings, [&](TEncoderConfig& c) {
            UseRigAndServer(c, FServer.Port(), FServer.SourcePassword());
            if (AEdit)
                AEdit(c);
        });
    }

    // Shows the window, presses start and waits for the stream to run.
    static bool StartStreaming(TFrmPrincipal& AWindow)
    {
        AWindow.show();
        Control<QPushButton>(AWindow, "btnStartStop")->click();
        return PumpUntil([&] { return Text(Control<QLabel>(AWindow, "lblStatus")) == "Transmitindo."; }, 20000);
    }

    TIcecastServer FServer;
    TTempDir FDir;
    std::string FSettings;
};

} // namespace

TEST_F(MainWindowStreaming, StartStreamsAndStopReturnsToIdle)
{
    WriteStreamSettings();
    TProbeWindow window(FSettings);
    window.show();
    EXPECT_EQ(Text(Control<QLabel>(window, "lblStatus")), "Parado.");
    EXPECT_EQ(Control<QPushButton>(window, "btnStartStop")->text().toStdString(), "Iniciar transmissão");
    EXPECT_EQ(Control<TShape>(window, "shpLed")->BrushColor(), KGrey);

    Control<QPushButton>(window, "btnStartStop")->click();
    ASSERT_NE(window.Encoder(), nullptr);
    // The settings button stays disabled for as long as a worker exists.
    EXPECT_FALSE(Control<QPushButton>(window, "btnConfig")->isEnabled());
    EXPECT_EQ(Control<QPushButton>(window, "btnStartStop")->text().toStdString(), "Encerrar transmissão");

    ASSERT_TRUE(PumpUntil([&] { return Text(Control<QLabel>(window, "lblStatus")) == "Transmitindo."; }, 20000))
        << Text(Control<QLabel>(window, "lblStatus"));
    EXPECT_EQ(TextColor(Control<QLabel>(window, "lblStatus")), KGreen);
    EXPECT_EQ(Control<TShape>(window, "shpLed")->BrushColor(), KGreen);
    // The status keeps its right edge at 908.
    EXPECT_EQ(Control<QLabel>(window, "lblStatus")->geometry().right() + 1, 908);

    // The on-air box blinks red and dark.
    const std::set<QRgb> blink = BlinkColours(window, 1300);
    EXPECT_TRUE(blink.count(KRed.rgb()));
    EXPECT_TRUE(blink.count(KBar.rgb()));

    // The meters show the tone: bars well into both VU meters.
    ASSERT_TRUE(PumpUntil([&] { return BarAt(Control<TMeterBox>(window, "pbVuL"), 200); }, 5000));
    EXPECT_TRUE(BarAt(Control<TMeterBox>(window, "pbVuR"), 200));

    // The listener line shows a count once the mount exists.
    const std::regex count("Ouvintes: [0-9]+");
    ASSERT_TRUE(PumpUntil(
        [&] {
            window.Station().AskListeners(); // no-op while a query runs
            return std::regex_match(Text(Control<QLabel>(window, "lblListeners")), count);
        },
        20000))
        << Text(Control<QLabel>(window, "lblListeners"));
    EXPECT_FALSE(Control<QPushButton>(window, "btnConfig")->isEnabled());
    SaveWindowShot(&window, "main-streaming.png");

    Control<QPushButton>(window, "btnStartStop")->click(); // StopEncoder returns once the worker is gone
    EXPECT_EQ(window.Encoder(), nullptr);
    EXPECT_TRUE(Control<QPushButton>(window, "btnStartStop")->isEnabled());
    EXPECT_TRUE(Control<QPushButton>(window, "btnConfig")->isEnabled());
    EXPECT_EQ(Control<QPushButton>(window, "btnStartStop")->text().toStdString(), "Iniciar transmissão");
    EXPECT_EQ(Text(Control<QLabel>(window, "lblStatus")), "Parado.");
    // The colour of the worker's own last report ("Parado.", not an error).
    EXPECT_EQ(TextColor(Control<QLabel>(window, "lblStatus")), KGreen);
    EXPECT_EQ(Control<TShape>(window, "shpLed")->BrushColor(), KGrey);
    EXPECT_EQ(Text(Control<QLabel>(window, "lblListeners")), "Ouvintes: --");
    // From the next blink tick on the box stays dark.
    PumpFor(550);
    EXPECT_EQ(BlinkColours(window, 700), std::set<QRgb>{KBar.rgb()});
    // The meters keep their last levels.
    EXPECT_TRUE(BarAt(Control<TMeterBox>(window, "pbVuL"), 200));
}

// Two real icecast2 servers at once, the second at its own bitrate with a
// listener of its own (ffmpeg): both lights turn green, the count is the
// sum of the two servers' and the tooltip says whose is whose.
TEST_F(MainWindowStreaming, TwoServersBothOnAirWithTheirListenersAddedUp)
{
    TIcecastServer second;
    WriteStreamSettings([&](TEncoderConfig& c) {
        TServerRecord& s = c.ExtraServers[0];
        s.Enabled = true;
        s.Host = "127.0.0.1";
        s.Port = second.Port();
        s.Password = second.SourcePassword();
        s.Bitrate = 96;
    });
    TProbeWindow window(FSettings);
    ASSERT_TRUE(StartStreaming(window)) << Text(Control<QLabel>(window, "lblStatus"));
    ASSERT_TRUE(Control<QWidget>(window, "pnlServerMark", 0)->isVisible());
    ASSERT_TRUE(Control<QWidget>(window, "pnlServerMark", 1)->isVisible());
    EXPECT_FALSE(Control<QWidget>(window, "pnlServerMark", 2)->isVisible());
    EXPECT_FALSE(Control<QWidget>(window, "pnlServerMark", 3)->isVisible());
    ASSERT_TRUE(PumpUntil(
        [&] { return Control<TShape>(window, "shpServer", 0)->BrushColor() == KGreen && Control<TShape>(window, "shpServer", 1)->BrushColor() == KGreen; },
        20000))
        << Control<QWidget>(window, "pnlServerMark", 1)->toolTip().toStdString();
    EXPECT_EQ(Control<QWidget>(window, "pnlServerMark", 1)->toolTip().toStdString(),
              "Servidor 2: Transmitindo.\n127.0.0.1:" + std::to_string(second.Port()) + " /stream \xC2\xB7 96 kbps");
    EXPECT_FALSE(Control<QLabel>(window, "lblServerProblem")->isVisible()) << Text(Control<QLabel>(window, "lblServerProblem"));

    TChildProcess listener({RequireProgram("ffmpeg"), "-nostdin", "-loglevel", "error", "-i",
                            second.BaseUrl() + "/stream", "-f", "null", "-"});
    ASSERT_TRUE(PumpUntil(
        [&] {
            window.Station().AskListeners(); // no-op while a query runs
            return Text(Control<QLabel>(window, "lblListeners")) == "Ouvintes: 1" &&
                   Control<QLabel>(window, "lblListeners")->toolTip() == "Servidor 1: 0\nServidor 2: 1";
        },
        30000))
        << Text(Control<QLabel>(window, "lblListeners")) << " / " << Control<QLabel>(window, "lblListeners")->toolTip().toStdString() << "\n"
        << second.StatusJson();
    EXPECT_EQ(Text(Control<QLabel>(window, "lblStatus")), "Transmitindo.");
    SaveWindowShot(&window, "main-two-servers.png");

    Control<QPushButton>(window, "btnStartStop")->click();
    EXPECT_EQ(window.Encoder(), nullptr);
    EXPECT_FALSE(Control<QWidget>(window, "pnlServerMark", 0)->isVisible());
    EXPECT_FALSE(Control<QWidget>(window, "pnlServerMark", 1)->isVisible());
    EXPECT_EQ(Text(Control<QLabel>(window, "lblListeners")), "Ouvintes: --");
}

// A fake: a server that takes the connection and never answers the login.
TEST_F(MainWindowStreaming, WhileTheFirstLoginIsTriedTheWindowSaysSo)
{
    FakeSourceServer silent(FakeSourceServer::TOptions{});
    WriteStreamSettings([&](TEncoderConfig& c) { c.Port = silent.Port(); });
    TProbeWindow window(FSettings);
    window.show();
    Control<QPushButton>(window, "btnStartStop")->click();
    EXPECT_EQ(Text(Control<QLabel>(window, "lblStatus")), "Iniciando transmiss\xC3\xA3o...");
    const std::string connecting = "Conectando ao servidor de radio em 127.0.0.1:" + std::to_string(silent.Port()) + "...";
    ASSERT_TRUE(PumpUntil([&] { return Text(Control<QLabel>(window, "lblStatus")) == connecting; }, 5000)) << Text(Control<QLabel>(window, "lblStatus"));
    EXPECT_EQ(TextColor(Control<QLabel>(window, "lblStatus")), KYellow) << "not on air yet";
    EXPECT_EQ(Control<TShape>(window, "shpLed")->BrushColor(), KYellow);
    // The login hangs for seconds: never "stopped" meanwhile.
    EXPECT_FALSE(PumpUntil([&] { return Text(Control<QLabel>(window, "lblStatus")) != connecting; }, 3000)) << Text(Control<QLabel>(window, "lblStatus"));
    Control<QPushButton>(window, "btnStartStop")->click();
    EXPECT_EQ(Text(Control<QLabel>(window, "lblStatus")), "Parado.");
}

TEST_F(MainWindowStreaming, EmptyHostEndsInRedAndStopStaysOffered)
{
    WriteStreamSettings([](TEncoderConfig& c) { c.Host = ""; });
    TProbeWindow window(FSettings);
    window.show();
    Control<QPushButton>(window, "btnStartStop")->click();
    ASSERT_TRUE(PumpUntilEnded([&] { return window.Encoder(); }, 10000));
    PumpFor(100);
    EXPECT_EQ(Text(Control<QLabel>(window, "lblStatus")), "Configure o host do servidor.");
    EXPECT_EQ(TextColor(Control<QLabel>(window, "lblStatus")), KRed);
    EXPECT_EQ(Control<TShape>(window, "shpLed")->BrushColor(), KRed);
    EXPECT_EQ(Control<QPushButton>(window, "btnStartStop")->text().toStdString(), "Encerrar transmissão");
    EXPECT_FALSE(Control<QPushButton>(window, "btnConfig")->isEnabled());
    EXPECT_EQ(BlinkColours(window, 1300).size(), 2u);

    Control<QPushButton>(window, "btnStartStop")->click();
    EXPECT_EQ(window.Encoder(), nullptr);
    EXPECT_EQ(Text(Control<QLabel>(window, "lblStatus")), "Parado.");
    EXPECT_EQ(TextColor(Control<QLabel>(window, "lblStatus")), KRed);
    EXPECT_TRUE(Control<QPushButton>(window, "btnConfig")->isEnabled());

    // Ended by itself again: closing asks nothing, and the worker is freed
    // with the window.
    Control<QPushButton>(window, "btnStartStop")->click();
    ASSERT_TRUE(PumpUntilEnded([&] { return window.Encoder(); }, 10000));
    const int destroyed = TProbeEncoder::Destroyed;
    EXPECT_TRUE(window.close());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(TProbeEncoder::Destroyed, destroyed);
}

TEST_F(MainWindowStreaming, CloseWhileStreamingAsksAndNoKeepsTheStream)
{
    WriteStreamSettings();
    const int destroyed = TProbeEncoder::Destroyed;
    {
        TProbeWindow window(FSettings);
        ASSERT_TRUE(StartStreaming(window));

        std::string question;
        OnNextModal([&](QWidget* ADialog) {
            auto* box = qobject_cast<QMessageBox*>(ADialog);
            ASSERT_NE(box, nullptr);
            question = box->text().toStdString();
            // In the window's language, "No" the default: Enter keeps the stream.
            EXPECT_EQ(box->button(QMessageBox::Yes)->text().toStdString(), "Sim");
            EXPECT_EQ(box->button(QMessageBox::No)->text().toStdString(), "Não");
            EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
            box->button(QMessageBox::No)->click();
        });
        EXPECT_FALSE(window.close());
        EXPECT_EQ(question, "A transmissão está ativa. Encerrar o encoder?");
        EXPECT_TRUE(window.isVisible());
        ASSERT_NE(window.Encoder(), nullptr);
        EXPECT_FALSE(window.Encoder()->Finished());
        PumpFor(500);
        EXPECT_EQ(Text(Control<QLabel>(window, "lblStatus")), "Transmitindo.");

        OnNextModal([](QWidget* ADialog) {
            qobject_cast<QMessageBox*>(ADialog)->button(QMessageBox::Yes)->click();
        });
        EXPECT_TRUE(window.close());
        EXPECT_EQ(window.Encoder(), nullptr);
        EXPECT_EQ(TProbeEncoder::Destroyed, destroyed + 1);
    }
    EXPECT_EQ(TProbeEncoder::Destroyed, destroyed + 1);
}

TEST_F(MainWindowStreaming, CloseDuringAStopWaitsForItAndFreesTheWorkerOnce)
{
    WriteStreamSettings();
    const int destroyed = TProbeEncoder::Destroyed;
    TProbeWindow window(FSettings);
    ASSERT_TRUE(StartStreaming(window));

    // The close request is delivered while StopEncoder pumps the events.
    bool closedDuringStop = true;
    QTimer::singleShot(0, &window, [&] {
        closedDuringStop = window.close();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr); // no question while stopping
    });
    Control<QPushButton>(window, "btnStartStop")->click();
    EXPECT_FALSE(closedDuringStop);
    EXPECT_EQ(window.Encoder(), nullptr);
    EXPECT_EQ(TProbeEncoder::Destroyed, destroyed + 1);
    // The close asked meanwhile happens once the stop is over.
    ASSERT_TRUE(PumpUntil([&] { return !window.isVisible(); }, 2000));
    EXPECT_EQ(TProbeEncoder::Destroyed, destroyed + 1);
}

// A start asked while a stop winds down (the control interface answered it
// with 202) follows the stop instead of being lost.
TEST_F(MainWindowStreaming, AStartAskedDuringAStopFollowsIt)
{
    WriteStreamSettings();
    const int destroyed = TProbeEncoder::Destroyed;
    TProbeWindow window(FSettings);
    ASSERT_TRUE(StartStreaming(window));
    QTimer::singleShot(0, &window, [&] { window.StartEncoder(); });
    Control<QPushButton>(window, "btnStartStop")->click();
    EXPECT_EQ(TProbeEncoder::Destroyed, destroyed + 1);
    ASSERT_TRUE(PumpUntil([&] { return window.Encoder() != nullptr; }, 2000)) << "the start was lost";
    EXPECT_TRUE(PumpUntil([&] { return Text(Control<QLabel>(window, "lblStatus")) == "Transmitindo."; }, 20000)) << Text(Control<QLabel>(window, "lblStatus"));
    Control<QPushButton>(window, "btnStartStop")->click();
    EXPECT_EQ(window.Encoder(), nullptr);
}

// The recording line belongs to one transmission: a start clears what the
// last one left, and so does the worker's end.
TEST(MainWindowRecording, StartAndTheWorkersEndClearTheRecordingLine)
{
    TTempDir dir;
    const std::string settings = dir.File("TavixEncoder.ini");
    // The worker refuses an empty host and ends by itself.
    WriteSettings(settings, [](TEncoderConfig& c) { c.Host = ""; });
    TProbeWindow window(settings);
    window.show();
    window.StationView().RecordChanged("", "Gravacao parada: No space left on device (/x/a.mp3)", true);
    ASSERT_TRUE(Control<QLabel>(window, "lblRecFile")->isVisible());
    Control<QPushButton>(window, "btnStartStop")->click();
    ASSERT_NE(window.Encoder(), nullptr);
    EXPECT_FALSE(Control<QLabel>(window, "lblRecFile")->isVisible());

    // Nothing the worker hands over arrives before the loop runs, its end
    // included: this comes first.
    window.StationView().RecordChanged("/x/a.mp3", "Gravando em /x/a.mp3", false);
    EXPECT_TRUE(Control<QLabel>(window, "lblRec")->isVisible());
    ASSERT_TRUE(PumpUntilEnded([&] { return window.Encoder(); }, 10000));
    EXPECT_FALSE(Control<QLabel>(window, "lblRec")->isVisible());
    EXPECT_FALSE(Control<QLabel>(window, "lblRecFile")->isVisible());
    EXPECT_EQ(Text(Control<QLabel>(window, "lblStatus")), "Configure o host do servidor.");
    Control<QPushButton>(window, "btnStartStop")->click();
    EXPECT_EQ(window.Encoder(), nullptr);
}

// The worker's own recording: the window names the file it writes, and
// the line goes with the transmission.
TEST_F(MainWindowStreaming, TheRecordingLineNamesTheFileTheWorkerWrites)
{
    const std::string folder = FDir.File("gravacoes");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    WriteStreamSettings([&](TEncoderConfig& c) {
        c.RecordEnabled = true;
        c.RecordFolder = folder;
    });
    TProbeWindow window(FSettings);
    ASSERT_TRUE(StartStreaming(window));
    ASSERT_TRUE(PumpUntil([&] { return Control<QLabel>(window, "lblRec")->isVisible(); }, 10000));
    const QFileInfo file(Control<QLabel>(window, "lblRecFile")->toolTip());
    EXPECT_EQ(file.absolutePath().toStdString(), folder);
    EXPECT_EQ(Control<QLabel>(window, "lblRecFile")->text(), file.fileName());
    EXPECT_EQ(TextColor(Control<QLabel>(window, "lblRecFile")), KDim);
    // The file fills while the stream runs.
    EXPECT_TRUE(PumpUntil([&] { return QFileInfo(file.absoluteFilePath()).size() > 4096; }, 10000));
    EXPECT_EQ(Text(Control<QLabel>(window, "lblStatus")), "Transmitindo.");

    Control<QPushButton>(window, "btnStartStop")->click();
    EXPECT_FALSE(Control<QLabel>(window, "lblRec")->isVisible());
    EXPECT_FALSE(Control<QLabel>(window, "lblRecFile")->isVisible());
    EXPECT_GT(QFileInfo(file.absoluteFilePath()).size(), 4096);
}

// A recording that cannot start says so in red in its own place; the
// stream goes on and the status line stays the server's.
TEST_F(MainWindowStreaming, ARecordingThatCannotBeWrittenSaysWhyWhileTheStreamGoesOn)
{
    // A file where the folder should be: no process can write into it.
    const std::string blocker = FDir.File("blocker");
    WriteTextFile(blocker, "not a folder\n");
    WriteStreamSettings([&](TEncoderConfig& c) {
        c.RecordEnabled = true;
        c.RecordFolder = blocker;
    });
    TProbeWindow window(FSettings);
    ASSERT_TRUE(StartStreaming(window));
    ASSERT_TRUE(PumpUntil([&] { return Control<QLabel>(window, "lblRecFile")->isVisible(); }, 10000));
    EXPECT_FALSE(Control<QLabel>(window, "lblRec")->isVisible());
    EXPECT_EQ(TextColor(Control<QLabel>(window, "lblRecFile")), KRed);
    EXPECT_NE(Control<QLabel>(window, "lblRecFile")->toolTip().indexOf(QString::fromStdString(blocker)), -1)
        << Control<QLabel>(window, "lblRecFile")->toolTip().toStdString();
    PumpFor(1000);
    EXPECT_EQ(Text(Control<QLabel>(window, "lblStatus")), "Transmitindo.");
    EXPECT_EQ(TextColor(Control<QLabel>(window, "lblStatus")), KGreen);
    EXPECT_TRUE(Control<QLabel>(window, "lblRecFile")->isVisible());
    Control<QPushButton>(window, "btnStartStop")->click();
    EXPECT_FALSE(Control<QLabel>(window, "lblRecFile")->isVisible());
}

// The window offers the same control interface as the program without
// one: an automation system starts, titles and stops it over HTTP.
TEST_F(MainWindowStreaming, TheControlInterfaceDrivesTheWindow)
{
    const int port = FreeLoopbackPort();
    const TEncoderConfig config = WriteStreamSettings([&](TEncoderConfig& c) {
        c.ControlEnabled = true;
        c.ControlPort = port;
        c.ControlToken = "ficha";
        c.NoarPath = FDir.File("noar.txt");
    });
    WriteTextFile(config.NoarPath, "Abertura");
    TProbeWindow window(FSettings);
    window.show();
    const auto ask = [port](const std::string& AArgs, const std::string& APath) {
        return RunCommand("curl -s -m 5 -H 'Authorization: Bearer ficha' " + AArgs + " " +
                          ShellQuote("http://127.0.0.1:" + std::to_string(port) + APath));
    };
    EXPECT_NE(ask("", "/status").find(R"("state":"stopped")"), std::string::npos);
    EXPECT_EQ(RunCommand("curl -s -o /dev/null -w '%{http_code}' -m 5 " +
                         ShellQuote("http://127.0.0.1:" + std::to_string(port) + "/status")),
              "401");

    ask("-X POST -d ''", "/start");
    ASSERT_TRUE(PumpUntil([&] { return Text(Control<QLabel>(window, "lblStatus")) == "Transmitindo."; }, 20000)) << Text(Control<QLabel>(window, "lblStatus"));
    const std::string status = ask("", "/status");
    EXPECT_NE(status.find(R"("state":"running")"), std::string::npos) << status;
    EXPECT_NE(status.find(R"("status":"Transmitindo.")"), std::string::npos) << status;
    EXPECT_NE(status.find(R"("title":"Abertura")"), std::string::npos) << status;

    EXPECT_NE(ask("-X POST --data-binary '{\"title\": \"Faixa pedida\"}'", "/title").find("\"ok\""), std::string::npos);
    EXPECT_EQ(ReadTextFile(config.NoarPath), "Faixa pedida\n") << "the title goes through the now-playing file";
    EXPECT_TRUE(PumpUntil([&] { return FServer.StatusJson().find("Faixa pedida") != std::string::npos; }, 10000))
        << FServer.StatusJson();

    ask("-X POST -d ''", "/stop");
    EXPECT_TRUE(PumpUntil([&] { return window.Encoder() == nullptr; }, 10000));
    EXPECT_NE(ask("", "/status").find(R"("state":"stopped")"), std::string::npos);
}
