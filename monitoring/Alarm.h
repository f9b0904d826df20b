#pragma once

#include <string>
#include <vector>

// What the station is warned of. Each alarm is raised once and cleared once;
// the notices are one-off lines.
enum class TAlarmKind {
    // The programme has been silent for the set time.
    Silence,
    // A listener at the listening address gets no audio, or too little.
    NoAudio,
    // A listener hears silence while the programme is not silent.
    SilentStream,
    // The title a listener is given is not the one last sent.
    TitleDiffers,
    // Notice: one check cannot run (a decoder missing, say).
    CheckOff,
    // Notice: a webhook or command of an alarm failed.
    ActionFailed,
    // Notice: a server's admin interface did not take a title.
    TitleNotSent,
    // The capture channel has been lost for the silence alarm's time.
    CaptureLost,
    // Notices: the capture channel was lost (being opened again), or is
    // back.
    CaptureDown,
    CaptureBack,
    // The fallback programme is on the air in the programme's place.
    Fallback,
    // Notice: the fallback programme could not play something (a file that
    // does not decode, a stream that dropped).
    FallbackTrouble,
};

struct TAlarm {
    // 0 for the programme, else the server (1 to KMaxServers) it concerns.
    int Server = 0;
    TAlarmKind Kind = TAlarmKind::Silence;
    bool Raised = false;
    // The line to show or log, with its reason.
    std::string Text;
    // What the window puts into its own words for a capture alarm or
    // notice: the reason it was lost, or the channel that is back.
    std::string Detail = {};
};

// Notices are neither raised nor cleared.
inline bool IsNotice(TAlarmKind AKind)
{
    return AKind == TAlarmKind::CheckOff || AKind == TAlarmKind::ActionFailed || AKind == TAlarmKind::TitleNotSent ||
           AKind == TAlarmKind::CaptureDown || AKind == TAlarmKind::CaptureBack ||
           AKind == TAlarmKind::FallbackTrouble;
}

// The event's name in webhook queries and the command's environment
// ("silence", "no_audio", "silent_stream", "title_differs", ...).
const char* AlarmEventName(TAlarmKind AKind);

// Keeps AAlarms (the raised ones, oldest first) as AAlarm says: a raised
// one replaces any of its kind for its server, a cleared one goes; notices
// change nothing.
void ApplyAlarm(std::vector<TAlarm>& AAlarms, const TAlarm& AAlarm);
