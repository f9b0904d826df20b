// Renders the main window and every page of the settings dialog to PNG
// files in docs/, for the README and for looking at the layout.
#include <functional>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include "engine/NativeEncoderThread.h"
#include "tests/support/AudioRig.h"
#include "tests/support/TempDir.h"
#include "tests/ui/RigDevices.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/ConfigForm.h"
#include "ui/MainWindow.h"
#include "ui/Shape.h"

namespace {

// The audio page lists the rig's capture channels.
const testing::Environment* const GRig = testing::AddGlobalTestEnvironment(new TRigEnvironment);

const QColor KRed(0xE8, 0x29, 0x29);

// The settings of the pictures, with a now-playing file in ADir, and the
// server of AServer.
std::string PictureSettings(const TTempDir& ADir, const std::function<void(TEncoderConfig&)>& AServer)
{
    WriteTextFile(ADir.File("noar.txt"), "Artista Exemplo - Canção de Teste\r\n");
    const std::string settings = ADir.File("TavixEncoder.ini");
    WriteSettings(settings, [&](TEncoderConfig& c) {
        c.AudioDeviceIndex = RigDeviceIndex(TAudioRig::KMonitorDevice);
        c.AudioDeviceName = "Entrada: monitor_test  [ALSA]";
        c.NoarPath = ADir.File("noar.txt");
        c.EQPreset = "voice";
        c.EQBands = {-5, -4, -3, -1, 1, 3, 4, 3, 1, -1};
        c.CompressorEnabled = true;
        c.RecordEnabled = true;
        c.RecordFolder = "/home/radio/Music";
        c.RecordSplitMinutes = 60;
        c.ListenerCheckEnabled = true;
        c.AlarmWebhookUrl = "https://alertas.example.net/tavix?radio=exemplo";
        AServer(c);
    });
    return settings;
}

// The marquee moves in steps of 3 from 974: this stops it at 560 every
// time, with the song well inside the strip.
bool MarqueeAtItsPlace(TFrmPrincipal& AWindow)
{
    return PumpUntil([&] { return Control<QLabel>(AWindow, "lblNoarText")->mapTo(Control<QWidget>(AWindow, "pnlNoar"), QPoint(0, 0)).x() <= 560; }, 15000);
}

} // namespace

TEST(WindowSnapshots, MainWindowIdleAndEveryDialogPage)
{
    TTempDir dir;
    const std::string settings = PictureSettings(dir, [](TEncoderConfig& c) {
        c.Host = "radio.example.net";
        c.Password = "segredo";
    });

    TFrmPrincipal window(settings);
    window.show();
    ASSERT_TRUE(MarqueeAtItsPlace(window));
    SaveWindowShot(&window, "main-idle.png");

    TFrmConfig dialog(settings, &window);
    dialog.LoadFromConfig(window.Config());
    ASSERT_TRUE(PumpUntil([&] { return !dialog.AudioDevicesPending(); }, 10000));
    // A path that does not change from run to run, for the picture.
    dialog.edNoarPath->setText("/home/radio/noar.txt");
    dialog.show();
    const char* pages[] = {"config-server.png",    "config-audio.png",     "config-metadata.png",
                           "config-ftp.png",       "config-equalizer.png", "config-recording.png",
                           "config-alarms.png",    "config-fallback.png"};
    ASSERT_EQ(dialog.pcConfig->count(), int(std::size(pages)));
    for (int i = 0; i < dialog.pcConfig->count(); ++i) {
        dialog.pcConfig->setCurrentIndex(i);
        PumpFor(50);
        SaveWindowShot(&dialog, pages[i]);
    }
    dialog.close();
}

TEST(WindowSnapshots, MainWindowWithTheProgrammeAndItsListenersInAlarm)
{
    // A transmission that the worker refuses at once (no password) stands
    // for one on air: the window holds it until stopped, and nothing the
    // worker says comes after. Nothing answers a listener count there.
    TTempDir dir;
    TFrmPrincipal window(PictureSettings(dir, [](TEncoderConfig& c) {
        c.Host = "127.0.0.1";
        c.Port = 9;
    }));
    window.show();
    Control<QPushButton>(window, "btnStartStop")->click();
    ASSERT_TRUE(PumpUntilEnded([&] { return window.Encoder(); }, 10000));
    TOutputState onAir;
    onAir.Phase = TOutputPhase::OnAir;
    onAir.Text = "Transmitindo.";
    window.StationView().OutputChanged(1, onAir);
    // The on-air box lit, still.
    ASSERT_TRUE(PumpUntil([&] { return Control<TShape>(window, "ShapePisca")->BrushColor() == KRed; }, 2000));
    Control<QTimer>(window, "tmrPisca")->stop();
    ASSERT_TRUE(MarqueeAtItsPlace(window));
    window.StationView().AlarmChanged({1, TAlarmKind::NoAudio, true,
                               "Ouvintes nao recebem audio em http://127.0.0.1:9/stream (nenhum byte em 15.0 s)."});
    window.StationView().AlarmChanged({0, TAlarmKind::Silence, true, "Silencio no programa ha 20 s (abaixo de -50 dBFS)."});
    // Lit, as each blinking starts.
    Control<QTimer>(window, "tmrAlarm")->stop();
    SaveWindowShot(&window, "main-alarms.png");
    Control<QPushButton>(window, "btnStartStop")->click();
}
