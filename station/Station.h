#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "monitoring/Alarm.h"
#include "net/OutputState.h"
#include "services/NowPlayingWatcher.h"
#include "settings/EncoderConfig.h"
#include "station/StationState.h"

class TNativeEncoderThread;
class TTavixListenerCountThread;

// What a front end hears of the station, on the owner's thread.
class TStationObserver {
public:
    virtual ~TStationObserver() = default;
    // Before a start: false keeps the station idle (having told why).
    virtual bool StartAllowed() { return true; }
    // A stop begins, and goes on waiting for the outputs to wind down.
    virtual void StopBegan() {}
    virtual void StopWaiting() {}
    // A transmission began, or is over (stopped, or ended by itself).
    virtual void RunningChanged(bool /*ARunning*/) {}
    virtual void OutputChanged(int /*AServer*/, const TOutputState& /*AState*/) {}
    // The recording's file (empty once none is written) and its line.
    virtual void RecordChanged(const std::string& /*AFileName*/, const std::string& /*AText*/, bool /*AIsError*/) {}
    virtual void AlarmChanged(const TAlarm& /*AAlarm*/) {}
    virtual void ListenersChanged() {}
    // The transmission ended by itself (refused settings, a failed
    // capture): it says no more.
    virtual void WorkerEnded() {}
};

// The station, whichever front end shows it: one transmission of the
// owner's settings at a time, the now-playing file and its FTP copy, the
// listener count of every server in use, the alarms raised, and what the
// control interface reads and asks. Everything but the control interface's
// calls runs on the owner's thread, which calls Tick often; the
// transmission's own threads never wait for it.
class TStation : public TControlTarget {
public:
    using TWorkerFactory = std::function<TNativeEncoderThread*(const TEncoderConfig&)>;

    // AConfig is the owner's settings record, read at each start and each
    // check. AWake, when given, is called from any thread when a request
    // waits for the next Tick (so an event loop can run one soon).
    TStation(const TEncoderConfig& AConfig, TStationObserver& AObserver, TWorkerFactory AFactory = {},
             std::function<void()> AWake = {});
    ~TStation() override;
    // Frees a transmission that ended by itself at the next Tick, as the
    // program without a window wants; otherwise it stands until stopped.
    void SetFreeWhenEnded(bool AFree) { FFreeWhenEnded = AFree; }
    TStation(const TStation&) = delete;
    TStation& operator=(const TStation&) = delete;

    // A start asked while a stop winds down follows it.
    void Start();
    // Stops a running transmission and waits for its end, the observer
    // keeping the owner alive meanwhile.
    void Stop();
    // The control interface's requests, a transmission that ended by
    // itself, the listener counts and the now-playing file, each when due.
    void Tick();

    bool Running() const { return FWorker != nullptr; }
    bool Stopping() const { return FStopping; }
    TNativeEncoderThread* Worker() const { return FWorker; }
    // The last transmission ended by itself (refused settings, a failing
    // encoder): its last error is ExitReason.
    bool EndedByItself() const { return FEndedByItself; }
    const std::string& ExitReason() const { return FLastError; }

    // Server AServer's last count (-1: none), and the sum of those known.
    int32_t Listeners(int AServer) const;
    int32_t ListenerSum() const;
    // A server's count, as its query found it.
    void HandleListenerResult(int AServer, int32_t ACount);
    // Asks every server in use for its count now, unless a query still
    // runs (Tick does it every 15 seconds while on air).
    void AskListeners();
    int PendingQueries() const { return FPendingQueries; }
    bool ServerInUse(int AServer) const;

    const std::vector<TAlarm>& Alarms() const { return FAlarms; }
    // An alarm raised or cleared, or a notice, as the transmission tells it.
    void HandleAlarm(const TAlarm& AAlarm);
    NowPlayingWatcher& NowPlaying() { return FNoar; }
    // A title for the servers when there is no now-playing file.
    void SetTitle(const std::string& ATitle);

    TStationState State() override;
    void RequestStart() override;
    void RequestStop() override;
    std::string RequestTitle(const std::string& ATitleUtf8) override;

private:
    void HandleOutput(int AServer, const TOutputState& AState);
    void HandleRecord(const std::string& AFileName, const std::string& AText, bool AIsError);
    // The worker's end: it is freed, and the station is idle again.
    void Ended(bool AEndedByItself);
    void Request(std::function<void()> ACall);
    void Change(const std::function<void(TStationState&)>& AChange);

    const TEncoderConfig& FConfig;
    TStationObserver& FObserver;
    TWorkerFactory FFactory;
    std::function<void()> FWake;
    NowPlayingWatcher FNoar;
    TNativeEncoderThread* FWorker = nullptr;
    bool FStopping = false;
    bool FStartAfterStop = false;
    bool FFreeWhenEnded = false;
    bool FToldEnded = false;
    bool FEndedByItself = false;
    std::string FLastError;
    uint64_t FStartTick = 0;
    uint64_t FNextListenerTick = 0;
    std::array<int32_t, KMaxServers + 1> FListeners{};
    int FPendingQueries = 0;
    unsigned FRound = 0; // counts the starts: older counts are old news
    std::vector<TAlarm> FAlarms;
    std::shared_ptr<int> FLifeToken = std::make_shared<int>(0);

    // Shared with the control interface's threads.
    std::mutex FLock;
    TStationState FState;
    std::deque<std::function<void()>> FRequests;
};
