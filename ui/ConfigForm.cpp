#include "ui/ConfigForm.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QtConcurrent/QtConcurrentRun>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>

#include "capture/DeviceCaption.h"
#include "capture/PortAudioDevices.h"
#include "capture/SoundServerChannel.h"
#include "dsp/EqPresets.h"
#include "net/HttpGet.h"
#include "platform/Text.h"
#include "settings/CodecIds.h"
#include "settings/SettingsWriteError.h"
#include "ui/FormHelpers.h"
#include "ui/Lang.h"
#include "ui/Theme.h"

namespace {

constexpr int KFieldHeight = 23;
constexpr int KCaptionAbove = 18;
constexpr int KCheckWidth = 180;

struct TCodecEntry {
    const char* Caption;
    const char* Id;
};

// In list order.
constexpr TCodecEntry KCodecEntries[] = {
    {"MP3 (LAME)", KCodecMp3},
    {"Ogg Vorbis", KCodecOggVorbis},
    {"AAC+ (AAC Plus)", KCodecAacPlus},
    {"FLAC", KCodecOggFlac},
    {"Ogg Opus", KCodecOggOpus},
};

// As stored, in the order of the source list.
constexpr const char* KFallbackSources[] = {"pasta", "url", "canal"};

int CodecEntryIndex(const std::string& ACodec)
{
    switch (CodecKindFromId(ACodec)) {
    case TCodecKind::OggVorbis:
        return 1;
    case TCodecKind::AacPlus:
        return 2;
    case TCodecKind::OggFlac:
        return 3;
    case TCodecKind::OggOpus:
        return 4;
    default:
        return 0;
    }
}

// The pages and their captions take the colours of the program's theme
// (dark pages under dark controls, never white ones).
QColor DialogText()
{
    return QApplication::palette().color(QPalette::WindowText);
}

QColor DialogBack()
{
    return QApplication::palette().color(QPalette::Window);
}
const QColor KBottomBar(0x10, 0x11, 0x19);

// Selects the entry showing AText, or types it into the editable field.
void SelectOrType(QComboBox* ACombo, const QString& AText)
{
    const int index = FindComboText(ACombo, AText);
    ACombo->setCurrentIndex(index);
    if (index < 0)
        ACombo->setEditText(AText);
}

void SelectOrTypeNumber(QComboBox* ACombo, int AValue)
{
    SelectOrType(ACombo, QString::number(AValue));
}

// A port's number, the blanks around it aside; ADefault when it is not a
// decimal integer.
int PortValue(const QString& AText, int ADefault)
{
    return StrToIntDef(AText.trimmed(), ADefault);
}

bool IsPortText(const QString& AText)
{
    const int port = PortValue(AText, 0);
    return port >= 1 && port <= 65535;
}

bool IsPortField(const QLineEdit* AEdit)
{
    return IsPortText(AEdit->text());
}

bool IsWebAddressOrEmpty(const QString& AText)
{
    return AText.trimmed().isEmpty() || IsWebAddress(StdStr(AText));
}

// Server 1 (the flat fields of the settings) and the further servers have
// members of the same names.
template <class TServer>
TServerFields FieldsOf(const TServer& AServer, QComboBox* ATypes)
{
    TServerFields f;
    f.Type = std::max(0, FindComboText(ATypes, QStr(AServer.ServerType)));
    f.Host = QStr(AServer.Host);
    f.Port = QString::number(AServer.Port);
    f.Mount = QStr(AServer.Mount);
    f.User = QStr(AServer.UserName);
    f.Password = QStr(AServer.Password);
    f.StreamName = QStr(AServer.StreamName);
    f.Genre = QStr(AServer.Genre);
    f.Url = QStr(AServer.Url);
    f.ListenUrl = QStr(AServer.ListenUrl);
    f.Tls = AServer.UseTls;
    f.Codec = CodecEntryIndex(AServer.Codec);
    f.Bitrate = QString::number(AServer.Bitrate);
    f.Channels = QString::number(AServer.Channels);
    return f;
}

// The certificate pin is not shown here and stays as it is.
template <class TServer>
void StoreFields(const TServerFields& AFields, const QComboBox* ATypes, int ABitrateDefault, TServer& AServer)
{
    AServer.ServerType = StdStr(ATypes->itemText(AFields.Type));
    AServer.Host = Trim(StdStr(AFields.Host));
    AServer.Port = PortValue(AFields.Port, 8000);
    AServer.UseTls = AFields.Tls;
    AServer.Mount = Trim(StdStr(AFields.Mount));
    AServer.UserName = Trim(StdStr(AFields.User));
    AServer.Password = StdStr(AFields.Password);
    AServer.StreamName = Trim(StdStr(AFields.StreamName));
    AServer.Genre = Trim(StdStr(AFields.Genre));
    AServer.Url = Trim(StdStr(AFields.Url));
    AServer.ListenUrl = Trim(StdStr(AFields.ListenUrl));
    AServer.Codec = KCodecEntries[AFields.Codec >= 0 ? AFields.Codec : 0].Id;
    AServer.Bitrate = StrToIntDef(AFields.Bitrate, ABitrateDefault);
    AServer.Channels = StrToIntDef(AFields.Channels, 2);
}

// The browse buttons open the toolkit's own chooser (a desktop's native
// one may not open under every platform plugin), in AFolder when given.
// The chosen path made absolute, or empty when cancelled.
QString RunChooser(QFileDialog& ADialog, const QString& AFolder)
{
    ADialog.setOption(QFileDialog::DontUseNativeDialog);
    if (!AFolder.isEmpty())
        ADialog.setDirectory(AFolder);
    if (ADialog.exec() != QDialog::Accepted || ADialog.selectedFiles().isEmpty())
        return {};
    return QFileInfo(ADialog.selectedFiles().first()).absoluteFilePath();
}

} // namespace

TFrmConfig::TFrmConfig(const std::string& ASettingsPath, QWidget* AParent)
    : QDialog(AParent), FSettingsPath(ASettingsPath)
{
    FormCreate();
}

