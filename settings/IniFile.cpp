#include "settings/IniFile.h"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace {

constexpr size_t KMaxValueChars = 2047;

bool IsSectionLine(const std::string& ALine, std::string& AName)
{
    const std::string t = Trim(ALine);
    if (t.size() < 2 || t.front() != '[')
        return false;
    const auto close = t.find(']');
    if (close == std::string::npos)
        return false;
    AName = Trim(t.substr(1, close - 1));
    return true;
}

bool IsKeyLine(const std::string& ALine, std::string& AKey, std::string& AValue)
{
    const auto eq = ALine.find('=');
    if (eq == std::string::npos)
        return false;
    AKey = Trim(ALine.substr(0, eq));
    if (AKey.empty() || AKey[0] == ';')
        return false;
    AValue = ALine.substr(eq + 1);
    return true;
}

// Drops at most 2047 characters' worth of UTF-8, never splitting one.
std::string CutToMaxChars(const std::string& AText)
{
    size_t chars = 0;
    for (size_t i = 0; i < AText.size(); ++i) {
        if ((static_cast<unsigned char>(AText[i]) & 0xC0) != 0x80) {
            if (chars == KMaxValueChars)
                return AText.substr(0, i);
            ++chars;
        }
    }
    return AText;
}

} // namespace

TIniFile::TIniFile(std::string APath) : FPath(std::move(APath)) {}

bool TIniFile::Exists() const
{
    return RegularFileExists(FPath);
}

void TIniFile::Reload() const
{
    FLines.clear();
    std::ifstream in(FPath, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        FLines.push_back(line);
    }
    if (!FLines.empty() && FLines[0].rfind("\xEF\xBB\xBF", 0) == 0)
        FLines[0].erase(0, 3);
    FLoaded = true;
}

std::string TIniFile::ReadString(const std::string& ASection, const std::string& AKey,
                                 const std::string& ADefault) const
{
    if (!FLoaded)
        Reload();
    bool inSection = false;
    for (const auto& line : FLines) {
        std::string name, key, value;
        if (IsSectionLine(line, name)) {
            inSection = SameTextAscii(name, ASection);
        } else if (inSection && IsKeyLine(line, key, value) && SameTextAscii(key, AKey)) {
            value = Trim(value);
            if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') ||
                                      (value.front() == '\'' && value.back() == '\'')))
                value = value.substr(1, value.size() - 2);
            return CutToMaxChars(value);
        }
    }
    return CutToMaxChars(ADefault);
}

bool TIniFile::WriteString(const std::string& ASection, const std::string& AKey,
                           const std::string& AValue)
{
    Reload();
    SetString(ASection, AKey, AValue);
    return Flush();
}

void TIniFile::SetString(const std::string& ASection, const std::string& AKey,
                         const std::string& AValue)
{
    if (!FLoaded)
        Reload();
    // A line break in a value would start a new key in the file.
    std::string value = AValue;
    for (char& c : value)
        if (c == '\r' || c == '\n')
            c = ' ';
    const std::string newLine = AKey + "=" + value;
    bool inSection = false;
    long sectionEnd = -1; // index after the last key line of the section
    for (size_t i = 0; i < FLines.size(); ++i) {
        std::string name, key, oldValue;
        if (IsSectionLine(FLines[i], name)) {
            if (inSection)
                break;
            inSection = SameTextAscii(name, ASection);
            if (inSection)
                sectionEnd = static_cast<long>(i) + 1;
        } else if (inSection) {
            if (IsKeyLine(FLines[i], key, oldValue) && SameTextAscii(key, AKey)) {
                FLines[i] = newLine;
                return;
            }
            if (!Trim(FLines[i]).empty())
                sectionEnd = static_cast<long>(i) + 1;
        }
    }
    if (sectionEnd >= 0) {
        FLines.insert(FLines.begin() + sectionEnd, newLine);
    } else {
        FLines.push_back("[" + ASection + "]");
        FLines.push_back(newLine);
    }
}

bool TIniFile::Flush()
{
    std::string text;
    for (const auto& line : FLines)
        text += line + "\n";
    const std::string temp = FPath + ".tmp";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        FLoaded = false;
        return false;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    ok = ok && rename(temp.c_str(), FPath.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        FLoaded = false; // memory no longer matches the disk
    }
    return ok;
}
