#pragma once
// A bar between two stacked areas that resizes the upper one while it is dragged.
// OnMoved receives the height the upper area asks for: its height when the drag began plus
// the distance dragged; the owner applies its own limits.

#include <QWidget>
#include <functional>

class TSplitter : public QWidget {
public:
    TSplitter(QWidget* parent, QWidget* upper);

    std::function<void(int height)> OnMoved;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QWidget* FUpper;
    int FStartY = 0;
    int FStartHeight = 0;
};
