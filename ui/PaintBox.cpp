#include "ui/PaintBox.h"

#include <QPainter>

TPaintBox::TPaintBox(QWidget* AParent) : QWidget(AParent)
{
    // Every handler fills its whole box, so Qt need not clear it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPaintBox::paintEvent(QPaintEvent*)
{
    if (!OnPaint)
        return;
    QPainter canvas(this);
    OnPaint(this, canvas);
}
