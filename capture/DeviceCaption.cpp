#include "capture/DeviceCaption.h"

#include "capture/AudioDevice.h"
#include "platform/Text.h"

namespace {

// Lower-cases ASCII and the Latin-1 capitals (U+00C0..U+00DE but U+00D7)
// of UTF-8 text without changing its length, so offsets found in the
// folded copy are valid in the original.
std::string FoldCase(const std::string& AText)
{
    std::string out = AsciiLower(AText);
    for (size_t i = 0; i + 1 < out.size(); ++i) {
        const auto lead = static_cast<unsigned char>(out[i]);
        const auto next = static_cast<unsigned char>(out[i + 1]);
        if (lead == 0xC3 && next >= 0x80 && next <= 0x9E && next != 0x97)
            out[i + 1] = static_cast<char>(next + 0x20);
    }
    return out;
}

void RemoveAllIgnoringCase(std::string& AText, const std::string& APattern)
{
    const std::string pattern = FoldCase(APattern);
    std::string folded = FoldCase(AText);
    size_t pos = folded.find(pattern);
    while (pos != std::string::npos) {
        AText.erase(pos, pattern.size());
        folded.erase(pos, pattern.size());
        pos = folded.find(pattern, pos);
    }
}

} // namespace

std::string CleanDeviceCaption(const std::string& AText)
{
    std::string text = Trim(AText);
    // "Saída:" as UTF-8 bytes read as Latin-1, then the proper and the
    // unaccented spelling.
    RemoveAllIgnoringCase(text, "Sa\xC3\x83\xC2\xAD" "da:");
    RemoveAllIgnoringCase(text, "Sa\xC3\xAD" "da:");
    RemoveAllIgnoringCase(text, "Saida:");
    const std::string bracket = std::string("[") + KLoopbackHostApiName + "]";
    if (const size_t pos = text.find(bracket); pos != std::string::npos)
        text.erase(pos, bracket.size());
    for (size_t pos = text.find("  "); pos != std::string::npos; pos = text.find("  ", pos))
        text.erase(pos, 1);
    return Trim(text);
}
