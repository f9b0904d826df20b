// Every translated caption of the main window and the settings dialog
// follows the language chosen in the dialog, in all four languages.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>

#include "tests/support/TempDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/ConfigForm.h"
#include "ui/Lang.h"
#include "ui/MainWindow.h"

namespace {

// The dialog lists the capture channels: the binary's rig environment
// (ConfigFormTest.cpp) is up before the capture library starts.

using TCaptions = std::vector<std::pair<std::string, QString>>; // key, text shown

QStringList Items(const QComboBox* ACombo)
{
    QStringList items;
    for (int i = 0; i < ACombo->count(); ++i)
        items << ACombo->itemText(i);
    return items;
}

TCaptions MainCaptions(const TFrmPrincipal& w)
{
    return {
        {"app_title", w.windowTitle()},          {"encoder", Control<QLabel>(w, "lblTitle")->text()},
        {"vu_title", Control<QLabel>(w, "lblVuTitle")->text()},      {"config", Control<QPushButton>(w, "btnConfig")->text()},
        {"noar_caption", Control<QLabel>(w, "lblNoarCaption")->text()}, {"eq_title", Control<QLabel>(w, "lblEQTitle")->text()},
        {"eq_flat", Control<QPushButton>(w, "btnEqFlatMain")->text()},    {"compressor", Control<QCheckBox>(w, "chkCompressor")->text()},
        {"start", Control<QPushButton>(w, "btnStartStop")->text()},       {"stopped", Control<QLabel>(w, "lblStatus")->text()},
        {"no_device", Control<QLabel>(w, "lblCurrentDevice")->text()},
        {"band_low", Control<QLabel>(w, "lblGrave")->text()},        {"band_mid", Control<QLabel>(w, "lblMedio")->text()},
        {"band_high", Control<QLabel>(w, "lblAgudo")->text()},
        // "--" until a transmission counts its listeners.
        {"listeners", Control<QLabel>(w, "lblListeners")->text().chopped(2)},
        // The empty strip's text, with the marquee's padding.
        {"noar_empty", Control<QLabel>(w, "lblNoarText")->text().mid(3, Control<QLabel>(w, "lblNoarText")->text().size() - 6)},
    };
}

TCaptions DialogCaptions(const TFrmConfig& d)
{
    TCaptions captions = {
        {"cfg_title", d.windowTitle()},
        {"tab_server", d.pcConfig->tabText(0)},      {"tab_audio", d.pcConfig->tabText(1)},
        {"tab_metadata", d.pcConfig->tabText(2)},    {"tab_ftp", d.pcConfig->tabText(3)},
        {"tab_eq", d.pcConfig->tabText(4)},          {"tab_record", d.pcConfig->tabText(5)},
        {"tab_alarms", d.pcConfig->tabText(6)},
        {"server_type", d.lblServerType->text()},
        {"language", d.lblLanguage->text()},         {"host", d.lblHost->text()},
        {"port", d.lblPort->text()},                 {"mount", d.lblMount->text()},
        {"user", d.lblUser->text()},                 {"password", d.lblPassword->text()},
        {"codec", d.lblCodec->text()},               {"bitrate", d.lblBitrate->text()},
        {"sample_rate", d.lblSampleRate->text()},    {"channels", d.lblChannels->text()},
        {"capture_channel", d.lblAudioDevice->text()}, {"refresh", d.btnRefreshAudio->text()},
        {"public_name", d.lblStreamName->text()},    {"genre", d.lblGenre->text()},
        {"url", d.lblUrl->text()},                   {"noar_file", d.lblNoar->text()},
        {"listen_url", d.lblListenUrl->text()},      {"listen_url_empty", d.edListenUrl->placeholderText()},
        {"browse", d.btnBrowseNoar->text()},         {"ftp_enabled", d.chkFtpEnabled->text()},
        {"ftp_host", d.lblFtpHost->text()},          {"ftp_port", d.lblFtpPort->text()},
        {"ftp_user", d.lblFtpUser->text()},          {"ftp_password", d.lblFtpPassword->text()},
        {"ftp_remote_dir", d.lblFtpRemoteDir->text()}, {"ftp_remote_file", d.lblFtpRemoteFile->text()},
        {"ftp_cron_url", d.lblFtpCronUrl->text()},   {"ftp_passive", d.chkFtpPassive->text()},
        {"eq_heading", d.lblEQHeading->text()},      {"eq_preset", d.lblPreset->text()},          {"eq_flat", d.btnEQFlat->text()},
        {"record_enabled", d.chkRecordEnabled->text()}, {"record_folder", d.lblRecordFolder->text()},
        {"browse", d.btnBrowseRecord->text()},       {"record_split", d.lblRecordSplit->text()},
        {"record_never", d.spRecordSplit->specialValueText()},
        {"record_split_hint", d.lblRecordSplitHint->text()},
        {"alarm_silence_enabled", d.chkSilenceAlarm->text()}, {"alarm_silence_level", d.lblSilenceDb->text()},
        {"alarm_silence_time", d.lblSilenceSeconds->text()}, {"alarm_listener_check", d.chkListenerCheck->text()},
        {"alarm_listener_hint", d.lblListenerCheckHint->text()}, {"alarm_webhook", d.lblAlarmWebhook->text()},
        {"alarm_command", d.lblAlarmCommand->text()}, {"alarm_actions_hint", d.lblAlarmActionsHint->text()},
        {"save", d.btnOK->text()},                   {"cancel", d.btnCancel->text()},
        {"server_enabled", d.chkServerEnabled->text()},
    };
    for (int i = 0; i < d.cbServer->count(); ++i)
        captions.push_back({"server_n", d.cbServer->itemText(i).replace(QString::number(i + 1), "%1")});
    return captions;
}

QStringList PresetNames(const std::string& ALang)
{
    QStringList names;
    for (const char* key : {"preset_flat", "preset_voice", "preset_music", "preset_bass", "preset_presence"})
        names << QString::fromStdString(Translate(ALang, key));
    return names;
}

void ExpectCaptions(const TCaptions& ACaptions, const std::string& ALang, const char* AWhere)
{
    for (const auto& [key, shown] : ACaptions)
        EXPECT_EQ(shown.toStdString(), Translate(ALang, key)) << AWhere << " " << ALang << " " << key;
}

// Each control of APage inside it, and no two overlapping.
void ExpectEveryControlOnThePageApart(const QWidget* APage, const std::string& ALang)
{
    const QList<QWidget*> controls = APage->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const QWidget* control : controls) {
        EXPECT_TRUE(APage->rect().contains(control->geometry())) << ALang << " " << control->metaObject()->className();
        for (const QWidget* other : controls) {
            if (other != control) {
                EXPECT_FALSE(control->geometry().intersects(other->geometry()))
                    << ALang << " " << control->metaObject()->className() << " " << other->metaObject()->className()
                    << " at " << control->x() << "," << control->y();
            }
        }
    }
}

} // namespace

