// The settings dialog: loading, saving, the capture-channel list over the
// real audio rig, the equalizer page, the recording page, the browse
// dialogs, and OK / Cancel as the main window runs them.
#include <string>
#include <tuple>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include "capture/DeviceCaption.h"
#include "dsp/EqPresets.h"
#include "tests/support/AudioRig.h"
#include "tests/support/FtpServer.h"
#include "tests/support/TempDir.h"
#include "tests/ui/RigDevices.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/ConfigForm.h"
#include "ui/Lang.h"
#include "ui/MainWindow.h"

namespace {

const testing::Environment* const GRig = testing::AddGlobalTestEnvironment(new TRigEnvironment);

TEncoderConfig Defaults(const std::function<void(TEncoderConfig&)>& AEdit = {})
{
    TEncoderConfig c;
    DefaultEncoderConfig(c);
    c.Host = "radio.example.net";
    if (AEdit)
        AEdit(c);
    return c;
}

TEncoderConfig ReadSettings(const std::string& APath)
{
    TEncoderConfig c;
    LoadEncoderConfigFrom(APath, c);
    return c;
}

// Runs the main window's settings button with AInDialog acting on the
// dialog while it is open; AInDialog closes it.
void RunSettingsDialog(TFrmPrincipal& AWindow, std::function<void(TFrmConfig&)> AInDialog)
{
    bool seen = false;
    OnNextModal([&seen, AInDialog](QWidget* ADialog) {
        auto* dialog = qobject_cast<TFrmConfig*>(ADialog);
        ASSERT_NE(dialog, nullptr);
        seen = true;
        AInDialog(*dialog);
    });
    Control<QPushButton>(AWindow, "btnConfig")->click();
    EXPECT_TRUE(seen);
}

// Presses OK on a dialog shown without a loop of its own and gives the
// text of the message box that comes up, closed at once; empty when none.
std::string MessageOnOk(TFrmConfig& ADialog)
{
    std::string message;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&message] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            message = box->text().toStdString();
            box->accept();
        }
    });
    poll.start();
    ADialog.btnOK->click();
    return message;
}

class SettingsDialog : public testing::Test {
protected:
    TTempDir FDir;
    std::string FSettings = FDir.File("TavixEncoder.ini");
};

} // namespace

TEST_F(SettingsDialog, CodecEntriesAndCanonicalIdentifiers)
{
    TFrmConfig dialog(FSettings);
    struct TCase {
        const char* Stored;
        const char* Shown;
        const char* Saved;
    };
    const TCase cases[] = {
        {"audio/wav", "MP3 (LAME)", "audio/mpeg"},      {"", "MP3 (LAME)", "audio/mpeg"},
        {"APPLICATION/OGG", "Ogg Vorbis", "audio/ogg"}, {"audio/x-aac", "AAC+ (AAC Plus)", "audio/aacp"},
        {"Audio/AAC", "AAC+ (AAC Plus)", "audio/aacp"}, {"application/flac", "FLAC", "audio/flac"},
        {"AUDIO/OGG; CODECS=OPUS", "Ogg Opus", "audio/opus"}, {"audio/opus", "Ogg Opus", "audio/opus"},
    };
    for (const TCase& c : cases) {
        dialog.LoadFromConfig(Defaults([&](TEncoderConfig& cfg) { cfg.Codec = c.Stored; }));
        EXPECT_EQ(dialog.cbCodec->currentText().toStdString(), c.Shown) << c.Stored;
        TEncoderConfig saved = Defaults();
        dialog.SaveToConfig(saved);
        EXPECT_EQ(saved.Codec, c.Saved) << c.Stored;
    }
}

TEST_F(SettingsDialog, NumbersAreTypedWhenNotListedAndFallBackWhenNotNumbers)
{
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(Defaults([](TEncoderConfig& c) {
        c.Bitrate = 112;
        c.SampleRate = 48000;
        c.Channels = 1;
        c.ServerType = "SHOUTCAST";
        c.Language = "FR-fr";
    }));
    EXPECT_EQ(dialog.cbBitrate->currentIndex(), -1);
    EXPECT_EQ(dialog.cbBitrate->currentText(), "112");
    EXPECT_EQ(dialog.cbSampleRate->currentIndex(), 1);
    EXPECT_EQ(dialog.cbChannels->currentText(), "1");
    EXPECT_EQ(dialog.cbServerType->currentText(), "shoutcast");
    EXPECT_EQ(dialog.cbLanguage->currentText().toStdString(), "Français");
    TEncoderConfig saved = Defaults();
    dialog.SaveToConfig(saved);
    EXPECT_EQ(saved.Bitrate, 112);
    EXPECT_EQ(saved.SampleRate, 48000);
    EXPECT_EQ(saved.Channels, 1);
    EXPECT_EQ(saved.ServerType, "shoutcast");
    EXPECT_EQ(saved.Language, "fr-FR");

    dialog.LoadFromConfig(Defaults([](TEncoderConfig& c) {
        c.ServerType = "something";
        c.Language = "xx-YY";
    }));
    EXPECT_EQ(dialog.cbServerType->currentText(), "icecast");
    EXPECT_EQ(dialog.cbLanguage->currentText().toStdString(), "Português");
    dialog.edPort->setText("abc");
    dialog.cbBitrate->setEditText("fast");
    dialog.cbSampleRate->setEditText("");
    dialog.cbChannels->setEditText("two");
    dialog.edFtpPort->setText("21a");
    dialog.edHost->setText("  host.example  ");
    dialog.edPassword->setText("  pass ");
    dialog.edMount->setText(" /live ");
    dialog.edFtpRemoteDir->setText("\t/site/ ");
    dialog.edFtpPassword->setText(" ftp ");
    dialog.SaveToConfig(saved);
    EXPECT_EQ(saved.Port, 8000);
    EXPECT_EQ(saved.Bitrate, 192);
    EXPECT_EQ(saved.SampleRate, 44100);
    EXPECT_EQ(saved.Channels, 2);
    EXPECT_EQ(saved.FtpPort, 21);
    EXPECT_EQ(saved.Host, "host.example");
    EXPECT_EQ(saved.Password, "  pass ");
    EXPECT_EQ(saved.Mount, "/live");
    EXPECT_EQ(saved.FtpRemoteDir, "/site/");
    EXPECT_EQ(saved.FtpPassword, " ftp ");
    // Saving takes numbers as typed, without a range check (OK refuses a
    // port out of range before it saves).
    dialog.edPort->setText("0");
    dialog.cbBitrate->setEditText("1");
    dialog.SaveToConfig(saved);
    EXPECT_EQ(saved.Port, 0);
    EXPECT_EQ(saved.Bitrate, 1);
}

