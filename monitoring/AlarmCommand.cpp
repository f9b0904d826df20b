#include "monitoring/AlarmCommand.h"
#include "platform/Thread.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

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

} // namespace

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


std::optional<TRunningCommand> StartAlarmCommand(const std::string& ACommand, std::vector<std::string> AEnvironment,
                                                 const TAlarm& AAlarm, std::string& AError)
{
    std::vector<char*> envp;
    for (std::string& v : AEnvironment)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string shell = "/bin/sh", flag = "-c", line = ACommand;
    char* argv[] = {shell.data(), flag.data(), line.data(), nullptr};

    int errors[2];
    if (pipe2(errors, O_CLOEXEC | O_NONBLOCK) != 0) {
        AError = std::strerror(errno);
        return std::nullopt;
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
        AError = std::strerror(err);
        return std::nullopt;
    }
    NoteGroup(pid);
    return TRunningCommand{pid, errors[0], AAlarm, std::chrono::steady_clock::now() + KCommandLimit, {}};
}

void TendAlone(std::vector<TRunningCommand> ACommands)
{
    std::thread([running = std::move(ACommands)]() mutable {
        NameThisThread("alarm commands");
        while (!running.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            for (auto c = running.begin(); c != running.end();)
                c = TendCommand(*c) ? running.erase(c) : c + 1;
        }
    }).detach();
}
