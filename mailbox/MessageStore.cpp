#include "mailbox/MessageStore.h"

#include <algorithm>

#include "mailbox/MessageList.h"
#include "mailbox/ShownText.h"

void ReadHeader(TMessageRecord& record, const std::vector<std::string>& lines)
{
    std::size_t end = lines.size();
    if (end > 0 && lines[end - 1] == ".")
        --end;
    if (end > 0 && lines[end - 1].empty())
        --end;
    std::size_t size = 0;
    for (std::size_t i = 0; i < end; ++i)
        size += lines[i].size() + 2;
    record.Header.clear();
    record.Header.reserve(size);
    for (std::size_t i = 0; i < end; ++i)
        record.Header.append(lines[i]).append("\r\n");
    record.Subject = FieldText(lines, "Subject");
    record.From = FieldText(lines, "From");
    record.Date = MessageList::HeaderDate(lines);
    record.HeaderKnown = true;
}

template <class F>
void TMessageStore::Notify(F&& f)
{
    for (TStoreObserver* o : FObservers)
        f(*o);
}

int TMessageStore::RowOf(int number) const
{
    if (number < 0 || number >= static_cast<int>(FRowByNumber.size()))
        return -1;
    return FRowByNumber[static_cast<std::size_t>(number)];
}

void TMessageStore::Append(TMessageRecord record)
{
    std::vector<TMessageRecord> one;
    one.push_back(std::move(record));
    Append(std::move(one));
}

void TMessageStore::Append(std::vector<TMessageRecord> records)
{
    if (records.empty())
        return;
    const int first = Count();
    FRecords.reserve(FRecords.size() + records.size());
    for (TMessageRecord& r : records) {
        if (r.Number >= 0) {
            if (r.Number >= static_cast<int>(FRowByNumber.size()))
                FRowByNumber.resize(static_cast<std::size_t>(r.Number) + 1, -1);
            FRowByNumber[static_cast<std::size_t>(r.Number)] = Count();
        }
        FRecords.push_back(std::move(r));
    }
    const int last = Count() - 1;
    Notify([&](TStoreObserver& o) { o.RowsAppended(first, last); });
}

void TMessageStore::SetHeader(int row, const std::vector<std::string>& lines)
{
    ReadHeader(FRecords[static_cast<std::size_t>(row)], lines);
    Notify([&](TStoreObserver& o) { o.HeaderArrived(row); });
}

void TMessageStore::SetChecked(int row, bool checked)
{
    TMessageRecord& r = FRecords[static_cast<std::size_t>(row)];
    if (r.Checked == checked)
        return;
    r.Checked = checked;
    Notify([&](TStoreObserver& o) { o.RowsChanged(row, row); });
}

void TMessageStore::SetAllChecked(bool checked)
{
    int first = -1, last = -1;
    for (int row = 0; row < Count(); ++row) {
        TMessageRecord& r = FRecords[static_cast<std::size_t>(row)];
        if (r.Deleted || r.Checked == checked)
            continue;
        r.Checked = checked;
        if (first < 0)
            first = row;
        last = row;
    }
    if (first >= 0)
        Notify([&](TStoreObserver& o) { o.RowsChanged(first, last); });
}

void TMessageStore::SetDeleted(int row, bool deleted)
{
    TMessageRecord& r = FRecords[static_cast<std::size_t>(row)];
    if (r.Deleted == deleted)
        return;
    r.Deleted = deleted;
    Notify([&](TStoreObserver& o) { deleted ? o.RowDeleted(row) : o.RowRestored(row); });
}

void TMessageStore::Clear()
{
    FRecords.clear();
    FRowByNumber.clear();
    Notify([](TStoreObserver& o) { o.Cleared(); });
}

void TMessageStore::AddObserver(TStoreObserver* observer)
{
    if (std::find(FObservers.begin(), FObservers.end(), observer) == FObservers.end())
        FObservers.push_back(observer);
}

void TMessageStore::RemoveObserver(TStoreObserver* observer)
{
    FObservers.erase(std::remove(FObservers.begin(), FObservers.end(), observer), FObservers.end());
}
