#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "monitoring/Alarm.h"

// An alarm's command under way, and what it has written to its error
// output.
struct TRunningCommand {
    pid_t Pid;
    int ErrorPipe;
    TAlarm Alarm;
    std::chrono::steady_clock::time_point Deadline;
    std::string Errors;
};

// Runs ACommand through /bin/sh -c with AEnvironment ("NAME=value"): in a
// process group of its own, so that an ending takes whatever it started,
// with no input, its output discarded (in a service that would be the log)
// and none of the program's connections or files; its error output is kept
// for the notice. Ended when the program ends. Empty with AError set when
// it could not start.
std::optional<TRunningCommand> StartAlarmCommand(const std::string& ACommand, std::vector<std::string> AEnvironment,
                                                 const TAlarm& AAlarm, std::string& AError);
// Empty while the command runs; once it has ended, whether it failed and
// how ("" when it did not). A command over its 30 s is ended here.
std::optional<std::string> TendCommand(TRunningCommand& ACommand);
// Tends ACommands on a thread of their own till they have all ended, for
// an owner that is going away.
void TendAlone(std::vector<TRunningCommand> ACommands);
