#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "monitoring/Alarm.h"
#include "net/OutputState.h"

// What the control interface tells of the station, a copy taken at once.
struct TStationState {
    struct TOutput {
        int Server = 1;
        std::string Status; // the log's words
        bool IsError = false;
        int32_t Listeners = -1; // -1: not known
        TOutputPhase Phase = TOutputPhase::Idle;
        TRefusal Refusal = TRefusal::None;
        int Attempt = 0;
    };
    bool Running = false;
    // Server 1's, which also tells the transmission's own troubles; its
    // listeners are the top level's.
    TOutput Server1;
    double LevelL = 0, LevelR = 0; // peak, 0..1, of the last block
    int32_t Listeners = -1;         // of all servers together; -1: not known
    std::string Title;
    uint64_t BytesSent = 0;
    uint64_t UptimeSeconds = 0; // of the running transmission
    std::string RecordingFile;  // empty when not recording
    // The capture channel: lost (being opened again) or delivering, how
    // often it was opened again, the seconds of silence given in its
    // place, and its clock's drift against the wall clock (ppm; 0 until a
    // minute was measured).
    bool CaptureLost = false;
    uint32_t CaptureReopens = 0;
    uint64_t CaptureOverruns = 0;
    double CaptureBridgedSeconds = 0;
    double CaptureDriftPpm = 0;
    std::vector<TOutput> Outputs;
    // The alarms raised now, oldest first.
    std::vector<TAlarm> Alarms;
};

// Server AServer's record of AState.
TStationState::TOutput StationOutput(int AServer, const TOutputState& AState);

// JSON of AState, as GET /status answers it.
std::string StationStateJson(const TStationState& AState);

// What the control interface drives: implemented by each front end. All
// calls come from the interface's own threads and must not wait for the
// transmission.
class TControlTarget {
public:
    virtual ~TControlTarget() = default;
    virtual TStationState State() = 0;
    virtual void RequestStart() = 0;
    virtual void RequestStop() = 0;
    // Empty when taken, else why not.
    virtual std::string RequestTitle(const std::string& ATitleUtf8) = 0;
};
