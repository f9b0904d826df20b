#include "station/Station.h"

#include <algorithm>

#include "engine/NativeEncoderThread.h"
#include "platform/Thread.h"
#include "platform/Tick.h"
#include "services/ListenerCountThread.h"
#include "station/TitleRequest.h"

namespace {

constexpr uint64_t KListenerEveryMs = 15000;
constexpr int KStopPumpMs = 50;

} // namespace

TStation::TStation(const TEncoderConfig& AConfig, TStationObserver& AObserver, TWorkerFactory AFactory,
                   std::function<void()> AWake)
    : FConfig(AConfig), FObserver(AObserver), FFactory(std::move(AFactory)), FWake(std::move(AWake)), FNoar(AConfig)
{
    FListeners.fill(-1);
    if (!FFactory)
        FFactory = [](const TEncoderConfig& AConfig) { return new TNativeEncoderThread(AConfig); };
}

TStation::~TStation()
{
    // Late listener counts and requests find the station gone.
    FLifeToken.reset();
    Stop();
}

bool TStation::ServerInUse(int AServer) const
{
    if (AServer == 1)
        return true;
    return AServer >= 2 && AServer <= KMaxServers && FConfig.ExtraServers[static_cast<size_t>(AServer - 2)].Enabled;
}

void TStation::Start()
{
    if (FStopping) {
        FStartAfterStop = true;
        return;
    }
    if (FWorker || !FObserver.StartAllowed())
        return;
    FEndedByItself = false;
    FToldEnded = false;
    FLastError.clear();
    FWorker = FFactory(FConfig);
    FWorker->OnOutput = [this](TNativeEncoderThread*, int AServer, const TOutputState& AState) {
        HandleOutput(AServer, AState);
    };
    FWorker->OnRecord = [this](TNativeEncoderThread*, const std::string& AFileName, const std::string& AText,
                               bool AIsError) { HandleRecord(AFileName, AText, AIsError); };
    FWorker->OnAlarm = [this](TNativeEncoderThread*, const TAlarm& AAlarm) { HandleAlarm(AAlarm); };
    FStartTick = GetTickCount64();
    ++FRound;
    FListeners.fill(-1);
    FAlarms.clear();
    FNextListenerTick = FStartTick;
    Change([&](TStationState& AState) {
        const std::string title = AState.Title;
        AState = TStationState{};
        AState.Running = true;
        AState.Title = title;
        for (int n = 2; n <= KMaxServers; ++n)
            if (ServerInUse(n))
                AState.Outputs.push_back(StationOutput(n, {}));
    });
    FWorker->Start();
    FObserver.RunningChanged(true);
    FObserver.ListenersChanged();
}

void TStation::Stop()
{
    // A second stop (asked while this one waits) must not wait for or free
    // the same worker again.
    if (!FWorker || FStopping)
        return;
    FStopping = true;
    FStartAfterStop = false;
    FObserver.StopBegan();
    FWorker->StopNow();
    while (!FWorker->Finished()) {
        TThread::RunQueued(KStopPumpMs);
        FObserver.StopWaiting();
    }
    Ended(false);
    FStopping = false;
    if (FStartAfterStop) {
        FStartAfterStop = false;
        Request([this] { Start(); });
    }
}

void TStation::Ended(bool AEndedByItself)
{
    // Its last words, queued as it ended, come first.
    FWorker->WaitFor();
    TNativeEncoderThread* ended = FWorker;
    FWorker = nullptr;
    delete ended;
    FEndedByItself = AEndedByItself;
    ++FRound;
    FListeners.fill(-1);
    FAlarms.clear();
    Change([](TStationState& AState) {
        AState.Running = false;
        AState.Alarms.clear();
        AState.Listeners = -1;
        for (TStationState::TOutput& o : AState.Outputs)
            o.Listeners = -1;
    });
    FObserver.RunningChanged(false);
    FObserver.ListenersChanged();
}

void TStation::Tick()
{
    std::deque<std::function<void()>> requests;
    {
        const std::lock_guard<std::mutex> guard(FLock);
        requests.swap(FRequests);
    }
    for (const auto& r : requests)
        r();
    if (FWorker && !FStopping && FWorker->Finished() && !FWorker->Terminated()) {
        if (!FToldEnded) {
            // Its last words first.
            FWorker->WaitFor();
            FToldEnded = true;
            // Its alarms end with it.
            FAlarms.clear();
            Change([](TStationState& AState) { AState.Alarms.clear(); });
            FObserver.WorkerEnded();
        }
        if (FFreeWhenEnded)
            Ended(true);
    }
    FNoar.Tick();
    const uint64_t now = GetTickCount64();
    if (FWorker && now >= FNextListenerTick) {
        FNextListenerTick = now + KListenerEveryMs;
        AskListeners();
    }
    const TLevelReading levels = FWorker ? FWorker->Levels().Latest() : TLevelReading{};
    const uint64_t bytes = FWorker ? FWorker->BytesSent() : 0;
    Change([&](TStationState& AState) {
        // Without a now-playing file the title comes from the control interface.
        if (!FConfig.NoarPath.empty())
            AState.Title = FNoar.Title();
        if (!FWorker)
            return;
        AState.LevelL = levels.Levels.L;
        AState.LevelR = levels.Levels.R;
        AState.BytesSent = bytes;
        AState.UptimeSeconds = (now - FStartTick) / 1000;
        const TCaptureHealth& capture = FWorker->CaptureHealth();
        AState.CaptureLost = capture.Lost;
        AState.CaptureReopens = capture.Reopens;
        AState.CaptureOverruns = capture.Overruns;
        AState.CaptureBridgedSeconds = capture.BridgedSeconds;
        AState.CaptureDriftPpm = capture.DriftPpm;
    });
}

