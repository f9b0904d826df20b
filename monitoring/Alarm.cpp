#include "monitoring/Alarm.h"

const char* AlarmEventName(TAlarmKind AKind)
{
    switch (AKind) {
    case TAlarmKind::Silence:
        return "silence";
    case TAlarmKind::NoAudio:
        return "no_audio";
    case TAlarmKind::SilentStream:
        return "silent_stream";
    case TAlarmKind::TitleDiffers:
        return "title_differs";
    case TAlarmKind::CheckOff:
        return "check_off";
    case TAlarmKind::ActionFailed:
        return "action_failed";
    case TAlarmKind::TitleNotSent:
        return "title_not_sent";
    case TAlarmKind::CaptureLost:
        return "capture_lost";
    case TAlarmKind::CaptureDown:
        return "capture_down";
    case TAlarmKind::CaptureBack:
        return "capture_back";
    case TAlarmKind::Fallback:
        return "fallback";
    case TAlarmKind::FallbackTrouble:
        return "fallback_trouble";
    }
    return "alarm";
}

void ApplyAlarm(std::vector<TAlarm>& AAlarms, const TAlarm& AAlarm)
{
    if (IsNotice(AAlarm.Kind))
        return;
    std::erase_if(AAlarms, [&](const TAlarm& a) { return a.Server == AAlarm.Server && a.Kind == AAlarm.Kind; });
    if (AAlarm.Raised)
        AAlarms.push_back(AAlarm);
}
