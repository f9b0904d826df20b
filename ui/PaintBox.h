#pragma once

#include <functional>

#include <QWidget>

class QPainter;

// A plain drawing surface: whoever owns it paints it through OnPaint, so
// one handler can serve several boxes and tell them apart by Sender.
class TPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TPaintBox(QWidget* AParent = nullptr);

    std::function<void(TPaintBox* Sender, QPainter& ACanvas)> OnPaint;

protected:
    void paintEvent(QPaintEvent* AEvent) override;
};