TEST_F(SettingsDialog, CaptureChannelsOfTheRigAndRefreshKeepingTheStoredOne)
{
    const int monitor = RigDeviceIndex(TAudioRig::KMonitorDevice);
    const int speakers = RigDeviceIndex(TAudioRig::KOutputDevice);
    ASSERT_GE(monitor, 0);
    ASSERT_GE(speakers, 0);
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(Defaults([&](TEncoderConfig& c) {
        c.AudioDeviceIndex = monitor;
        c.AudioSourceKind = askInput;
        c.AudioDeviceName = "old name";
    }));
    // The list is asked for in the background; the box waits, disabled.
    EXPECT_FALSE(dialog.cbAudioDevice->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return !dialog.AudioDevicesPending(); }, 10000));
    EXPECT_TRUE(dialog.cbAudioDevice->isEnabled());
    ASSERT_EQ(dialog.cbAudioDevice->count(), int(dialog.FAudioItems.size()));
    EXPECT_TRUE(dialog.cbAudioDevice->currentText().startsWith("Entrada: monitor_test  ["))
        << dialog.cbAudioDevice->currentText().toStdString();

    // The output is offered as a loopback channel too; choosing it stores it.
    int loopback = -1;
    for (size_t i = 0; i < dialog.FAudioItems.size(); ++i)
        if (dialog.FAudioItems[i].DeviceIndex == speakers && dialog.FAudioItems[i].SourceKind == askOutputLoopback)
            loopback = int(i);
    ASSERT_GE(loopback, 0);
    dialog.cbAudioDevice->setCurrentIndex(loopback);
    TEncoderConfig saved = Defaults();
    dialog.SaveToConfig(saved);
    EXPECT_EQ(saved.AudioDeviceIndex, speakers);
    EXPECT_EQ(saved.AudioSourceKind, askOutputLoopback);
    EXPECT_EQ(saved.AudioDeviceName, CleanDeviceCaption(dialog.FAudioItems[loopback].DisplayName));

    // A rebuilt list has no selection, so OK keeps the previous channel.
    dialog.btnRefreshAudio->click();
    ASSERT_TRUE(PumpUntil([&] { return !dialog.AudioDevicesPending(); }, 10000));
    EXPECT_EQ(dialog.cbAudioDevice->currentIndex(), -1);
    EXPECT_GT(dialog.cbAudioDevice->count(), 0);
    TEncoderConfig kept = Defaults([&](TEncoderConfig& c) {
        c.AudioDeviceIndex = monitor;
        c.AudioDeviceName = "old name";
    });
    dialog.SaveToConfig(kept);
    EXPECT_EQ(kept.AudioDeviceIndex, monitor);
    EXPECT_EQ(kept.AudioSourceKind, askInput);
    EXPECT_EQ(kept.AudioDeviceName, "old name");
}

TEST_F(SettingsDialog, VoiceFromTheDialogWritesBandsZeroToSevenOnly)
{
    WriteSettings(FSettings, [](TEncoderConfig& c) {
        c.Host = "radio.example.net";
        c.EQBands = {1, 1, 1, 1, 1, 1, 1, 1, 7, -7};
        c.EQPreset = "custom";
    });
    TFrmPrincipal window(FSettings);
    window.show();
    RunSettingsDialog(window, [](TFrmConfig& dialog) {
        EXPECT_EQ(dialog.pcConfig->currentIndex(), 0); // always opens on the first page
        EXPECT_EQ(dialog.cbEQPreset->currentIndex(), -1);
        dialog.pcConfig->setCurrentIndex(4);
        dialog.cbEQPreset->setCurrentIndex(1);
        emit dialog.cbEQPreset->activated(1);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(dialog.trEQ[i]->value(), DialogPresetGains[1][i]) << i;
        dialog.btnOK->click();
    });
    const TEncoderConfig stored = ReadSettings(FSettings);
    EXPECT_EQ(stored.EQPreset, "voice");
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(stored.EQBands[i], DialogPresetGains[1][i]) << i;
    EXPECT_EQ(stored.EQBands[8], 7);
    EXPECT_EQ(stored.EQBands[9], -7);
    EXPECT_EQ(Control<QComboBox>(window, "cbEqPresetMain")->currentText().toStdString(), "Voz");
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(Control<QSlider>(window, "trEQ", i)->value(), DialogPresetGains[1][i]) << i;
    EXPECT_EQ(Control<QSlider>(window, "trEQ", 8)->value(), 7);

    // The flat button selects the flat entry and levels the eight sliders.
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(stored);
    dialog.btnEQFlat->click();
    EXPECT_EQ(dialog.cbEQPreset->currentIndex(), 0);
    for (QSlider* slider : dialog.trEQ)
        EXPECT_EQ(slider->value(), 0);
}

TEST_F(SettingsDialog, CancelEscapeAndTheFrameChangeNothing)
{
    WriteSettings(FSettings, [](TEncoderConfig& c) { c.Host = "radio.example.net"; });
    const std::string before = ReadTextFile(FSettings);
    TFrmPrincipal window(FSettings);
    window.show();
    auto edit = [](TFrmConfig& dialog) {
        dialog.edHost->setText("changed.example");
        dialog.cbLanguage->setCurrentIndex(1);
        dialog.trEQ[0]->setValue(9);
    };
    RunSettingsDialog(window, [&](TFrmConfig& dialog) {
        edit(dialog);
        dialog.btnCancel->click();
    });
    RunSettingsDialog(window, [&](TFrmConfig& dialog) {
        edit(dialog);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &escape);
    });
    RunSettingsDialog(window, [&](TFrmConfig& dialog) {
        edit(dialog);
        dialog.close();
    });
    EXPECT_EQ(ReadTextFile(FSettings), before);
    EXPECT_EQ(window.Config().Host, "radio.example.net");
    EXPECT_EQ(window.Config().Language, "pt-BR");
    EXPECT_EQ(Control<QPushButton>(window, "btnConfig")->text().toStdString(), "Configurações");
}

TEST_F(SettingsDialog, OkSavesTheFileAndTheWindowShowsTheNewSettings)
{
    WriteSettings(FSettings, [](TEncoderConfig& c) {
        c.Host = "radio.example.net";
        c.TlsFingerprint = "AB:CD";
        c.CompressorEnabled = true;
    });
    TFrmPrincipal window(FSettings);
    window.show();
    RunSettingsDialog(window, [](TFrmConfig& dialog) {
        dialog.edHost->setText("other.example");
        dialog.edPort->setText("8100");
        dialog.edMount->setText("/live");
        dialog.cbBitrate->setEditText("96");
        dialog.btnOK->click();
    });
    const TEncoderConfig stored = ReadSettings(FSettings);
    EXPECT_EQ(stored.Host, "other.example");
    EXPECT_EQ(stored.Port, 8100);
    EXPECT_EQ(stored.TlsFingerprint, "AB:CD") << "a setting the dialog does not show is kept";
    EXPECT_TRUE(stored.CompressorEnabled);
    EXPECT_EQ(window.Config().Host, "other.example");
    EXPECT_EQ(Control<QLabel>(window, "lblServerInfo")->text().toStdString(), "other.example:8100 /live · 96 kbps · 44100 Hz");
}

TEST_F(SettingsDialog, AnEmptyHostReloadsEveryFieldFromTheFile)
{
    WriteSettings(FSettings, [](TEncoderConfig& c) {
        c.Host = "from.file";
        c.Port = 8123;
        c.Genre = "Jazz";
    });
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(Defaults([](TEncoderConfig& c) {
        c.Host = "  ";
        c.Port = 1;
        c.Genre = "Rock";
    }));
    dialog.show();
    EXPECT_EQ(dialog.edHost->text(), "from.file");
    EXPECT_EQ(dialog.edPort->text(), "8123");
    EXPECT_EQ(dialog.edGenre->text(), "Jazz");
    dialog.close();

    TFrmConfig filled(FSettings);
    filled.LoadFromConfig(Defaults([](TEncoderConfig& c) { c.Genre = "Rock"; }));
    filled.show();
    EXPECT_EQ(filled.edGenre->text(), "Rock");
    filled.close();
}

