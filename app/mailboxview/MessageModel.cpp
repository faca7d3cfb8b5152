#include "app/mailboxview/MessageModel.h"

#include <QPalette>

#include "app/main/Sjis.h"
#include "app/main/Texts.h"
#include "mailbox/MessageList.h"

namespace {
// Laying out the list and painting it for every row would take longer than fetching it.
constexpr int FlushIntervalMs = 50;
}

TMessageModel::TMessageModel(TMessageStore& store, QObject* parent) : QAbstractTableModel(parent), FStore(store)
{
    FFlushTimer.setSingleShot(true);
    FFlushTimer.setInterval(FlushIntervalMs);
    QObject::connect(&FFlushTimer, &QTimer::timeout, this, [this] { Flush(); });
    FShown = FStore.Count();
    FStore.AddObserver(this);
}

TMessageModel::~TMessageModel() { FStore.RemoveObserver(this); }

void TMessageModel::Flush()
{
    FFlushTimer.stop();
    if (FArrivedFirst >= 0) {
        const int first = FArrivedFirst, last = FArrivedLast;
        FArrivedFirst = FArrivedLast = -1;
        emit dataChanged(index(first, 0), index(last, ColumnCount - 1));
    }
    const int count = FStore.Count();
    if (count <= FShown)
        return;
    beginInsertRows(QModelIndex(), FShown, count - 1);
    FShown = count;
    endInsertRows();
}

int TMessageModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : FShown; }

int TMessageModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TMessageModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= FShown)
        return QVariant();
    const TMessageRecord& r = FStore.At(index.row());
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case SubjectColumn: return r.HeaderKnown ? Utf8ToQ(r.Subject) : SjisToQ(Texts::HeaderPending);
        case SenderColumn: return Utf8ToQ(r.From);
        case SizeColumn: return r.Size >= 0 ? MessageList::SizeText(r.Size) : QString();
        case DateColumn: return r.Date ? MessageList::DateText(*r.Date) : QString();
        default: return QVariant();
        }
    case Qt::CheckStateRole:
        return column == SubjectColumn ? QVariant(r.Checked ? Qt::Checked : Qt::Unchecked) : QVariant();
    case Qt::ForegroundRole:
        if (column == SubjectColumn && !r.HeaderKnown)
            return QBrush(QPalette().color(QPalette::PlaceholderText));
        return QVariant();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment((column == SizeColumn ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    case SortKeyRole:
        if (column == SizeColumn && r.Size >= 0)
            return QVariant(static_cast<qint64>(r.Size));
        if (column == DateColumn && r.Date)
            return QVariant(static_cast<qint64>(*r.Date));
        return QVariant();
    case NumberRole: return r.Number;
    default: return QVariant();
    }
}

bool TMessageModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.row() >= FShown || index.column() != SubjectColumn || role != Qt::CheckStateRole)
        return false;
    FStore.SetChecked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags TMessageModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (index.column() == SubjectColumn)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant TMessageModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole) {
        const char* const captions[] = {Texts::SubjectColumn, Texts::SenderColumn, Texts::SizeColumn, Texts::DateColumn};
        return SjisToQ(captions[section]);
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment((section == SizeColumn ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    return QVariant();
}

void TMessageModel::RowsAppended(int, int)
{
    if (!FFlushTimer.isActive())
        FFlushTimer.start();
}

void TMessageModel::RowsChanged(int first, int last)
{
    if (first >= FShown)
        return;
    last = std::min(last, FShown - 1);
    emit dataChanged(index(first, 0), index(last, ColumnCount - 1), {Qt::DisplayRole, Qt::CheckStateRole});
}

void TMessageModel::HeaderArrived(int row)
{
    if (row >= FShown)
        return;   // shown with its header when it is announced
    FArrivedFirst = FArrivedFirst < 0 ? row : std::min(FArrivedFirst, row);
    FArrivedLast = std::max(FArrivedLast, row);
    if (!FFlushTimer.isActive())
        FFlushTimer.start();
}

void TMessageModel::RowChangedWhole(int row)
{
    if (row < FShown)
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void TMessageModel::RowDeleted(int row) { RowChangedWhole(row); }

void TMessageModel::RowRestored(int row) { RowChangedWhole(row); }

void TMessageModel::Cleared()
{
    FFlushTimer.stop();
    beginResetModel();
    FShown = 0;
    FArrivedFirst = FArrivedLast = -1;
    endResetModel();
}
