#include "headless/HeadlessStation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "control/TitleRequest.h"
#include "headless/LogLine.h"
#include "platform/Tick.h"
#include "services/ListenerCountThread.h"

namespace {

constexpr uint64_t KListenerEveryMs = 15000;
constexpr uint64_t KSummaryEveryMs = 60000;

std::string Decibels(double APeak)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%.1f", std::max(-60.0, 20.0 * std::log10(std::max(APeak, 1e-6))));
    return text;
}

} // namespace

THeadlessStation::THeadlessStation(const TEncoderConfig& AConfig, std::ostream& ALog)
    : FConfig(AConfig), FLog(ALog), FNoar(FConfig, [](const std::string&) { return 0; })
{
}

THeadlessStation::~THeadlessStation()
{
    Stop();
}

void THeadlessStation::Log(bool AIsError, const std::string& AText)
{
    FLog << LogLine(std::chrono::system_clock::now(), AIsError, AText) << std::endl;
}

void THeadlessStation::Start()
{
    if (FWorker)
        return;
    FEndedByItself = false;
    FLastError.clear();
    FWorker = new TNativeEncoderThread(FConfig);
    FWorker->OnStatus = [this](TNativeEncoderThread*, const std::string& AText, bool AIsError) {
        HandleStatus(1, AText, AIsError);
    };
    FWorker->OnServerStatus = [this](TNativeEncoderThread*, int AServer, const std::string& AText, bool AIsError) {
        HandleStatus(AServer, AText, AIsError);
    };
    FWorker->OnRecord = [this](TNativeEncoderThread*, const std::string& AFileName, const std::string& AText,
                               bool AIsError) { HandleRecord(AFileName, AText, AIsError); };
    FWorker->OnAlarm = [this](TNativeEncoderThread*, const TAlarm& AAlarm) { HandleAlarm(AAlarm); };
    FStartTick = GetTickCount64();
    // Counts of an earlier transmission are old news.
    ++FRound;
    std::fill(std::begin(FListenerParts), std::end(FListenerParts), -1);
    FListenersSum = -1;
    FNextListenerTick = FStartTick;
    FNextSummaryTick = FStartTick + KSummaryEveryMs;
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FState = TStationState{};
        FState.Running = true;
        for (int n = 2; n <= KMaxServers; ++n)
            if (FConfig.ExtraServers[static_cast<size_t>(n - 2)].Enabled)
                FState.Outputs.push_back({n, "", false});
    }
    FWorker->Start();
}

void THeadlessStation::Stop()
{
    if (!FWorker)
        return;
    FWorker->StopNow();
    // WaitFor keeps taking the worker's hand-offs on this thread.
    FWorker->WaitFor();
    delete FWorker;
    FWorker = nullptr;
    const std::lock_guard<std::mutex> guard(FLock);
    FState.Running = false;
    FState.Alarms.clear();
}

void THeadlessStation::ReapFinished()
{
    if (!FWorker || !FWorker->Finished())
        return;
    const bool stopped = FWorker->Terminated();
    FWorker->WaitFor();
    delete FWorker;
    FWorker = nullptr;
    FEndedByItself = !stopped;
    const std::lock_guard<std::mutex> guard(FLock);
    FState.Running = false;
    FState.Alarms.clear();
}

void THeadlessStation::HandleStatus(int AServer, const std::string& AText, bool AIsError)
{
    Log(AIsError, AServer == 1 ? AText : "[servidor " + std::to_string(AServer) + "] " + AText);
    if (AServer == 1 && AIsError)
        FLastError = AText;
    const std::lock_guard<std::mutex> guard(FLock);
    if (AServer == 1) {
        FState.Status = AText;
        FState.StatusIsError = AIsError;
        return;
    }
    for (TStationState::TOutput& o : FState.Outputs)
        if (o.Server == AServer) {
            o.Status = AText;
            o.IsError = AIsError;
        }
}

void THeadlessStation::HandleRecord(const std::string& AFileName, const std::string& AText, bool AIsError)
{
    Log(AIsError, AText);
    const std::lock_guard<std::mutex> guard(FLock);
    FState.RecordingFile = AFileName;
}

void THeadlessStation::HandleAlarm(const TAlarm& AAlarm)
{
    const std::string where = AAlarm.Server > 0 ? "[servidor " + std::to_string(AAlarm.Server) + "] " : "";
    // A raised alarm is what an operator watching the journal looks for.
    const char* mark = IsNotice(AAlarm.Kind) ? "" : AAlarm.Raised ? "ALARME: " : "ALARME encerrado: ";
    Log(AAlarm.Raised || IsNotice(AAlarm.Kind), where + mark + AAlarm.Text);
    const std::lock_guard<std::mutex> guard(FLock);
    ApplyAlarm(FState.Alarms, AAlarm);
}