TEST_F(SettingsDialog, BrowseOffersTextFilesThenAllFiles)
{
    WriteTextFile(FDir.File("noar.txt"), "Song\n");
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(Defaults([&](TEncoderConfig& c) { c.NoarPath = FDir.File("old.txt"); }));
    QStringList filters;
    OnNextModal([&](QWidget* AModal) {
        auto* files = qobject_cast<QFileDialog*>(AModal);
        ASSERT_NE(files, nullptr);
        filters = files->nameFilters();
        EXPECT_EQ(files->directory().absolutePath().toStdString(), FDir.Path());
        // The operator types the name and presses Open.
        auto* name = files->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText("noar.txt");
        QMetaObject::invokeMethod(files, "accept");
    });
    dialog.btnBrowseNoar->click();
    EXPECT_EQ(filters, QStringList({"Texto no ar (*.txt)", "Todos os arquivos (*)"}));
    EXPECT_EQ(dialog.edNoarPath->text().toStdString(), FDir.File("noar.txt"));

    OnNextModal([](QWidget* AModal) { qobject_cast<QFileDialog*>(AModal)->reject(); });
    dialog.btnBrowseNoar->click();
    EXPECT_EQ(dialog.edNoarPath->text().toStdString(), FDir.File("noar.txt"));
}