void TStation::HandleOutput(int AServer, const TOutputState& AState)
{
    if (AServer == 1 && IsErrorState(AState))
        FLastError = AState.Text;
    Change([&](TStationState& AStation) {
        if (AServer == 1) {
            AStation.Server1 = StationOutput(1, AState);
            return;
        }
        for (TStationState::TOutput& o : AStation.Outputs)
            if (o.Server == AServer) {
                const int32_t listeners = o.Listeners;
                o = StationOutput(AServer, AState);
                o.Listeners = listeners;
            }
    });
    FObserver.OutputChanged(AServer, AState);
}

void TStation::HandleRecord(const std::string& AFileName, const std::string& AText, bool AIsError)
{
    Change([&](TStationState& AState) { AState.RecordingFile = AFileName; });
    FObserver.RecordChanged(AFileName, AText, AIsError);
}

void TStation::HandleAlarm(const TAlarm& AAlarm)
{
    ApplyAlarm(FAlarms, AAlarm);
    Change([this](TStationState& AState) { AState.Alarms = FAlarms; });
    FObserver.AlarmChanged(AAlarm);
}

int32_t TStation::Listeners(int AServer) const
{
    return AServer >= 1 && AServer <= KMaxServers ? FListeners[static_cast<size_t>(AServer)] : -1;
}

int32_t TStation::ListenerSum() const
{
    int32_t sum = -1;
    for (int n = 1; n <= KMaxServers; ++n)
        if (ServerInUse(n) && FListeners[static_cast<size_t>(n)] >= 0)
            sum = std::max(sum, 0) + FListeners[static_cast<size_t>(n)];
    return sum;
}

void TStation::HandleListenerResult(int AServer, int32_t ACount)
{
    if (!ServerInUse(AServer))
        return;
    FListeners[static_cast<size_t>(AServer)] = ACount;
    const int32_t sum = ListenerSum();
    Change([&](TStationState& AState) {
        AState.Listeners = sum;
        for (TStationState::TOutput& o : AState.Outputs)
            if (o.Server == AServer)
                o.Listeners = ACount;
    });
    FObserver.ListenersChanged();
}

void TStation::AskListeners()
{
    // One query per station at a time; a slow one is skipped, not doubled.
    if (FPendingQueries > 0)
        return;
    for (int n = 1; n <= KMaxServers; ++n) {
        if (!ServerInUse(n))
            continue;
        auto* query = new TTavixListenerCountThread(ConfigForServer(FConfig, n));
        ++FPendingQueries;
        const std::weak_ptr<int> alive = FLifeToken;
        query->OnResult = [this, alive, n, round = FRound](TTavixListenerCountThread*, int32_t ACount,
                                                          const std::string&) {
            if (!alive.expired() && round == FRound)
                HandleListenerResult(n, ACount);
        };
        query->OnTerminate = [this, alive](TThread*) {
            if (!alive.expired())
                --FPendingQueries;
        };
        query->Start();
    }
}

void TStation::SetTitle(const std::string& ATitle)
{
    if (FWorker)
        FWorker->SetTitle(ATitle);
    Change([&](TStationState& AState) { AState.Title = ATitle; });
}

void TStation::Change(const std::function<void(TStationState&)>& AChange)
{
    const std::lock_guard<std::mutex> guard(FLock);
    AChange(FState);
}

void TStation::Request(std::function<void()> ACall)
{
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FRequests.push_back(std::move(ACall));
    }
    if (FWake)
        FWake();
}

TStationState TStation::State()
{
    const std::lock_guard<std::mutex> guard(FLock);
    return FState;
}

void TStation::RequestStart()
{
    Request([this] { Start(); });
}

void TStation::RequestStop()
{
    Request([this] { Stop(); });
}

std::string TStation::RequestTitle(const std::string& ATitleUtf8)
{
    std::string title = ATitleUtf8, error;
    if (!CleanRequestedTitle(title, error))
        return error;
    // With a now-playing file the title goes through it: the servers, the
    // FTP copy and the log all take it from there.
    if (!FConfig.NoarPath.empty()) {
        const std::string error = WriteNowPlayingFile(FConfig.NoarPath, title);
        // /status tells it from the next turn on, not from the file's next check.
        if (error.empty())
            Request([this] {
                FNoar.CheckNoarFile();
                Change([this](TStationState& AState) { AState.Title = FNoar.Title(); });
            });
        return error;
    }
    Change([&](TStationState& AState) { AState.Title = title; });
    Request([this, title] { SetTitle(title); });
    return "";
}
