#include "services/NoarTitle.h"

#include "net/WireText.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "services/LocalFile.h"

namespace {

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

// Longer is no title but a file that is not one: what goes to every server
// and listener stays short, cut between characters.
constexpr size_t KMaxTitleBytes = 512;

} // namespace

bool ReadNoarTitle(const TEncoderConfig& AConfig, std::string& ATitle)
{
    if (Trim(AConfig.NoarPath).empty() || !RegularFileExists(AConfig.NoarPath)) {
        ATitle.clear();
        return true;
    }
    const std::optional<std::string> text =
        ReadUtf8File(AConfig.NoarPath, KMaxNowPlayingBytes);
    if (!text)
        return false;
    ATitle = Trim(Utf8Prefix(Trim(SingleLine(RepairMojibake(*text))), KMaxTitleBytes));
    return true;
}
