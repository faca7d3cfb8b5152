#include "app/mailboxview/MessageFilter.h"

#include "app/mailboxview/MessageModel.h"
#include "app/main/Sjis.h"
#include "mailbox/MessageList.h"

TMessageFilter::TMessageFilter(TMessageModel* model, QObject* parent) : QSortFilterProxyModel(parent), FModel(model)
{
    setSourceModel(model);
    setDynamicSortFilter(true);
}

const TMessageRecord& TMessageFilter::Record(int row) const { return FModel->Record(StoreRow(row)); }

int TMessageFilter::StoreRow(int row) const { return mapToSource(index(row, 0)).row(); }

int TMessageFilter::RowOfStoreRow(int storeRow) const
{
    if (storeRow < 0 || storeRow >= FModel->rowCount())
        return -1;
    return mapFromSource(FModel->index(storeRow, 0)).row();
}

void TMessageFilter::SetFilterText(const QString& text)
{
    const QString key = MessageList::MatchKey(text);
    if (key == FKey)
        return;
    FKey = key;
    invalidateFilter();
}

bool TMessageFilter::Shows(const TMessageRecord& r) const
{
    if (r.Deleted)
        return false;
    return FKey.isEmpty() || MessageList::MatchKey(Utf8ToQ(r.Subject)).contains(FKey) ||
           MessageList::MatchKey(Utf8ToQ(r.From)).contains(FKey);
}

void TMessageFilter::SetGroup(const TSenderGrouping* grouping, TGroupBy by, int group)
{
    if (group < 0)
        grouping = nullptr;
    if (grouping == FGrouping && by == FBy && group == FGroup)
        return;
    FGrouping = grouping;
    FBy = by;
    FGroup = grouping ? group : -1;
    invalidateFilter();
}

bool TMessageFilter::ShowsRow(int storeRow) const
{
    return Shows(FModel->Record(storeRow)) && (!FGrouping || FGrouping->GroupOf(FBy, storeRow) == FGroup);
}

bool TMessageFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const { return ShowsRow(sourceRow); }

// Equal keys fall back to the store's order, in whichever direction the list sorts, so that
// a row coming back (an undo) takes the very place it had.
bool TMessageFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const int column = left.column();
    int order = 0;   // < 0: left first
    if (column == TMessageModel::SizeColumn || column == TMessageModel::DateColumn) {
        const QVariant a = left.data(TMessageModel::SortKeyRole), b = right.data(TMessageModel::SortKeyRole);
        if (a.isValid() != b.isValid())
            return a.isValid();
        if (a.isValid())
            order = a.toLongLong() < b.toLongLong() ? -1 : a.toLongLong() > b.toLongLong() ? 1 : 0;
    }
    if (order == 0)
        order = MessageList::MatchKey(left.data().toString()).compare(MessageList::MatchKey(right.data().toString()));
    if (order != 0)
        return order < 0;
    return sortOrder() == Qt::AscendingOrder ? left.row() < right.row() : left.row() > right.row();
}
