#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "monitoring/Alarm.h"
#include "monitoring/AlarmCommand.h"

// What an alarm does beyond the window and the log: fetch a webhook and run
// a command, on a thread of its own so that a slow hook never holds up the
// capture or a server. A failure comes back as an ActionFailed notice.
class TAlarmActions {
public:
    TAlarmActions(std::string AWebhookUrl, std::string ACommand, std::string AStation,
                  std::function<void(const TAlarm&)> AFailed);
    // Waits for a webhook under way (a few seconds at most), not for the
    // commands, which go on alone (still ended after their time, and
    // reaped); drops what has not started.
    ~TAlarmActions();
    TAlarmActions(const TAlarmActions&) = delete;
    TAlarmActions& operator=(const TAlarmActions&) = delete;

    bool Active() const { return !FWebhookUrl.empty() || !FCommand.empty(); }
    // Never waits; notices are not acted on.
    void Take(const TAlarm& AAlarm);

private:
    void Run();
    void Fetch(const TAlarm& AAlarm);
    void StartCommand(const TAlarm& AAlarm);
    // Tells how the finished commands ended; ends those over their time.
    void ReapCommands();

    const std::string FWebhookUrl;
    const std::string FCommand;
    const std::string FStation;
    const std::function<void(const TAlarm&)> FFailed;
    std::mutex FLock;
    std::condition_variable FWake;
    std::deque<TAlarm> FPending;
    // Only the actions' thread touches it.
    std::vector<TRunningCommand> FRunning;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

// AUrl with the event in its query: station, event, state (raised or
// cleared) and server, each unless the address already has it.
std::string WebhookAddress(const std::string& AUrl, const std::string& AStation, const TAlarm& AAlarm);
