#include "settings/BandValue.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <langinfo.h>
#include <locale.h>

char UserDecimalSeparator()
{
    // Only the numeric category: an unusable setting elsewhere must not
    // cost the user their separator.
    locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0))
        return '.';
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    const char sep = (radix && radix[0] && !radix[1]) ? radix[0] : '.';
    freelocale(loc);
    return sep;
}

std::string FormatBandValue(double AValue, char ASeparator)
{
    char buf[64];
    // std::to_chars keeps the text free of the global locale.
    auto res = std::to_chars(buf, buf + sizeof(buf), AValue, std::chars_format::general, 15);
    std::string text(buf, res.ptr);
    for (char& c : text)
        if (c == '.')
            c = ASeparator;
    return text;
}

bool ParseBandValue(const std::string& AText, char ASeparator, double& AValue)
{
    std::string text = AText;
    if (ASeparator != '.' && text.find('.') != std::string::npos)
        return false;
    for (char& c : text)
        if (c == ASeparator)
            c = '.';
    const char* first = text.data();
    const char* last = text.data() + text.size();
    const bool plus = first != last && *first == '+';
    if (plus)
        ++first;
    if (first == last || (plus && *first == '-'))
        return false;
    double value = 0;
    auto res = std::from_chars(first, last, value, std::chars_format::general);
    // "nan" and "inf" parse too, but a gain like that would silence the audio.
    if (res.ec != std::errc() || res.ptr != last || !std::isfinite(value))
        return false;
    AValue = value;
    return true;
}
