#include "services/NoarTitle.h"

#include <fstream>
#include <iterator>
#include <sys/stat.h>

#include "platform/CodePage.h"
#include "platform/Text.h"

namespace {

bool IsRegularFile(const std::string& APath)
{
    struct stat st{};
    return stat(APath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Every line break (CR LF, lone CR, lone LF) and every run of blanks
// becomes one blank.
std::string SingleLine(const std::string& AText)
{
    std::string out;
    out.reserve(AText.size());
    for (char c : AText) {
        const char mapped = (c == '\r' || c == '\n') ? ' ' : c;
        if (mapped == ' ' && !out.empty() && out.back() == ' ')
            continue;
        out += mapped;
    }
    return out;
}

} // namespace

bool ReadNoarTitle(const TEncoderConfig& AConfig, std::string& ATitle)
{
    if (Trim(AConfig.NoarPath).empty() || !IsRegularFile(AConfig.NoarPath)) {
        ATitle.clear();
        return true;
    }
    std::ifstream in(AConfig.NoarPath, std::ios::binary);
    if (!in)
        return false;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return false;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    std::u32string codePoints;
    if (!DecodeUtf8(text, codePoints))
        return false;
    ATitle = SingleLine(Trim(text));
    return true;
}
