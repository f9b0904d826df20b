#pragma once

#include <functional>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include <QWidget>

#include "monitoring/Alarm.h"
#include "net/OutputState.h"
#include "settings/EncoderConfig.h"
#include "station/Station.h"

class TMarquee;
class TControlServer;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;
class TNativeEncoderThread;
class TMeterBox;
class TShape;
struct TAudioLevels;

// The main window: owns the settings of the run and a view of the station
// (its transmission, what is on air, the listener count), and holds the
// equalizer panel. ASettingsPath is the settings file it loads and writes
// (the one beside the executable in the program).
class TFrmPrincipal : public QWidget, private TStationObserver {
    Q_OBJECT
public:
    explicit TFrmPrincipal(const std::string& ASettingsPath = ConfigFilePath(), QWidget* AParent = nullptr);
    ~TFrmPrincipal() override;

    // What the start/stop button does.
    void StartEncoder();
    void StopEncoder();

    const TEncoderConfig& Config() const { return FConfig; }
    // The running or ended transmission, or none.
    TNativeEncoderThread* Encoder() const { return FStation->Worker(); }
    TStation& Station() { return *FStation; }
    // The window as the station sees it: what it is told, it shows. Tests
    // speak to it as the station does.
    TStationObserver& StationView() { return *this; }
    // The meters at these levels; the running transmission's are read on
    // a timer.
    void ShowLevels(const TAudioLevels& ALevels);

protected:
    // The streaming worker for one transmission; tests may hand out a
    // subclass.
    virtual TNativeEncoderThread* CreateEncoderThread(const TEncoderConfig& AConfig);
    // The close request (FormCloseQuery).
    void closeEvent(QCloseEvent* AEvent) override;

private:
    // Controls, named as in the layout; each carries its name as its object
    // name (an array's with its index after it), which tests find it by.
    QWidget *pnlTop, *pnlBody, *pnlNoar, *PnlPisca, *pnlVu, *pnlEQ, *pnlControls;
    QLabel *Image1, *lblTitle, *lblStatus, *lblListeners;
    TShape *shpLed, *Shape1, *Shape2, *Shape3, *Shape4, *ShapePisca;
    QLabel *lblNoarCaption, *lblNoarText;
    QLabel *lblVuTitle, *lblL, *lblR, *lblGrave, *lblMedio, *lblAgudo, *lblCurrentDevice;
    TMeterBox *pbVuL, *pbVuR, *pbAnalogL, *pbAnalogR, *pbBandLow, *pbBandMid, *pbBandHigh;
    QLabel* lblEQTitle;
    std::array<QLabel*, 10> lblEQVal{};
    std::array<QSlider*, 10> trEQ{};
    std::array<QLabel*, 10> lblEQ{};
    QComboBox* cbEqPresetMain;
    QPushButton* btnEqFlatMain;
    QCheckBox* chkCompressor;
    QLabel* lblServerInfo;
    QPushButton *btnStartStop, *btnConfig;
    // The local recording, beside the buttons: the REC mark and the file's
    // name, or why the recording stopped.
    QLabel *lblRec, *lblRecFile;
    // While several servers stream, left of the listener count: a number
    // and a light for each server in use (green on air, yellow on its way,
    // red in trouble), its state in the tooltip; and the trouble of a
    // further server in words, server 1's being the status line's.
    std::array<QWidget*, KMaxServers> pnlServerMark{};
    std::array<TShape*, KMaxServers> shpServer{};
    QLabel* lblServerProblem = nullptr;
    // Beside the meters' title while an alarm is raised: a blinking red
    // ALARM mark and what is wrong, the newest first, each alarm whole in
    // the tooltip; a notice in yellow for a moment, without the blinking.
    QLabel *lblAlarm, *lblAlarmText;
    QTimer *tmrPisca, *tmrNoar, *tmrRecWarning, *tmrAlarm, *tmrAlarmNotice;
    // Reads the running worker's levels, faster than it makes blocks, so
    // each block is shown as soon as it would have been handed over.
    QTimer* tmrMeters;

    // --- streaming ---
    void btnStartStopClick();
    void SetRunningState(bool ARunning);
    // Server 1's state, which also tells the transmission's own troubles.
    void HandleEncoderStatus(const TOutputState& AState);
    void HandleEncoderRecord(const std::string& AFileName, const std::string& AText, bool AIsError);
    // Servers 2 to KMaxServers; server 1's state comes with the status.
    void HandleServerStatus(int AServer, const TOutputState& AState);
    // An alarm raised or cleared, or a notice.
    void HandleEncoderAlarm(const TAlarm& AAlarm);

    // --- texts, colours, settings dialog ---
    void ApplyTexts();
    void ApplyThemeAndInfo();
    void btnConfigClick();

    // --- equalizer panel ---
    void FillEqPresetList();
    void LoadEqControls();
    void StoreEqControls();
    void UpdateEqValueLabels();
    void ApplyEqPreset(const std::string& AName);
    void trEQChange();
    void cbEqPresetMainChange(int AIndex);
    void btnEqFlatMainClick();
    void chkCompressorClick();

