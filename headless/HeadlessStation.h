#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

#include "control/StationState.h"
#include "services/NowPlayingWatcher.h"
#include "settings/EncoderConfig.h"
#include "streaming/NativeEncoderThread.h"

// The station without a window: one transmission of the settings, the
// now-playing watcher with its FTP publishing, the listener count, and a
// log line for each event. Everything but the control target's calls runs
// on the main thread, which calls Tick between hand-offs.
class THeadlessStation : public TControlTarget {
public:
    THeadlessStation(const TEncoderConfig& AConfig, std::ostream& ALog);
    ~THeadlessStation() override;

    void Start();
    // Stops a running transmission and waits for its end ("Parado.").
    void Stop();
    // Requests of the control interface, the now-playing file, the
    // listener count and the summary line, each when due.
    void Tick();
    bool Running() const { return FWorker != nullptr; }
    // The last transmission ended by itself (refused settings, a failing
    // encoder): its last error is ExitReason.
    bool EndedByItself() const { return FEndedByItself; }
    const std::string& ExitReason() const { return FLastError; }
    // Listener queries still out; their answers are dropped once the
    // station is gone.
    int PendingQueries() const { return FPendingQueries; }

    TStationState State() override;
    void RequestStart() override;
    void RequestStop() override;
    std::string RequestTitle(const std::string& ATitleUtf8) override;

private:
    void Log(bool AIsError, const std::string& AText);
    void HandleStatus(int AServer, const std::string& AText, bool AIsError);
    void HandleRecord(const std::string& AFileName, const std::string& AText, bool AIsError);
    void HandleAlarm(const TAlarm& AAlarm);
    void ReapFinished();
    void PollListeners();
    void LogSummary();

    TEncoderConfig FConfig;
    std::ostream& FLog;
    NowPlayingWatcher FNoar;
    TNativeEncoderThread* FWorker = nullptr;
    bool FEndedByItself = false;
    std::string FLastError;
    uint64_t FStartTick = 0;
    uint64_t FNextListenerTick = 0;
    uint64_t FNextSummaryTick = 0;
    int FPendingQueries = 0;
    int32_t FListenersSum = -1;
    int32_t FListenerParts[KMaxServers + 1] = {};
    unsigned FRound = 0; // counts the starts
    std::shared_ptr<int> FLifeToken = std::make_shared<int>(0);

    // Shared with the control interface's threads.
    std::mutex FLock;
    TStationState FState;
    std::deque<std::function<void()>> FRequests;
};
