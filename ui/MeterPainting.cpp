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
    QFont bold(AFont);
    bold.setBold(true);
    ACanvas.setFont(bold);
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

void PaintVuBar(QPainter& ACanvas, int AWidth, int AHeight, double ALevel, const QFont& AFont)
{
    const double v = Limit01(ALevel);
    FillEdges(ACanvas, 0, 0, AWidth, AHeight, KBarBack);
    // Frame: a one-pixel outline around its fill.
    FillEdges(ACanvas, 8, 8, AWidth - 8, AHeight - 8, KOutline);
    FillEdges(ACanvas, 9, 9, AWidth - 9, AHeight - 9, KFrameFill);
    const int length = RoundPixel((AWidth - 20) * v);
    const QColor& color = v > 0.82 ? KRed : (v > 0.62 ? KYellow : KGreen);
    FillEdges(ACanvas, 10, 10, 10 + length, AHeight - 10, color);
    DrawTextAt(ACanvas, 20, 18, LevelToDbText(v), AFont);
}

void PaintBandBar(QPainter& ACanvas, int AWidth, int AHeight, double ALevel)
{
    const double v = Limit01(ALevel);
    FillEdges(ACanvas, 0, 0, AWidth, AHeight, KBarBack);
    RoundOutline(ACanvas, 1, 1, AWidth - 1, AHeight - 1, 6);
    const int length = RoundPixel((AWidth - 8) * v);
    const QColor& color = v > 0.86 ? KRed : (v > 0.65 ? KYellow : KGreen);
    FillEdges(ACanvas, 4, 4, 4 + length, AHeight - 4, color);
}

void PaintAnalogMeter(QPainter& ACanvas, int AWidth, int AHeight, double ALevel,
                      const std::string& ACaption, const QFont& AFont)
{
    const double v = Limit01(ALevel);
    const int cx = AWidth / 2;
    const int pivotY = AHeight - 10;
    const int r1 = AWidth / 2 - 18;
    const int r2 = AWidth / 2 - 8;
    auto polar = [&](double ADegrees, int ARadius) {
        const double a = ADegrees * std::numbers::pi / 180.0;
        return QPoint(cx + RoundPixel(std::cos(a) * ARadius), pivotY - RoundPixel(std::sin(a) * ARadius));
    };

    FillEdges(ACanvas, 0, 0, AWidth, AHeight, KFrameFill);
    RoundOutline(ACanvas, 1, 1, AWidth - 1, AHeight - 1, 10);

    ACanvas.setPen(QPen(KScaleArc, 1));
    DrawArcByRays(ACanvas, 10, 10, AWidth - 10, 2 * AHeight - 14, QPointF(12, pivotY), QPointF(AWidth - 12, pivotY));

    ACanvas.setPen(QPen(KTicks, 1));
    for (int i = 0; i <= 10; ++i) {
        const double angle = 205 - 13 * i;
        ACanvas.drawLine(polar(angle, r1), polar(angle, r2));
    }

    const QColor& needle = v > 0.82 ? KRed : KGreen;
    ACanvas.setPen(QPen(needle, 2));
    ACanvas.drawLine(QPoint(cx, pivotY), polar(205 - 130 * v, r1));

    ACanvas.setPen(QPen(needle, 1));
    ACanvas.setBrush(KPivot);
    ACanvas.drawEllipse(QRect(cx - 4, pivotY - 4, 7, 7));
    ACanvas.setBrush(Qt::NoBrush);

    DrawTextAt(ACanvas, 8, 7, ACaption, AFont);
}
