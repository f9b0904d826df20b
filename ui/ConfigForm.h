#pragma once

#include <array>
#include <string>
#include <vector>

#include <QDialog>
#include <QFutureWatcher>

#include "capture/AudioComboItems.h"
#include "settings/EncoderConfig.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QWidget;

// One server's fields on the server page, as typed: the dialog keeps one
// of these for each server while another is shown.
struct TServerFields {
    bool Enabled = true;
    int Type = 0; // entry of the server type list
    QString Host, Port, Mount, User, Password, StreamName, Genre, Url, ListenUrl;
    bool Tls = false;
    int Codec = 0; // entry of the codec list
    QString Bitrate, Channels;
};

// The settings dialog: eight pages over one settings record. The caller
// fills it with LoadFromConfig, runs it modally and, on OK, copies it back
// with SaveToConfig. ASettingsPath is the settings file it reloads from
// and writes on OK.
class TFrmConfig : public QDialog {
    Q_OBJECT
public:
    explicit TFrmConfig(const std::string& ASettingsPath, QWidget* AParent = nullptr);

    void LoadFromConfig(const TEncoderConfig& C);
    void SaveToConfig(TEncoderConfig& C) const;
    void ApplyDialogTexts(const std::string& ALangCode);
    void FillPresetList(const std::string& ALangCode);
    void RefreshAudioDevices(int32_t CurrentIndex, TAudioSourceKind CurrentKind, const std::string& CurrentId);
    void ApplyDialogPreset(const std::string& AName);

    // Controls, named as in the layout.
    QTabWidget* pcConfig;
    // Which server the server page shows (1 to KMaxServers); servers 2 on
    // are used only when their box is ticked.
    QComboBox* cbServer;
    QCheckBox* chkServerEnabled;
    QFrame* lnServer;
    QWidget *tabServidor, *tabAudio, *tabMetadata, *tabFTP, *tabEQ, *tabRecord, *tabAlarms, *tabFallback;
    QLabel *lblServerType, *lblLanguage, *lblHost, *lblPort, *lblMount, *lblUser, *lblPassword;
    QComboBox *cbServerType, *cbLanguage;
    QLineEdit *edHost, *edPort, *edMount, *edUser, *edPassword;
    QLabel *lblCodec, *lblBitrate, *lblSampleRate, *lblChannels, *lblAudioDevice;
    QComboBox *cbCodec, *cbBitrate, *cbSampleRate, *cbChannels, *cbAudioDevice;
    QPushButton* btnRefreshAudio;
    QLabel *lblStreamName, *lblGenre, *lblUrl, *lblListenUrl, *lblNoar;
    QLineEdit *edStreamName, *edGenre, *edUrl, *edListenUrl, *edNoarPath;
    QPushButton* btnBrowseNoar;
    QCheckBox *chkFtpEnabled, *chkFtpPassive;
    QCheckBox* chkTls;
    QLabel *lblFtpHost, *lblFtpPort, *lblFtpUser, *lblFtpPassword, *lblFtpRemoteDir, *lblFtpRemoteFile,
        *lblFtpCronUrl;
    QLineEdit *edFtpHost, *edFtpPort, *edFtpUser, *edFtpPassword, *edFtpRemoteDir, *edFtpRemoteFile,
        *edFtpCronUrl;
    QLabel *lblEQHeading, *lblPreset;
    QComboBox* cbEQPreset;
    QPushButton* btnEQFlat;
    std::array<QSlider*, 8> trEQ{};
    std::array<QLabel*, 8> lblEQ{};
    QCheckBox* chkRecordEnabled;
    QLabel *lblRecordFolder, *lblRecordSplit, *lblRecordSplitHint;
    QLineEdit* edRecordFolder;
    QPushButton* btnBrowseRecord;
    QSpinBox* spRecordSplit;
    QCheckBox *chkSilenceAlarm, *chkListenerCheck;
    QLabel *lblSilenceDb, *lblSilenceSeconds, *lblListenerCheckHint, *lblAlarmWebhook, *lblAlarmCommand,
        *lblAlarmActionsHint;
    QSpinBox *spSilenceDb, *spSilenceSeconds;
    QLineEdit *edAlarmWebhook, *edAlarmCommand;
    QCheckBox* chkFallback;
    QLabel *lblFallbackSource, *lblFallbackFolder, *lblFallbackUrl, *lblFallbackChannel, *lblFallbackTitle,
        *lblFallbackSeconds, *lblFallbackHint;
    // Its entries stand for "pasta", "url" and "canal", in that order.
    QComboBox *cbFallbackSource, *cbFallbackChannel;
    QLineEdit *edFallbackFolder, *edFallbackUrl, *edFallbackTitle;
    QPushButton* btnBrowseFallback;
    QSpinBox* spFallbackSeconds;
    QWidget* PanelBottom;
    QPushButton *btnOK, *btnCancel;

    // One entry per line of cbAudioDevice, at the same position.
    std::vector<TAudioComboItem> FAudioItems;
    // The same for cbFallbackChannel: the sound server's channels, and the
    // stored one while it is missing.
    std::vector<TAudioComboItem> FFallbackItems;
    // True while the device list is being asked for (in the background:
    // a sound server may take seconds to answer, or never).
    bool AudioDevicesPending() const { return FAudioWatcher != nullptr; }

signals:
    void AudioDevicesListed();

protected:
    void showEvent(QShowEvent* AEvent) override;

private:
    void FormCreate();
    void FormShow();
    void BuildServerPage();
    void BuildAudioPage();
    void BuildMetadataPage();
    void BuildFtpPage();
    void BuildEqPage();
    void BuildRecordPage();
    void BuildAlarmsPage();
    void BuildFallbackPage();
    void NameControls();
    void FillFixedLists();
    void FillLanguageList();
    void SetupEqSliders();

    void btnRefreshAudioClick();
    void btnBrowseNoarClick();
    // Lets the operator pick a folder for AField, starting from the one it
    // holds; ADialogName names the chooser for tests.
    void ChooseFolder(QLineEdit* AField, const char* ATitleKey, const char* ADialogName);
    void EnableRecordFields();
    void EnableAlarmFields();
    void EnableFallbackFields();
    std::string FallbackSource() const;
    // The chosen entry; while none is listed, the one loaded.
    TAudioComboItem FallbackChannel() const;
    void FillFallbackChannels();
    void cbServerChange(int AIndex);
    void ShowServerFields(int AIndex);
    TServerFields ShownServerFields() const;
    // Every server's fields, the shown one as it stands now.
    std::array<TServerFields, KMaxServers> CurrentServers() const;
    void EnableServerFields();
    void cbEQPresetChange(int AIndex);
    void btnEQFlatClick();
    void btnOKClick();
    // Shows AField on its page, selected, with AMessage.
    void RefuseField(QLineEdit* AField, const QString& AMessage);
    // The same for a field of server AIndex + 1, shown first.
    void RefuseServerField(int AIndex, QLineEdit* AField, const QString& AMessage);
    QString ServerText(const char* AKey, int AIndex) const;

    std::string FSettingsPath;
    std::string FLangCode = "pt-BR"; // of the texts shown
    std::array<TServerFields, KMaxServers> FServers;
    int FShownServer = 0; // index into FServers of the one the page shows
    void StartAudioListing();
    QFutureWatcher<std::vector<TAudioComboItem>>* FAudioWatcher = nullptr;
    bool FAudioAgain = false;
    TAudioComboItem FAudioWanted; // the entry to select once listed
    TAudioComboItem FFallbackWanted; // likewise, by DeviceId and caption
};
