#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/EncoderConfig.h"

namespace {

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd* user = getpwuid(getuid());
        home = user ? user->pw_dir : nullptr;
    }
    return home && home[0] == '/' ? home : "";
}

bool IsFolder(const std::string& APath)
{
    struct stat st {};
    return !APath.empty() && stat(APath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// XDG_MUSIC_DIR from user-dirs.dirs, whose values are "$HOME/..." or
// absolute paths in double quotes.
std::string XdgMusicFolder(const std::string& AHome)
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const std::string config = xdg && xdg[0] == '/' ? std::string(xdg) : AHome + "/.config";
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_MUSIC_DIR=\"";
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) != 0 || line.size() < key.size() + 1 || line.back() != '"')
            continue;
        std::string value = line.substr(key.size(), line.size() - key.size() - 1);
        if (value.rfind("$HOME", 0) == 0)
            value = AHome + value.substr(5);
        return value.empty() || value[0] != '/' ? "" : value;
    }
    return "";
}

} // namespace

std::string DefaultRecordingFolder()
{
    const std::string home = HomeFolder();
    if (home.empty())
        return "";
    const std::string xdg = XdgMusicFolder(home);
    // "$HOME/" alone means the user has no Music folder of its own.
    if (IsFolder(xdg) && xdg != home && xdg != home + "/")
        return xdg;
    if (IsFolder(home + "/Music"))
        return home + "/Music";
    return home;
}
