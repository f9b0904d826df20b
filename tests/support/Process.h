#pragma once

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

// A peer program started by a test. It is stopped by its own process id
// (SIGTERM, then SIGKILL after two seconds) when the object goes.
class TChildProcess {
public:
    // AArgs[0] is looked up on PATH. Output goes to ALogFile (or nowhere).
    TChildProcess(const std::vector<std::string>& AArgs,
                  const std::map<std::string, std::string>& AEnv = {},
                  const std::string& ALogFile = "", const std::string& AStdinFile = "");
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    pid_t Pid() const { return FPid; }
    bool Running();
    void Stop();
    // Waits for a natural end; -1 when it did not end in time.
    int WaitExit(int ATimeoutMs);

private:
    pid_t FPid = -1;
    int FStatus = 0;
};

// utime + stime of a running process, in seconds, from /proc; 0 when it
// cannot be read.
double ProcessCpuSeconds(pid_t APid);

// Runs a command line through /bin/sh and returns its standard output.
// AExitCode receives the exit status.
std::string RunCommand(const std::string& ACommand, int* AExitCode = nullptr);

// Full path of a program that the set-up must have installed; the test
// fails (never skips) when it is missing.
std::string RequireProgram(const std::string& AName);

// A TCP port on 127.0.0.1 that nothing listens on right now; with
// AConsecutive = 2 the port above it is free too.
int FreeLoopbackPort(int AConsecutive = 1);
// Polls until something accepts TCP connections on 127.0.0.1:APort (with
// AIpv6, on [::1]:APort).
bool WaitForPort(int APort, int ATimeoutMs, bool AIpv6 = false);
// Shell quoting for RunCommand.
std::string ShellQuote(const std::string& AText);
