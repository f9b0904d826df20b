#pragma once

#include <chrono>
#include <string>

// One line of the headless program's log: local time in ISO 8601 with its
// offset, "info" or "error", the text. No line break inside.
std::string LogLine(std::chrono::system_clock::time_point ATime, bool AIsError, const std::string& AText);
