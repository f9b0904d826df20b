// The settings dialog: loading, saving, the capture-channel list over the
// real audio rig, the equalizer page, the recording page, the browse
// dialogs, and OK / Cancel as the main window runs them.
#include <string>
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
    AWindow.btnConfig->click();
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
    EXPECT_EQ(window.cbEqPresetMain->currentText().toStdString(), "Voz");
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(window.trEQ[i]->value(), DialogPresetGains[1][i]) << i;
    EXPECT_EQ(window.trEQ[8]->value(), 7);

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
    EXPECT_EQ(window.btnConfig->text().toStdString(), "Configurações");
}

TEST_F(SettingsDialog, OkSavesTheFileAndTheWindowShowsTheNewSettings)
{
    WriteSettings(FSettings, [](TEncoderConfig& c) {
        c.Host = "radio.example.net";
        c.EndpointUrl = "kept";
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
    EXPECT_EQ(stored.EndpointUrl, "kept");
    EXPECT_TRUE(stored.CompressorEnabled);
    EXPECT_EQ(window.Config().Host, "other.example");
    EXPECT_EQ(window.lblServerInfo->text().toStdString(), "other.example:8100 /live · 96 kbps · 44100 Hz");
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
    // The first check after start-up uploads the file.
    ASSERT_TRUE(PumpUntil([&] { return access(uploaded.c_str(), F_OK) == 0; }, 10000));
    EXPECT_EQ(ReadTextFile(uploaded), "Song A\n");

    // An unchanged file is not uploaded again by the periodic checks...
    ASSERT_EQ(unlink(uploaded.c_str()), 0);
    PumpFor(2600);
    EXPECT_NE(access(uploaded.c_str(), F_OK), 0);
    // ...but a confirmed settings dialog uploads it at once.
    RunSettingsDialog(window, [](TFrmConfig& dialog) { dialog.btnOK->click(); });
    EXPECT_TRUE(PumpUntil([&] { return access(uploaded.c_str(), F_OK) == 0; }, 10000));
    EXPECT_EQ(window.lblNoarText->text().toStdString(), "   Song A   ");
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
