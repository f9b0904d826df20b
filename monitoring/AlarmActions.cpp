#include "monitoring/AlarmActions.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/Text.h"
#include "services/HttpGet.h"
#include "streaming/WireText.h"

extern char** environ;

namespace {

constexpr size_t KMaxPending = 64;
// Short: a stop waits for the hook under way.
constexpr THttpLimits KHookLimits{3000, 5000, 8000};
// A command that hangs is ended: the next alarm must not wait for it.
constexpr auto KCommandLimit = std::chrono::seconds(30);

// The tail of a command's error output kept for its notice.
constexpr size_t KErrorTail = 300;

// The groups of the commands still running, ended when the program ends:
// nobody would tend them any more. Never destroyed, as a reaper may still
// run while the program's statics go.
std::mutex& GroupsLock()
{
    static auto* lock = new std::mutex;
    return *lock;
}

std::set<pid_t>& Groups()
{
    static auto* groups = new std::set<pid_t>;
    return *groups;
}

void EndGroupsAtExit()
{
    const std::lock_guard<std::mutex> guard(GroupsLock());
    for (const pid_t group : Groups())
        kill(-group, SIGTERM);
}

void NoteGroup(pid_t AGroup)
{
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(EndGroupsAtExit); });
    const std::lock_guard<std::mutex> guard(GroupsLock());
    Groups().insert(AGroup);
}

// Reaps the command's shell (waiting when AWait) and forgets its group in
// one step: once reaped, its number may be given to another process.
pid_t ReapGroup(pid_t AGroup, int& AStatus, bool AWait)
{
    const std::lock_guard<std::mutex> guard(GroupsLock());
    const pid_t done = waitpid(AGroup, &AStatus, AWait ? 0 : WNOHANG);
    if (done != 0)
        Groups().erase(AGroup);
    return done;
}

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

void DrainErrors(TRunningCommand& ACommand)
{
    char buf[4096];
    ssize_t n;
    while ((n = read(ACommand.ErrorPipe, buf, sizeof buf)) > 0) {
        ACommand.Errors.append(buf, static_cast<size_t>(n));
        if (ACommand.Errors.size() > 4 * KErrorTail)
            ACommand.Errors.erase(0, ACommand.Errors.size() - KErrorTail);
    }
}

// ": <the last line written>" or nothing.
std::string LastErrorLine(const std::string& AErrors)
{
    std::string text = AErrors;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    const size_t line = text.find_last_of("\r\n");
    if (line != std::string::npos)
        text.erase(0, line + 1);
    if (text.size() > KErrorTail) {
        size_t cut = text.size() - KErrorTail;
        // Not inside a UTF-8 character.
        while (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            ++cut;
        text.erase(0, cut);
    }
    return text.empty() ? std::string() : ": " + text;
}

// Empty while the command runs; once it has ended, whether it failed and
// how ("" when it did not). A command over its time is ended here.
std::optional<std::string> TendCommand(TRunningCommand& ACommand)
{
    DrainErrors(ACommand);
    int status = 0;
    pid_t done = ReapGroup(ACommand.Pid, status, false);
    if (done == 0 && std::chrono::steady_clock::now() < ACommand.Deadline)
        return std::nullopt;
    std::string failure;
    if (done == 0) {
        // The whole group: what the shell started goes too.
        kill(-ACommand.Pid, SIGKILL);
        ReapGroup(ACommand.Pid, status, true);
        failure = "Comando do alarme interrompido apos 30 s" + LastErrorLine(ACommand.Errors) + ".";
    } else if (done == ACommand.Pid && WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        DrainErrors(ACommand);
        failure = "Comando do alarme terminou com codigo " + std::to_string(WEXITSTATUS(status)) +
                  LastErrorLine(ACommand.Errors) + ".";
    }
    close(ACommand.ErrorPipe);
    return failure;
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
                 "Webhook do alarme ignorado: o endereco deve comecar com http:// ou https:// (" + Trim(AWebhookUrl) +
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
    if (FRunning.empty())
        return;
    // Commands go on alone; they are still ended after their time and
    // reaped, but nobody is told any more.
    std::thread([running = std::move(FRunning)]() mutable {
        while (!running.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            for (auto c = running.begin(); c != running.end();)
                c = TendCommand(*c) ? running.erase(c) : c + 1;
        }
    }).detach();
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
    THttpOutcome outcome;
    const bool ok = HttpGet(WebhookAddress(FWebhookUrl, FStation, AAlarm), "TAVIX Encoder", KHookLimits,
                            [&](std::string_view) { return true; }, nullptr, &outcome);
    if (!ok || outcome.Status >= 400) {
        // A failure after a harmless status (a redirect too many, a cut
        // body) is told by the failure.
        const std::string why = outcome.Status >= 400 ? "HTTP " + std::to_string(outcome.Status) : outcome.Failure;
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

    // Its error output comes back for the notice; it gets no input, its
    // output goes nowhere (in a service that would be the log), and it has
    // none of the program's connections or files. A group of its own, so
    // that an ending takes whatever it started.
    int errors[2];
    if (pipe2(errors, O_CLOEXEC | O_NONBLOCK) != 0) {
        FFailed({AAlarm.Server, TAlarmKind::ActionFailed, false,
                 std::string("Comando do alarme nao iniciou: ") + std::strerror(errno) + "."});
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The pipe first: with 0 or 1 closed in this process it may sit there.
    posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = 0;
    const int err = posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(errors[1]);
    if (err != 0) {
        close(errors[0]);
        FFailed({AAlarm.Server, TAlarmKind::ActionFailed, false,
                 std::string("Comando do alarme nao iniciou: ") + std::strerror(err) + "."});
        return;
    }
    NoteGroup(pid);
    // Side by side: a slow command holds up neither the next alarm's
    // webhook nor its command.
    FRunning.push_back({pid, errors[0], AAlarm, std::chrono::steady_clock::now() + KCommandLimit, {}});
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
