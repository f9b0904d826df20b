#pragma once

#include <QColor>
#include <QWidget>

// A filled rectangle or circle with an optional outline: the window's
// rules, its LED and the on-air box.
class TShape : public QWidget {
    Q_OBJECT
public:
    enum TKind { stRectangle, stCircle };

    TShape(TKind AKind, QWidget* AParent = nullptr);

    void SetBrushColor(const QColor& AColor);
    QColor BrushColor() const { return FBrush; }
    // An invalid colour means no outline.
    void SetPenColor(const QColor& AColor);

protected:
    void paintEvent(QPaintEvent* AEvent) override;

private:
    TKind FKind;
    QColor FBrush{Qt::white};
    QColor FPen;
};
