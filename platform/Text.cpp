#include "platform/Text.h"

#include <algorithm>

std::string Trim(const std::string& AText)
{
    size_t first = 0;
    size_t last = AText.size();
    while (first < last && static_cast<unsigned char>(AText[first]) <= 32)
        ++first;
    while (last > first && static_cast<unsigned char>(AText[last - 1]) <= 32)
        --last;
    return AText.substr(first, last - first);
}

std::string AsciiLower(const std::string& AText)
{
    std::string out = AText;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string AsciiUpper(const std::string& AText)
{
    std::string out = AText;
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool SameTextAscii(const std::string& A, const std::string& B)
{
    return A.size() == B.size() && AsciiLower(A) == AsciiLower(B);
}

std::string PrintableLine(const std::string& AText, size_t AMaxBytes)
{
    std::string out;
    out.reserve(std::min(AText.size(), AMaxBytes));
    for (size_t i = 0; i < AText.size(); ++i) {
        const auto c = static_cast<unsigned char>(AText[i]);
        if (c < 0x20 || c == 0x7F) {
            out += ' ';
        } else if (c == 0xC2 && i + 1 < AText.size() && static_cast<unsigned char>(AText[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(AText[i + 1]) <= 0x9F) {
            out += ' ';
            ++i;
        } else {
            out += AText[i];
        }
    }
    if (out.size() <= AMaxBytes)
        return out;
    return Utf8Prefix(out, AMaxBytes >= 3 ? AMaxBytes - 3 : 0) + "...";
}

std::string Utf8Prefix(const std::string& AText, size_t AMaxBytes)
{
    if (AText.size() <= AMaxBytes)
        return AText;
    size_t end = AMaxBytes;
    while (end > 0 && (static_cast<unsigned char>(AText[end]) & 0xC0) == 0x80)
        --end;
    return AText.substr(0, end);
}

std::string ShownUrl(const std::string& AUrl)
{
    std::string url = AUrl.substr(0, AUrl.find_first_of("?#"));
    const size_t scheme = url.find("://");
    const size_t hostFrom = scheme == std::string::npos ? 0 : scheme + 3;
    const size_t pathFrom = std::min(url.find('/', hostFrom), url.size());
    const size_t at = url.rfind('@', pathFrom);
    if (at != std::string::npos && at >= hostFrom)
        url.replace(hostFrom, at - hostFrom, "***");
    return url;
}
