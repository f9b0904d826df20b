#include "settings/IniFile.h"

#include "platform/CodePage.h"
#include "platform/Text.h"
#include "settings/GuardedFile.h"

namespace {

constexpr size_t KMaxValueChars = 2047;
// A save waits this long at most for another copy of the program's save.
constexpr int KLockWaitMs = 3000;

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

// The file's bytes as UTF-8 text. UTF-16 is known only by its byte-order
// mark; a unit that is half a pair on its own becomes U+FFFD.
std::string DecodeText(const std::string& ABytes)
{
    if (ABytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return ABytes.substr(3);
    const bool little = ABytes.compare(0, 2, "\xFF\xFE") == 0;
    if (!little && ABytes.compare(0, 2, "\xFE\xFF") != 0)
        return ABytes;
    const auto unit = [&](size_t AAt) -> char32_t {
        const auto first = static_cast<unsigned char>(ABytes[AAt]);
        const auto second = static_cast<unsigned char>(ABytes[AAt + 1]);
        return little ? (second << 8 | first) : (first << 8 | second);
    };
    std::u32string codes;
    for (size_t i = 2; i + 1 < ABytes.size(); i += 2) {
        const char32_t u = unit(i);
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < ABytes.size()) {
            const char32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                codes += 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
                continue;
            }
        }
        codes += (u >= 0xD800 && u < 0xE000) ? 0xFFFD : u;
    }
    return EncodeUtf8(codes);
}

std::vector<std::string> SplitLines(const std::string& AText)
{
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < AText.size(); ++i) {
        const char c = AText[i];
        if (c != '\r' && c != '\n') {
            line += c;
            continue;
        }
        lines.push_back(line);
        line.clear();
        if (c == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n')
            ++i;
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

std::string JoinLines(const std::vector<std::string>& ALines)
{
    std::string text;
    for (const auto& line : ALines)
        text += line + "\n";
    // Text that starts the way a byte-order mark does would read back as
    // another encoding, or short of its first character: a mark of its
    // own keeps it as it is.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0 || text.compare(0, 2, "\xFF\xFE") == 0 ||
        text.compare(0, 2, "\xFE\xFF") == 0)
        text.insert(0, "\xEF\xBB\xBF");
    return text;
}

void SetKey(std::vector<std::string>& ALines, const TIniFile::TEntry& AEntry)
{
    // A line break in a value would start a new key in the file.
    std::string value = AEntry.Value;
    for (char& c : value)
        if (c == '\r' || c == '\n')
            c = ' ';
    const std::string newLine = AEntry.Key + "=" + value;
    bool inSection = false;
    long sectionEnd = -1; // index after the last key line of the section
    for (size_t i = 0; i < ALines.size(); ++i) {
        std::string name, key, oldValue;
        if (IsSectionLine(ALines[i], name)) {
            if (inSection)
                break;
            inSection = SameTextAscii(name, AEntry.Section);
            if (inSection)
                sectionEnd = static_cast<long>(i) + 1;
        } else if (inSection) {
            if (IsKeyLine(ALines[i], key, oldValue) && SameTextAscii(key, AEntry.Key)) {
                ALines[i] = newLine;
                return;
            }
            if (!Trim(ALines[i]).empty())
                sectionEnd = static_cast<long>(i) + 1;
        }
    }
    if (sectionEnd >= 0) {
        ALines.insert(ALines.begin() + sectionEnd, newLine);
    } else {
        ALines.push_back("[" + AEntry.Section + "]");
        ALines.push_back(newLine);
    }
}

} // namespace

TIniFile::TIniFile(std::string APath) : FPath(std::move(APath)) {}

bool TIniFile::Load()
{
    const TFileBytes file = ReadFileBytes(FPath);
    FLines = SplitLines(DecodeText(file.Bytes));
    FExists = file.State == TFileBytes::fbRead;
    FLoadError = file.State == TFileBytes::fbFailed ? "Unable to read " + FPath + ": " + file.Reason : "";
    return FLoadError.empty();
}

std::string TIniFile::ReadString(const std::string& ASection, const std::string& AKey,
                                 const std::string& ADefault) const
{
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

bool TIniFile::Write(const std::vector<TEntry>& AEntries)
{
    std::string reason;
    const std::string file = FollowLinks(FPath, reason);
    if (file.empty())
        return false;
    TFileLock lock(file, KLockWaitMs);
    if (!lock.Held())
        return false;
    const TFileBytes old = ReadFileBytes(file);
    if (old.State == TFileBytes::fbFailed)
        return false;
    std::vector<std::string> lines = SplitLines(DecodeText(old.Bytes));
    std::vector<std::string> all = lines;
    for (const auto& e : AEntries)
        SetKey(all, e);
    if (ReplaceFileBytes(file, JoinLines(all), old))
        return true;
    // The failed write left the file as it was: start again from it.
    for (const auto& e : AEntries) {
        SetKey(lines, e);
        if (!ReplaceFileBytes(file, JoinLines(lines), old))
            return false;
    }
    return true;
}