// ---------------------------------------------------------------- layout

namespace {

struct TPageBuilder {
    QWidget* Page;
    QFont Font;

    template <class TControl>
    TControl* Place(int AX, int AY, int AWidth, int AHeight)
    {
        auto* control = new TControl(Page);
        control->setFont(Font);
        control->setGeometry(AX, AY, AWidth, AHeight);
        return control;
    }
    QLabel* Caption(int AX, int AFieldY)
    {
        QLabel* label = NewLabel(Page, AX, AFieldY - KCaptionAbove, Font);
        SetTextColor(label, DialogText());
        return label;
    }
    QLineEdit* Edit(int AX, int AY, int AWidth) { return Place<QLineEdit>(AX, AY, AWidth, KFieldHeight); }
    QComboBox* Combo(int AX, int AY, int AWidth, bool AEditable)
    {
        auto* combo = Place<QComboBox>(AX, AY, AWidth, KFieldHeight);
        combo->setEditable(AEditable);
        return combo;
    }
    QPushButton* Button(int AX, int AY, int AWidth, int AHeight)
    {
        auto* button = Place<QPushButton>(AX, AY, AWidth, AHeight);
        button->setAutoDefault(false);
        return button;
    }
    // A field with its caption 18 pixels above it.
    void EditField(QLabel*& ACaption, QLineEdit*& AEdit, int AX, int AY, int AWidth)
    {
        ACaption = Caption(AX, AY);
        AEdit = Edit(AX, AY, AWidth);
    }
    void ComboField(QLabel*& ACaption, QComboBox*& ACombo, int AX, int AY, int AWidth, bool AEditable)
    {
        ACaption = Caption(AX, AY);
        ACombo = Combo(AX, AY, AWidth, AEditable);
    }
    QCheckBox* Check(int AX, int AY, int AWidth)
    {
        auto* check = Place<QCheckBox>(AX, AY, AWidth, 17);
        SetTextColor(check, DialogText());
        return check;
    }
    // Across the page; as tall as its text needs, once it has one.
    QLabel* Hint(int AY)
    {
        QLabel* label = Caption(24, AY);
        label->setWordWrap(true);
        label->resize(674, label->height());
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
};

QWidget* NewPage()
{
    auto* page = new QWidget;
    SetBackground(page, DialogBack());
    return page;
}

} // namespace

void TFrmConfig::FormCreate()
{
    setFixedSize(760, 540);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFont(UiFont("Segoe UI", 12));
    SetBackground(this, DialogBack());
    SetTextColor(this, DialogText());

    pcConfig = new QTabWidget(this);
    pcConfig->setGeometry(12, 12, 736, 470);
    tabServidor = NewPage();
    tabAudio = NewPage();
    tabMetadata = NewPage();
    tabFTP = NewPage();
    tabEQ = NewPage();
    tabRecord = NewPage();
    tabAlarms = NewPage();
    tabFallback = NewPage();
    for (QWidget* page : {tabServidor, tabAudio, tabMetadata, tabFTP, tabEQ, tabRecord, tabAlarms, tabFallback})
        pcConfig->addTab(page, QString());
    BuildServerPage();
    BuildAudioPage();
    BuildMetadataPage();
    BuildFtpPage();
    BuildEqPage();
    BuildRecordPage();
    BuildAlarmsPage();
    BuildFallbackPage();

    PanelBottom = new QWidget(this);
    PanelBottom->setGeometry(0, 540 - 48, 760, 48);
    SetBackground(PanelBottom, KBottomBar);
    btnOK = new QPushButton(PanelBottom);
    btnOK->setGeometry(552, 10, 92, 28);
    btnOK->setDefault(true);
    btnCancel = new QPushButton(PanelBottom);
    btnCancel->setGeometry(652, 10, 92, 28);
    btnCancel->setAutoDefault(false);
    connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
    // Escape and the frame's close button reject the dialog as well.
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    FillFixedLists();
    FillLanguageList();
    SetupEqSliders();
    chkServerEnabled->hide(); // server 1 is shown first
    pcConfig->setCurrentIndex(0);
    NameControls();
}

void TFrmConfig::NameControls()
{
    // As in the main window: tests find these by name.
    const std::pair<QObject*, const char*> named[] = {
        {tabFallback, "tabFallback"},
        {chkFallback, "chkFallback"},
        {cbFallbackSource, "cbFallbackSource"},
        {edFallbackFolder, "edFallbackFolder"},
        {btnBrowseFallback, "btnBrowseFallback"},
        {edFallbackUrl, "edFallbackUrl"},
        {cbFallbackChannel, "cbFallbackChannel"},
        {edFallbackTitle, "edFallbackTitle"},
        {spFallbackSeconds, "spFallbackSeconds"},
        {lblFallbackHint, "lblFallbackHint"},
    };
    for (const auto& [object, name] : named)
        object->setObjectName(name);
}

// Above the rule: which server, whether it is used, and the language, which
// is everyone's. Below it: all that each server has of its own.
void TFrmConfig::BuildServerPage()
{
    TPageBuilder b{tabServidor, font()};
    cbServer = b.Combo(24, 40, 150, false);
    for (int i = 0; i < KMaxServers; ++i)
        cbServer->addItem(QString());
    chkServerEnabled = b.Check(196, 43, KCheckWidth);
    b.ComboField(lblLanguage, cbLanguage, 436, 40, 170, false);
    lnServer = new QFrame(tabServidor);
    lnServer->setFrameShape(QFrame::HLine);
    lnServer->setFrameShadow(QFrame::Sunken);
    lnServer->setGeometry(24, 76, 582, 2);
    b.ComboField(lblServerType, cbServerType, 24, 112, 220, false);
    chkTls = b.Check(304, 115, KCheckWidth);
    b.EditField(lblHost, edHost, 24, 160, 450);
    b.EditField(lblPort, edPort, 496, 160, 110);
    b.EditField(lblMount, edMount, 24, 208, 582);
    b.EditField(lblUser, edUser, 24, 256, 250);
    b.EditField(lblPassword, edPassword, 304, 256, 302);
    edPassword->setEchoMode(QLineEdit::Password);
    b.ComboField(lblCodec, cbCodec, 24, 304, 150, false);
    b.ComboField(lblBitrate, cbBitrate, 206, 304, 150, true);
    b.ComboField(lblChannels, cbChannels, 388, 304, 100, true);
    b.EditField(lblStreamName, edStreamName, 24, 352, 250);
    b.EditField(lblGenre, edGenre, 304, 352, 302);
    b.EditField(lblUrl, edUrl, 24, 400, 250);
    b.EditField(lblListenUrl, edListenUrl, 304, 400, 302);
    connect(cbServer, &QComboBox::currentIndexChanged, this, [this](int AIndex) { cbServerChange(AIndex); });
    connect(chkServerEnabled, &QCheckBox::toggled, this, [this] { EnableServerFields(); });
}

void TFrmConfig::BuildAudioPage()
{
    TPageBuilder b{tabAudio, font()};
    b.ComboField(lblSampleRate, cbSampleRate, 24, 42, 150, true);
    b.ComboField(lblAudioDevice, cbAudioDevice, 24, 112, 560, false);
    btnRefreshAudio = b.Button(598, 110, 100, 27);
    connect(btnRefreshAudio, &QPushButton::clicked, this, [this] { btnRefreshAudioClick(); });
}

void TFrmConfig::BuildMetadataPage()
{
    TPageBuilder b{tabMetadata, font()};
    b.EditField(lblNoar, edNoarPath, 24, 42, 560);
    btnBrowseNoar = b.Button(598, 40, 100, 27);
    connect(btnBrowseNoar, &QPushButton::clicked, this, [this] { btnBrowseNoarClick(); });
}

void TFrmConfig::BuildFtpPage()
{
    TPageBuilder b{tabFTP, font()};
    chkFtpEnabled = b.Check(24, 24, KCheckWidth);
    b.EditField(lblFtpHost, edFtpHost, 24, 82, 450);
    b.EditField(lblFtpPort, edFtpPort, 496, 82, 110);
    b.EditField(lblFtpUser, edFtpUser, 24, 132, 250);
    b.EditField(lblFtpPassword, edFtpPassword, 304, 132, 302);
    edFtpPassword->setEchoMode(QLineEdit::Password);
    b.EditField(lblFtpRemoteDir, edFtpRemoteDir, 24, 182, 582);
    b.EditField(lblFtpRemoteFile, edFtpRemoteFile, 24, 232, 250);
    b.EditField(lblFtpCronUrl, edFtpCronUrl, 24, 282, 582);
    chkFtpPassive = b.Check(24, 320, KCheckWidth);
}

void TFrmConfig::BuildEqPage()
{
    TPageBuilder b{tabEQ, font()};
    lblEQHeading = NewLabel(tabEQ, 24, 20, font());
    SetTextColor(lblEQHeading, DialogText());
    lblPreset = NewLabel(tabEQ, 420, 20, font());
    SetTextColor(lblPreset, DialogText());
    cbEQPreset = b.Combo(470, 16, 130, false);
    btnEQFlat = b.Button(610, 15, 72, 25);
    static const char* const captions[8] = {"60", "120", "250", "500", "1k", "2k", "4k", "8k"};
    for (int i = 0; i < 8; ++i) {
        trEQ[i] = new QSlider(tabEQ);
        trEQ[i]->setGeometry(28 + 80 * i, 48, 62, 276);
        lblEQ[i] = NewCentredLabel(tabEQ, 44 + 80 * i, 330, 30, font());
        lblEQ[i]->setText(captions[i]);
        SetTextColor(lblEQ[i], DialogText());
    }
    connect(cbEQPreset, &QComboBox::activated, this, [this](int AIndex) { cbEQPresetChange(AIndex); });
    connect(btnEQFlat, &QPushButton::clicked, this, [this] { btnEQFlatClick(); });
}

void TFrmConfig::BuildRecordPage()
{
    TPageBuilder b{tabRecord, font()};
    chkRecordEnabled = b.Check(24, 24, KCheckWidth);
    b.EditField(lblRecordFolder, edRecordFolder, 24, 82, 560);
    btnBrowseRecord = b.Button(598, 80, 100, 27);
    lblRecordSplit = b.Caption(24, 132);
    spRecordSplit = b.Place<QSpinBox>(24, 132, 150, KFieldHeight);
    spRecordSplit->setRange(0, 1440);
    // The same abbreviation in the four languages.
    spRecordSplit->setSuffix(" min");
    lblRecordSplitHint = b.Caption(24, 188);
    lblRecordSplitHint->setWordWrap(true);
    lblRecordSplitHint->resize(674, 2 * lblRecordSplitHint->fontMetrics().lineSpacing());
    lblRecordSplitHint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    connect(chkRecordEnabled, &QCheckBox::toggled, this, [this] { EnableRecordFields(); });
    connect(btnBrowseRecord, &QPushButton::clicked, this,
            [this] { ChooseFolder(edRecordFolder, "record_folder", "dlgBrowseRecord"); });
}

// The listening address of each server is on the server page, with the
// server's other fields.
void TFrmConfig::BuildAlarmsPage()
{
    TPageBuilder b{tabAlarms, font()};
    chkSilenceAlarm = b.Check(24, 24, KCheckWidth);
    lblSilenceDb = b.Caption(24, 82);
    spSilenceDb = b.Place<QSpinBox>(24, 82, 150, KFieldHeight);
    spSilenceDb->setRange(-90, -10);
    // The units are the same in the four languages.
    spSilenceDb->setSuffix(" dBFS");
    lblSilenceSeconds = b.Caption(206, 82);
    spSilenceSeconds = b.Place<QSpinBox>(206, 82, 150, KFieldHeight);
    spSilenceSeconds->setRange(2, 3600);
    spSilenceSeconds->setSuffix(" s");
    chkListenerCheck = b.Check(24, 136, KCheckWidth);
    lblListenerCheckHint = b.Hint(182);
    b.EditField(lblAlarmWebhook, edAlarmWebhook, 24, 240, 674);
    edAlarmWebhook->setPlaceholderText("https://");
    b.EditField(lblAlarmCommand, edAlarmCommand, 24, 290, 674);
    lblAlarmActionsHint = b.Hint(346);
    connect(chkSilenceAlarm, &QCheckBox::toggled, this, [this] { EnableAlarmFields(); });
}

// The Alarms page has no room left: the fallback has a page of its own.
void TFrmConfig::BuildFallbackPage()
{
    TPageBuilder b{tabFallback, font()};
    chkFallback = b.Check(24, 24, KCheckWidth);
    b.ComboField(lblFallbackSource, cbFallbackSource, 24, 82, 250, false);
    for (size_t i = 0; i < std::size(KFallbackSources); ++i)
        cbFallbackSource->addItem(QString());
    lblFallbackSeconds = b.Caption(304, 82);
    // Wide enough for the words that stand for 0.
    spFallbackSeconds = b.Place<QSpinBox>(304, 82, 220, KFieldHeight);
    spFallbackSeconds->setRange(0, 3600);
    spFallbackSeconds->setSuffix(" s");
    b.EditField(lblFallbackFolder, edFallbackFolder, 24, 132, 560);
    btnBrowseFallback = b.Button(598, 130, 100, 27);
    b.EditField(lblFallbackUrl, edFallbackUrl, 24, 182, 674);
    edFallbackUrl->setPlaceholderText("http://");
    b.ComboField(lblFallbackChannel, cbFallbackChannel, 24, 232, 674, false);
    b.EditField(lblFallbackTitle, edFallbackTitle, 24, 282, 674);
    lblFallbackHint = b.Hint(328);
    connect(chkFallback, &QCheckBox::toggled, this, [this] { EnableFallbackFields(); });
    connect(cbFallbackSource, &QComboBox::currentIndexChanged, this, [this] { EnableFallbackFields(); });
    connect(btnBrowseFallback, &QPushButton::clicked, this,
            [this] { ChooseFolder(edFallbackFolder, "fallback_folder", "dlgBrowseFallback"); });
}

void TFrmConfig::FillFixedLists()
{
    cbServerType->addItems({"icecast", "shoutcast"});
    for (const TCodecEntry& entry : KCodecEntries)
        cbCodec->addItem(entry.Caption);
    cbBitrate->addItems({"64", "96", "128", "160", "192", "256", "320"});
    cbSampleRate->addItems({"44100", "48000"});
    cbChannels->addItems({"1", "2"});
    FillPresetList("pt-BR");
}

void TFrmConfig::FillLanguageList()
{
    cbLanguage->clear();
    for (const TLanguage& language : Languages)
        cbLanguage->addItem(QString::fromUtf8(language.Name.data(), qsizetype(language.Name.size())));
}

void TFrmConfig::SetupEqSliders()
{
    for (QSlider* slider : trEQ)
        SetupBandSlider(slider);
}

// ---------------------------------------------------------------- texts

void TFrmConfig::ApplyDialogTexts(const std::string& ALangCode)
{
    FLangCode = ALangCode;
    auto tr = [&ALangCode](const char* AKey) { return QStr(Translate(ALangCode, AKey)); };
    auto caption = [](QLabel* ALabel, const QString& AText) {
        ALabel->setText(AText);
        ALabel->adjustSize();
    };
    // A check box is at least as wide as the layout says, wider when a
    // substitute font needs it.
    auto check = [](QCheckBox* ABox, const QString& AText) {
        ABox->setText(AText);
        ABox->resize(std::max(KCheckWidth, ABox->sizeHint().width()), ABox->height());
    };
    setWindowTitle(tr("cfg_title"));
    for (int i = 0; i < KMaxServers; ++i)
        cbServer->setItemText(i, ServerText("server_n", i));
    check(chkServerEnabled, tr("server_enabled"));
    pcConfig->setTabText(0, tr("tab_server"));
    pcConfig->setTabText(1, tr("tab_audio"));
    pcConfig->setTabText(2, tr("tab_metadata"));
    pcConfig->setTabText(3, tr("tab_ftp"));
    pcConfig->setTabText(4, tr("tab_eq"));
    pcConfig->setTabText(5, tr("tab_record"));
    pcConfig->setTabText(6, tr("tab_alarms"));
    pcConfig->setTabText(7, tr("tab_fallback"));
    caption(lblServerType, tr("server_type"));
    caption(lblLanguage, tr("language"));
    caption(lblHost, tr("host"));
    caption(lblPort, tr("port"));
    caption(lblMount, tr("mount"));
    caption(lblUser, tr("user"));
    caption(lblPassword, tr("password"));
    caption(lblCodec, tr("codec"));
    caption(lblBitrate, tr("bitrate"));
    caption(lblSampleRate, tr("sample_rate"));
    caption(lblChannels, tr("channels"));
    caption(lblAudioDevice, tr("capture_channel"));
    btnRefreshAudio->setText(tr("refresh"));
    caption(lblStreamName, tr("public_name"));
    caption(lblGenre, tr("genre"));
    caption(lblUrl, tr("url"));
    caption(lblListenUrl, tr("listen_url"));
    edListenUrl->setPlaceholderText(tr("listen_url_empty"));
    caption(lblNoar, tr("noar_file"));
    btnBrowseNoar->setText(tr("browse"));
    check(chkFtpEnabled, tr("ftp_enabled"));
    caption(lblFtpHost, tr("ftp_host"));
    caption(lblFtpPort, tr("ftp_port"));
    caption(lblFtpUser, tr("ftp_user"));
    caption(lblFtpPassword, tr("ftp_password"));
    caption(lblFtpRemoteDir, tr("ftp_remote_dir"));
    caption(lblFtpRemoteFile, tr("ftp_remote_file"));
    caption(lblFtpCronUrl, tr("ftp_cron_url"));
    check(chkFtpPassive, tr("ftp_passive"));
    check(chkTls, tr("tls"));
    caption(lblEQHeading, tr("eq_heading"));
    caption(lblPreset, tr("eq_preset"));
    btnEQFlat->setText(tr("eq_flat"));
    check(chkRecordEnabled, tr("record_enabled"));
    caption(lblRecordFolder, tr("record_folder"));
    btnBrowseRecord->setText(tr("browse"));
    caption(lblRecordSplit, tr("record_split"));
    spRecordSplit->setSpecialValueText(tr("record_never"));
    lblRecordSplitHint->setText(tr("record_split_hint"));
    check(chkSilenceAlarm, tr("alarm_silence_enabled"));
    caption(lblSilenceDb, tr("alarm_silence_level"));
    caption(lblSilenceSeconds, tr("alarm_silence_time"));
    check(chkListenerCheck, tr("alarm_listener_check"));
    caption(lblAlarmWebhook, tr("alarm_webhook"));
    caption(lblAlarmCommand, tr("alarm_command"));
    check(chkFallback, tr("fallback_enabled"));
    caption(lblFallbackSource, tr("fallback_source"));
    const char* const sourceKeys[] = {"fallback_source_folder", "fallback_source_url", "fallback_source_channel"};
    for (int i = 0; i < int(std::size(sourceKeys)); ++i)
        cbFallbackSource->setItemText(i, tr(sourceKeys[i]));
    caption(lblFallbackSeconds, tr("fallback_seconds"));
    spFallbackSeconds->setSpecialValueText(tr("fallback_seconds_alarm"));
    caption(lblFallbackFolder, tr("fallback_folder"));
    btnBrowseFallback->setText(tr("browse"));
    caption(lblFallbackUrl, tr("fallback_url"));
    caption(lblFallbackChannel, tr("fallback_channel"));
    caption(lblFallbackTitle, tr("fallback_title"));
    for (auto [label, key] : {std::pair{lblListenerCheckHint, "alarm_listener_hint"},
                              std::pair{lblAlarmActionsHint, "alarm_actions_hint"},
                              std::pair{lblFallbackHint, "fallback_hint"}}) {
        label->setText(tr(key));
        label->resize(label->width(), label->heightForWidth(label->width()));
    }
    btnOK->setText(tr("save"));
    btnCancel->setText(tr("cancel"));
    FillPresetList(ALangCode);
}

void TFrmConfig::FillPresetList(const std::string& ALangCode)
{
    FillEqPresetCombo(cbEQPreset, ALangCode);
}

// ---------------------------------------------------------------- settings

void TFrmConfig::LoadFromConfig(const TEncoderConfig& C)
{
    const int language = FindComboText(cbLanguage, QStr(LanguageCodeToName(C.Language)));
    cbLanguage->setCurrentIndex(language >= 0 ? language : 0);
    ApplyDialogTexts(C.Language);

    FServers[0] = FieldsOf(C, cbServerType);
    for (size_t n = 0; n < C.ExtraServers.size(); ++n) {
        FServers[n + 1] = FieldsOf(C.ExtraServers[n], cbServerType);
        FServers[n + 1].Enabled = C.ExtraServers[n].Enabled;
    }
    {
        const QSignalBlocker quiet(cbServer);
        cbServer->setCurrentIndex(0);
    }
    FShownServer = 0;
    ShowServerFields(0);
    SelectOrTypeNumber(cbSampleRate, C.SampleRate);

    edNoarPath->setText(QStr(C.NoarPath));

    chkFtpEnabled->setChecked(C.FtpEnabled);
    edFtpHost->setText(QStr(C.FtpHost));
    edFtpPort->setText(QString::number(C.FtpPort));
    edFtpUser->setText(QStr(C.FtpUser));
    edFtpPassword->setText(QStr(C.FtpPassword));
    edFtpRemoteDir->setText(QStr(C.FtpRemoteDir));
    edFtpRemoteFile->setText(QStr(C.FtpRemoteFile));
    edFtpCronUrl->setText(QStr(C.FtpCronUrl));
    chkFtpPassive->setChecked(C.FtpPassive);

    chkRecordEnabled->setChecked(C.RecordEnabled);
    edRecordFolder->setText(QStr(C.RecordFolder));
    spRecordSplit->setValue(C.RecordSplitMinutes);
    EnableRecordFields(); // the box may not have changed, so no signal

    chkSilenceAlarm->setChecked(C.SilenceAlarmEnabled);
    spSilenceDb->setValue(C.SilenceThresholdDb);
    spSilenceSeconds->setValue(C.SilenceSeconds);
    EnableAlarmFields();
    chkListenerCheck->setChecked(C.ListenerCheckEnabled);
    edAlarmWebhook->setText(QStr(C.AlarmWebhookUrl));
    edAlarmCommand->setText(QStr(C.AlarmCommand));

    chkFallback->setChecked(C.FallbackEnabled);
    const auto source = std::find(std::begin(KFallbackSources), std::end(KFallbackSources), C.FallbackSource);
    cbFallbackSource->setCurrentIndex(
        source == std::end(KFallbackSources) ? 0 : int(source - std::begin(KFallbackSources)));
    edFallbackFolder->setText(QStr(C.FallbackFolder));
    edFallbackUrl->setText(QStr(C.FallbackUrl));
    edFallbackTitle->setText(QStr(C.FallbackTitle));
    spFallbackSeconds->setValue(C.FallbackSeconds);
    FFallbackWanted = {-1, askInput, C.FallbackDeviceName, C.FallbackDeviceId};
    EnableFallbackFields(); // neither box may have changed

    for (int i = 0; i < 8; ++i)
        trEQ[i]->setValue(RoundHalfEven(C.EQBands[i]));
    SelectEqPresetEntry(cbEQPreset, C.Language, C.EQPreset);

    RefreshAudioDevices(C.AudioDeviceIndex, C.AudioSourceKind, C.AudioDeviceId);
}

void TFrmConfig::SaveToConfig(TEncoderConfig& C) const
{
    const int language = cbLanguage->currentIndex();
    C.Language = language >= 0 ? LanguageNameToCode(StdStr(cbLanguage->itemText(language))) : "pt-BR";
    const std::array<TServerFields, KMaxServers> servers = CurrentServers();
    StoreFields(servers[0], cbServerType, 192, C);
    for (size_t n = 0; n < C.ExtraServers.size(); ++n) {
        StoreFields(servers[n + 1], cbServerType, 128, C.ExtraServers[n]);
        C.ExtraServers[n].Enabled = servers[n + 1].Enabled;
    }
    C.SampleRate = StrToIntDef(cbSampleRate->currentText(), 44100);

    C.NoarPath = Trim(StdStr(edNoarPath->text()));

    C.FtpEnabled = chkFtpEnabled->isChecked();
    C.FtpHost = Trim(StdStr(edFtpHost->text()));
    C.FtpPort = PortValue(edFtpPort->text(), 21);
    C.FtpUser = Trim(StdStr(edFtpUser->text()));
    C.FtpPassword = StdStr(edFtpPassword->text());
    C.FtpRemoteDir = Trim(StdStr(edFtpRemoteDir->text()));
    C.FtpRemoteFile = Trim(StdStr(edFtpRemoteFile->text()));
    C.FtpCronUrl = Trim(StdStr(edFtpCronUrl->text()));
    C.FtpPassive = chkFtpPassive->isChecked();

    C.RecordEnabled = chkRecordEnabled->isChecked();
    C.RecordFolder = Trim(StdStr(edRecordFolder->text()));
    C.RecordSplitMinutes = spRecordSplit->value();

    C.SilenceAlarmEnabled = chkSilenceAlarm->isChecked();
    C.SilenceThresholdDb = spSilenceDb->value();
    C.SilenceSeconds = spSilenceSeconds->value();
    C.ListenerCheckEnabled = chkListenerCheck->isChecked();
    C.AlarmWebhookUrl = Trim(StdStr(edAlarmWebhook->text()));
    C.AlarmCommand = Trim(StdStr(edAlarmCommand->text()));

    C.FallbackEnabled = chkFallback->isChecked();
    C.FallbackSource = FallbackSource();
    C.FallbackFolder = Trim(StdStr(edFallbackFolder->text()));
    C.FallbackUrl = Trim(StdStr(edFallbackUrl->text()));
    C.FallbackTitle = Trim(StdStr(edFallbackTitle->text()));
    C.FallbackSeconds = spFallbackSeconds->value();
    const TAudioComboItem fallbackChannel = FallbackChannel();
    C.FallbackDeviceId = fallbackChannel.DeviceId;
    C.FallbackDeviceName = CleanDeviceCaption(fallbackChannel.DisplayName);

    // Bands 8 and 9 have no slider here and keep their values.
    for (int i = 0; i < 8; ++i)
        C.EQBands[i] = trEQ[i]->value();
    const int preset = cbEQPreset->currentIndex();
    if (preset >= 0 && preset < int(EqPresetNames.size()))
        C.EQPreset = EqPresetNames[preset];

    const int channel = cbAudioDevice->currentIndex();
    if (channel >= 0 && channel < int(FAudioItems.size())) {
        const TAudioComboItem& item = FAudioItems[channel];
        C.AudioDeviceIndex = item.DeviceIndex;
        C.AudioSourceKind = item.SourceKind;
        C.AudioDeviceName = CleanDeviceCaption(item.DisplayName);
        C.AudioDeviceId = item.DeviceId;
    }
}

// ---------------------------------------------------------------- servers

QString TFrmConfig::ServerText(const char* AKey, int AIndex) const
{
    return QStr(Translate(FLangCode, AKey)).arg(AIndex + 1);
}

void TFrmConfig::ShowServerFields(int AIndex)
{
    const TServerFields& f = FServers[static_cast<size_t>(AIndex)];
    cbServerType->setCurrentIndex(f.Type);
    edHost->setText(f.Host);
    edPort->setText(f.Port);
    chkTls->setChecked(f.Tls);
    edMount->setText(f.Mount);
    edUser->setText(f.User);
    edPassword->setText(f.Password);
    cbCodec->setCurrentIndex(f.Codec);
    SelectOrType(cbBitrate, f.Bitrate);
    SelectOrType(cbChannels, f.Channels);
    edStreamName->setText(f.StreamName);
    edGenre->setText(f.Genre);
    edUrl->setText(f.Url);
    edListenUrl->setText(f.ListenUrl);
    // Server 1 is always used.
    chkServerEnabled->setVisible(AIndex > 0);
    chkServerEnabled->setChecked(AIndex == 0 || f.Enabled);
    EnableServerFields(); // the box may not have changed, so no signal
}

TServerFields TFrmConfig::ShownServerFields() const
{
    TServerFields f;
    f.Enabled = FShownServer == 0 || chkServerEnabled->isChecked();
    f.Type = std::max(0, cbServerType->currentIndex());
    f.Host = edHost->text();
    f.Port = edPort->text();
    f.Tls = chkTls->isChecked();
    f.Mount = edMount->text();
    f.User = edUser->text();
    f.Password = edPassword->text();
    f.Codec = std::max(0, cbCodec->currentIndex());
    f.Bitrate = cbBitrate->currentText();
    f.Channels = cbChannels->currentText();
    f.StreamName = edStreamName->text();
    f.Genre = edGenre->text();
    f.Url = edUrl->text();
    f.ListenUrl = edListenUrl->text();
    return f;
}

std::array<TServerFields, KMaxServers> TFrmConfig::CurrentServers() const
{
    std::array<TServerFields, KMaxServers> servers = FServers;
    servers[static_cast<size_t>(FShownServer)] = ShownServerFields();
    return servers;
}

void TFrmConfig::cbServerChange(int AIndex)
{
    if (AIndex < 0 || AIndex == FShownServer)
        return;
    FServers[static_cast<size_t>(FShownServer)] = ShownServerFields();
    FShownServer = AIndex;
    ShowServerFields(AIndex);
}

void TFrmConfig::EnableServerFields()
{
    // As on the recording page: a server that is off looks off and keeps
    // its values.
    const bool on = FShownServer == 0 || chkServerEnabled->isChecked();
    for (QWidget* field : std::initializer_list<QWidget*>{
             lblServerType, cbServerType, chkTls, lblHost, edHost, lblPort, edPort, lblMount, edMount, lblUser,
             edUser, lblPassword, edPassword, lblCodec, cbCodec, lblBitrate, cbBitrate, lblChannels, cbChannels,
             lblStreamName, edStreamName, lblGenre, edGenre, lblUrl, edUrl, lblListenUrl, edListenUrl})
        field->setEnabled(on);
}

void TFrmConfig::RefuseServerField(int AIndex, QLineEdit* AField, const QString& AMessage)
{
    cbServer->setCurrentIndex(AIndex);
    RefuseField(AField, AMessage);
}

void TFrmConfig::RefreshAudioDevices(int32_t CurrentIndex, TAudioSourceKind CurrentKind,
                                     const std::string& CurrentId)
{
    FAudioWanted = {CurrentIndex, CurrentKind, {}, CurrentId};
    FAudioItems.clear();
    cbAudioDevice->clear();
    cbAudioDevice->setPlaceholderText(QStr(Translate(FLangCode, "listing_devices")));
    cbAudioDevice->setEnabled(false);
    FFallbackItems.clear();
    cbFallbackChannel->clear();
    cbFallbackChannel->setPlaceholderText(cbAudioDevice->placeholderText());
    cbFallbackChannel->setEnabled(false);
    // One listing at a time: a request while one runs asks again once it
    // ends, so clicks never queue listings that each may wait seconds.
    if (FAudioWatcher) {
        FAudioAgain = true;
        return;
    }
    StartAudioListing();
}

void TFrmConfig::StartAudioListing()
{
    FAudioAgain = false;
    FAudioWatcher = new QFutureWatcher<std::vector<TAudioComboItem>>(this);
    connect(FAudioWatcher, &QFutureWatcherBase::finished, this, [this] {
        auto* watcher = FAudioWatcher;
        FAudioWatcher = nullptr;
        watcher->deleteLater();
        if (FAudioAgain) {
            StartAudioListing();
            return;
        }
        FAudioItems = watcher->result();
        for (const TAudioComboItem& item : FAudioItems)
            cbAudioDevice->addItem(QStr(item.DisplayName));
        cbAudioDevice->setPlaceholderText(QString());
        cbAudioDevice->setEnabled(true);
        cbAudioDevice->setCurrentIndex(FindAudioComboItem(FAudioItems, FAudioWanted.DeviceIndex,
                                                          FAudioWanted.SourceKind, FAudioWanted.DeviceId));
        FillFallbackChannels();
        EnableFallbackFields();
        emit AudioDevicesListed();
    });
    FAudioWatcher->setFuture(QtConcurrent::run(
        [] { return BuildCaptureChannelList(EnumerateAudioDevices(), EnumerateSoundServerDevices()); }));
}

void TFrmConfig::ApplyDialogPreset(const std::string& AName)
{
    const auto& gains = DialogPresetGains[EqPresetRow(AName)];
    for (int i = 0; i < 8; ++i)
        trEQ[i]->setValue(gains[i]);
}

// ---------------------------------------------------------------- events

void TFrmConfig::showEvent(QShowEvent* AEvent)
{
    QDialog::showEvent(AEvent);
    if (!AEvent->spontaneous())
        FormShow();
}

void TFrmConfig::FormShow()
{
    if (!Trim(StdStr(CurrentServers()[0].Host)).empty())
        return;
    TEncoderConfig fromFile;
    LoadEncoderConfigFrom(FSettingsPath, fromFile);
    LoadFromConfig(fromFile);
}

void TFrmConfig::btnRefreshAudioClick()
{
    FFallbackWanted = FallbackChannel();
    RefreshAudioDevices(-1, askInput, {});
}

void TFrmConfig::btnBrowseNoarClick()
{
    QFileDialog dialog(this, QStr(Translate(FLangCode, "noar_file")));
    dialog.setObjectName("dlgBrowseNoar");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStr(Translate(FLangCode, "noar_filter_text")) + " (*.txt)",
                           QStr(Translate(FLangCode, "noar_filter_all")) + " (*)"});
    const QString current = edNoarPath->text().trimmed();
    const QString chosen = RunChooser(dialog, current.isEmpty() ? QString() : QFileInfo(current).absolutePath());
    if (!chosen.isEmpty())
        edNoarPath->setText(chosen);
}

