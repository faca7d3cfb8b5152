#include "mailbox/SenderGrouping.h"

#include <algorithm>

#include "mailbox/Sender.h"

TSenderGrouping::TSenderGrouping(TMessageStore& store) : FStore(store)
{
    if (FStore.Count() > 0)
        RowsAppended(0, FStore.Count() - 1);
    FStore.AddObserver(this);
}

TSenderGrouping::~TSenderGrouping() { FStore.RemoveObserver(this); }

const TSenderGroup& TSenderGrouping::At(TGroupBy by, int group) const
{
    if (!FStaleDates.empty())
        RecountDates();
    return Table(by).Groups.at(static_cast<std::size_t>(group));
}

int TSenderGrouping::GroupOf(TGroupBy by, int row) const
{
    if (row < 0 || row >= static_cast<int>(FRows.size()))
        return -1;
    return FRows[static_cast<std::size_t>(row)].Group[static_cast<std::size_t>(by)];
}

int TSenderGrouping::Find(TGroupBy by, const std::string& key) const
{
    const auto it = Table(by).ByKey.find(key);
    return it == Table(by).ByKey.end() ? -1 : it->second;
}

std::vector<int> TSenderGrouping::Rows(TGroupBy by, int group) const
{
    std::vector<int> rows;
    for (std::size_t row = 0; row < FRows.size(); ++row)
        if (FRows[row].Counted && FRows[row].Group[static_cast<std::size_t>(by)] == group)
            rows.push_back(static_cast<int>(row));
    return rows;
}

std::vector<int> TSenderGrouping::BySize(TGroupBy by) const
{
    const std::vector<TSenderGroup>& groups = Table(by).Groups;
    std::vector<int> order;
    for (std::size_t g = 0; g < groups.size(); ++g)
        if (groups[g].Count > 0)
            order.push_back(static_cast<int>(g));
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const TSenderGroup &x = groups[static_cast<std::size_t>(a)], &y = groups[static_cast<std::size_t>(b)];
        return x.Size != y.Size ? x.Size > y.Size : x.Count > y.Count;
    });
    return order;
}

int TSenderGrouping::GroupFor(TTable& table, TGroupKind kind, const std::string& key)
{
    int& special = kind == TGroupKind::NoSender ? table.NoSender : table.NotYetKnown;
    if (kind != TGroupKind::Sender && special >= 0)
        return special;
    if (kind == TGroupKind::Sender)
        if (const auto it = table.ByKey.find(key); it != table.ByKey.end())
            return it->second;
    const int index = static_cast<int>(table.Groups.size());
    TSenderGroup group;
    group.Kind = kind;
    if (kind == TGroupKind::Sender) {
        group.Key = key;
        table.ByKey.emplace(key, index);
    } else {
        special = index;
    }
    table.Groups.push_back(std::move(group));
    return index;
}

// Finds the groups of a row from its record (its header, when known).
void TSenderGrouping::Read(int row)
{
    const TMessageRecord& r = FStore.At(row);
    TRowEntry& e = FRows[static_cast<std::size_t>(row)];
    e.HeaderKnown = r.HeaderKnown;
    e.Size = r.Size;
    e.Date = r.Date;
    if (!r.HeaderKnown) {
        for (TGroupBy by : {TGroupBy::Address, TGroupBy::Domain})
            e.Group[static_cast<std::size_t>(by)] = GroupFor(Table(by), TGroupKind::NotYetKnown, {});
        return;
    }
    const TSender sender = SenderOf(r);
    const std::string* keys[] = {&sender.Address, &sender.Domain};
    for (TGroupBy by : {TGroupBy::Address, TGroupBy::Domain}) {
        const std::string& key = *keys[static_cast<std::size_t>(by)];
        e.Group[static_cast<std::size_t>(by)] =
            GroupFor(Table(by), key.empty() ? TGroupKind::NoSender : TGroupKind::Sender, key);
    }
    // Rows arrive in message-number order, so the last name read is the latest one given.
    TSenderGroup& group = Table(TGroupBy::Address).Groups[static_cast<std::size_t>(e.Group[0])];
    if (!sender.Name.empty())
        group.Name = sender.Name;
}

