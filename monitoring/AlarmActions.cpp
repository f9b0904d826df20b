#include "monitoring/AlarmActions.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "net/HttpGet.h"
#include "net/WireText.h"
#include "platform/Text.h"
#include "platform/Thread.h"

extern char** environ;

namespace {

constexpr size_t KMaxPending = 64;
// A command gets the alarm's line, never a page of a server's words.
constexpr size_t KMaxCommandText = 1024;
// Short: a stop waits for the hook under way.
constexpr THttpLimits KHookLimits{3000, 5000, 8000};

const char* StateName(const TAlarm& AAlarm)
{
    return AAlarm.Raised ? "raised" : "cleared";
}

bool QueryHas(const std::string& AQuery, const std::string& AKey)
{
    for (size_t from = 0; from <= AQuery.size();) {
        const size_t end = std::min(AQuery.find('&', from), AQuery.size());
        const std::string pair = AQuery.substr(from, end - from);
        if (pair.substr(0, pair.find('=')) == AKey)
            return true;
        from = end + 1;
    }
    return false;
}

} // namespace

std::string WebhookAddress(const std::string& AUrl, const std::string& AStation, const TAlarm& AAlarm)
{
    std::string url = AUrl.substr(0, AUrl.find('#'));
    const size_t mark = url.find('?');
    const std::string query = mark == std::string::npos ? std::string() : url.substr(mark + 1);
    const std::pair<const char*, std::string> fields[] = {{"station", UrlEncodeUtf8(AStation)},
                                                          {"event", AlarmEventName(AAlarm.Kind)},
                                                          {"state", StateName(AAlarm)},
                                                          {"server", std::to_string(AAlarm.Server)}};
    // The operator's own values win: a dashboard may know the station by
    // another name.
    for (const auto& [key, value] : fields) {
        if (QueryHas(query, key))
            continue;
        if (url.find('?') == std::string::npos)
            url += '?';
        else if (url.back() != '?' && url.back() != '&')
            url += '&';
        url += std::string(key) + "=" + value;
    }
    return url;
}

TAlarmActions::TAlarmActions(std::string AWebhookUrl, std::string ACommand, std::string AStation,
                             std::function<void(const TAlarm&)> AFailed)
    : FWebhookUrl(IsWebAddress(AWebhookUrl) ? Trim(AWebhookUrl) : std::string()), FCommand(std::move(ACommand)),
      FStation(std::move(AStation)), FFailed(std::move(AFailed))
{
    // Told once, at the start, rather than as a failure at every alarm.
    if (FWebhookUrl.empty() && !Trim(AWebhookUrl).empty())
        FFailed({0, TAlarmKind::ActionFailed, false,
                 "Webhook do alarme ignorado: o endereco deve comecar com http:// ou https:// (" + ShownUrl(Trim(AWebhookUrl)) +
                     ")."});
    if (Active())
        FThread = std::thread([this] { Run(); });
}

TAlarmActions::~TAlarmActions()
{
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FStop.store(true);
    }
    FWake.notify_all();
    if (FThread.joinable())
        FThread.join();
    // Commands go on alone, still ended after their time and reaped, but
    // nobody is told any more.
    if (!FRunning.empty())
        TendAlone(std::move(FRunning));
}

void TAlarmActions::Take(const TAlarm& AAlarm)
{
    if (!Active() || IsNotice(AAlarm.Kind))
        return;
    {
        const std::lock_guard<std::mutex> guard(FLock);
        if (FPending.size() >= KMaxPending)
            FPending.pop_front();
        FPending.push_back(AAlarm);
    }
    FWake.notify_one();
}

void TAlarmActions::Run()
{
    NameThisThread("alarm actions");
    for (;;) {
        TAlarm alarm;
        {
            std::unique_lock<std::mutex> lock(FLock);
            // Commands under way are looked at every so often.
            FWake.wait_for(lock, std::chrono::milliseconds(FRunning.empty() ? 60000 : 100),
                           [this] { return FStop.load() || !FPending.empty(); });
            if (FStop.load())
                return;
            if (FPending.empty()) {
                lock.unlock();
                ReapCommands();
                continue;
            }
            alarm = FPending.front();
            FPending.pop_front();
        }
        if (!FWebhookUrl.empty())
            Fetch(alarm);
        if (!FCommand.empty())
            StartCommand(alarm);
        ReapCommands();
    }
}

void TAlarmActions::Fetch(const TAlarm& AAlarm)
{
    THttpOutcome outcome;
    const bool ok = HttpGet(WebhookAddress(FWebhookUrl, FStation, AAlarm), "TAVIX Encoder", KHookLimits,
                            [&](std::string_view) { return true; }, nullptr, &outcome);
    if (!ok || outcome.Status >= 400) {
        // A failure after a harmless status (a redirect too many, a cut
        // body) is told by the failure.
        const std::string why = outcome.Status >= 400 ? "HTTP " + std::to_string(outcome.Status) : outcome.Failure;
        const std::string address = ShownUrl(FWebhookUrl);
        FFailed({AAlarm.Server, TAlarmKind::ActionFailed, false,
                 "Webhook do alarme falhou (" + why + ", evento " + AlarmEventName(AAlarm.Kind) + "): " + address +
                     "."});
    }
}

void TAlarmActions::StartCommand(const TAlarm& AAlarm)
{
    std::vector<std::string> vars;
    for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, "TAVIX_", 6) != 0)
            vars.emplace_back(*e);
    vars.push_back(std::string("TAVIX_EVENT=") + AlarmEventName(AAlarm.Kind));
    vars.push_back(std::string("TAVIX_STATE=") + StateName(AAlarm));
    vars.push_back("TAVIX_STATION=" + FStation);
    vars.push_back("TAVIX_SERVER=" + std::to_string(AAlarm.Server));
    vars.push_back("TAVIX_TEXT=" + PrintableLine(AAlarm.Text, KMaxCommandText));
    std::string error;
    if (std::optional<TRunningCommand> started = StartAlarmCommand(FCommand, std::move(vars), AAlarm, error)) {
        // Side by side: a slow command holds up neither the next alarm's
        // webhook nor its command.
        FRunning.push_back(std::move(*started));
        return;
    }
    FFailed({AAlarm.Server, TAlarmKind::ActionFailed, false, "Comando do alarme nao iniciou: " + error + "."});
}

void TAlarmActions::ReapCommands()
{
    for (auto c = FRunning.begin(); c != FRunning.end();) {
        const std::optional<std::string> failure = TendCommand(*c);
        if (!failure) {
            ++c;
            continue;
        }
        if (!failure->empty())
            FFailed({c->Alarm.Server, TAlarmKind::ActionFailed, false, *failure});
        c = FRunning.erase(c);
    }
}
