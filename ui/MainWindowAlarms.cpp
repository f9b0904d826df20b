#include <string>

#include <QLabel>
#include <QStringList>
#include <QTimer>

#include "station/StationState.h"
#include "ui/FormHelpers.h"
#include "ui/MainWindow.h"
#include "ui/Theme.h"
#include "ui/WindowColors.h"

using namespace WindowColors;

namespace {

// About twice a second, as a warning light does.
constexpr int KAlarmBlinkMs = 250;
// How long a notice stays in the alarms' line.
constexpr int KAlarmNoticeMs = 10000;
// On the meters' title row, clear of the title in every language, to the
// right edge of the needles.
constexpr int KAlarmLeft = 220;
constexpr int KAlarmTop = 14;
constexpr int KAlarmHeight = 26;
constexpr int KAlarmPadding = 24;
constexpr int KAlarmRight = 950;

} // namespace

void TFrmPrincipal::BuildAlarmLine()
{
    lblAlarm = new QLabel(pnlVu);
    lblAlarm->setFont(UiFont("Segoe UI Semibold", 14, true));
    lblAlarm->setAlignment(Qt::AlignCenter);
    lblAlarm->move(KAlarmLeft, KAlarmTop);
    SetTextColor(lblAlarm, White);
    SetBackground(lblAlarm, Red);
    lblAlarmText = new QLabel(pnlVu);
    lblAlarmText->setFont(UiFont("Segoe UI Semibold", 14));
    lblAlarmText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    tmrAlarm = new QTimer(this);
    tmrAlarm->setInterval(KAlarmBlinkMs);
    connect(tmrAlarm, &QTimer::timeout, this, [this] { tmrAlarmTimer(); });
    tmrAlarmNotice = new QTimer(this);
    tmrAlarmNotice->setSingleShot(true);
    tmrAlarmNotice->setInterval(KAlarmNoticeMs);
    connect(tmrAlarmNotice, &QTimer::timeout, this, [this] { ShowAlarms(); });
    // Nothing raised yet; the texts come with the window's language.
    lblAlarm->hide();
    lblAlarmText->hide();
}

void TFrmPrincipal::HandleEncoderAlarm(const TAlarm& AAlarm)
{
    if (IsNotice(AAlarm.Kind)) {
        ShowAlarmNotice(AlarmServerPrefix(AAlarm.Server) + NoticeText(AAlarm));
        return;
    }
    // Raised again, an alarm takes its new reason and becomes the newest.
    ApplyAlarm(FAlarms, AAlarm);
    // A change of the alarms outranks the notice's moment.
    tmrAlarmNotice->stop();
    ShowAlarms();
}

QString TFrmPrincipal::NoticeText(const TAlarm& AAlarm) const
{
    if (AAlarm.Kind == TAlarmKind::CaptureDown || AAlarm.Kind == TAlarmKind::CaptureBack)
        return QStr(Tr((std::string("notice_") + AlarmEventName(AAlarm.Kind)).c_str())).arg(QStr(AAlarm.Detail));
    return QStr(AAlarm.Text);
}

QString TFrmPrincipal::AlarmServerPrefix(int AServer) const
{
    if (AServer < 1 || !SeveralServers())
        return {};
    return QStr(Tr("server_line")).arg(AServer).arg(QString());
}

QString TFrmPrincipal::RaisedAlarmsText(bool AWhole) const
{
    QStringList lines;
    for (auto a = FAlarms.rbegin(); a != FAlarms.rend(); ++a)
        lines << AlarmServerPrefix(a->Server) +
                     QStr(AWhole ? a->Text : Tr((std::string("alarm_") + AlarmEventName(a->Kind)).c_str()));
    return lines.join(AWhole ? QString('\n') : QString::fromUtf8(" \xC2\xB7 "));
}

void TFrmPrincipal::ShowAlarms()
{
    lblAlarm->setText(QStr(Tr("alarm_mark")));
    lblAlarm->resize(lblAlarm->fontMetrics().horizontalAdvance(lblAlarm->text()) + KAlarmPadding, KAlarmHeight);
    if (FAlarms.empty()) {
        tmrAlarm->stop();
        lblAlarm->hide();
        lblAlarmText->hide();
        lblAlarm->setToolTip(QString());
        lblAlarmText->setToolTip(QString());
        return;
    }
    // The newest whole, the older ones as far as they fit.
    ShowMarkedLine(lblAlarm, lblAlarmText, KAlarmRight, Qt::ElideRight, true, RaisedAlarmsText(false), Red,
                   RaisedAlarmsText(true));
    if (!tmrAlarm->isActive()) {
        // Each new blinking starts lit.
        FAlarmLit = true;
        SetBackground(lblAlarm, Red);
        tmrAlarm->start();
    }
}

void TFrmPrincipal::ShowAlarmNotice(const QString& AText)
{
    // In the alarms' place for a moment; the raised ones stay in the tooltip.
    const bool raised = !FAlarms.empty();
    ShowMarkedLine(lblAlarm, lblAlarmText, KAlarmRight, Qt::ElideMiddle, raised, AText, Yellow,
                   raised ? AText + '\n' + RaisedAlarmsText(true) : AText);
    tmrAlarmNotice->start();
}

void TFrmPrincipal::tmrAlarmTimer()
{
    FAlarmLit = !FAlarmLit;
    SetBackground(lblAlarm, FAlarmLit ? Red : Panel);
}

void TFrmPrincipal::ClearAlarms()
{
    FAlarms.clear();
    tmrAlarmNotice->stop();
    ShowAlarms();
}
