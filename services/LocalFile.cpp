#include "services/LocalFile.h"

#include <fstream>
#include <sys/stat.h>

#include "platform/CodePage.h"

bool FileExists(const std::string& APath)
{
    struct stat st{};
    return stat(APath.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::optional<double> FileModifiedDays(const std::string& APath)
{
    struct stat st{};
    if (stat(APath.c_str(), &st) != 0)
        return std::nullopt;
    const double seconds = static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
    return seconds / 86400.0;
}

std::optional<std::string> ReadWholeFile(const std::string& APath, size_t AMaxBytes)
{
    struct stat st{};
    if (stat(APath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    std::ifstream in(APath, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (text.size() > AMaxBytes)
            return std::nullopt;
    }
    if (in.bad())
        return std::nullopt;
    return text;
}

std::optional<std::string> ReadUtf8File(const std::string& APath, size_t AMaxBytes)
{
    std::optional<std::string> text = ReadWholeFile(APath, AMaxBytes);
    if (!text)
        return std::nullopt;
    if (text->compare(0, 3, "\xEF\xBB\xBF") == 0)
        text->erase(0, 3);
    std::u32string codePoints;
    if (!DecodeUtf8(*text, codePoints))
        return std::nullopt;
    return text;
}