// Adds the row to its groups' figures, or takes it away.
void TSenderGrouping::Count(int row, bool counted)
{
    TRowEntry& e = FRows[static_cast<std::size_t>(row)];
    if (e.Counted == counted)
        return;
    e.Counted = counted;
    const int sign = counted ? 1 : -1;
    const long long size = std::max(0LL, e.Size);
    FTotalCount += sign;
    FTotalSize += sign * size;
    for (TGroupBy by : {TGroupBy::Address, TGroupBy::Domain}) {
        const int index = e.Group[static_cast<std::size_t>(by)];
        TSenderGroup& g = Table(by).Groups[static_cast<std::size_t>(index)];
        g.Count += sign;
        g.Size += sign * size;
        if (!e.Date)
            continue;
        if (counted) {
            g.Newest = g.Newest ? std::max(*g.Newest, *e.Date) : *e.Date;
            g.Oldest = g.Oldest ? std::min(*g.Oldest, *e.Date) : *e.Date;
        } else if (e.Date == g.Newest || e.Date == g.Oldest) {
            FStaleDates.emplace_back(by, index);
        }
    }
}

// One pass over the rows for every group whose newest or oldest message went.
void TSenderGrouping::RecountDates() const
{
    auto& tables = FTables;
    for (const auto& [by, index] : FStaleDates) {
        TSenderGroup& g = tables[static_cast<std::size_t>(by)].Groups[static_cast<std::size_t>(index)];
        g.Newest.reset();
        g.Oldest.reset();
    }
    FStaleDates.clear();
    for (const TRowEntry& e : FRows) {
        if (!e.Counted || !e.Date)
            continue;
        for (TGroupBy by : {TGroupBy::Address, TGroupBy::Domain}) {
            TSenderGroup& g = tables[static_cast<std::size_t>(by)].Groups[static_cast<std::size_t>(e.Group[static_cast<std::size_t>(by)])];
            if (g.Count == 0)
                continue;
            g.Newest = g.Newest ? std::max(*g.Newest, *e.Date) : *e.Date;
            g.Oldest = g.Oldest ? std::min(*g.Oldest, *e.Date) : *e.Date;
        }
    }
}

void TSenderGrouping::Changed()
{
    if (OnChanged)
        OnChanged();
}

void TSenderGrouping::RowsAppended(int first, int last)
{
    FRows.resize(static_cast<std::size_t>(last) + 1);
    for (int row = first; row <= last; ++row) {
        Read(row);
        Count(row, !FStore.At(row).Deleted);
    }
    Changed();
}

// Checks change rows too, far more often than headers arrive: only a row whose header, size
// or date differs from what it added is read again.
void TSenderGrouping::RowsChanged(int first, int last)
{
    bool changed = false;
    for (int row = first; row <= last && row < static_cast<int>(FRows.size()); ++row) {
        const TMessageRecord& r = FStore.At(row);
        const TRowEntry& e = FRows[static_cast<std::size_t>(row)];
        if (e.HeaderKnown == r.HeaderKnown && e.Size == r.Size && e.Date == r.Date)
            continue;
        const bool counted = e.Counted;
        Count(row, false);
        Read(row);
        Count(row, counted);
        changed = true;
    }
    if (changed)
        Changed();
}

void TSenderGrouping::RowDeleted(int row)
{
    Count(row, false);
    Changed();
}

void TSenderGrouping::RowRestored(int row)
{
    Count(row, true);
    Changed();
}

void TSenderGrouping::Cleared()
{
    FTables = {};
    FRows.clear();
    FStaleDates.clear();
    FTotalCount = 0;
    FTotalSize = 0;
    Changed();
}
