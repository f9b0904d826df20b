#include "ui/PictureLabel.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

TPictureLabel::TPictureLabel(QWidget* AParent) : QLabel(AParent)
{
    // A title is shown as it is written, never read as markup.
    setTextFormat(Qt::PlainText);
    // The picture holds the parent's colour behind the text, so what lies
    // below need not be painted first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QColor TPictureLabel::BackColour() const
{
    if (Backdrop)
        return Backdrop();
    // The nearest ancestor that paints its background is what shows
    // through around the glyphs.
    for (const QWidget* back = parentWidget(); back; back = back->parentWidget())
        if (back->autoFillBackground())
            return back->palette().color(back->backgroundRole());
    return palette().color(backgroundRole());
}

void TPictureLabel::paintEvent(QPaintEvent*)
{
    const qreal ratio = devicePixelRatioF();
    const QColor backColour = BackColour();
    const QColor foreColour = palette().color(foregroundRole());
    if (FPicture.isNull() || FPicture.size() != size() * ratio || FPictureText != text() ||
        FPictureFont != font() || FPictureBack != backColour || FPictureFore != foreColour) {
        FPicture = QPixmap(size() * ratio);
        FPicture.setDevicePixelRatio(ratio);
        FPicture.fill(backColour);
        QPainter p(&FPicture);
        p.setFont(font());
        // As the plain label draws its text.
        QStyleOption option;
        option.initFrom(this);
        const Qt::LayoutDirection direction = text().isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
        const int flags = QStyle::visualAlignment(direction, alignment()) |
                          (direction == Qt::LeftToRight ? Qt::TextForceLeftToRight : Qt::TextForceRightToLeft);
        style()->drawItemText(&p, contentsRect(), flags, option.palette, isEnabled(), text(), foregroundRole());
        FPictureText = text();
        FPictureFont = font();
        FPictureBack = backColour;
        FPictureFore = foreColour;
    }
    QPainter(this).drawPixmap(0, 0, FPicture);
}