TEST_F(SettingsDialog, OkWithAnUnwritableFileSaysSoAndStaysOpen)
{
    WriteTextFile(FDir.File("blocker"), "not a folder\n");
    const std::string settings = FDir.File("blocker/TavixEncoder.ini");
    TFrmConfig dialog(settings);
    dialog.LoadFromConfig(Defaults());
    dialog.show();
    std::string message;
    OnNextModal([&](QWidget* AModal) {
        auto* box = qobject_cast<QMessageBox*>(AModal);
        ASSERT_NE(box, nullptr);
        message = box->text().toStdString();
        box->accept();
    });
    dialog.btnOK->click();
    EXPECT_EQ(message, "Unable to write to " + settings);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    dialog.btnCancel->click();
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(SettingsDialog, ConfirmingUploadsTheNowPlayingFileAgain)
{
    TFtpServer ftp;
    WriteTextFile(FDir.File("noar.txt"), "Song A\n");
    WriteSettings(FSettings, [&](TEncoderConfig& c) {
        c.Host = "radio.example.net";
        c.NoarPath = FDir.File("noar.txt");
        c.FtpEnabled = true;
        c.FtpHost = "127.0.0.1";
        c.FtpPort = ftp.Port();
        c.FtpUser = ftp.User();
        c.FtpPassword = ftp.Password();
        c.FtpRemoteDir = "/";
        c.FtpRemoteFile = "noar.txt";
    });
    const std::string uploaded = ftp.Home() + "/noar.txt";
    TFrmPrincipal window(FSettings);
    window.show();
    // The first check after start-up uploads the file (the server makes it
    // empty first, then writes it).
    const auto uploadedWhole = [&] { return access(uploaded.c_str(), F_OK) == 0 && ReadTextFile(uploaded) == "Song A\n"; };
    ASSERT_TRUE(PumpUntil(uploadedWhole, 10000)) << ReadTextFile(uploaded);

    // An unchanged file is not uploaded again by the periodic checks...
    ASSERT_EQ(unlink(uploaded.c_str()), 0);
    PumpFor(2600);
    EXPECT_NE(access(uploaded.c_str(), F_OK), 0);
    // ...but a confirmed settings dialog uploads it at once.
    RunSettingsDialog(window, [](TFrmConfig& dialog) { dialog.btnOK->click(); });
    EXPECT_TRUE(PumpUntil(uploadedWhole, 10000));
    EXPECT_EQ(Control<QLabel>(window, "lblNoarText")->text().toStdString(), "   Song A   ");
}

TEST_F(SettingsDialog, PortsAreDecimalNumbersFromOneTo65535OrTheDialogStaysOpen)
{
    WriteSettings(FSettings, [](TEncoderConfig& c) {
        c.Host = "radio.example.net";
        c.Port = 8100;
        c.FtpPort = 2121;
    });
    const std::string before = ReadTextFile(FSettings);
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(Defaults([](TEncoderConfig& c) { c.Language = "fr-FR"; }));
    dialog.show();
    struct TField {
        QLineEdit* Edit;
        QWidget* Page;
        const char* Message;
    };
    for (const TField& f : {TField{dialog.edPort, dialog.tabServidor, "port_invalid"},
                            TField{dialog.edFtpPort, dialog.tabFTP, "ftp_port_invalid"}}) {
        for (const char* typed : {"0x1F40", "1F40", "0", "65536", "4294975296", "-21", "80 80", "8e3", "", "  "}) {
            dialog.pcConfig->setCurrentWidget(dialog.tabEQ);
            f.Edit->setText(typed);
            const std::string message = MessageOnOk(dialog);
            EXPECT_EQ(message, Translate("fr-FR", f.Message)) << typed;
            EXPECT_NE(message.find("65535"), std::string::npos) << message;
            EXPECT_TRUE(dialog.isVisible()) << typed;
            EXPECT_EQ(dialog.pcConfig->currentWidget(), f.Page) << "shows the field: " << typed;
            f.Edit->setText("8000");
        }
    }
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(ReadTextFile(FSettings), before) << "nothing saved";

    // Blanks around a number are no fault, and the number is what is saved.
    dialog.edPort->setText("  8200 ");
    dialog.edFtpPort->setText("\t65535\n");
    EXPECT_EQ(MessageOnOk(dialog), "");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(ReadSettings(FSettings).Port, 8200);
    EXPECT_EQ(ReadSettings(FSettings).FtpPort, 65535);
    TEncoderConfig saved = Defaults();
    dialog.SaveToConfig(saved);
    EXPECT_EQ(saved.Port, 8200);
    EXPECT_EQ(saved.FtpPort, 65535);
}

TEST_F(SettingsDialog, BrowseTitlesSpeakTheDialogsLanguage)
{
    TFrmConfig dialog(FSettings);
    const std::pair<QPushButton*, const char*> buttons[] = {{dialog.btnBrowseNoar, "noar_file"},
                                                            {dialog.btnBrowseRecord, "record_folder"}};
    for (const TLanguage& language : Languages) {
        const std::string code(language.Code);
        dialog.LoadFromConfig(Defaults([&](TEncoderConfig& c) {
            c.Language = code;
            c.RecordEnabled = true;
        }));
        for (const auto& [button, key] : buttons) {
            std::string title;
            OnNextModal([&](QWidget* AModal) {
                auto* files = qobject_cast<QFileDialog*>(AModal);
                ASSERT_NE(files, nullptr);
                title = files->windowTitle().toStdString();
                files->reject();
            });
            button->click();
            EXPECT_EQ(title, Translate(code, key)) << code;
        }
    }
    EXPECT_NE(Translate("en-US", "noar_file"), Translate("pt-BR", "noar_file"));
    EXPECT_NE(Translate("fr-FR", "record_folder"), Translate("en-US", "record_folder"));
}

TEST_F(SettingsDialog, RecordingFieldsLoadSaveAndFollowTheirCheckBox)
{
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(Defaults([&](TEncoderConfig& c) {
        c.RecordEnabled = true;
        c.RecordFolder = FDir.Path();
        c.RecordSplitMinutes = 60;
    }));
    EXPECT_TRUE(dialog.chkRecordEnabled->isChecked());
    EXPECT_EQ(dialog.edRecordFolder->text().toStdString(), FDir.Path());
    EXPECT_EQ(dialog.spRecordSplit->value(), 60);
    EXPECT_EQ(dialog.spRecordSplit->text(), "60 min");
    for (QWidget* field : std::initializer_list<QWidget*>{dialog.edRecordFolder, dialog.btnBrowseRecord,
                                                          dialog.spRecordSplit})
        EXPECT_TRUE(field->isEnabled()) << field->metaObject()->className();
    TEncoderConfig saved = Defaults();
    dialog.SaveToConfig(saved);
    EXPECT_TRUE(saved.RecordEnabled);
    EXPECT_EQ(saved.RecordFolder, FDir.Path());
    EXPECT_EQ(saved.RecordSplitMinutes, 60);

    // Off: the fields keep their values, greyed, and are saved as they are.
    dialog.chkRecordEnabled->setChecked(false);
    for (QWidget* field : std::initializer_list<QWidget*>{dialog.edRecordFolder, dialog.btnBrowseRecord,
                                                          dialog.spRecordSplit})
        EXPECT_FALSE(field->isEnabled()) << field->metaObject()->className();
    dialog.edRecordFolder->setText("  /srv/gravacoes \t");
    dialog.SaveToConfig(saved);
    EXPECT_FALSE(saved.RecordEnabled);
    EXPECT_EQ(saved.RecordFolder, "/srv/gravacoes");
    EXPECT_EQ(saved.RecordSplitMinutes, 60);

    // A new dialog loading an unchecked box (no change, so no signal)
    // greys the fields as well; values out of the range are brought into
    // it, 0 showing as never in the dialog's language.
    TFrmConfig fresh(FSettings);
    fresh.LoadFromConfig(Defaults([&](TEncoderConfig& c) {
        c.Language = "es-ES";
        c.RecordSplitMinutes = -5;
    }));
    EXPECT_FALSE(fresh.chkRecordEnabled->isChecked());
    EXPECT_FALSE(fresh.btnBrowseRecord->isEnabled());
    EXPECT_FALSE(fresh.edRecordFolder->isEnabled());
    EXPECT_EQ(fresh.spRecordSplit->text().toStdString(), Translate("es-ES", "record_never"));
    fresh.SaveToConfig(saved);
    EXPECT_EQ(saved.RecordSplitMinutes, 0);
    dialog.LoadFromConfig(Defaults([](TEncoderConfig& c) { c.RecordSplitMinutes = 100000; }));
    dialog.SaveToConfig(saved);
    EXPECT_EQ(saved.RecordSplitMinutes, 1440);
}

TEST_F(SettingsDialog, OkStoresTheRecordingAndRefusesAFolderWithoutAFullPath)
{
    WriteSettings(FSettings, [](TEncoderConfig& c) { c.Host = "radio.example.net"; });
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(Defaults([](TEncoderConfig& c) { c.Language = "en-US"; }));
    dialog.show();
    dialog.chkRecordEnabled->setChecked(true);
    dialog.spRecordSplit->setValue(30);
    const std::string before = ReadTextFile(FSettings);
    for (const char* typed : {"", "   ", "Music", "./gravacoes", "~/Music"}) {
        dialog.pcConfig->setCurrentWidget(dialog.tabServidor);
        dialog.edRecordFolder->setText(typed);
        EXPECT_EQ(MessageOnOk(dialog), Translate("en-US", "record_folder_invalid")) << typed;
        EXPECT_TRUE(dialog.isVisible()) << typed;
        EXPECT_EQ(dialog.pcConfig->currentWidget(), dialog.tabRecord) << typed;
    }
    EXPECT_EQ(ReadTextFile(FSettings), before) << "nothing saved";

    // Off, no folder is needed.
    dialog.chkRecordEnabled->setChecked(false);
    EXPECT_EQ(MessageOnOk(dialog), "");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(ReadSettings(FSettings).RecordEnabled);

    // On, with a full path: all three fields reach the file.
    dialog.show();
    dialog.chkRecordEnabled->setChecked(true);
    dialog.edRecordFolder->setText(QString::fromStdString(" " + FDir.Path() + " "));
    EXPECT_EQ(MessageOnOk(dialog), "");
    const TEncoderConfig stored = ReadSettings(FSettings);
    EXPECT_TRUE(stored.RecordEnabled);
    EXPECT_EQ(stored.RecordFolder, FDir.Path());
    EXPECT_EQ(stored.RecordSplitMinutes, 30);
    EXPECT_EQ(stored.Host, "radio.example.net");
}

TEST_F(SettingsDialog, BrowseChoosesAFolderStartingFromTheOneTyped)
{
    const std::string folder = FDir.File("gravacoes");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    WriteTextFile(FDir.File("not-a-folder.mp3"), "x");
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(Defaults([&](TEncoderConfig& c) {
        c.RecordEnabled = true;
        c.RecordFolder = FDir.Path();
    }));
    bool foldersOnly = false;
    OnNextModal([&](QWidget* AModal) {
        auto* files = qobject_cast<QFileDialog*>(AModal);
        ASSERT_NE(files, nullptr);
        EXPECT_EQ(files->directory().absolutePath().toStdString(), FDir.Path());
        foldersOnly = files->fileMode() == QFileDialog::Directory && files->testOption(QFileDialog::ShowDirsOnly);
        auto* name = files->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText("gravacoes");
        QMetaObject::invokeMethod(files, "accept");
    });
    dialog.btnBrowseRecord->click();
    EXPECT_TRUE(foldersOnly);
    EXPECT_EQ(dialog.edRecordFolder->text().toStdString(), folder);

    // Cancel keeps what is there; the next chooser opens in it.
    OnNextModal([&](QWidget* AModal) {
        auto* files = qobject_cast<QFileDialog*>(AModal);
        EXPECT_EQ(files->directory().absolutePath().toStdString(), folder);
        files->reject();
    });
    dialog.btnBrowseRecord->click();
    EXPECT_EQ(dialog.edRecordFolder->text().toStdString(), folder);
}

namespace {

// Servers 2 to 4 as a test sets them up: each field different from the
// defaults and from the other servers.
TServerRecord ExtraServer(int AServer, bool AEnabled)
{
    TServerRecord s;
    const std::string n = std::to_string(AServer);
    s.Enabled = AEnabled;
    s.ServerType = AServer == 3 ? "shoutcast" : "icecast";
    s.Host = "radio" + n + ".example.net";
    s.Port = 8000 + AServer;
    s.Mount = "/live" + n;
    s.UserName = "source" + n;
    s.Password = " senha " + n;
    s.StreamName = "Radio " + n;
    s.Genre = "Genre " + n;
    s.Url = "https://radio" + n + ".example.net/";
    s.ListenUrl = AServer == 4 ? "" : "http://relay" + n + ".example.net:8000/live" + n;
    s.UseTls = AServer == 2;
    s.TlsFingerprint = "AB:CD:0" + n;
    s.Codec = AServer == 2 ? "audio/ogg" : AServer == 3 ? "audio/aacp" : "audio/opus";
    s.Bitrate = 32 * AServer;
    s.Channels = AServer == 4 ? 1 : 2;
    return s;
}

void ExpectSameServer(const TServerRecord& AGot, const TServerRecord& AWant, const std::string& AWhich)
{
    EXPECT_EQ(AGot.Enabled, AWant.Enabled) << AWhich;
    EXPECT_EQ(AGot.ServerType, AWant.ServerType) << AWhich;
    EXPECT_EQ(AGot.Host, AWant.Host) << AWhich;
    EXPECT_EQ(AGot.Port, AWant.Port) << AWhich;
    EXPECT_EQ(AGot.Mount, AWant.Mount) << AWhich;
    EXPECT_EQ(AGot.UserName, AWant.UserName) << AWhich;
    EXPECT_EQ(AGot.Password, AWant.Password) << AWhich;
    EXPECT_EQ(AGot.StreamName, AWant.StreamName) << AWhich;
    EXPECT_EQ(AGot.Genre, AWant.Genre) << AWhich;
    EXPECT_EQ(AGot.Url, AWant.Url) << AWhich;
    EXPECT_EQ(AGot.ListenUrl, AWant.ListenUrl) << AWhich;
    EXPECT_EQ(AGot.UseTls, AWant.UseTls) << AWhich;
    EXPECT_EQ(AGot.TlsFingerprint, AWant.TlsFingerprint) << AWhich;
    EXPECT_EQ(AGot.Codec, AWant.Codec) << AWhich;
    EXPECT_EQ(AGot.Bitrate, AWant.Bitrate) << AWhich;
    EXPECT_EQ(AGot.Channels, AWant.Channels) << AWhich;
}

// Server 1's fields in the record of a further server, to compare them.
TServerRecord ServerOne(const TEncoderConfig& C)
{
    return {true,      C.ServerType, C.Host,  C.Port,   C.Mount,          C.UserName, C.Password, C.StreamName,
            C.Genre,   C.Url,        C.UseTls, C.TlsFingerprint, C.Codec, C.Bitrate, C.Mp3Quality, C.Channels, C.ListenUrl};
}

TEncoderConfig FourServers()
{
    return Defaults([](TEncoderConfig& c) {
        c.Port = 8100;
        c.Password = "hackme";
        c.Codec = "audio/mpeg";
        c.Bitrate = 192;
        c.SampleRate = 48000;
        c.ListenUrl = "https://relay.example.net/stream";
        for (int n = 2; n <= 4; ++n)
            c.ExtraServers[n - 2] = ExtraServer(n, n != 3);
    });
}

} // namespace

TEST_F(SettingsDialog, TheSelectorShowsEachServersFieldsAndKeepsWhatWasTypedForEach)
{
    const TEncoderConfig loaded = FourServers();
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(loaded);
    // Everything of one server under the selector, server 1 first, which
    // is always used and has no box.
    for (QWidget* field : std::initializer_list<QWidget*>{dialog.cbServer, dialog.edHost, dialog.cbCodec,
                                                          dialog.cbBitrate, dialog.cbChannels, dialog.edStreamName,
                                                          dialog.edGenre, dialog.edUrl, dialog.chkTls})
        EXPECT_EQ(field->parentWidget(), dialog.tabServidor) << field->metaObject()->className();
    EXPECT_EQ(dialog.cbSampleRate->parentWidget(), dialog.tabAudio) << "one rate for all";
    ASSERT_EQ(dialog.cbServer->count(), KMaxServers);
    EXPECT_EQ(dialog.cbServer->currentIndex(), 0);
    EXPECT_EQ(dialog.cbServer->itemText(3).toStdString(), "Servidor 4");
    EXPECT_TRUE(dialog.chkServerEnabled->isHidden());
    EXPECT_EQ(dialog.edHost->text().toStdString(), "radio.example.net");
    EXPECT_EQ(dialog.edPort->text(), "8100");

    // What each shows (every field of each reaches the record below, after
    // switches through all four).
    const char* const codecs[] = {"Ogg Vorbis", "AAC+ (AAC Plus)", "Ogg Opus"};
    for (int n = 2; n <= 4; ++n) {
        const TServerRecord& s = loaded.ExtraServers[n - 2];
        dialog.cbServer->setCurrentIndex(n - 1);
        const std::string which = "server " + std::to_string(n);
        EXPECT_FALSE(dialog.chkServerEnabled->isHidden()) << which;
        EXPECT_EQ(dialog.chkServerEnabled->isChecked(), s.Enabled) << which;
        EXPECT_EQ(dialog.edHost->text().toStdString(), s.Host) << which;
        EXPECT_EQ(dialog.cbCodec->currentText().toStdString(), codecs[n - 2]) << which;
        EXPECT_EQ(dialog.cbBitrate->currentText().toStdString(), std::to_string(s.Bitrate)) << which;
        EXPECT_EQ(dialog.edListenUrl->text().toStdString(), s.ListenUrl) << which;
        // A server that is off looks off.
        EXPECT_EQ(dialog.edHost->isEnabled(), s.Enabled) << which;
        EXPECT_EQ(dialog.edListenUrl->isEnabled(), s.Enabled) << which;
        EXPECT_EQ(dialog.cbCodec->isEnabled(), s.Enabled) << which;
    }

    // Typed into server 2, then server 3 switched on and typed into: each
    // keeps its own, server 1 its own, across any number of switches.
    dialog.cbServer->setCurrentIndex(1);
    dialog.edHost->setText(" typed2.example ");
    dialog.edPort->setText("9002");
    dialog.cbBitrate->setEditText("112");
    dialog.cbCodec->setCurrentIndex(3);
    dialog.chkTls->setChecked(false);
    dialog.edListenUrl->setText(" http://typed2.example/relay ");
    dialog.cbServer->setCurrentIndex(2);
    dialog.chkServerEnabled->setChecked(true);
    EXPECT_TRUE(dialog.edHost->isEnabled());
    dialog.edGenre->setText("Jazz");
    dialog.cbChannels->setEditText("1");
    dialog.cbServer->setCurrentIndex(0);
    EXPECT_TRUE(dialog.chkServerEnabled->isHidden());
    EXPECT_TRUE(dialog.edHost->isEnabled());
    EXPECT_EQ(dialog.edHost->text().toStdString(), "radio.example.net");
    EXPECT_EQ(dialog.cbBitrate->currentText(), "192");
    EXPECT_EQ(dialog.edListenUrl->text().toStdString(), "https://relay.example.net/stream");
    dialog.cbServer->setCurrentIndex(1);
    EXPECT_EQ(dialog.edHost->text(), " typed2.example ");
    EXPECT_EQ(dialog.cbBitrate->currentText(), "112");
    EXPECT_EQ(dialog.cbCodec->currentText().toStdString(), "FLAC");
    // Saved while server 3 was left shown, unsaved edits and all.
    dialog.cbServer->setCurrentIndex(2);
    dialog.edMount->setText("/late");

    TEncoderConfig saved = Defaults();
    for (TServerRecord& s : saved.ExtraServers)
        s.TlsFingerprint = "kept";
    dialog.SaveToConfig(saved);
    TServerRecord two = ExtraServer(2, true);
    two.Host = "typed2.example";
    two.Port = 9002;
    two.Bitrate = 112;
    two.Codec = "audio/flac";
    two.UseTls = false;
    two.ListenUrl = "http://typed2.example/relay";
    TServerRecord three = ExtraServer(3, true);
    three.Genre = "Jazz";
    three.Channels = 1;
    three.Mount = "/late";
    TServerRecord four = ExtraServer(4, true);
    // The certificate pins are not the dialog's: the record's stay.
    for (TServerRecord* s : {&two, &three, &four})
        s->TlsFingerprint = "kept";
    ExpectSameServer(saved.ExtraServers[0], two, "server 2");
    ExpectSameServer(saved.ExtraServers[1], three, "server 3");
    ExpectSameServer(saved.ExtraServers[2], four, "server 4");
    TServerRecord one = ServerOne(loaded);
    one.TlsFingerprint = saved.TlsFingerprint;
    ExpectSameServer(ServerOne(saved), one, "server 1");
    EXPECT_EQ(saved.SampleRate, 48000);
}

TEST_F(SettingsDialog, ServersNeverTouchedComeBackAsTheyWere)
{
    // A file from before there were further servers, and one with all four:
    // loaded and saved without a switch, every field is what it was.
    for (const TEncoderConfig& loaded : {Defaults(), FourServers()}) {
        TFrmConfig dialog(FSettings);
        dialog.LoadFromConfig(loaded);
        TEncoderConfig saved = loaded;
        dialog.SaveToConfig(saved);
        ExpectSameServer(ServerOne(saved), ServerOne(loaded), "server 1");
        for (int n = 2; n <= 4; ++n)
            ExpectSameServer(saved.ExtraServers[n - 2], loaded.ExtraServers[n - 2], "server " + std::to_string(n));
    }

    // OK with only server 1 writes the same file as before: none of the
    // further servers' sections change.
    WriteSettings(FSettings, [](TEncoderConfig& c) { c.Host = "radio.example.net"; });
    const std::string before = ReadTextFile(FSettings);
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(ReadSettings(FSettings));
    dialog.show();
    EXPECT_EQ(MessageOnOk(dialog), "");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(ReadTextFile(FSettings), before);
}

TEST_F(SettingsDialog, OkRefusesAnEnabledServerWithoutHostOrPortOnItsPageAndServer)
{
    WriteSettings(FSettings, [](TEncoderConfig& c) { c.Host = "radio.example.net"; });
    const std::string before = ReadTextFile(FSettings);
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(Defaults([](TEncoderConfig& c) {
        c.Language = "es-ES";
        // Off: an empty host and a port that is no number are not checked.
        c.ExtraServers[0] = ExtraServer(2, false);
        c.ExtraServers[0].Host = "";
        c.ExtraServers[2] = ExtraServer(4, true);
        c.ExtraServers[2].Host = "  ";
    }));
    dialog.show();
    dialog.cbServer->setCurrentIndex(1);
    dialog.edPort->setText("abc");
    dialog.cbServer->setCurrentIndex(0);
    dialog.pcConfig->setCurrentWidget(dialog.tabEQ);

    EXPECT_EQ(MessageOnOk(dialog), "Indique el host del servidor 4.");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.pcConfig->currentWidget(), dialog.tabServidor);
    EXPECT_EQ(dialog.cbServer->currentIndex(), 3);
    EXPECT_EQ(dialog.edHost->text(), "  ");
    EXPECT_EQ(dialog.focusWidget(), dialog.edHost);
    EXPECT_EQ(ReadTextFile(FSettings), before) << "nothing saved";

    for (const char* typed : {"", "0", "65536", "0x1F40"}) {
        dialog.edHost->setText("radio4.example.net");
        dialog.edPort->setText(typed);
        dialog.cbServer->setCurrentIndex(0);
        dialog.pcConfig->setCurrentWidget(dialog.tabFTP);
        EXPECT_EQ(MessageOnOk(dialog), "El puerto del servidor 4 debe ser un número de 1 a 65535.") << typed;
        EXPECT_EQ(dialog.pcConfig->currentWidget(), dialog.tabServidor) << typed;
        EXPECT_EQ(dialog.cbServer->currentIndex(), 3) << typed;
        EXPECT_EQ(dialog.focusWidget(), dialog.edPort) << typed;
    }
    // Server 1 is checked first, with its message of always.
    dialog.cbServer->setCurrentIndex(0);
    dialog.edPort->setText("80 80");
    dialog.cbServer->setCurrentIndex(2);
    EXPECT_EQ(MessageOnOk(dialog), Translate("es-ES", "port_invalid"));
    EXPECT_EQ(dialog.cbServer->currentIndex(), 0);
    dialog.edPort->setText("8000");
    // The FTP port comes after every server.
    dialog.edFtpPort->setText("x");
    EXPECT_EQ(MessageOnOk(dialog), "El puerto del servidor 4 debe ser un número de 1 a 65535.");
    dialog.edPort->setText("8004");
    EXPECT_EQ(MessageOnOk(dialog), Translate("es-ES", "ftp_port_invalid"));
    EXPECT_EQ(dialog.pcConfig->currentWidget(), dialog.tabFTP);
    dialog.edFtpPort->setText("21");
    EXPECT_EQ(ReadTextFile(FSettings), before) << "nothing saved";

    // Put right: saved, the server off with what it had, 8000 for its port.
    EXPECT_EQ(MessageOnOk(dialog), "");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const TEncoderConfig stored = ReadSettings(FSettings);
    EXPECT_TRUE(stored.ExtraServers[2].Enabled);
    EXPECT_EQ(stored.ExtraServers[2].Host, "radio4.example.net");
    EXPECT_EQ(stored.ExtraServers[2].Port, 8004);
    EXPECT_FALSE(stored.ExtraServers[0].Enabled);
    EXPECT_EQ(stored.ExtraServers[0].Host, "");
    EXPECT_EQ(stored.ExtraServers[0].Port, 8000);
    EXPECT_EQ(stored.ExtraServers[0].Mount, "/live2");
    EXPECT_FALSE(stored.ExtraServers[1].Enabled);
    EXPECT_EQ(stored.Language, "es-ES");

    // Server 1 without a host is saved as it always was: its transmission
    // says what is missing.
    dialog.show();
    dialog.cbServer->setCurrentIndex(0);
    dialog.edHost->setText("");
    EXPECT_EQ(MessageOnOk(dialog), "");
    EXPECT_EQ(ReadSettings(FSettings).Host, "");
}

