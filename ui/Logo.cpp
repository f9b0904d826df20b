#include "ui/Logo.h"

#include <cmath>
#include <numbers>

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "ui/Theme.h"

QPixmap DrawTavixLogo(const QSize& ASize)
{
    QPixmap logo(ASize);
    logo.fill(Qt::transparent);
    QPainter p(&logo);
    p.setRenderHint(QPainter::Antialiasing);

    // Badge: a rounded square in ruby shades with a white sound wave.
    const qreal side = ASize.height() - 6;
    const QRectF badge(2, 3, side, side);
    QLinearGradient ruby(badge.topLeft(), badge.bottomRight());
    ruby.setColorAt(0.0, QColor(0xE0, 0x2A, 0x48));
    ruby.setColorAt(1.0, QColor(0x7A, 0x0E, 0x22));
    p.setPen(QPen(QColor(0xF0, 0x5A, 0x70), 1));
    p.setBrush(ruby);
    p.drawRoundedRect(badge, 8, 8);

    QPainterPath wave;
    const int points = 48;
    for (int i = 0; i <= points; ++i) {
        const qreal t = qreal(i) / points;
        const qreal envelope = std::sin(t * std::numbers::pi);
        const qreal x = badge.left() + 5 + t * (side - 10);
        const qreal y = badge.center().y() - envelope * (side * 0.32) * std::sin(t * 5 * std::numbers::pi);
        if (i == 0)
            wave.moveTo(x, y);
        else
            wave.lineTo(x, y);
    }
    p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);

    // Name beside the badge, graphite-white with a ruby underline.
    const qreal textLeft = badge.right() + 8;
    QFont name = UiFont("Segoe UI", 24, true);
    p.setFont(name);
    p.setPen(QColor(0xF2, 0xF2, 0xF2));
    const QRectF nameBox(textLeft, 2, ASize.width() - textLeft, ASize.height() - 12);
    p.drawText(nameBox, Qt::AlignLeft | Qt::AlignVCenter, "TAVIX");
    const qreal nameWidth = QFontMetricsF(name).horizontalAdvance("TAVIX");
    p.fillRect(QRectF(textLeft + 1, ASize.height() - 12, nameWidth - 2, 3), QColor(0xC2, 0x25, 0x3D));
    return logo;
}
