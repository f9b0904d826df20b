#pragma once

#include <string>

// Removes every character with code 32 or less from both ends.
std::string Trim(const std::string& AText);
// Case changes that touch the ASCII letters only.
std::string AsciiLower(const std::string& AText);
std::string AsciiUpper(const std::string& AText);
bool SameTextAscii(const std::string& A, const std::string& B);