TEST_F(SettingsDialog, AlarmFieldsLoadSaveAndFollowTheirCheckBox)
{
    TFrmConfig dialog(FSettings);
    // The defaults: the silence alarm on, the listener off, no actions.
    dialog.LoadFromConfig(Defaults());
    EXPECT_EQ(dialog.chkSilenceAlarm->parentWidget(), dialog.tabAlarms);
    EXPECT_TRUE(dialog.chkSilenceAlarm->isChecked());
    EXPECT_EQ(dialog.spSilenceDb->text(), "-50 dBFS");
    EXPECT_EQ(dialog.spSilenceSeconds->text(), "20 s");
    EXPECT_FALSE(dialog.chkListenerCheck->isChecked());
    EXPECT_TRUE(dialog.edAlarmWebhook->text().isEmpty());
    EXPECT_TRUE(dialog.edAlarmCommand->text().isEmpty());

    dialog.LoadFromConfig(Defaults([](TEncoderConfig& c) {
        c.SilenceAlarmEnabled = false;
        c.SilenceThresholdDb = -72;
        c.SilenceSeconds = 45;
        c.ListenerCheckEnabled = true;
        c.AlarmWebhookUrl = "https://hooks.example.net/a?b=1";
        c.AlarmCommand = "/usr/local/bin/avisar --radio 'Radio Exemplo'";
    }));
    EXPECT_FALSE(dialog.chkSilenceAlarm->isChecked());
    EXPECT_EQ(dialog.spSilenceDb->value(), -72);
    EXPECT_EQ(dialog.spSilenceSeconds->value(), 45);
    // Off: the level and time look off and keep their values.
    for (QWidget* field : std::initializer_list<QWidget*>{dialog.spSilenceDb, dialog.spSilenceSeconds})
        EXPECT_FALSE(field->isEnabled()) << field->metaObject()->className();
    EXPECT_TRUE(dialog.chkListenerCheck->isChecked());
    EXPECT_TRUE(dialog.edAlarmWebhook->isEnabled());
    TEncoderConfig saved = Defaults();
    dialog.SaveToConfig(saved);
    EXPECT_FALSE(saved.SilenceAlarmEnabled);
    EXPECT_EQ(saved.SilenceThresholdDb, -72);
    EXPECT_EQ(saved.SilenceSeconds, 45);
    EXPECT_TRUE(saved.ListenerCheckEnabled);
    EXPECT_EQ(saved.AlarmWebhookUrl, "https://hooks.example.net/a?b=1");
    EXPECT_EQ(saved.AlarmCommand, "/usr/local/bin/avisar --radio 'Radio Exemplo'");

    dialog.chkSilenceAlarm->setChecked(true);
    EXPECT_TRUE(dialog.spSilenceDb->isEnabled());
    EXPECT_TRUE(dialog.spSilenceSeconds->isEnabled());
    dialog.edAlarmWebhook->setText("  http://127.0.0.1:8080/hook \t");
    dialog.edAlarmCommand->setText("  logger alarme  ");
    dialog.chkListenerCheck->setChecked(false);
    dialog.SaveToConfig(saved);
    EXPECT_TRUE(saved.SilenceAlarmEnabled);
    EXPECT_FALSE(saved.ListenerCheckEnabled);
    EXPECT_EQ(saved.AlarmWebhookUrl, "http://127.0.0.1:8080/hook");
    EXPECT_EQ(saved.AlarmCommand, "logger alarme");

    // Values out of the ranges are brought into them.
    for (const auto& [db, seconds, wantDb, wantSeconds] :
         {std::tuple{-200, 0, -90, 2}, std::tuple{0, 100000, -10, 3600}, std::tuple{-90, 2, -90, 2}}) {
        dialog.LoadFromConfig(Defaults([&](TEncoderConfig& c) {
            c.SilenceThresholdDb = db;
            c.SilenceSeconds = seconds;
        }));
        dialog.SaveToConfig(saved);
        EXPECT_EQ(saved.SilenceThresholdDb, wantDb) << db;
        EXPECT_EQ(saved.SilenceSeconds, wantSeconds) << seconds;
    }
}