    void BuildControls();
    void NameControls();
    void BuildTopBar();
    void BuildNowPlayingStrip();
    void BuildMeterPanel();
    void BuildEqPanel();
    void BuildControlBar();
    void BuildAlarmLine();
    void FormCreate();
    void FormDestroy();
    void SetupEqPanel();
    void SetupListenerTimer();
    void tmrPiscaTimer();
    void tmrNoarTimer();
    void tmrMetersTimer();
    void CheckNoarFile();
    void ShowNoarText();
    void PlaceNoarText();
    void SetStatusText(const QString& AText);
    void SetListenersText(const QString& AText);
    void ShowRecordLine(bool AMark, const QString& AText, const QColor& AColor, const QString& ATip);
    // AMark with ALine right of it up to ARight, or ALine in its place;
    // shortened as AElide says to fit, the whole of it in the tooltips.
    static void ShowMarkedLine(QLabel* AMark, QLabel* ALine, int ARight, Qt::TextElideMode AElide, bool AShowMark,
                               const QString& AText, const QColor& AColor, const QString& ATip);
    void ClearRecordLine();
    void ShowAlarms();
    void ShowAlarmNotice(const QString& AText);
    // A transmission's end ends all its alarms: the worker says nothing then.
    void ClearAlarms();
    void tmrAlarmTimer();
    // A notice in the window's language where it has the words for it.
    QString NoticeText(const TAlarm& AAlarm) const;
    // "Servidor N: " before what concerns one of several servers.
    QString AlarmServerPrefix(int AServer) const;
    // The raised alarms, the newest first: their names on one line, or
    // each whole on a line of its own.
    QString RaisedAlarmsText(bool AWhole) const;
    QString NoListenersText() const;
    void ShowListenerCounts();
    // Server 1, and the further ones ticked in the settings.
    bool ServerInUse(int AServer) const;
    bool SeveralServers() const;
    void ResetServerMarks();
    void SetServerMark(int AServer, const TOutputState& AState);
    void ShowServerMarks();
    void PlaceServerMarks();
    // An untrusted certificate that server AServer met: the operator is
    // asked once per certificate and transmission, out of the worker's
    // hand-off, whether to trust it in that server's settings.
    void OfferToTrustCertificate(int AServer, const TOutputState& AState);
    // ARound: the transmission's, when the certificate was met.
    void AnswerTrustQuestion(int AServer, const TOutputState& AState, unsigned ARound);
    // AState in the window's language.
    QString StateText(const TOutputState& AState) const;
    // Writes FConfig; a failure is shown to the operator. False then.
    bool SaveConfig();
    // FConfig from the settings file as it is now; false, FConfig as it
    // was, when the file is not there or cannot be read.
    bool ReloadConfig();
    void ShowError(const QString& AText);
    void RepaintMeters();
    std::string Tr(const char* AKey) const;

    // The local control interface, when switched on in the settings.
    void StartControlInterface();

    // What the station tells.
    bool StartAllowed() override;
    void StopBegan() override;
    void StopWaiting() override;
    void RunningChanged(bool ARunning) override;
    void WorkerEnded() override;
    void OutputChanged(int AServer, const TOutputState& AState) override;
    void RecordChanged(const std::string& AFileName, const std::string& AText, bool AIsError) override;
    void AlarmChanged(const TAlarm& AAlarm) override;
    void ListenersChanged() override;

    std::string FSettingsPath;
    TEncoderConfig FConfig;
    // FConfig holds the defaults of a settings file that could not be read
    // at start: never written over that file.
    bool FOnDefaults = false;
    std::unique_ptr<TStation> FStation;
    // After the station: it serves the station, so it goes first.
    std::unique_ptr<TControlServer> FControlServer;
    double FLevelL = 0, FLevelR = 0, FBandLow = 0, FBandMid = 0, FBandHigh = 0;
    uint64_t FShownBlocks = 0; // of the running worker's, the last shown
    bool FBlinkState = false;
    bool FLoadingEq = false;
    // Counts every start and stop: an answer about a certificate from
    // before the last one is old news.
    unsigned FListenerRound = 0;
    struct TServerMark {
        int Kind = 0;
        QString Text;
    };
    std::array<TServerMark, KMaxServers> FServerMarks{};
    // Per server, this transmission: the certificate it was asked about,
    // and whether the operator refused it for a further server, which then
    // stands stopped alone with the reason on its mark.
    struct TTrustQuestion {
        std::string Fingerprint;
        bool Refused = false;
    };
    std::array<TTrustQuestion, KMaxServers> FTrustQuestions{};
    std::unique_ptr<TMarquee> FMarquee;
    // A close asked while a stop winds down waits for its end.
    bool FCloseAfterStop = false;
    bool FDestroying = false;
    QString FRecordName; // of the file being recorded
    std::vector<TAlarm> FAlarms; // raised now, oldest first
    bool FAlarmLit = false;      // the blinking mark's phase
};
