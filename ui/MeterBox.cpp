#include "ui/MeterBox.h"

#include <QEvent>
#include <QPainter>

TMeterBox::TMeterBox(TKind AKind, const std::string& ACaption, QWidget* AParent)
    : QWidget(AParent), FKind(AKind), FCaption(ACaption)
{
    // The fixed picture covers the whole box, so Qt need not clear it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    FFace = FaceFor(0);
}

TMeterFace TMeterBox::FaceFor(double ALevel) const
{
    switch (FKind) {
    case mkVu:
        return VuFace(width(), ALevel);
    case mkBand:
        return BandFace(width(), ALevel);
    case mkAnalog:
        break;
    }
    return AnalogFace(width(), height(), ALevel);
}

void TMeterBox::SetLevel(double ALevel)
{
    FLevel = ALevel;
    TMeterFace face = FaceFor(ALevel);
    if (face == FFace)
        return;
    FFace = std::move(face);
    update();
}

void TMeterBox::resizeEvent(QResizeEvent*)
{
    FFixed = QPixmap();
    FFace = FaceFor(FLevel);
}

void TMeterBox::changeEvent(QEvent* AEvent)
{
    if (AEvent->type() == QEvent::FontChange || AEvent->type() == QEvent::PaletteChange ||
        AEvent->type() == QEvent::StyleChange) {
        FFixed = QPixmap();
        FDbTexts.clear();
        update();
    }
    QWidget::changeEvent(AEvent);
}

void TMeterBox::DrawFixed()
{
    const qreal ratio = devicePixelRatioF();
    FFixed = QPixmap(size() * ratio);
    FFixed.setDevicePixelRatio(ratio);
    QPainter p(&FFixed);
    switch (FKind) {
    case mkVu:
        PaintVuFixed(p, width(), height());
        break;
    case mkBand:
        PaintBandFixed(p, width(), height());
        break;
    case mkAnalog:
        PaintAnalogFixed(p, width(), height(), FCaption, font());
        break;
    }
}

const QStaticText& TMeterBox::DbText(const std::string& AText)
{
    const QString key = QString::fromStdString(AText);
    auto it = FDbTexts.find(key);
    if (it == FDbTexts.end()) {
        QStaticText text(key);
        text.setTextFormat(Qt::PlainText);
        text.prepare(QTransform(), MeterTextFont(font()));
        it = FDbTexts.insert(key, text);
    }
    return *it;
}

void TMeterBox::paintEvent(QPaintEvent*)
{
    if (FFixed.isNull())
        DrawFixed();
    QPainter canvas(this);
    canvas.drawPixmap(0, 0, FFixed);
    switch (FKind) {
    case mkVu:
        PaintVuLevel(canvas, height(), FFace);
        canvas.setFont(MeterTextFont(font()));
        canvas.setPen(MeterTextColour());
        canvas.drawStaticText(KVuTextOrigin, DbText(FFace.Text));
        break;
    case mkBand:
        PaintBandLevel(canvas, height(), FFace);
        break;
    case mkAnalog:
        PaintAnalogLevel(canvas, width(), height(), FFace);
        break;
    }
}