TEST(WindowTexts, EveryCaptionFollowsTheLanguageChosenInTheDialog)
{
    TTempDir dir;
    const std::string settings = dir.File("TavixEncoder.ini");
    WriteSettings(settings, [](TEncoderConfig& c) { c.Host = "radio.example.net"; });
    TFrmPrincipal window(settings);
    window.show();
    ExpectCaptions(MainCaptions(window), "pt-BR", "main");

    const std::vector<std::string> order = {"en-US", "es-ES", "fr-FR", "pt-BR"};
    std::string current = "pt-BR";
    for (const std::string& next : order) {
        OnNextModal([&](QWidget* AModal) {
            auto& dialog = *qobject_cast<TFrmConfig*>(AModal);
            // The dialog speaks the stored language.
            ExpectCaptions(DialogCaptions(dialog), current, "dialog");
            EXPECT_EQ(Items(dialog.cbEQPreset), PresetNames(current));
            dialog.cbLanguage->setCurrentText(QString::fromStdString(LanguageCodeToName(next)));
            dialog.btnOK->click();
        });
        Control<QPushButton>(window, "btnConfig")->click();
        EXPECT_EQ(window.Config().Language, next);
        ExpectCaptions(MainCaptions(window), next, "main");
        EXPECT_EQ(Items(Control<QComboBox>(window, "cbEqPresetMain")), PresetNames(next));
        current = next;
    }

    // Languages really differ on most captions: English against Portuguese.
    int differing = 0;
    for (const auto& [key, shown] : MainCaptions(window))
        differing += Translate("en-US", key) != Translate("pt-BR", key);
    EXPECT_GE(differing, 9);
}

