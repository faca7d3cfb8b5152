#pragma once
// TMessageModel: the message list's table over the session's TMessageStore, one row per
// record (deleted ones included: TMessageFilter leaves them out), four columns: subject,
// sender, size (for people, right-aligned) and date (local time). Column 0 carries the check
// box; checking a row checks its record. A row whose header has not arrived says so in its
// subject, greyed.
//
// Rows the store appends are announced in batches: one insertion for everything that arrived
// since the last, at most every 50 ms from the event loop, or at once by Flush (the listing
// flushes as it goes and when it ends). Until then the model's row count leaves them out.
// Headers that arrive for shown rows are announced the same way, as one range.
// The model follows the store as its observer for its whole life; it must go before the
// store does. UI thread only.

#include <QAbstractTableModel>
#include <QTimer>

#include "mailbox/MessageStore.h"

class TMessageModel : public QAbstractTableModel, private TStoreObserver {
public:
    enum TColumn { SubjectColumn, SenderColumn, SizeColumn, DateColumn, ColumnCount };
    // The number a size or date column sorts by (bytes, seconds); none for a row without one.
    static constexpr int SortKeyRole = Qt::UserRole;
    // The message number of the row.
    static constexpr int NumberRole = Qt::UserRole + 1;

    explicit TMessageModel(TMessageStore& store, QObject* parent = nullptr);
    ~TMessageModel() override;

    TMessageStore& Store() const { return FStore; }
    const TMessageRecord& Record(int row) const { return FStore.At(row); }
    // Announces the rows appended since the last insertion.
    void Flush();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void RowsAppended(int first, int last) override;
    void RowsChanged(int first, int last) override;
    void HeaderArrived(int row) override;
    void RowDeleted(int row) override;
    void RowRestored(int row) override;
    void Cleared() override;
    // A whole row changed, for every role (the filter reads it anew).
    void RowChangedWhole(int row);

    TMessageStore& FStore;
    int FShown = 0;   // rows announced
    int FArrivedFirst = -1, FArrivedLast = -1;   // shown rows whose header came since
    QTimer FFlushTimer;
};
