#pragma once

#include <functional>

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPixmap>

// A one-line plain-text label over one flat colour that keeps the picture
// of its text: moving it, or repainting what lies around it, blits the
// picture instead of laying the text out again. The picture is drawn again
// when the text, size, font or colours change.
class TPictureLabel : public QLabel {
    Q_OBJECT
public:
    explicit TPictureLabel(QWidget* AParent);

    // The colour behind the text; when unset, the background of the nearest
    // ancestor that fills its own.
    std::function<QColor()> Backdrop;

protected:
    void paintEvent(QPaintEvent* AEvent) override;

private:
    QColor BackColour() const;

    QPixmap FPicture;
    QString FPictureText;
    QFont FPictureFont;
    QColor FPictureBack, FPictureFore;
};
