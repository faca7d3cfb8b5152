#pragma once
// TMessageFilter: the message list as a person sees it, over a TMessageModel. Messages the
// server accepted to delete are left out; with a filter text, so is every row whose subject
// and sender both lack it. Texts compare in their match form (MessageList::MatchKey: full-
// and half-width forms alike, case folded), for the filter and for sorting the subject and
// sender columns; sizes sort by bytes and dates by the moment, rows without one after the
// others. Rows left out are absent from this model, so views and assistive technology see
// only what is shown. Rows of equal keys keep the store's order (message numbers).
// With a group of the sender panel set (SetGroup), only that group's rows are shown too.

#include <QSortFilterProxyModel>

#include "mailbox/SenderGrouping.h"

class TMessageModel;
struct TMessageRecord;

class TMessageFilter : public QSortFilterProxyModel {
public:
    explicit TMessageFilter(TMessageModel* model, QObject* parent = nullptr);

    TMessageModel* Model() const { return FModel; }
    // The row's record and its row in the store.
    const TMessageRecord& Record(int row) const;
    int StoreRow(int row) const;
    // The shown row of a store row, -1 when it is left out.
    int RowOfStoreRow(int storeRow) const;

    void SetFilterText(const QString& text);
    // Whether a record is shown under the current filter text.
    bool Shows(const TMessageRecord& record) const;
    // Shows only the rows of one group of `grouping` (borrowed while set); group -1 shows all.
    void SetGroup(const TSenderGrouping* grouping, TGroupBy by, int group);
    // Whether a store row is shown, under the filter text and the group.
    bool ShowsRow(int storeRow) const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    TMessageModel* FModel;
    QString FKey;
    const TSenderGrouping* FGrouping = nullptr;
    TGroupBy FBy = TGroupBy::Address;
    int FGroup = -1;
};