TEST_F(SettingsDialog, OkStoresTheAlarmsAndRefusesAWebhookThatIsNoWebAddress)
{
    WriteSettings(FSettings, [](TEncoderConfig& c) { c.Host = "radio.example.net"; });
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(Defaults([](TEncoderConfig& c) { c.Language = "en-US"; }));
    dialog.show();
    dialog.chkListenerCheck->setChecked(true);
    dialog.spSilenceDb->setValue(-60);
    dialog.spSilenceSeconds->setValue(90);
    dialog.edAlarmCommand->setText("/bin/true");
    const std::string before = ReadTextFile(FSettings);
    for (const char* typed : {"hooks.example.net/alarm", "ftp://hooks.example.net/", "https://", " http:// ",
                              "httpx://a", "mailto:radio@example.net"}) {
        dialog.pcConfig->setCurrentWidget(dialog.tabServidor);
        dialog.edAlarmWebhook->setText(typed);
        EXPECT_EQ(MessageOnOk(dialog), Translate("en-US", "alarm_webhook_invalid")) << typed;
        EXPECT_TRUE(dialog.isVisible()) << typed;
        EXPECT_EQ(dialog.pcConfig->currentWidget(), dialog.tabAlarms) << typed;
        EXPECT_EQ(dialog.focusWidget(), dialog.edAlarmWebhook) << typed;
    }
    EXPECT_EQ(ReadTextFile(FSettings), before) << "nothing saved";

    // Empty is off; either scheme in any case is an address.
    for (const char* typed : {"", "   ", "HTTPS://hooks.example.net/alarm?radio=1", "http://127.0.0.1:8080/"}) {
        dialog.show();
        dialog.edAlarmWebhook->setText(typed);
        EXPECT_EQ(MessageOnOk(dialog), "") << typed;
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << typed;
        EXPECT_EQ(ReadSettings(FSettings).AlarmWebhookUrl, QString(typed).trimmed().toStdString()) << typed;
    }
    // All of the page reaches the file, and what was there stays.
    const TEncoderConfig stored = ReadSettings(FSettings);
    EXPECT_TRUE(stored.SilenceAlarmEnabled);
    EXPECT_EQ(stored.SilenceThresholdDb, -60);
    EXPECT_EQ(stored.SilenceSeconds, 90);
    EXPECT_TRUE(stored.ListenerCheckEnabled);
    EXPECT_EQ(stored.AlarmCommand, "/bin/true");
    EXPECT_EQ(stored.Host, "radio.example.net");
    const std::string file = ReadTextFile(FSettings);
    EXPECT_NE(file.find("[Alarme]"), std::string::npos) << file;
    EXPECT_NE(file.find("SilencioSegundos=90"), std::string::npos) << file;
}

