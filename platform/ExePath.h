#pragma once

#include <string>

// The folder that holds the running executable, with a trailing "/";
// empty when it cannot be known (never the current folder).
std::string ExecutableDir();
