#pragma once

#include <string>

// Band gains are stored with the decimal separator of the user's locale.

// The separator of the user's locale ("LC_ALL", "LC_NUMERIC", "LANG"),
// read without touching the process's global locale.
char UserDecimalSeparator();
// General format, up to 15 significant digits: 2.5 -> "2,5" with ','.
std::string FormatBandValue(double AValue, char ASeparator);
// False when the text is not a number written with that separator.
bool ParseBandValue(const std::string& AText, char ASeparator, double& AValue);
