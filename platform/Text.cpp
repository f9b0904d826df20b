#include "platform/Text.h"

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
