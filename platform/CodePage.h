#pragma once

#include <string>

// Text in this program is UTF-8 in std::string; wire bytes are std::string too.

// UTF-8 text to Windows-1252 bytes; what the code page cannot hold becomes "?".
// Invalid UTF-8 sequences also become "?".
std::string Utf8ToWindows1252(const std::string& AText);
// Windows-1252 bytes to UTF-8 text. The five undefined bytes map to the C1
// control characters of the same value.
std::string Windows1252ToUtf8(const std::string& ABytes);

// Strict UTF-8 decoding into code points; false on any invalid, overlong or
// surrogate sequence.
bool DecodeUtf8(const std::string& AText, std::u32string& ACodePoints);
std::string EncodeUtf8(const std::u32string& ACodePoints);
