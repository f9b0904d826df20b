#pragma once

#include <string>

// Removes every character with code 32 or less from both ends.
std::string Trim(const std::string& AText);
// Case changes that touch the ASCII letters only.
std::string AsciiLower(const std::string& AText);
std::string AsciiUpper(const std::string& AText);
bool SameTextAscii(const std::string& A, const std::string& B);
// An address as it may be shown or logged: a password or token it carries
// (user information, the query, a fragment) left out, "***" standing for
// the user information.
std::string ShownUrl(const std::string& AUrl);
// The longest prefix of AText of at most AMaxBytes that ends between two
// UTF-8 characters.
std::string Utf8Prefix(const std::string& AText, size_t AMaxBytes);
// Text from outside (servers, streams, files) made safe for a log line or
// a command's environment: every control character (C0, DEL, and C1 as
// UTF-8) becomes a blank, so no line break, tab or terminal escape gets
// through; cut to at most AMaxBytes between characters, "..." marking the
// cut.
std::string PrintableLine(const std::string& AText, size_t AMaxBytes);
