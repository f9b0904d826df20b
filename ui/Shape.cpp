#include "ui/Shape.h"

#include <QPainter>

TShape::TShape(TKind AKind, QWidget* AParent) : QWidget(AParent), FKind(AKind) {}

void TShape::SetBrushColor(const QColor& AColor)
{
    if (FBrush == AColor)
        return;
    FBrush = AColor;
    update();
}

void TShape::SetPenColor(const QColor& AColor)
{
    FPen = AColor;
    update();
}

void TShape::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (FKind == stRectangle) {
        p.fillRect(rect(), FBrush);
        if (FPen.isValid()) {
            p.setPen(FPen);
            p.drawRect(rect().adjusted(0, 0, -1, -1));
        }
        return;
    }
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(FBrush);
    if (FPen.isValid())
        p.setPen(QPen(FPen, 1));
    else
        p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
