#include "station/TitleRequest.h"

#include <cstdio>
#include <fstream>

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
    const std::string temp = APath + ".tavix-tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << ATitle << "\n";
        if (!out.flush()) {
            std::remove(temp.c_str());
            return "nao gravou " + APath;
        }
    }
    if (std::rename(temp.c_str(), APath.c_str()) != 0) {
        std::remove(temp.c_str());
        return "nao gravou " + APath;
    }
    return "";
}
