#include "tests/support/Process.h"

#include <sstream>

#include <fstream>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

TChildProcess::TChildProcess(const std::vector<std::string>& AArgs,
                             const std::map<std::string, std::string>& AEnv,
                             const std::string& ALogFile, const std::string& AStdinFile)
{
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        const auto key = entry.substr(0, entry.find('='));
        if (!AEnv.count(key))
            envText.push_back(entry);
    }
    for (const auto& [k, v] : AEnv)
        envText.push_back(k + "=" + v);
    std::vector<char*> argv, envp;
    for (const auto& a : AArgs)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (auto& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    FPid = fork();
    if (FPid < 0)
        throw std::runtime_error("fork failed");
    if (FPid == 0) {
        setpgid(0, 0);
        const int in = open(AStdinFile.empty() ? "/dev/null" : AStdinFile.c_str(), O_RDONLY);
        const int out = open(ALogFile.empty() ? "/dev/null" : ALogFile.c_str(),
                             O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in >= 0)
            dup2(in, 0);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
}

TChildProcess::~TChildProcess()
{
    Stop();
}

bool TChildProcess::Running()
{
    if (FPid <= 0)
        return false;
    const pid_t r = waitpid(FPid, &FStatus, WNOHANG);
    if (r == FPid) {
        FPid = -1;
        return false;
    }
    return true;
}

int TChildProcess::WaitExit(int ATimeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
    while (Running()) {
        if (std::chrono::steady_clock::now() > until)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(FStatus) ? WEXITSTATUS(FStatus) : 128 + WTERMSIG(FStatus);
}

void TChildProcess::Stop()
{
    if (!Running())
        return;
    // The child leads its own process group: this reaches a whole pipeline
    // the test started, and nothing else.
    kill(-FPid, SIGTERM);
    if (WaitExit(2000) == -1 && FPid > 0) {
        kill(-FPid, SIGKILL);
        waitpid(FPid, &FStatus, 0);
        FPid = -1;
    }
}

std::string RunCommand(const std::string& ACommand, int* AExitCode)
{
    std::string out;
    // Never the test's own input: ffmpeg, for one, reads keys from it.
    FILE* pipe = popen(("exec </dev/null; " + ACommand).c_str(), "r");
    if (!pipe) {
        if (AExitCode)
            *AExitCode = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), pipe)) > 0)
        out.append(buf, n);
    const int status = pclose(pipe);
    if (AExitCode)
        *AExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::string RequireProgram(const std::string& AName)
{
    int code = 0;
    std::string path = RunCommand("command -v " + ShellQuote(AName) + " 2>/dev/null", &code);
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r'))
        path.pop_back();
    if (code != 0 || path.empty())
        throw std::runtime_error("required program missing: " + AName +
                                 " (./scripts/setup installs it)");
    return path;
}

namespace {

bool PortFree(int APort)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(APort));
    const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    close(fd);
    return ok;
}

} // namespace

int FreeLoopbackPort(int AConsecutive)
{
    // Spread the tests that run at the same time over the range.
    static unsigned seed = static_cast<unsigned>(getpid()) * 7919u;
    for (int attempt = 0; attempt < 2000; ++attempt) {
        seed = seed * 1103515245u + 12345u;
        // Below the system's ephemeral range (32768 up), so an outgoing
        // connection cannot take the port before the peer binds it.
        const int port = 20000 + static_cast<int>((seed >> 8) % 12000);
        bool ok = true;
        for (int i = 0; i < AConsecutive && ok; ++i)
            ok = PortFree(port + i);
        if (ok)
            return port;
    }
    throw std::runtime_error("no free loopback port");
}

bool WaitForPort(int APort, int ATimeoutMs, bool AIpv6)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
    while (std::chrono::steady_clock::now() < until) {
        const int fd = socket(AIpv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(APort));
        sockaddr_in6 addr6{};
        addr6.sin6_family = AF_INET6;
        addr6.sin6_addr = in6addr_loopback;
        addr6.sin6_port = htons(static_cast<uint16_t>(APort));
        const bool ok = AIpv6 ? connect(fd, reinterpret_cast<sockaddr*>(&addr6), sizeof(addr6)) == 0
                              : connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
        close(fd);
        if (ok)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::string ShellQuote(const std::string& AText)
{
    std::string out = "'";
    for (char c : AText) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

double ProcessCpuSeconds(pid_t APid)
{
    std::ifstream in("/proc/" + std::to_string(APid) + "/stat");
    std::string line;
    std::getline(in, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return 0.0;
    std::istringstream fields(line.substr(close + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i)
        fields >> skip;
    double utime = 0, stime = 0;
    fields >> utime >> stime;
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}
