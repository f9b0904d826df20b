#include "platform/ExePath.h"

#include <climits>
#include <unistd.h>

std::string ExecutableDir()
{
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0)
        return {};
    std::string path(buf, static_cast<size_t>(n));
    const auto slash = path.rfind('/');
    // "./" would be wherever the program was started from.
    return path[0] != '/' || slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
