#include "net/WireText.h"

#include <cstdint>
#include <initializer_list>

#include "net/ServerAnswer.h"
#include "platform/CodePage.h"
#include "platform/Text.h"

namespace {

bool ContainsAny(const std::string& AText, std::initializer_list<const char*> AWords)
{
    for (const char* w : AWords)
        if (AText.find(w) != std::string::npos)
            return true;
    return false;
}

// Answer bytes read through the legacy code page, trimmed, ASCII lower case.
std::string AnswerText(const std::string& AAnswer)
{
    return AsciiLower(Trim(Windows1252ToUtf8(AAnswer)));
}

} // namespace

std::string HeaderValueUtf8(const std::string& AText)
{
    // No control character is allowed in a header's value; a line break
    // would even start a header of its own.
    std::string out = AText;
    for (char& c : out)
        if ((static_cast<unsigned char>(c) < 32 && c != '\t') || c == 127)
            c = ' ';
    return out;
}

std::string Base64Encode(const std::string& ABytes)
{
    static constexpr char KAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((ABytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= ABytes.size(); i += 3) {
        const uint32_t v = (static_cast<unsigned char>(ABytes[i]) << 16) |
                           (static_cast<unsigned char>(ABytes[i + 1]) << 8) |
                           static_cast<unsigned char>(ABytes[i + 2]);
        out += KAlphabet[(v >> 18) & 63];
        out += KAlphabet[(v >> 12) & 63];
        out += KAlphabet[(v >> 6) & 63];
        out += KAlphabet[v & 63];
    }
    const size_t rest = ABytes.size() - i;
    if (rest > 0) {
        uint32_t v = static_cast<unsigned char>(ABytes[i]) << 16;
        if (rest == 2)
            v |= static_cast<unsigned char>(ABytes[i + 1]) << 8;
        out += KAlphabet[(v >> 18) & 63];
        out += KAlphabet[(v >> 12) & 63];
        out += rest == 2 ? KAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string UrlEncodeUtf8(const std::string& AText)
{
    static constexpr char KHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(AText.size() * 3);
    for (char ch : AText) {
        const auto b = static_cast<unsigned char>(ch);
        const bool plain = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                           (b >= '0' && b <= '9') || b == '-' || b == '.' || b == '_' || b == '~';
        if (plain) {
            out += ch;
        } else if (b == ' ') {
            out += '+';
        } else {
            out += '%';
            out += KHex[b >> 4];
            out += KHex[b & 15];
        }
    }
    return out;
}

std::string RepairMojibake(const std::string& AText)
{
    // "Ã" and "Â" lead every two-byte UTF-8 sequence of Latin-1 letters.
    if (AText.find("\xC3\x83") == std::string::npos && AText.find("\xC3\x82") == std::string::npos)
        return AText;
    std::u32string chars;
    if (!DecodeUtf8(AText, chars))
        return AText;
    std::string bytes;
    bytes.reserve(chars.size());
    for (char32_t c : chars) {
        if (c > 0xFF)
            return AText;
        bytes += static_cast<char>(c);
    }
    std::u32string decoded;
    return DecodeUtf8(bytes, decoded) ? bytes : AText;
}

std::string CleanSongTitle(const std::string& AText)
{
    std::string t = HeaderValueUtf8(Trim(AText));
    std::string out;
    out.reserve(t.size());
    for (char c : t)
        if (!(c == ' ' && !out.empty() && out.back() == ' '))
            out += c;
    return RepairMojibake(out);
}

std::string NormalizeMount(const std::string& AText)
{
    std::string m = Utf8ToWindows1252(Trim(AText));
    if (m.empty())
        return "/stream";
    if (m[0] != '/')
        m.insert(m.begin(), '/');
    return m;
}

// An answer with a status line is judged by its code alone: a web server's
// "302 Found" with a cookie holds "ok" but is no login. Only answers
// without one (SHOUTcast's "OK2", odd servers) are judged by their words.
bool IsIcecastSourceAccepted(const std::string& AAnswer)
{
    if (const int code = AnswerStatusCode(AAnswer); code != 0)
        return code >= 100 && code < 300;
    const std::string t = AnswerText(AAnswer);
    if (t.empty())
        return false;
    const bool accepted = ContainsAny(t, {"http/1.0 200", "http/1.1 200", "http/1.0 100", "http/1.1 100",
                                          "ice/1.0 200", "icy 200", "ok", "source connection"});
    const bool refused = ContainsAny(t, {" 400 ", " 401 ", " 403 ", " 404 ", " 409 ", "invalid",
                                         "unauthorized", "authentication", "error"});
    return accepted && !refused;
}

bool IsShoutcastSourceAccepted(const std::string& AAnswer)
{
    if (const int code = AnswerStatusCode(AAnswer); code != 0)
        return code >= 100 && code < 300;
    const std::string t = AnswerText(AAnswer);
    if (t.empty())
        return false;
    const bool accepted = ContainsAny(t, {"ok", "icy 200"});
    const bool refused =
        ContainsAny(t, {"invalid password", "bad password", "denied", "error", "unauthorized"});
    return accepted && !refused;
}

std::string HostAndPort(const std::string& AHost, int APort)
{
    const bool ipv6 = AHost.find(':') != std::string::npos && AHost.front() != '[';
    return (ipv6 ? "[" + AHost + "]" : AHost) + ":" + std::to_string(APort);
}