void TFrmConfig::ChooseFolder(QLineEdit* AField, const char* ATitleKey, const char* ADialogName)
{
    QFileDialog dialog(this, QStr(Translate(FLangCode, ATitleKey)));
    dialog.setObjectName(ADialogName);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    const QString chosen = RunChooser(dialog, AField->text().trimmed());
    if (!chosen.isEmpty())
        AField->setText(chosen);
}

void TFrmConfig::EnableRecordFields()
{
    // What is off looks off; the values stay and are saved as they are.
    for (QWidget* field : {static_cast<QWidget*>(edRecordFolder), static_cast<QWidget*>(btnBrowseRecord),
                           static_cast<QWidget*>(spRecordSplit)})
        field->setEnabled(chkRecordEnabled->isChecked());
}

void TFrmConfig::EnableAlarmFields()
{
    for (QWidget* field : std::initializer_list<QWidget*>{lblSilenceDb, spSilenceDb, lblSilenceSeconds,
                                                          spSilenceSeconds})
        field->setEnabled(chkSilenceAlarm->isChecked());
}

void TFrmConfig::EnableFallbackFields()
{
    // Only the chosen source's field is on; the others keep their values.
    const bool on = chkFallback->isChecked();
    const std::string source = FallbackSource();
    const auto enable = [](std::initializer_list<QWidget*> AFields, bool AOn) {
        for (QWidget* field : AFields)
            field->setEnabled(AOn);
    };
    enable({lblFallbackSource, cbFallbackSource, lblFallbackSeconds, spFallbackSeconds, lblFallbackTitle,
            edFallbackTitle},
           on);
    enable({lblFallbackFolder, edFallbackFolder, btnBrowseFallback}, on && source == "pasta");
    enable({lblFallbackUrl, edFallbackUrl}, on && source == "url");
    lblFallbackChannel->setEnabled(on && source == "canal");
    // The list waits for the listing, as the capture channel's does.
    cbFallbackChannel->setEnabled(on && source == "canal" && !AudioDevicesPending());
}