TEST(WindowTexts, TheDialogsPagesAndCaptionsTakeTheThemesColours)
{
    TTempDir dir;
    TFrmConfig dialog(dir.File("TavixEncoder.ini"));
    dialog.show();
    const QColor back = QApplication::palette().color(QPalette::Window);
    const QColor text = QApplication::palette().color(QPalette::WindowText);
    ASSERT_NE(back, QColor(Qt::white)); // the theme of the program is on
    for (int i = 0; i < dialog.pcConfig->count(); ++i) {
        dialog.pcConfig->setCurrentIndex(i);
        QWidget* page = dialog.pcConfig->widget(i);
        // An empty corner of the page, below every control.
        EXPECT_EQ(Snapshot(page).pixelColor(page->width() - 5, page->height() - 5), back) << i;
    }
    for (const QLabel* caption : {dialog.lblHost, dialog.lblCodec, dialog.lblEQHeading, dialog.lblFtpHost})
        EXPECT_EQ(caption->palette().color(QPalette::WindowText), text) << caption->text().toStdString();
    EXPECT_EQ(dialog.chkFtpPassive->palette().color(QPalette::WindowText), text);
}

TEST(WindowTexts, SevenPagesAndTheRecordingPageFitInEveryLanguage)
{
    TTempDir dir;
    TFrmConfig dialog(dir.File("TavixEncoder.ini"));
    dialog.show();
    dialog.pcConfig->setCurrentWidget(dialog.tabRecord);
    for (const TLanguage& language : Languages) {
        const std::string code(language.Code);
        dialog.ApplyDialogTexts(code);
        PumpFor(20);
        // Every tab shows at once: no scroll arrows beside the last one.
        const QTabBar* tabs = dialog.pcConfig->tabBar();
        EXPECT_LE(tabs->tabRect(tabs->count() - 1).right(), dialog.pcConfig->width()) << code;
        const int pageWidth = dialog.tabRecord->width();
        EXPECT_LE(dialog.chkRecordEnabled->geometry().right(), pageWidth) << code;
        EXPECT_GE(dialog.chkRecordEnabled->width(), dialog.chkRecordEnabled->sizeHint().width()) << code;
        const QLabel* hint = dialog.lblRecordSplitHint;
        EXPECT_LE(hint->geometry().right(), pageWidth) << code;
        EXPECT_LE(hint->heightForWidth(hint->width()), hint->height()) << code << " " << hint->text().toStdString();
        EXPECT_GT(hint->y(), dialog.spRecordSplit->geometry().bottom()) << code;
        // Wide enough for "1440 min" and for the word for none.
        EXPECT_LE(dialog.spRecordSplit->sizeHint().width(), dialog.spRecordSplit->width()) << code;
        EXPECT_LT(dialog.lblRecordFolder->geometry().bottom(), dialog.edRecordFolder->y()) << code;
        EXPECT_LT(dialog.lblRecordSplit->geometry().bottom(), dialog.spRecordSplit->y()) << code;
    }
}

TEST(WindowTexts, TheServerPageHoldsEveryFieldOfAServerInEveryLanguage)
{
    TTempDir dir;
    TFrmConfig dialog(dir.File("TavixEncoder.ini"));
    dialog.show();
    dialog.pcConfig->setCurrentWidget(dialog.tabServidor);
    dialog.cbServer->setCurrentIndex(1); // the box shows from server 2 on
    for (const TLanguage& language : Languages) {
        const std::string code(language.Code);
        dialog.ApplyDialogTexts(code);
        PumpFor(20);
        ExpectEveryControlOnThePageApart(dialog.tabServidor, code);
        EXPECT_GE(dialog.chkServerEnabled->width(), dialog.chkServerEnabled->sizeHint().width()) << code;
    }
}

TEST(WindowTexts, TheAlarmsPageFitsInEveryLanguage)
{
    TTempDir dir;
    TFrmConfig dialog(dir.File("TavixEncoder.ini"));
    dialog.show();
    dialog.pcConfig->setCurrentWidget(dialog.tabAlarms);
    for (const TLanguage& language : Languages) {
        const std::string code(language.Code);
        dialog.ApplyDialogTexts(code);
        PumpFor(20);
        ExpectEveryControlOnThePageApart(dialog.tabAlarms, code);
        // The hints whole, the check boxes' words whole, the spin boxes
        // wide enough for "-90 dBFS" and "3600 s".
        for (const QLabel* hint : {dialog.lblListenerCheckHint, dialog.lblAlarmActionsHint})
            EXPECT_LE(hint->heightForWidth(hint->width()), hint->height()) << code << " " << hint->text().toStdString();
        for (const QCheckBox* box : {dialog.chkSilenceAlarm, dialog.chkListenerCheck})
            EXPECT_GE(box->width(), box->sizeHint().width()) << code;
        for (const QSpinBox* spin : {dialog.spSilenceDb, dialog.spSilenceSeconds})
            EXPECT_LE(spin->sizeHint().width(), spin->width()) << code;
    }
}
