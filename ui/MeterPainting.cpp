#include "ui/MeterPainting.h"

#include <charconv>
#include <cmath>
#include <numbers>

#include <QPainter>
#include <QPolygon>

#include "settings/BandValue.h"

namespace {

const QColor KBarBack(0x08, 0x09, 0x0A);
const QColor KFrameFill(0x0D, 0x0F, 0x12);
const QColor KOutline(0x38, 0x40, 0x4A);
const QColor KScaleArc(0x57, 0x62, 0x6B);
const QColor KTicks(0x48, 0x51, 0x5B);
const QColor KPivot(0xAA, 0xB3, 0xB9);
const QColor KText(0xF2, 0xF2, 0xF2);
const QColor KGreen(0x65, 0xD3, 0x44);
const QColor KYellow(0xF5, 0xD8, 0x36);
const QColor KRed(0xE8, 0x29, 0x29);

double Limit01(double AValue)
{
    if (!(AValue > 0.0)) // NaN counts as silence
        return 0.0;
    return AValue > 1.0 ? 1.0 : AValue;
}

// Pixels from real numbers: nearest, halves to even.
int RoundPixel(double AValue)
{
    return static_cast<int>(std::nearbyint(AValue));
}

// Rectangle fills and outlines take right and bottom as exclusive edges,
// as the drawing calls the layout was designed with do.
void FillEdges(QPainter& ACanvas, int ALeft, int ATop, int ARight, int ABottom, const QColor& AColor)
{
    if (ARight > ALeft && ABottom > ATop)
        ACanvas.fillRect(QRect(ALeft, ATop, ARight - ALeft, ABottom - ATop), AColor);
}

void RoundOutline(QPainter& ACanvas, int ALeft, int ATop, int ARight, int ABottom, int ACorner)
{
    ACanvas.setPen(QPen(KOutline, 1));
    ACanvas.setBrush(Qt::NoBrush);
    ACanvas.drawRoundedRect(QRect(ALeft, ATop, ARight - ALeft - 1, ABottom - ATop - 1), ACorner / 2.0,
                            ACorner / 2.0);
}

void DrawTextAt(QPainter& ACanvas, int AX, int AY, const std::string& AText, const QFont& AFont)
{
    ACanvas.setFont(MeterTextFont(AFont));
    ACanvas.setPen(KText);
    ACanvas.drawText(QRect(AX, AY, 1000, 1000), Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(AText));
}

// The elliptical arc inside (ALeft, ATop, ARight, ABottom), counter-clockwise
// on screen from the ray through AStart to the ray through AEnd.
void DrawArcByRays(QPainter& ACanvas, int ALeft, int ATop, int ARight, int ABottom, QPointF AStart, QPointF AEnd)
{
    const double cx = (ALeft + ARight) / 2.0;
    const double cy = (ATop + ABottom) / 2.0;
    const double rx = (ARight - ALeft) / 2.0;
    const double ry = (ABottom - ATop) / 2.0;
    if (rx <= 0 || ry <= 0)
        return;
    // Angles with y pointing up, so that increasing means counter-clockwise.
    const double from = std::atan2(cy - AStart.y(), AStart.x() - cx);
    double span = std::atan2(cy - AEnd.y(), AEnd.x() - cx) - from;
    while (span <= 0)
        span += 2 * std::numbers::pi;
    const int steps = std::max(8, static_cast<int>(span * std::max(rx, ry)));
    QPolygon line;
    for (int i = 0; i <= steps; ++i) {
        const double a = from + span * i / steps;
        const double c = std::cos(a), s = std::sin(a);
        const double t = 1.0 / std::sqrt(c * c / (rx * rx) + s * s / (ry * ry));
        line << QPoint(RoundPixel(cx + t * c), RoundPixel(cy - t * s));
    }
    ACanvas.setBrush(Qt::NoBrush);
    ACanvas.drawPolyline(line);
}

int AnalogInnerRadius(int AWidth)
{
    return AWidth / 2 - 18;
}

// A point of the needle meter's scale: ADegrees counter-clockwise from
// the right, ARadius pixels out from the pivot.
QPoint AnalogPolar(int AWidth, int AHeight, double ADegrees, int ARadius)
{
    const double a = ADegrees * std::numbers::pi / 180.0;
    return QPoint(AWidth / 2 + RoundPixel(std::cos(a) * ARadius), AHeight - 10 - RoundPixel(std::sin(a) * ARadius));
}

} // namespace

std::string LevelToDbText(double ALevel)
{
    const double v = Limit01(ALevel);
    double db = v <= 0.00001 ? -60.0 : 20.0 * std::log10(v);
    if (db < -60.0)
        db = -60.0;
    if (db > 0.0)
        db = 0.0;
    // A value that rounds to zero is shown without a sign.
    if (std::nearbyint(db * 10.0) == 0.0)
        db = 0.0;
    char digits[32];
    const auto res = std::to_chars(digits, digits + sizeof digits, db, std::chars_format::fixed, 1);
    std::string text(digits, res.ptr);
    const char sep = UserDecimalSeparator();
    for (char& c : text)
        if (c == '.')
            c = sep;
    return text + " dB";
}

