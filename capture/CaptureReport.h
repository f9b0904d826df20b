#pragma once

#include <functional>
#include <string>

// Where opening a capture channel tells the operator what happens: the
// streaming worker's status event.
using TCaptureReport = std::function<void(const std::string& AText, bool AIsError)>;
