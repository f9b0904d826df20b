#include "services/ListenerStats.h"

#include <limits>

#include "platform/Text.h"

namespace {

bool IsDigit(char C)
{
    return C >= '0' && C <= '9';
}

// A count written as decimal digits, optionally signed. A number that does
// not fit, or a negative one, is no count.
int32_t ParseCount(const std::string& AText)
{
    size_t pos = 0;
    bool negative = false;
    if (pos < AText.size() && (AText[pos] == '+' || AText[pos] == '-'))
        negative = AText[pos++] == '-';
    if (pos == AText.size())
        return -1;
    int64_t value = 0;
    for (; pos < AText.size(); ++pos) {
        if (!IsDigit(AText[pos]))
            return -1;
        value = value * 10 + (AText[pos] - '0');
        if (value > std::numeric_limits<int32_t>::max())
            return -1;
    }
    return negative && value != 0 ? -1 : static_cast<int32_t>(value);
}

} // namespace

int32_t ExtractJsonNumber(const std::string& ABody, const std::string& AKey)
{
    const size_t key = AsciiLower(ABody).find(AsciiLower(AKey));
    if (key == std::string::npos)
        return -1;
    size_t first = key + AKey.size();
    while (first < ABody.size() && !IsDigit(ABody[first]))
        ++first;
    size_t last = first;
    while (last < ABody.size() && IsDigit(ABody[last]))
        ++last;
    if (first == last)
        return -1;
    return ParseCount(ABody.substr(first, last - first));
}

int32_t ExtractTagNumber(const std::string& ABody, const std::string& AName)
{
    const std::string upper = AsciiUpper(ABody);
    const std::string open = "<" + AsciiUpper(AName) + ">";
    const size_t start = upper.find(open);
    if (start == std::string::npos)
        return -1;
    const size_t from = start + open.size();
    const size_t end = upper.find("</" + AsciiUpper(AName) + ">", from);
    if (end == std::string::npos)
        return -1;
    return ParseCount(Trim(ABody.substr(from, end - from)));
}

int32_t ParseSevenHtml(const std::string& ABody)
{
    const std::string lower = AsciiLower(ABody);
    const size_t open = lower.find("<body>");
    const size_t close = lower.find("</body>");
    std::string content = ABody;
    if (open != std::string::npos && close != std::string::npos && open < close)
        content = ABody.substr(open + 6, close - open - 6);
    const size_t comma = content.find(',');
    if (comma == std::string::npos || comma == 0)
        return -1;
    return ParseCount(Trim(content.substr(0, comma)));
}

std::string ExtractHost(const std::string& AHost)
{
    std::string host = Trim(AHost);
    const size_t scheme = host.find("://");
    if (scheme != std::string::npos)
        host.erase(0, scheme + 3);
    const size_t path = host.find('/');
    if (path != std::string::npos)
        host.erase(path);
    return host;
}