std::string TFrmConfig::FallbackSource() const
{
    const int index = cbFallbackSource->currentIndex();
    return KFallbackSources[index >= 0 && index < int(std::size(KFallbackSources)) ? index : 0];
}

TAudioComboItem TFrmConfig::FallbackChannel() const
{
    const int index = cbFallbackChannel->currentIndex();
    if (index >= 0 && index < int(FFallbackItems.size()))
        return FFallbackItems[static_cast<size_t>(index)];
    return FFallbackWanted;
}

void TFrmConfig::FillFallbackChannels()
{
    // Only the sound server can open a second channel beside the first.
    FFallbackItems.clear();
    for (const TAudioComboItem& item : FAudioItems)
        if (std::string_view(item.DeviceId).starts_with(KSoundServerIdPrefix))
            FFallbackItems.push_back(item);
    int chosen = -1;
    if (!FFallbackWanted.DeviceId.empty()) {
        const auto found = std::find_if(FFallbackItems.begin(), FFallbackItems.end(),
                                        [this](const TAudioComboItem& AItem) {
                                            return AItem.DeviceId == FFallbackWanted.DeviceId;
                                        });
        chosen = int(found - FFallbackItems.begin());
        // Missing now (unplugged, say): still chosen, under its last caption,
        // rather than lost on the next save.
        if (found == FFallbackItems.end())
            FFallbackItems.push_back(FFallbackWanted);
    }
    cbFallbackChannel->clear();
    for (const TAudioComboItem& item : FFallbackItems)
        cbFallbackChannel->addItem(QStr(item.DisplayName.empty() ? item.DeviceId : item.DisplayName));
    cbFallbackChannel->setPlaceholderText(QString());
    cbFallbackChannel->setCurrentIndex(chosen);
}