TEST_F(SettingsDialog, OkRefusesAListeningAddressThatIsNoWebAddressOnItsServer)
{
    WriteSettings(FSettings, [](TEncoderConfig& c) { c.Host = "radio.example.net"; });
    const std::string before = ReadTextFile(FSettings);
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(Defaults([](TEncoderConfig& c) {
        c.Language = "fr-FR";
        c.ExtraServers[0] = ExtraServer(2, true);
        // Off: its address is not checked.
        c.ExtraServers[1] = ExtraServer(3, false);
        c.ExtraServers[1].ListenUrl = "relay3";
    }));
    dialog.show();
    // The placeholder tells what empty means.
    EXPECT_EQ(dialog.edListenUrl->placeholderText().toStdString(), Translate("fr-FR", "listen_url_empty"));

    dialog.edListenUrl->setText("relay.example.net:8000/stream");
    dialog.pcConfig->setCurrentWidget(dialog.tabAlarms);
    const QString invalid = QString::fromStdString(Translate("fr-FR", "listen_url_invalid"));
    EXPECT_EQ(MessageOnOk(dialog), invalid.arg(1).toStdString());
    EXPECT_EQ(dialog.pcConfig->currentWidget(), dialog.tabServidor);
    EXPECT_EQ(dialog.cbServer->currentIndex(), 0);
    EXPECT_EQ(dialog.focusWidget(), dialog.edListenUrl);
    dialog.edListenUrl->setText("");

    dialog.cbServer->setCurrentIndex(1);
    dialog.edListenUrl->setText("rtmp://relay2.example.net/live");
    dialog.cbServer->setCurrentIndex(0);
    const std::string message = MessageOnOk(dialog);
    EXPECT_NE(message.find("serveur 2"), std::string::npos) << message;
    EXPECT_NE(message.find("http://"), std::string::npos) << message;
    EXPECT_EQ(dialog.cbServer->currentIndex(), 1);
    EXPECT_EQ(dialog.edListenUrl->text(), "rtmp://relay2.example.net/live");
    EXPECT_EQ(ReadTextFile(FSettings), before) << "nothing saved";

    // Put right, every server's address reaches the file as typed.
    dialog.edListenUrl->setText(" https://relay2.example.net/live ");
    EXPECT_EQ(MessageOnOk(dialog), "");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const TEncoderConfig stored = ReadSettings(FSettings);
    EXPECT_EQ(stored.ListenUrl, "");
    EXPECT_EQ(stored.ExtraServers[0].ListenUrl, "https://relay2.example.net/live");
    EXPECT_EQ(stored.ExtraServers[1].ListenUrl, "relay3");
    EXPECT_EQ(stored.ExtraServers[2].ListenUrl, "");
}

