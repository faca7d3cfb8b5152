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

bool TMessageFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    return Shows(FModel->Record(sourceRow));
}

bool TMessageFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const int column = left.column();
    if (column == TMessageModel::SizeColumn || column == TMessageModel::DateColumn) {
        const QVariant a = left.data(TMessageModel::SortKeyRole), b = right.data(TMessageModel::SortKeyRole);
        if (a.isValid() != b.isValid())
            return a.isValid();
        if (a.isValid())
            return a.toLongLong() < b.toLongLong();
    }
    return MessageList::MatchKey(left.data().toString()) < MessageList::MatchKey(right.data().toString());
}
