#include "monitoring/AlarmActions.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

#include "services/HttpGet.h"
#include "streaming/WireText.h"

extern char** environ;

namespace {

constexpr size_t KMaxPending = 64;
// Short: a stop waits for the hook under way.
constexpr THttpLimits KHookLimits{3000, 5000, 8000};
// A command that hangs is ended: the next alarm must not wait for it.
constexpr auto KCommandLimit = std::chrono::seconds(30);

const char* StateName(const TAlarm& AAlarm)
{
    return AAlarm.Raised ? "raised" : "cleared";
}

} // namespace

std::string WebhookAddress(const std::string& AUrl, const std::string& AStation, const TAlarm& AAlarm)
{
    const char joint = AUrl.find('?') == std::string::npos ? '?' : '&';
    const size_t hash = AUrl.find('#');
    return AUrl.substr(0, hash) + joint + "station=" + UrlEncodeUtf8(AStation) +
           "&event=" + AlarmEventName(AAlarm.Kind) + "&state=" + StateName(AAlarm) +
           "&server=" + std::to_string(AAlarm.Server);
}

TAlarmActions::TAlarmActions(std::string AWebhookUrl, std::string ACommand, std::string AStation,
                             std::function<void(const TAlarm&)> AFailed)
    : FWebhookUrl(std::move(AWebhookUrl)), FCommand(std::move(ACommand)), FStation(std::move(AStation)),
      FFailed(std::move(AFailed))
{
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
    long status = 0;
    const bool ok = HttpGet(WebhookAddress(FWebhookUrl, FStation, AAlarm), "TAVIX Encoder", KHookLimits,
                            [&](std::string_view) { return true; }, nullptr, &status);
    if (!ok || status >= 400) {
        const std::string why = status > 0 ? "HTTP " + std::to_string(status) : "sem resposta";
        const std::string address = FWebhookUrl.substr(0, FWebhookUrl.find_first_of("?#"));
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
    vars.push_back("TAVIX_TEXT=" + AAlarm.Text);
    std::vector<char*> envp;
    for (std::string& v : vars)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string shell = "/bin/sh", flag = "-c", line = FCommand;
    char* argv[] = {shell.data(), flag.data(), line.data(), nullptr};

    pid_t pid = 0;
    const int err = posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, envp.data());
    if (err != 0) {
        FFailed({AAlarm.Server, TAlarmKind::ActionFailed, false,
                 std::string("Comando do alarme nao iniciou: ") + std::strerror(err) + "."});
        return;
    }
    // Side by side: a slow command holds up neither the next alarm's
    // webhook nor its command.
    FRunning.push_back({pid, AAlarm, std::chrono::steady_clock::now() + KCommandLimit});
}

void TAlarmActions::ReapCommands()
{
    for (auto c = FRunning.begin(); c != FRunning.end();) {
        int status = 0;
        const pid_t done = waitpid(c->Pid, &status, WNOHANG);
        if (done == 0 && std::chrono::steady_clock::now() < c->Deadline) {
            ++c;
            continue;
        }
        if (done == 0) {
            kill(c->Pid, SIGKILL);
            waitpid(c->Pid, &status, 0);
            FFailed({c->Alarm.Server, TAlarmKind::ActionFailed, false, "Comando do alarme interrompido apos 30 s."});
        } else if (done == c->Pid && WIFEXITED(status) && WEXITSTATUS(status) != 0) {
            FFailed({c->Alarm.Server, TAlarmKind::ActionFailed, false,
                     "Comando do alarme terminou com codigo " + std::to_string(WEXITSTATUS(status)) + "."});
        }
        c = FRunning.erase(c);
    }
}
