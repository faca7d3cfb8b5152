#pragma once
// TSenderGrouping: who fills the mailbox. The messages of a TMessageStore grouped by sender
// address and by the sender's domain (Sender.h folds both), each group with its number of
// messages, their total size and the dates of its newest and oldest message. A store the
// command line filled and one a window follows are grouped alike.
//
// Groups. Each way of grouping has its own list of groups, in the order their first message
// arrived; a group keeps its index for the grouping's life, also when its last message is
// deleted (its count is then 0: readers leave it out, BySize does). Messages whose header is
// not known yet (the listing gave their size first) count in one group of the kind
// NotYetKnown until their header comes; messages without a sender address in one group of
// the kind NoSender. Deleted messages count nowhere until they come back.
//
// Following the store. The grouping reads every record when made and then follows the store
// as its observer: rows appended, headers arriving (rows changed), rows deleted and restored,
// the store cleared. After each change it calls OnChanged (tested before the call), from
// inside the store's notification: a handler must not change the store. It must be destroyed
// before the store. One thread; nothing raised but std::bad_alloc.

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "mailbox/MessageStore.h"

enum class TGroupBy { Address, Domain };
enum class TGroupKind { Sender, NoSender, NotYetKnown };

struct TSenderGroup {
    TGroupKind Kind = TGroupKind::Sender;
    std::string Key;    // the folded address or domain; "" for the other kinds
    std::string Name;   // by address: the display name of its latest message that had one
    int Count = 0;      // messages not deleted
    long long Size = 0; // their total of the sizes known
    std::optional<long long> Newest, Oldest;   // Date, seconds since the epoch
};

class TSenderGrouping : private TStoreObserver {
public:
    explicit TSenderGrouping(TMessageStore& store);
    ~TSenderGrouping() override;
    TSenderGrouping(const TSenderGrouping&) = delete;
    TSenderGrouping& operator=(const TSenderGrouping&) = delete;

    TMessageStore& Store() const { return FStore; }
    int Count(TGroupBy by) const { return static_cast<int>(Table(by).Groups.size()); }
    const TSenderGroup& At(TGroupBy by, int group) const;
    // The group of a store row (deleted or not), -1 for a row not read yet.
    int GroupOf(TGroupBy by, int row) const;
    // The group of a folded key, -1 when none has it.
    int Find(TGroupBy by, const std::string& key) const;
    // The store rows of a group that are not deleted, in store order.
    std::vector<int> Rows(TGroupBy by, int group) const;
    // The groups with messages, the largest total size first (then the most messages, then
    // the order of arrival).
    std::vector<int> BySize(TGroupBy by) const;
    // Over every message not deleted: how many, and their total size.
    int TotalCount() const { return FTotalCount; }
    long long TotalSize() const { return FTotalSize; }

    std::function<void()> OnChanged;

private:
    struct TTable {
        std::vector<TSenderGroup> Groups;
        std::unordered_map<std::string, int> ByKey;
        int NoSender = -1, NotYetKnown = -1;
    };
    // What a row adds to its groups, as it was when added.
    struct TRowEntry {
        std::array<int, 2> Group{-1, -1};
        bool Counted = false;
        bool HeaderKnown = false;
        long long Size = -1;
        std::optional<long long> Date;
    };

    void RowsAppended(int first, int last) override;
    void RowsChanged(int first, int last) override;
    void RowDeleted(int row) override;
    void RowRestored(int row) override;
    void Cleared() override;

    const TTable& Table(TGroupBy by) const { return FTables[static_cast<std::size_t>(by)]; }
    TTable& Table(TGroupBy by) { return FTables[static_cast<std::size_t>(by)]; }
    void Read(int row);
    void Count(int row, bool counted);
    int GroupFor(TTable& table, TGroupKind kind, const std::string& key);
    void RecountDates() const;
    void Changed();

    TMessageStore& FStore;
    // Mutable for the dates found again on reading (RecountDates).
    mutable std::array<TTable, 2> FTables;
    std::vector<TRowEntry> FRows;
    int FTotalCount = 0;
    long long FTotalSize = 0;
    // Groups that lost their newest or oldest message: their dates are found again when read.
    mutable std::vector<std::pair<TGroupBy, int>> FStaleDates;
};
