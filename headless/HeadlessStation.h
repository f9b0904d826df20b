#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "settings/EncoderConfig.h"
#include "station/Station.h"

// The station without a window: a log line for each event it hears, and a
// summary every minute. Everything runs on the main thread, which calls
// Tick between hand-offs.
class THeadlessStation : private TStationObserver {
public:
    THeadlessStation(const TEncoderConfig& AConfig, std::ostream& ALog);

    void Start() { FStation.Start(); }
    // Stops a running transmission and waits for its end ("Parado.").
    void Stop() { FStation.Stop(); }
    void Tick();
    bool Running() const { return FStation.Running(); }
    bool EndedByItself() const { return FStation.EndedByItself(); }
    const std::string& ExitReason() const { return FStation.ExitReason(); }
    // Listener queries still out; their answers are dropped once the
    // station is gone.
    int PendingQueries() const { return FStation.PendingQueries(); }
    // What the control interface drives.
    TStation& Station() { return FStation; }

private:
    void Log(bool AIsError, const std::string& AText);
    void RunningChanged(bool ARunning) override;
    void OutputChanged(int AServer, const TOutputState& AState) override;
    void RecordChanged(const std::string& AFileName, const std::string& AText, bool AIsError) override;
    void AlarmChanged(const TAlarm& AAlarm) override;
    void LogSummary();
    static std::string CaptureSummary(const TNativeEncoderThread* AWorker);

    TEncoderConfig FConfig;
    std::ostream& FLog;
    TStation FStation;
    uint64_t FNextSummaryTick = 0;
};
