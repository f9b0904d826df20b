#pragma once

#include <string>

#include <QHash>
#include <QPixmap>
#include <QStaticText>
#include <QWidget>

#include "ui/MeterPainting.h"

// One level meter of the main window. Its fixed parts are drawn once into
// a picture, again only after a resize or a change of font or palette; a
// new level repaints the box only when its face changes (a pixel of bar or
// needle, a colour, a dB text).
class TMeterBox : public QWidget {
    Q_OBJECT
public:
    enum TKind { mkVu, mkBand, mkAnalog };

    // ACaption: the corner letter of a needle meter.
    TMeterBox(TKind AKind, const std::string& ACaption, QWidget* AParent);

    void SetLevel(double ALevel);

protected:
    void paintEvent(QPaintEvent* AEvent) override;
    void resizeEvent(QResizeEvent* AEvent) override;
    void changeEvent(QEvent* AEvent) override;

private:
    TMeterFace FaceFor(double ALevel) const;
    void DrawFixed();
    const QStaticText& DbText(const std::string& AText);

    TKind FKind;
    std::string FCaption;
    double FLevel = 0;
    TMeterFace FFace;
    QPixmap FFixed;
    // The dB texts have a few hundred values: each is laid out once.
    QHash<QString, QStaticText> FDbTexts;
};
