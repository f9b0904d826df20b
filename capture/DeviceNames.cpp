#include "capture/DeviceNames.h"

#include <utility>

#include "platform/Text.h"

namespace {

void ReplaceAll(std::string& AText, const std::string& AFrom, const std::string& ATo)
{
    for (size_t pos = AText.find(AFrom); pos != std::string::npos;
         pos = AText.find(AFrom, pos + ATo.size()))
        AText.replace(pos, AFrom.size(), ATo);
}

bool Contains(const std::string& AText, const std::string& APart)
{
    return AText.find(APart) != std::string::npos;
}

const std::pair<const char*, const char*> KWordReplacements[] = {
    {"alto-falantes", "speaker"},
    {"alto falantes", "speaker"},
    {"fone de ouvido", "headphone"},
    {"headphones", "headphone"},
    {"microfone", "microphone"},
    {"mixagem est\xC3\xA9reo", "stereo mix"},
    {"mistura est\xC3\xA9reo", "stereo mix"},
    {"\xC3\xA1udio", "audio"},
};

// Accented lower-case letters (UTF-8) and their plain letter.
const std::pair<const char*, const char*> KAccentFolds[] = {
    {"\xC3\xA3", "a"}, {"\xC3\xA1", "a"}, {"\xC3\xA0", "a"}, {"\xC3\xA2", "a"},
    {"\xC3\xA9", "e"}, {"\xC3\xAA", "e"}, {"\xC3\xAD", "i"}, {"\xC3\xB3", "o"},
    {"\xC3\xB4", "o"}, {"\xC3\xB5", "o"}, {"\xC3\xBA", "u"}, {"\xC3\xA7", "c"},
};

const char* const KLoopbackWords[] = {
    "loopback", "monitor", "stereo mix", "what u hear", "wave out",
    "cable output", "vb cable", "voicemeeter", "virtual cable",
};

} // namespace

std::string NormalizeDeviceName(const std::string& AName)
{
    std::string text = AsciiLower(AName);
    for (const auto& [from, to] : KWordReplacements)
        ReplaceAll(text, from, to);
    for (const auto& [from, to] : KAccentFolds)
        ReplaceAll(text, from, to);
    // Byte-wise: a multi-byte character leaves several blanks, which the
    // next step merges into one, as one character would have given.
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        const char put = keep ? c : ' ';
        if (put == ' ' && !out.empty() && out.back() == ' ')
            continue;
        out.push_back(put);
    }
    return Trim(out);
}

bool IsLoopbackDeviceName(const std::string& AName)
{
    const std::string name = NormalizeDeviceName(AName);
    for (const char* word : KLoopbackWords)
        if (Contains(name, word))
            return true;
    return Contains(name, "wasapi") && Contains(name, "input");
}

int LoopbackMatchScore(const std::string& AOutputName, const std::string& ACandidateName)
{
    int score = IsLoopbackDeviceName(ACandidateName) ? 100 : 0;
    const std::string a = NormalizeDeviceName(AOutputName);
    const std::string b = NormalizeDeviceName(ACandidateName);
    if (a.empty() || b.empty())
        return score;
    if (Contains(b, a))
        score += 80;
    if (Contains(a, b))
        score += 60;
    const std::pair<const char*, int> shared[] = {
        {"realtek", 25}, {"high definition", 25}, {"usb", 25}, {"cable", 35}, {"voicemeeter", 35},
    };
    for (const auto& [word, points] : shared)
        if (Contains(a, word) && Contains(b, word))
            score += points;
    return score;
}
