#pragma once

#include <stdexcept>
#include <string>

// The one error that crosses a module boundary: a settings key that could
// not be written. what() is "Unable to write to <full path>".
class ESettingsWriteError : public std::runtime_error {
public:
    explicit ESettingsWriteError(const std::string& APath);
};
