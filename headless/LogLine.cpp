#include "headless/LogLine.h"

#include <cstdio>
#include <ctime>

#include "platform/Text.h"

namespace {

constexpr size_t KMaxLogText = 4096;

} // namespace

std::string LogLine(std::chrono::system_clock::time_point ATime, bool AIsError, const std::string& AText)
{
    const std::time_t t = std::chrono::system_clock::to_time_t(ATime);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[40];
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%S", &local);
    char offset[8];
    std::strftime(offset, sizeof(offset), "%z", &local);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(ATime.time_since_epoch()).count() % 1000;
    char line[64];
    // "+0100" becomes "+01:00", as ISO 8601 writes it.
    std::snprintf(line, sizeof(line), "%s.%03d%.3s:%.2s %s ", stamp, static_cast<int>(ms), offset, offset + 3,
                  AIsError ? "error" : "info");
    // A server's words must not forge a line or drive the terminal.
    return line + PrintableLine(AText, KMaxLogText);
}
