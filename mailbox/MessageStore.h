#pragma once
// TMessageStore: what is known of each message of one session's mailbox, the only copy. The
// session fills it (a listing appends a record per message, in message-number order); the
// window's list and any other reader follow it through observers.
//
// Rows. A record keeps its row from Append until Clear: records are never removed one by
// one. A message the server accepted to delete stays with Deleted set (readers hide it), so
// an undo (RSET) or a connection lost before QUIT brings it back as it was, checked or not.
// A record may arrive with its size first and its header later (SetHeader); until then
// HeaderKnown is false and its texts are empty.
//
// Observers are told after each change, in the order they were added: rows appended (a
// range, at the end), rows changed (a range whose checks, header or texts changed), a row
// deleted or restored, everything cleared. An observer must not change the store from inside
// a notification, nor add or remove observers then. The store neither owns nor outlives its
// observers: each removes itself before it goes. Nothing here pumps messages or raises but
// std::bad_alloc; one thread only.

#include <optional>
#include <string>
#include <vector>

struct TMessageRecord {
    int Number = 0;                   // the message number of this session (POP3 counts from 1)
    long long Size = -1;              // bytes as LIST reported them; -1 while unknown
    std::string Uidl;                 // the server's unique id; "" while unknown
    bool HeaderKnown = false;         // Header and the texts below hold the message's header
    // The header lines as TOP n 0 returned them, each ended by CR LF, without the empty line
    // and "." that close the reply.
    std::string Header;
    std::string Subject;              // UTF-8, decoded for people
    std::string From;                 // UTF-8, decoded for people
    std::optional<long long> Date;    // the Date field as seconds since the epoch
    bool Checked = false;
    bool Deleted = false;             // the server accepted its deletion; final at QUIT
};

class TStoreObserver {
public:
    virtual ~TStoreObserver() = default;
    virtual void RowsAppended(int first, int last) = 0;
    virtual void RowsChanged(int first, int last) = 0;
    // A row's header arrived (SetHeader): a change that an observer may show later, with
    // others, as a listing brings thousands of them.
    virtual void HeaderArrived(int row) { RowsChanged(row, row); }
    virtual void RowDeleted(int row) = 0;
    virtual void RowRestored(int row) = 0;
    virtual void Cleared() = 0;
};

class TMessageStore {
public:
    int Count() const { return static_cast<int>(FRecords.size()); }
    const TMessageRecord& At(int row) const { return FRecords[static_cast<std::size_t>(row)]; }
    // The row of message `number`, -1 when the store has none.
    int RowOf(int number) const;

    void Append(TMessageRecord record);
    void Append(std::vector<TMessageRecord> records);
    // The header of a record that arrived with its size only (or anew), as TOP n 0 gave its
    // lines: Header, Subject, From and Date follow it (ReadHeader).
    void SetHeader(int row, const std::vector<std::string>& lines);
    void SetChecked(int row, bool checked);
    // Every record not deleted.
    void SetAllChecked(bool checked);
    void SetDeleted(int row, bool deleted);
    void Clear();

    void AddObserver(TStoreObserver* observer);
    void RemoveObserver(TStoreObserver* observer);

private:
    template <class F>
    void Notify(F&& f);

    std::vector<TMessageRecord> FRecords;
    std::vector<int> FRowByNumber;   // message number -> row, -1 for none
    std::vector<TStoreObserver*> FObservers;
};

// Fills a record's header from the lines of a TOP n 0 reply (line ends removed, the closing
// empty line and "." may be among them): the raw bytes, subject and sender decoded for
// people, the date; HeaderKnown set.
void ReadHeader(TMessageRecord& record, const std::vector<std::string>& lines);
