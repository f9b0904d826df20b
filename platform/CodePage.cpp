#include "platform/CodePage.h"

#include <array>

namespace {

// Code points of bytes 0x80..0x9F in Windows-1252; 0 marks an unused byte.
constexpr std::array<char32_t, 32> KHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t ByteToCodePoint(unsigned char b)
{
    if (b >= 0x80 && b <= 0x9F && KHighControls[b - 0x80] != 0)
        return KHighControls[b - 0x80];
    return b;
}

char CodePointToByte(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (size_t i = 0; i < KHighControls.size(); ++i)
        if (KHighControls[i] == c)
            return static_cast<char>(0x80 + i);
    if (c >= 0x80 && c <= 0x9F && KHighControls[c - 0x80] == 0)
        return static_cast<char>(c);
    return '?';
}

// Decodes one sequence at APos; returns false (and advances one byte) when
// it is not valid UTF-8.
bool NextCodePoint(const std::string& s, size_t& APos, char32_t& ACode)
{
    const auto b0 = static_cast<unsigned char>(s[APos]);
    int len;
    char32_t code;
    if (b0 < 0x80) {
        ACode = b0;
        ++APos;
        return true;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        code = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        code = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        code = b0 & 0x07;
    } else {
        ++APos;
        return false;
    }
    if (APos + len > s.size()) {
        ++APos;
        return false;
    }
    for (int i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(s[APos + i]);
        if ((b & 0xC0) != 0x80) {
            ++APos;
            return false;
        }
        code = (code << 6) | (b & 0x3F);
    }
    const bool overlong = (len == 3 && code < 0x800) || (len == 4 && code < 0x10000);
    if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        ++APos;
        return false;
    }
    APos += len;
    ACode = code;
    return true;
}

} // namespace

bool DecodeUtf8(const std::string& AText, std::u32string& ACodePoints)
{
    ACodePoints.clear();
    size_t pos = 0;
    while (pos < AText.size()) {
        char32_t c;
        if (!NextCodePoint(AText, pos, c))
            return false;
        ACodePoints.push_back(c);
    }
    return true;
}

std::string EncodeUtf8(const std::u32string& ACodePoints)
{
    std::string out;
    out.reserve(ACodePoints.size());
    for (char32_t c : ACodePoints) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Utf8ToWindows1252(const std::string& AText)
{
    std::string out;
    out.reserve(AText.size());
    size_t pos = 0;
    while (pos < AText.size()) {
        char32_t c;
        out += NextCodePoint(AText, pos, c) ? CodePointToByte(c) : '?';
    }
    return out;
}

std::string Windows1252ToUtf8(const std::string& ABytes)
{
    std::u32string codes;
    codes.reserve(ABytes.size());
    for (char b : ABytes)
        codes.push_back(ByteToCodePoint(static_cast<unsigned char>(b)));
    return EncodeUtf8(codes);
}
