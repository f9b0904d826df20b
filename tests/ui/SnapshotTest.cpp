// Renders the main window and every page of the settings dialog to PNG
// files in docs/, for the README and for looking at the layout.
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>

#include "tests/support/AudioRig.h"
#include "tests/support/TempDir.h"
#include "tests/ui/RigDevices.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/ConfigForm.h"
#include "ui/MainWindow.h"

namespace {

// The audio page lists the rig's capture channels.
const testing::Environment* const GRig = testing::AddGlobalTestEnvironment(new TRigEnvironment);

} // namespace

TEST(WindowSnapshots, MainWindowIdleAndEveryDialogPage)
{
    TTempDir dir;
    WriteTextFile(dir.File("noar.txt"), "Artista Exemplo - Canção de Teste\r\n");
    const std::string settings = dir.File("TavixEncoder.ini");
    WriteSettings(settings, [&](TEncoderConfig& c) {
        c.Host = "radio.example.net";
        c.Password = "segredo";
        c.AudioDeviceIndex = RigDeviceIndex(TAudioRig::KMonitorDevice);
        c.AudioDeviceName = "Entrada: monitor_test  [ALSA]";
        c.NoarPath = dir.File("noar.txt");
        c.EQPreset = "voice";
        c.EQBands = {-5, -4, -3, -1, 1, 3, 4, 3, 1, -1};
        c.CompressorEnabled = true;
        c.RecordEnabled = true;
        c.RecordFolder = "/home/radio/Music";
        c.RecordSplitMinutes = 60;
    });

    TFrmPrincipal window(settings);
    window.show();
    // The marquee moves in steps of 3 from 974: this stops it at 560 every
    // time, with the song well inside the strip.
    ASSERT_TRUE(PumpUntil([&] { return window.lblNoarText->mapTo(window.pnlNoar, QPoint(0, 0)).x() <= 560; }, 15000));
    SaveWindowShot(&window, "main-idle.png");

    TFrmConfig dialog(settings, &window);
    dialog.LoadFromConfig(window.Config());
    ASSERT_TRUE(PumpUntil([&] { return !dialog.AudioDevicesPending(); }, 10000));
    // A path that does not change from run to run, for the picture.
    dialog.edNoarPath->setText("/home/radio/noar.txt");
    dialog.show();
    const char* pages[] = {"config-server.png",    "config-audio.png",    "config-metadata.png",
                           "config-ftp.png",       "config-equalizer.png", "config-recording.png"};
    ASSERT_EQ(dialog.pcConfig->count(), int(std::size(pages)));
    for (int i = 0; i < dialog.pcConfig->count(); ++i) {
        dialog.pcConfig->setCurrentIndex(i);
        PumpFor(50);
        SaveWindowShot(&dialog, pages[i]);
    }
    dialog.close();
}
