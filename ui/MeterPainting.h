#pragma once

#include <string>

#include <QColor>
#include <QPoint>

class QFont;
class QPainter;

// The three kinds of level meter of the main window. Each paints a box of
// AWidth x AHeight pixels from its top-left corner in two layers: the
// fixed parts (background, frame, scale, caption), then what a level
// shows (its face). ALevel is a linear level, limited to 0..1 before use.

// "-6.0 dB" for 0.5: one decimal with the user's decimal separator,
// floored at -60.
std::string LevelToDbText(double ALevel);

// What a level shows: two levels with equal faces paint the same pixels.
struct TMeterFace {
    QPoint Reach;     // a bar's right edge (exclusive) in x, or the needle's end
    QColor Colour;
    std::string Text; // the digital bar's dB text
    bool operator==(const TMeterFace&) const = default;
};

// Digital bar: green, yellow above 0.62, red above 0.82; the dB text on it,
// at KVuTextOrigin in MeterTextFont and MeterTextColour.
inline constexpr QPoint KVuTextOrigin{20, 18};
TMeterFace VuFace(int AWidth, double ALevel);
void PaintVuFixed(QPainter& ACanvas, int AWidth, int AHeight);
// The bar alone, without its text.
void PaintVuLevel(QPainter& ACanvas, int AHeight, const TMeterFace& AFace);
QFont MeterTextFont(const QFont& AFont);
QColor MeterTextColour();

// Band bar: green, yellow above 0.65, red above 0.86.
TMeterFace BandFace(int AWidth, double ALevel);
void PaintBandFixed(QPainter& ACanvas, int AWidth, int AHeight);
void PaintBandLevel(QPainter& ACanvas, int AHeight, const TMeterFace& AFace);

// Needle meter with its scale; ACaption ("L" or "R") in the top-left corner.
TMeterFace AnalogFace(int AWidth, int AHeight, double ALevel);
void PaintAnalogFixed(QPainter& ACanvas, int AWidth, int AHeight, const std::string& ACaption, const QFont& AFont);
void PaintAnalogLevel(QPainter& ACanvas, int AWidth, int AHeight, const TMeterFace& AFace);

// A whole box in one go, both layers.
void PaintVuBar(QPainter& ACanvas, int AWidth, int AHeight, double ALevel, const QFont& AFont);
void PaintBandBar(QPainter& ACanvas, int AWidth, int AHeight, double ALevel);
void PaintAnalogMeter(QPainter& ACanvas, int AWidth, int AHeight, double ALevel,
                      const std::string& ACaption, const QFont& AFont);