void TFrmConfig::RefuseField(QLineEdit* AField, const QString& AMessage)
{
    pcConfig->setCurrentWidget(AField->parentWidget());
    AField->setFocus();
    AField->selectAll();
    QMessageBox::warning(this, windowTitle(), AMessage);
}

void TFrmConfig::cbEQPresetChange(int AIndex)
{
    if (AIndex >= 0 && AIndex < int(EqPresetNames.size()))
        ApplyDialogPreset(EqPresetNames[AIndex]);
}

void TFrmConfig::btnEQFlatClick()
{
    cbEQPreset->setCurrentIndex(0);
    ApplyDialogPreset("flat");
}

void TFrmConfig::btnOKClick()
{
    auto tr = [this](const char* AKey) { return QStr(Translate(FLangCode, AKey)); };
    // A port typed in hex or out of range would be saved as the default, or
    // reach another port: the operator corrects it, on its page, first.
    // Server 1 without a host still saves (its transmission says what is
    // missing), as it always did; a further server is ticked on purpose.
    const std::array<TServerFields, KMaxServers> servers = CurrentServers();
    for (int i = 0; i < KMaxServers; ++i) {
        const TServerFields& f = servers[static_cast<size_t>(i)];
        if (!f.Enabled)
            continue;
        if (i > 0 && f.Host.trimmed().isEmpty())
            return RefuseServerField(i, edHost, ServerText("server_host_missing", i));
        if (!IsPortText(f.Port))
            return RefuseServerField(i, edPort, i == 0 ? tr("port_invalid") : ServerText("server_port_invalid", i));
        if (!IsWebAddressOrEmpty(f.ListenUrl))
            return RefuseServerField(i, edListenUrl, ServerText("listen_url_invalid", i));
    }
    if (!IsPortField(edFtpPort))
        return RefuseField(edFtpPort, tr("ftp_port_invalid"));
    // A relative folder would depend on where the program was started.
    if (chkRecordEnabled->isChecked() && !QDir::isAbsolutePath(edRecordFolder->text().trimmed()))
        return RefuseField(edRecordFolder, tr("record_folder_invalid"));
    if (!IsWebAddressOrEmpty(edAlarmWebhook->text()))
        return RefuseField(edAlarmWebhook, tr("alarm_webhook_invalid"));
    // Only the chosen source must be usable; the others may stay as typed.
    if (chkFallback->isChecked()) {
        const std::string source = FallbackSource();
        if (source == "pasta" && !QDir::isAbsolutePath(edFallbackFolder->text().trimmed()))
            return RefuseField(edFallbackFolder, tr("fallback_folder_invalid"));
        if (source == "url" && !IsWebAddress(Trim(StdStr(edFallbackUrl->text()))))
            return RefuseField(edFallbackUrl, tr("fallback_url_invalid"));
    }
    TEncoderConfig fromFile;
    LoadEncoderConfigFrom(FSettingsPath, fromFile);
    SaveToConfig(fromFile);
    try {
        SaveEncoderConfigTo(FSettingsPath, fromFile);
    } catch (const ESettingsWriteError& e) {
        // The operator may free the file and press OK again, or cancel.
        QMessageBox::critical(this, windowTitle(), QString::fromStdString(e.what()));
        return;
    }
    accept();
}
