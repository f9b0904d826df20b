#include <gtest/gtest.h>

#include <QComboBox>
#include <QImage>
#include <QPushButton>
#include <QTabWidget>

#include "capture/DeviceCaption.h"
#include "tests/support/SoundServerRig.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/ConfigForm.h"

// The settings dialog on a desktop whose sound server runs with no ALSA
// configuration at all: its own inputs and outputs are offered.

namespace {

int Entry(const TFrmConfig& ADialog, const QString& AText)
{
    return ADialog.cbAudioDevice->findText(AText);
}

} // namespace

TEST(NativeDevicesDialog, OffersTheServersInputsAndOutputsAndKeepsTheChoiceByName)
{
    TSoundServerRig rig(TSoundServerKind::PulseAudio);
    rig.LoadNullSink("Speakers", "Speakers");
    rig.LoadNullSink("Headset", "USB Headset");
    rig.LoadInputSource("LineIn", "Line In");
    rig.Apply();
    TTempDir dir;
    const std::string settings = dir.File("TavixEncoder.ini");

    TEncoderConfig stored;
    DefaultEncoderConfig(stored);
    stored.Host = "radio.example.net"; // a dialog without one reloads the file when shown
    TFrmConfig dialog(settings);
    dialog.LoadFromConfig(stored);
    ASSERT_TRUE(PumpUntil([&] { return !dialog.AudioDevicesPending(); }, 10000));
    const QString headset = QString::fromUtf8("Sa\xC3\xAD" "da: USB Headset  [PulseAudio]");
    EXPECT_GE(Entry(dialog, "Entrada: Line In  [PulseAudio]"), 0);
    EXPECT_GE(Entry(dialog, QString::fromUtf8("Sa\xC3\xAD" "da: Speakers  [PulseAudio]")), 0);
    ASSERT_GE(Entry(dialog, headset), 0);
    for (int i = 0; i < dialog.cbAudioDevice->count(); ++i) {
        EXPECT_FALSE(dialog.cbAudioDevice->itemText(i).contains("monitor", Qt::CaseInsensitive))
            << "monitors come as their output's loopback only";
        EXPECT_NE(dialog.cbAudioDevice->itemText(i), "Entrada: pulse  [ALSA]") << "the vague way back to the server";
    }

    dialog.cbAudioDevice->setCurrentIndex(Entry(dialog, headset));
    dialog.pcConfig->setCurrentWidget(dialog.tabAudio);
    dialog.show();
    PumpFor(50);
    EXPECT_TRUE(Snapshot(&dialog).save(QString::fromStdString(dir.File("audio-page.png"))));
    dialog.SaveToConfig(stored);
    EXPECT_EQ(stored.AudioSourceKind, askOutputLoopback);
    EXPECT_EQ(stored.AudioDeviceId, "pulse:Headset");
    EXPECT_EQ(stored.AudioDeviceName, "USB Headset [PulseAudio]");
    EXPECT_EQ(stored.AudioDeviceName, CleanDeviceCaption(headset.toStdString()));

    // A device plugged in later moves positions; the dialog still shows
    // the stored choice.
    rig.LoadNullSink("Another", "Another Card");
    TFrmConfig again(settings);
    again.LoadFromConfig(stored);
    ASSERT_TRUE(PumpUntil([&] { return !again.AudioDevicesPending(); }, 10000));
    EXPECT_EQ(again.cbAudioDevice->currentText(), headset);

    // Refresh clicked again and again while a listing runs: one list
    // comes, with the new sink in it and nothing chosen.
    for (int i = 0; i < 5; ++i)
        again.btnRefreshAudio->click();
    EXPECT_TRUE(again.AudioDevicesPending());
    ASSERT_TRUE(PumpUntil([&] { return !again.AudioDevicesPending(); }, 10000));
    EXPECT_GE(Entry(again, QString::fromUtf8("Sa\xC3\xAD" "da: Another Card  [PulseAudio]")), 0);
    EXPECT_EQ(again.cbAudioDevice->currentIndex(), -1);
    EXPECT_EQ(again.cbAudioDevice->count(), int(again.FAudioItems.size()));
}

// The server is gone: the dialog still opens at once and lists what
// PortAudio has.
TEST(NativeDevicesDialog, NoSoundServerLeavesTheDialogResponsive)
{
    TTempDir dir;
    setenv("PULSE_SERVER", ("unix:" + dir.File("nothing.sock")).c_str(), 1);
    TFrmConfig dialog(dir.File("TavixEncoder.ini"));
    TEncoderConfig stored;
    DefaultEncoderConfig(stored);
    dialog.LoadFromConfig(stored);
    ASSERT_TRUE(PumpUntil([&] { return !dialog.AudioDevicesPending(); }, 10000));
    for (int i = 0; i < dialog.cbAudioDevice->count(); ++i)
        EXPECT_FALSE(dialog.cbAudioDevice->itemText(i).contains("[PulseAudio]"));
}
