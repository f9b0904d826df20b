#pragma once

#include <string>

class QFont;
class QPainter;

// The three kinds of level meter of the main window. Each paints a whole
// box of AWidth x AHeight pixels from its top-left corner; ALevel is a
// linear level, limited to 0..1 before use.

// "-6.0 dB" for 0.5: one decimal with the user's decimal separator,
// floored at -60.
std::string LevelToDbText(double ALevel);

// Digital bar: green, yellow above 0.62, red above 0.82; the dB text on it.
void PaintVuBar(QPainter& ACanvas, int AWidth, int AHeight, double ALevel, const QFont& AFont);
// Band bar: green, yellow above 0.65, red above 0.86.
void PaintBandBar(QPainter& ACanvas, int AWidth, int AHeight, double ALevel);
// Needle meter with its scale; ACaption ("L" or "R") in the top-left corner.
void PaintAnalogMeter(QPainter& ACanvas, int AWidth, int AHeight, double ALevel,
                      const std::string& ACaption, const QFont& AFont);
