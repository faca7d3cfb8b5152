#include "app/mailboxview/MessageView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include "app/mailboxview/MessageFilter.h"
#include "app/mailboxview/MessageModel.h"
#include "app/main/ListView.h"
#include "mailbox/MessageStore.h"

TMessageView::TMessageView(QWidget* parent) : QTableView(parent)
{
    SetReportStyle(this, true);
    // A click on a column's header sorts by it.
    QHeaderView* header = horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    connect(header, &QHeaderView::sectionClicked, this, [this](int column) {
        SortByColumn(column, column == FSortColumn && FSortOrder == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                                      : Qt::AscendingOrder);
    });
}

void TMessageView::SetModels(TMessageFilter* filter)
{
    FFilter = filter;
    setModel(filter);
}

int TMessageView::Count() const { return FFilter ? FFilter->rowCount() : 0; }

int TMessageView::Data(int row) const { return Record(row).Number; }

const TMessageRecord& TMessageView::Record(int row) const { return FFilter->Record(row); }

int TMessageView::RowOf(int number) const
{
    return FFilter ? FFilter->RowOfStoreRow(FFilter->Model()->Store().RowOf(number)) : -1;
}

QString TMessageView::Text(int row, int column) const { return FFilter->index(row, column).data().toString(); }

bool TMessageView::Checked(int row) const { return row >= 0 && row < Count() && Record(row).Checked; }

void TMessageView::SetChecked(int row, bool checked)
{
    if (row >= 0 && row < Count())
        FFilter->Model()->Store().SetChecked(FFilter->StoreRow(row), checked);
}

int TMessageView::Selected() const
{
    int first = -1;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        if (first < 0 || index.row() < first)
            first = index.row();
    return first;
}

void TMessageView::SetSelected(int row, bool selected)
{
    const auto flags = (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) | QItemSelectionModel::Rows;
    selectionModel()->select(model()->index(row, 0), flags);
}

void TMessageView::ShowRow(int row)
{
    SetSelected(row, true);
    scrollTo(model()->index(row, 0), EnsureVisible);
    viewport()->repaint();
}

void TMessageView::SortByColumn(int column, Qt::SortOrder order)
{
    FSortColumn = column;
    FSortOrder = order;
    horizontalHeader()->setSortIndicator(column, order);
    if (FFilter)
        FFilter->sort(column, order);
}

void TMessageView::mousePressEvent(QMouseEvent* event)
{
    if (!indexAt(event->position().toPoint()).isValid())
        clearSelection();
    QTableView::mousePressEvent(event);
}

void TMessageView::keyPressEvent(QKeyEvent* event)
{
    const int row = currentIndex().row();
    if (event->key() == Qt::Key_Space && row >= 0 && event->modifiers() == Qt::NoModifier) {
        SetChecked(row, !Checked(row));
        return;
    }
    if (event->key() == Qt::Key_Delete && OnDeleteKey) {
        OnDeleteKey();
        return;
    }
    QTableView::keyPressEvent(event);
}

void TMessageView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTableView::mouseDoubleClickEvent(event);
    if (OnDblClick)
        OnDblClick();
}
