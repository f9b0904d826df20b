#include "services/ListenerStats.h"

#include <algorithm>
#include <limits>
#include <optional>

#include <nlohmann/json.hpp>

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

// The path of a listening address ("http://host:port/stream" gives
// "/stream"), without its query.
std::string UrlPath(const std::string& AUrl)
{
    const size_t scheme = AUrl.find("://");
    const size_t path = AUrl.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    if (path == std::string::npos)
        return "/";
    return AUrl.substr(path, AUrl.find('?', path) - path);
}

int32_t FirstListeners(const std::string& ABody)
{
    const int32_t count = ExtractJsonNumber(ABody, "\"listeners\"");
    return count >= 0 ? count : ExtractJsonNumber(ABody, "listeners");
}

// A well-formed page: the sources it lists, or nothing when it is no
// icecast status page.
std::optional<int32_t> FromParsedPage(const std::string& ABody, const std::string& AMount)
{
    const nlohmann::json page = nlohmann::json::parse(ABody, nullptr, false);
    if (page.is_discarded() || !page.is_object() || !page.contains("icestats") || !page["icestats"].is_object())
        return std::nullopt;
    const nlohmann::json& stats = page["icestats"];
    if (!stats.contains("source"))
        return std::nullopt;
    const nlohmann::json& source = stats["source"];
    // One mount is an object, several an array. Never copied: a copy
    // recurses, and a hostile page may nest deep enough to end the stack.
    const auto count = source.is_array() ? source.size() : 1;
    for (size_t i = 0; i < count; ++i) {
        const nlohmann::json& s = source.is_array() ? source[i] : source;
        if (!s.is_object() || !s.contains("listenurl") || !s["listenurl"].is_string() ||
            UrlPath(s["listenurl"].get<std::string>()) != AMount)
            continue;
        const auto listeners = s.find("listeners");
        if (listeners == s.end() || !listeners->is_number_integer() || *listeners < 0 ||
            *listeners > std::numeric_limits<int32_t>::max())
            return -1;
        return listeners->get<int32_t>();
    }
    return 0;
}

// AChar at or after AFrom within AWithin bytes, or npos: each key's value
// is looked for near it, so a hostile page costs its length, not its
// square.
size_t FindNear(const std::string& AText, char AChar, size_t AFrom, size_t AWithin)
{
    if (AFrom == std::string::npos || AFrom >= AText.size())
        return std::string::npos;
    const size_t end = std::min(AText.size(), AFrom + AWithin);
    const auto found = std::find(AText.begin() + static_cast<std::ptrdiff_t>(AFrom),
                                 AText.begin() + static_cast<std::ptrdiff_t>(end), AChar);
    return found == AText.begin() + static_cast<std::ptrdiff_t>(end)
               ? std::string::npos
               : static_cast<size_t>(found - AText.begin());
}

// Older servers write titles unescaped, which no parser takes: within each
// source icecast writes "listeners" before "listenurl", so the number
// between the previous source's address and the mount's own is its count.
std::optional<int32_t> FromBrokenPage(const std::string& ABody, const std::string& AMount)
{
    static const std::string kUrlKey = "\"listenurl\"";
    size_t previous = 0;
    for (size_t at = ABody.find(kUrlKey); at != std::string::npos; at = ABody.find(kUrlKey, at + 1)) {
        const size_t colon = FindNear(ABody, ':', at + kUrlKey.size(), 64);
        const size_t open = FindNear(ABody, '"', colon == std::string::npos ? colon : colon + 1, 64);
        const size_t close = FindNear(ABody, '"', open == std::string::npos ? open : open + 1, 4096);
        if (close == std::string::npos)
            continue;
        if (UrlPath(ABody.substr(open + 1, close - open - 1)) == AMount) {
            const std::string segment = ABody.substr(previous, at - previous);
            const size_t key = segment.rfind("\"listeners\"");
            return key == std::string::npos ? -1 : ExtractJsonNumber(segment.substr(key), "\"listeners\"");
        }
        previous = close;
    }
    // Sources listed, none of them the mount.
    return previous > 0 ? std::optional<int32_t>(0) : std::nullopt;
}

} // namespace

int32_t IcecastMountListeners(const std::string& ABody, const std::string& AMount)
{
    if (const std::optional<int32_t> parsed = FromParsedPage(ABody, AMount))
        return *parsed;
    if (const std::optional<int32_t> scanned = FromBrokenPage(ABody, AMount))
        return *scanned;
    return FirstListeners(ABody);
}

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