TMeterFace VuFace(int AWidth, double ALevel)
{
    const double v = Limit01(ALevel);
    return {QPoint(10 + RoundPixel((AWidth - 20) * v), 0), v > 0.82 ? KRed : (v > 0.62 ? KYellow : KGreen),
            LevelToDbText(v)};
}

TMeterFace BandFace(int AWidth, double ALevel)
{
    const double v = Limit01(ALevel);
    return {QPoint(4 + RoundPixel((AWidth - 8) * v), 0), v > 0.86 ? KRed : (v > 0.65 ? KYellow : KGreen), {}};
}

TMeterFace AnalogFace(int AWidth, int AHeight, double ALevel)
{
    const double v = Limit01(ALevel);
    return {AnalogPolar(AWidth, AHeight, 205 - 130 * v, AnalogInnerRadius(AWidth)), v > 0.82 ? KRed : KGreen, {}};
}

void PaintVuFixed(QPainter& ACanvas, int AWidth, int AHeight)
{
    FillEdges(ACanvas, 0, 0, AWidth, AHeight, KBarBack);
    // Frame: a one-pixel outline around its fill.
    FillEdges(ACanvas, 8, 8, AWidth - 8, AHeight - 8, KOutline);
    FillEdges(ACanvas, 9, 9, AWidth - 9, AHeight - 9, KFrameFill);
}

void PaintVuLevel(QPainter& ACanvas, int AHeight, const TMeterFace& AFace)
{
    FillEdges(ACanvas, 10, 10, AFace.Reach.x(), AHeight - 10, AFace.Colour);
}

QFont MeterTextFont(const QFont& AFont)
{
    QFont bold(AFont);
    bold.setBold(true);
    return bold;
}

QColor MeterTextColour()
{
    return KText;
}

void PaintVuBar(QPainter& ACanvas, int AWidth, int AHeight, double ALevel, const QFont& AFont)
{
    const TMeterFace face = VuFace(AWidth, ALevel);
    PaintVuFixed(ACanvas, AWidth, AHeight);
    PaintVuLevel(ACanvas, AHeight, face);
    DrawTextAt(ACanvas, KVuTextOrigin.x(), KVuTextOrigin.y(), face.Text, AFont);
}

void PaintBandFixed(QPainter& ACanvas, int AWidth, int AHeight)
{
    FillEdges(ACanvas, 0, 0, AWidth, AHeight, KBarBack);
    RoundOutline(ACanvas, 1, 1, AWidth - 1, AHeight - 1, 6);
}

void PaintBandLevel(QPainter& ACanvas, int AHeight, const TMeterFace& AFace)
{
    FillEdges(ACanvas, 4, 4, AFace.Reach.x(), AHeight - 4, AFace.Colour);
}

void PaintBandBar(QPainter& ACanvas, int AWidth, int AHeight, double ALevel)
{
    PaintBandFixed(ACanvas, AWidth, AHeight);
    PaintBandLevel(ACanvas, AHeight, BandFace(AWidth, ALevel));
}

void PaintAnalogFixed(QPainter& ACanvas, int AWidth, int AHeight, const std::string& ACaption, const QFont& AFont)
{
    const int pivotY = AHeight - 10;
    FillEdges(ACanvas, 0, 0, AWidth, AHeight, KFrameFill);
    RoundOutline(ACanvas, 1, 1, AWidth - 1, AHeight - 1, 10);

    ACanvas.setPen(QPen(KScaleArc, 1));
    DrawArcByRays(ACanvas, 10, 10, AWidth - 10, 2 * AHeight - 14, QPointF(12, pivotY), QPointF(AWidth - 12, pivotY));

    ACanvas.setPen(QPen(KTicks, 1));
    for (int i = 0; i <= 10; ++i) {
        const double angle = 205 - 13 * i;
        ACanvas.drawLine(AnalogPolar(AWidth, AHeight, angle, AnalogInnerRadius(AWidth)),
                         AnalogPolar(AWidth, AHeight, angle, AWidth / 2 - 8));
    }
    // The caption's corner lies outside the needle's sweep, so it can go
    // with the fixed parts.
    DrawTextAt(ACanvas, 8, 7, ACaption, AFont);
}

void PaintAnalogLevel(QPainter& ACanvas, int AWidth, int AHeight, const TMeterFace& AFace)
{
    const int cx = AWidth / 2;
    const int pivotY = AHeight - 10;
    ACanvas.setPen(QPen(AFace.Colour, 2));
    ACanvas.drawLine(QPoint(cx, pivotY), AFace.Reach);

    ACanvas.setPen(QPen(AFace.Colour, 1));
    ACanvas.setBrush(KPivot);
    ACanvas.drawEllipse(QRect(cx - 4, pivotY - 4, 7, 7));
    ACanvas.setBrush(Qt::NoBrush);
}

void PaintAnalogMeter(QPainter& ACanvas, int AWidth, int AHeight, double ALevel,
                      const std::string& ACaption, const QFont& AFont)
{
    PaintAnalogFixed(ACanvas, AWidth, AHeight, ACaption, AFont);
    PaintAnalogLevel(ACanvas, AWidth, AHeight, AnalogFace(AWidth, AHeight, ALevel));
}