TEST_F(SettingsDialog, FallbackFieldsLoadSaveAndFollowTheChosenSource)
{
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(Defaults([](TEncoderConfig& c) {
        c.FallbackEnabled = true;
        c.FallbackSource = "url";
        c.FallbackFolder = "/srv/reserva";
        c.FallbackUrl = "http://backup.example.net:8000/live";
        c.FallbackTitle = "Radio Exemplo - reserva";
        c.FallbackSeconds = 7;
        // Not on the rig: unplugged since it was chosen.
        c.FallbackDeviceId = "pulse:gone_card";
        c.FallbackDeviceName = "Old card [PulseAudio]";
    }));
    auto* enabled = Control<QCheckBox>(dialog, "chkFallback");
    auto* source = Control<QComboBox>(dialog, "cbFallbackSource");
    auto* folder = Control<QLineEdit>(dialog, "edFallbackFolder");
    auto* browse = Control<QPushButton>(dialog, "btnBrowseFallback");
    auto* url = Control<QLineEdit>(dialog, "edFallbackUrl");
    auto* channel = Control<QComboBox>(dialog, "cbFallbackChannel");
    auto* title = Control<QLineEdit>(dialog, "edFallbackTitle");
    auto* seconds = Control<QSpinBox>(dialog, "spFallbackSeconds");
    EXPECT_EQ(folder->parentWidget(), Control<QWidget>(dialog, "tabFallback"));
    EXPECT_TRUE(enabled->isChecked());
    EXPECT_EQ(source->currentIndex(), 1);
    EXPECT_EQ(url->text().toStdString(), "http://backup.example.net:8000/live");
    EXPECT_EQ(folder->text().toStdString(), "/srv/reserva");
    EXPECT_EQ(title->text().toStdString(), "Radio Exemplo - reserva");
    EXPECT_EQ(seconds->text(), "7 s");

    // Only the chosen source's field is on.
    EXPECT_TRUE(url->isEnabled());
    EXPECT_FALSE(folder->isEnabled());
    EXPECT_FALSE(browse->isEnabled());
    EXPECT_FALSE(channel->isEnabled());
    source->setCurrentIndex(0);
    EXPECT_TRUE(folder->isEnabled());
    EXPECT_TRUE(browse->isEnabled());
    EXPECT_FALSE(url->isEnabled());
    // The channel list waits for the device listing.
    source->setCurrentIndex(2);
    EXPECT_FALSE(channel->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return !dialog.AudioDevicesPending(); }, 10000));
    EXPECT_TRUE(channel->isEnabled());
    EXPECT_FALSE(folder->isEnabled());
    EXPECT_FALSE(url->isEnabled());
    // Off, nothing of it is.
    enabled->setChecked(false);
    for (QWidget* field : std::initializer_list<QWidget*>{source, channel, title, seconds})
        EXPECT_FALSE(field->isEnabled()) << field->objectName().toStdString();
    enabled->setChecked(true);

    // The sound server's channels only, and the stored one though it is gone.
    ASSERT_EQ(channel->count(), int(dialog.FFallbackItems.size()));
    for (const TAudioComboItem& item : dialog.FFallbackItems)
        EXPECT_EQ(item.DeviceId.rfind("pulse:", 0), 0u) << item.DisplayName;
    EXPECT_EQ(channel->currentText().toStdString(), "Old card [PulseAudio]");
    TEncoderConfig saved = Defaults();
    dialog.SaveToConfig(saved);
    EXPECT_EQ(saved.FallbackSource, "canal");
    EXPECT_EQ(saved.FallbackDeviceId, "pulse:gone_card");
    EXPECT_EQ(saved.FallbackDeviceName, "Old card [PulseAudio]");
    int rigSink = -1;
    for (size_t i = 0; i < dialog.FFallbackItems.size(); ++i)
        if (dialog.FFallbackItems[i].DeviceId == "pulse:tavix_out")
            rigSink = int(i);
    ASSERT_GE(rigSink, 0);
    channel->setCurrentIndex(rigSink);

    source->setCurrentIndex(1);
    url->setText("  https://backup.example.net/live ");
    title->setText(" Reserva ");
    dialog.SaveToConfig(saved);
    EXPECT_TRUE(saved.FallbackEnabled);
    EXPECT_EQ(saved.FallbackSource, "url");
    EXPECT_EQ(saved.FallbackUrl, "https://backup.example.net/live");
    EXPECT_EQ(saved.FallbackFolder, "/srv/reserva");
    EXPECT_EQ(saved.FallbackTitle, "Reserva");
    EXPECT_EQ(saved.FallbackSeconds, 7);
    EXPECT_EQ(saved.FallbackDeviceId, "pulse:tavix_out");
    EXPECT_EQ(saved.FallbackDeviceName, CleanDeviceCaption(dialog.FFallbackItems[size_t(rigSink)].DisplayName));

    // 0 is the silence alarm's time, said in words.
    seconds->setValue(0);
    EXPECT_EQ(seconds->text().toStdString(), Translate("pt-BR", "fallback_seconds_alarm"));
    dialog.SaveToConfig(saved);
    EXPECT_EQ(saved.FallbackSeconds, 0);
}

TEST_F(SettingsDialog, OkRefusesAFallbackSourceThatCannotPlayOnlyWhenOn)
{
    WriteSettings(FSettings, [](TEncoderConfig& c) { c.Host = "radio.example.net"; });
    const std::string before = ReadTextFile(FSettings);
    TFrmConfig dialog(FSettings);
    dialog.LoadFromConfig(Defaults([](TEncoderConfig& c) {
        c.Language = "es-ES";
        c.FallbackEnabled = true;
        c.FallbackSource = "url";
        c.FallbackUrl = "backup.example.net/live";
        c.FallbackFolder = "musicas";
    }));
    dialog.show();
    auto* source = Control<QComboBox>(dialog, "cbFallbackSource");
    EXPECT_EQ(MessageOnOk(dialog), Translate("es-ES", "fallback_url_invalid"));
    EXPECT_EQ(dialog.pcConfig->currentWidget(), Control<QWidget>(dialog, "tabFallback"));
    EXPECT_EQ(dialog.focusWidget(), Control<QLineEdit>(dialog, "edFallbackUrl"));
    // The relative folder matters once the folder is the source.
    source->setCurrentIndex(0);
    dialog.pcConfig->setCurrentWidget(dialog.tabServidor);
    EXPECT_EQ(MessageOnOk(dialog), Translate("es-ES", "fallback_folder_invalid"));
    EXPECT_EQ(dialog.focusWidget(), Control<QLineEdit>(dialog, "edFallbackFolder"));
    EXPECT_EQ(ReadTextFile(FSettings), before) << "nothing saved";

    // A channel needs no typed field; off, nothing is checked.
    for (int index : {2, 1}) {
        source->setCurrentIndex(index);
        Control<QCheckBox>(dialog, "chkFallback")->setChecked(index != 1);
        dialog.show();
        EXPECT_EQ(MessageOnOk(dialog), "") << index;
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << index;
    }
    const TEncoderConfig stored = ReadSettings(FSettings);
    EXPECT_FALSE(stored.FallbackEnabled);
    EXPECT_EQ(stored.FallbackSource, "url");
    EXPECT_EQ(stored.FallbackUrl, "backup.example.net/live");
    EXPECT_EQ(stored.FallbackFolder, "musicas");
}
