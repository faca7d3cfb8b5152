#pragma once
// THeaderCache: the file that keeps, for one mailbox (server, port and user), every listed
// message's header by its UIDL, so that the next session shows the mailbox at once and asks
// the server only for the headers it has not seen. What is kept for a UIDL: the message's
// size, its header bytes as TOP n 0 returned them (CR LF lines, without the closing empty
// line and "."), and when it was first seen.
//
// The file lives in the cache folder (Environment.h), readable by the user only (0600, the
// folder 0700), named after the mailbox (FileNameFor). It begins with a signature line, then
// records, each a 4-byte length (little-endian), the CRC-32 of its payload, and the payload:
// first the mailbox it belongs to, then one entry per record (a later record of a UIDL
// replaces an earlier one). An entry also keeps the subject, sender and date as the list
// shows them, taken from its header when it was read, so that a mailbox of thousands of
// rows comes back without decoding a header again. Entries are appended as the headers arrive,
// gathered into one write of whole records at most every 100 ms or 64 KiB (a write for each
// of thousands of headers cost more than reading them), and at the latest by Flush or when
// the object goes: a session cut anywhere keeps what it read, a killed process at most all
// but that last moment's. Reading trusts nothing: a record cut off at the
// end (a crash in a write) is ignored and cut away before the next append; any other fault
// (a bad checksum or record inside the file, another mailbox's file, no signature) drops the
// whole file, which the session then builds anew. Never a wrong entry: an entry is used only
// when its checksum holds, and only for a message whose UIDL and size match (the caller's).
//
// Nothing here raises but std::bad_alloc: a file that cannot be read counts as missing, one
// that cannot be written stops the writing for this object (the file is left whole or cut
// back to its last whole record). No Qt; one thread; the object owns its open file.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// What the cache knows of one UIDL.
struct TCachedHeader {
    long long Size = 0;
    long long FirstSeen = 0;   // seconds since the epoch
    std::string Header;
    std::string Subject, From;   // UTF-8, as TMessageRecord holds them
    std::optional<long long> Date;
};

// One entry to write, or as the reader found it.
struct TCacheEntry {
    std::string_view Uidl;
    long long Size = 0;
    long long FirstSeen = 0;
    std::string_view Header;
    std::string_view Subject, From;
    std::optional<long long> Date;
};

class TCacheSource;   // the bytes the reader walks through (HeaderCache.cpp)

// How Load found the file.
enum class TCacheState {
    Missing,    // no file (or none that could be read)
    Whole,
    TornTail,   // the last record was cut off: the ones before it were read
    Damaged,    // not a cache of this mailbox, or a fault inside: removed, nothing read
};

class THeaderCache {
public:
    // The most header bytes an entry holds; a longer header is not kept.
    static constexpr std::size_t MaxHeader = 4u << 20;

    // `key` names the mailbox inside the file (KeyFor).
    THeaderCache(std::string fileName, std::string key);
    ~THeaderCache();
    THeaderCache(const THeaderCache&) = delete;
    THeaderCache& operator=(const THeaderCache&) = delete;

    // The mailbox's name inside its file, and the file's name in `folder` (which ends in
    // "/"): readable, a name the file system takes whatever the user name holds.
    static std::string KeyFor(const std::string& server, int port, const std::string& user);
    static std::string FileNameFor(const std::string& folder, const std::string& key);

    const std::string& FileName() const { return FFileName; }

    // Reads the file record by record through a buffer of about the largest record (never
    // the file whole): `each` gets every entry in file order, its texts valid during the
    // call only; a later entry of a UIDL replaces an earlier one. The entries given count
    // only when the answer is Whole or TornTail: after Missing (also a file that failed to
    // read midway) or Damaged the caller forgets every one of them.
    using TEntrySink = std::function<void(const TCacheEntry&)>;
    TCacheState Read(const TEntrySink& each);
    // Reads the file into Entries (emptied first), by UIDL.
    TCacheState Load();
    // Entry records read by the last Read, replaced ones included: more than Entries holds
    // means the file carries dead records.
    std::size_t Records() const { return FRecords; }
    std::unordered_map<std::string, TCachedHeader> Entries;

    // Appends one entry, making the file (and its folder) when there is none; false when it
    // or the entries gathered before it could not be written, or writing has stopped. An entry whose header is longer than
    // MaxHeader, whose subject or sender is longer than 64 KiB, or whose UIDL is empty or
    // longer than 255 bytes, is passed over (true).
    bool Append(const TCacheEntry& entry);
    // Writes the entries gathered; false as for Append. Read, Rewrite and the destructor do.
    bool Flush();
    // Replaces the file by one holding exactly these entries (written whole beside it, then
    // renamed over it); false when that failed (the old file stays).
    bool Rewrite(const std::vector<TCacheEntry>& entries);
    // Removes the file; nothing is written any more.
    void Remove();

    // The bytes of a file holding these entries (what Rewrite writes), and the reader behind
    // Load for a file's bytes (Good: how many of them are whole records), into Entries.
    std::string Format(const std::vector<TCacheEntry>& entries) const;
    TCacheState Parse(std::string_view bytes, std::size_t& good);

private:
    TCacheState ReadRecords(TCacheSource& in, std::size_t& good, const TEntrySink& each);
    TCacheState Walk(TCacheSource& in, std::size_t& good, const TEntrySink& each);
    TEntrySink IntoEntries();
    bool OpenForAppend();
    void AppendRecord(std::string& out, std::string_view payload) const;
    // An entry's record (`payload` is room to reuse); nothing for one that is not kept.
    void AppendEntry(std::string& out, const TCacheEntry& entry, std::string& payload) const;
    static bool Keepable(const TCacheEntry& entry);
    void Close();

    std::string FFileName;
    std::string FKey;
    std::size_t FRecords = 0;
    std::size_t FGood = 0;     // whole bytes found by Load; the rest is cut before appending
    bool FCut = false;         // a torn tail waits to be cut
    bool FStopped = false;     // a write failed: no more
    int FFile = -1;
    long long FSize = 0;       // of the open file, after its last whole record
    std::string FPending;      // whole records not written yet
    std::chrono::steady_clock::time_point FPendingSince;
};