void THeadlessStation::Tick()
{
    std::deque<std::function<void()>> requests;
    {
        const std::lock_guard<std::mutex> guard(FLock);
        requests.swap(FRequests);
    }
    for (const auto& r : requests)
        r();
    ReapFinished();
    FNoar.Tick();
    const uint64_t now = GetTickCount64();
    if (FWorker && now >= FNextListenerTick) {
        FNextListenerTick = now + KListenerEveryMs;
        PollListeners();
    }
    if (FWorker && now >= FNextSummaryTick) {
        FNextSummaryTick = now + KSummaryEveryMs;
        LogSummary();
    }
    const std::lock_guard<std::mutex> guard(FLock);
    // Without a now-playing file the watcher only has its placeholder.
    if (!FConfig.NoarPath.empty() && !FNoar.NoarText().empty())
        FState.Title = FNoar.NoarText();
    FState.BytesSent = FWorker ? FWorker->BytesSent() : FState.BytesSent;
    if (FWorker) {
        const TAudioLevels levels = FWorker->Levels().Latest().Levels;
        FState.LevelL = levels.L;
        FState.LevelR = levels.R;
    }
    FState.UptimeSeconds = FWorker ? (now - FStartTick) / 1000 : 0;
}

void THeadlessStation::PollListeners()
{
    // One query per server at a time; a slow one is skipped, not doubled.
    if (FPendingQueries > 0)
        return;
    for (int n = 1; n <= KMaxServers; ++n) {
        if (n > 1 && !FConfig.ExtraServers[static_cast<size_t>(n - 2)].Enabled)
            continue;
        auto* query = new TTavixListenerCountThread(ConfigForServer(FConfig, n));
        ++FPendingQueries;
        std::weak_ptr<int> alive = FLifeToken;
        query->OnResult = [this, alive, n, round = FRound](TTavixListenerCountThread*, int32_t ACount,
                                                          const std::string&) {
            if (alive.expired() || round != FRound)
                return;
            FListenerParts[n] = ACount;
            int32_t sum = -1;
            for (int k = 1; k <= KMaxServers; ++k)
                if (FListenerParts[k] >= 0)
                    sum = std::max(sum, 0) + FListenerParts[k];
            FListenersSum = sum;
            const std::lock_guard<std::mutex> guard(FLock);
            FState.Listeners = sum;
            for (TStationState::TOutput& o : FState.Outputs)
                if (o.Server == n)
                    o.Listeners = ACount;
        };
        query->OnTerminate = [this, alive](TThread*) {
            if (!alive.expired())
                --FPendingQueries;
        };
        query->Start();
    }
}

void THeadlessStation::LogSummary()
{
    size_t alarms = 0;
    {
        const std::lock_guard<std::mutex> guard(FLock);
        alarms = FState.Alarms.size();
    }
    const TAudioLevels highest = FWorker ? FWorker->Levels().TakeHighest() : TAudioLevels{};
    // The meters show a scaled mean, not the samples' peak: named as what it is.
    Log(false, "Resumo do minuto: nivel maximo dos medidores L " + Decibels(highest.L) + " dB, R " +
                   Decibels(highest.R) +
                   " dB; ouvintes " +
                   (FListenersSum < 0 ? std::string("--") : std::to_string(FListenersSum)) + "; enviados " +
                   std::to_string(FWorker ? FWorker->BytesSent() : 0) + " bytes; alarmes " +
                   std::to_string(alarms) + ".");
}

TStationState THeadlessStation::State()
{
    const std::lock_guard<std::mutex> guard(FLock);
    return FState;
}

void THeadlessStation::RequestStart()
{
    const std::lock_guard<std::mutex> guard(FLock);
    FRequests.push_back([this] { Start(); });
}

void THeadlessStation::RequestStop()
{
    const std::lock_guard<std::mutex> guard(FLock);
    FRequests.push_back([this] { Stop(); });
}

std::string THeadlessStation::RequestTitle(const std::string& ATitleUtf8)
{
    std::string title = ATitleUtf8, error;
    if (!CleanRequestedTitle(title, error))
        return error;
    // With a now-playing file the title goes through it: the servers, the
    // FTP copy and the log all take it from there.
    if (!FConfig.NoarPath.empty())
        return WriteNowPlayingFile(FConfig.NoarPath, title);
    const std::lock_guard<std::mutex> guard(FLock);
    FState.Title = title;
    FRequests.push_back([this, title] {
        if (FWorker)
            FWorker->SetTitle(title);
    });
    return "";
}
