#include "station/TitleRequest.h"

#include <mutex>
#include <unistd.h>

#include "settings/GuardedFile.h"

namespace {

constexpr size_t KMaxTitleBytes = 1024;

} // namespace

bool CleanRequestedTitle(std::string& ATitle, std::string& AError)
{
    for (char& c : ATitle)
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    if (ATitle.find_first_not_of(' ') == std::string::npos)
        AError = "titulo vazio";
    else if (ATitle.size() > KMaxTitleBytes)
        AError = "titulo longo demais";
    else
        return true;
    return false;
}

std::string WriteNowPlayingFile(const std::string& APath, const std::string& ATitle)
{
    // One at a time: two requests must not interleave their files.
    static std::mutex writing;
    const std::lock_guard<std::mutex> guard(writing);
    // A unique temporary name, never one another user could plant a link
    // at; the file keeps its mode, and a new one is readable by all, as
    // playout software makes it.
    TFileBytes old = ReadFileBytes(APath);
    if (old.State != TFileBytes::fbRead) {
        old.State = TFileBytes::fbRead;
        old.Mode = 0644;
        old.Owner = geteuid();
        old.Group = getegid();
    }
    return ReplaceFileBytes(APath, ATitle + "\n", old) ? "" : "nao gravou " + APath;
}
