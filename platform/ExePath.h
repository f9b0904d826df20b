#pragma once

#include <string>

// The folder that holds the running executable, with a trailing "/".
std::string ExecutableDir();
