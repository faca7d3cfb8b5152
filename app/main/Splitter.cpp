#include "app/main/Splitter.h"

#include <QMouseEvent>

TSplitter::TSplitter(QWidget* parent, QWidget* upper) : QWidget(parent), FUpper(upper)
{
    setCursor(Qt::SizeVerCursor);
}

void TSplitter::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    FStartY = static_cast<int>(event->globalPosition().y());
    FStartHeight = FUpper->height();
}

void TSplitter::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    if (OnMoved)
        OnMoved(FStartHeight + static_cast<int>(event->globalPosition().y()) - FStartY);
}
