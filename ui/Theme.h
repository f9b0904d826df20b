#pragma once

#include <string>

#include <QFont>

class QApplication;

// Maps the layout's font names to the closest installed faces. Safe to call
// more than once; must run before the fonts are used.
void InstallFontSubstitutes();

// A font by the layout's name and character height in pixels.
QFont UiFont(const char* AFamily, int APixelHeight, bool ABold = false);

// The dark "Ruby Graphite" look for the standard controls: graphite greys
// with ruby accents. False, with AError filled, when it cannot be applied;
// the default look then stays.
bool ApplyRubyGraphiteTheme(QApplication& AApp, std::string& AError);
