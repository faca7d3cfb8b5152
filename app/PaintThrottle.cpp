#include "app/PaintThrottle.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QTableView>

namespace {
// A table lays itself out anew (scroll range, header size) after every row added, on a
// timer: more work than the row. While throttled it is laid out for the frames only.
void DeferRowLayout(QWidget* widget, bool defer)
{
    auto* table = qobject_cast<QTableView*>(widget);
    if (!table)
        return;
    if (defer)
        QObject::disconnect(table->verticalHeader(), SIGNAL(sectionCountChanged(int,int)), table,
                            SLOT(rowCountChanged(int,int)));
    else
        QObject::connect(table->verticalHeader(), SIGNAL(sectionCountChanged(int,int)), table,
                         SLOT(rowCountChanged(int,int)));
}
}

TPaintThrottle::TPaintThrottle(QWidget* widget, int intervalMs)
    : FWidget(widget), FWasEnabled(widget->updatesEnabled()), FInterval(intervalMs)
{
    widget->setUpdatesEnabled(false);
    DeferRowLayout(widget, true);
    FSinceFrame.start();
}

TPaintThrottle::~TPaintThrottle()
{
    if (!FWidget)
        return;
    DeferRowLayout(FWidget, false);
    if (auto* view = qobject_cast<QAbstractItemView*>(FWidget.data()))
        view->doItemsLayout();
    if (FWasEnabled)
        FWidget->setUpdatesEnabled(true);  // one full update, painted by the next pass of the loop
}

void TPaintThrottle::Frame()
{
    FSinceFrame.restart();
    if (!FWidget || !FWasEnabled)
        return;
    FWidget->setUpdatesEnabled(true);
    // A view lays its rows out on a timer; the frame shows them laid out.
    if (auto* view = qobject_cast<QAbstractItemView*>(FWidget.data()))
        view->doItemsLayout();
    FWidget->repaint();
    FWidget->setUpdatesEnabled(false);
}
