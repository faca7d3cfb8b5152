#include "mailbox/HeaderCache.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "mailbox/AccountFile.h"
#include "mailbox/Environment.h"
#include "runtime/SysUtils.h"

namespace {
constexpr std::string_view Signature = "Purgel header cache 1\n";
constexpr char KeyRecord = 'K';
constexpr char EntryRecord = 'E';
// The most bytes of a subject or sender kept, and the longest payload a record may claim:
// an entry's fields around the longest header.
constexpr std::size_t MaxText = 64u << 10;
constexpr std::size_t MaxPayload = THeaderCache::MaxHeader + 1 + 1 + 255 + 24 + 2 * (4 + MaxText);
// The date field of an entry without a date.
constexpr std::uint64_t NoDate = std::uint64_t{1} << 63;

std::uint32_t Crc(std::string_view bytes)
{
    return static_cast<std::uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

void PutNumber(std::string& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t GetNumber(std::string_view in, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(in[static_cast<std::size_t>(i)]);
    return value;
}

bool WriteWhole(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// A 4-byte length and that many bytes, taken from the front of `in`.
bool TakeText(std::string_view& in, std::string& text)
{
    if (in.size() < 4)
        return false;
    const std::size_t length = GetNumber(in, 4);
    if (length > MaxText || in.size() - 4 < length)
        return false;
    text.assign(in.substr(4, length));
    in.remove_prefix(4 + length);
    return true;
}

// An entry's payload: its UIDL (a length byte first), size, first seen, date, subject and
// sender (each a length first), header.
bool ReadEntry(std::string_view payload, std::string& uidl, TCachedHeader& entry)
{
    if (payload.size() < 2 || payload[0] != EntryRecord)
        return false;
    const std::size_t length = static_cast<unsigned char>(payload[1]);
    if (length == 0 || payload.size() < 2 + length + 24)
        return false;
    uidl.assign(payload.substr(2, length));
    std::string_view rest = payload.substr(2 + length);
    const auto size = static_cast<long long>(GetNumber(rest, 8));
    const std::uint64_t date = GetNumber(rest.substr(16), 8);
    entry.FirstSeen = static_cast<long long>(GetNumber(rest.substr(8), 8));
    rest.remove_prefix(24);
    if (size < 0 || !TakeText(rest, entry.Subject) || !TakeText(rest, entry.From) || rest.size() > THeaderCache::MaxHeader)
        return false;   // never written so
    entry.Size = size;
    entry.Date = date == NoDate ? std::nullopt : std::optional<long long>(static_cast<long long>(date));
    entry.Header.assign(rest);
    return true;
}
}

THeaderCache::THeaderCache(std::string fileName, std::string key) : FFileName(std::move(fileName)), FKey(std::move(key)) {}

THeaderCache::~THeaderCache() { Close(); }

std::string THeaderCache::KeyFor(const std::string& server, int port, const std::string& user)
{
    std::string host = server;
    for (char& c : host)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return user + "@" + host + ":" + std::to_string(port);
}

std::string THeaderCache::FileNameFor(const std::string& folder, const std::string& key)
{
    // Bytes a file name could not hold, or a person could not read, as %XX.
    std::string name;
    for (unsigned char c : key) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_' || c == '@';
        if (plain) {
            name += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            name += hex;
        }
    }
    // A name the file system cannot take is cut, and told apart from others by a checksum.
    if (name.size() > 200) {
        char crc[16];
        std::snprintf(crc, sizeof crc, "-%08X", Crc(key));
        name = name.substr(0, 200) + crc;
    }
    return folder + name + ".cache";
}

void THeaderCache::AppendRecord(std::string& out, std::string_view payload) const
{
    PutNumber(out, payload.size(), 4);
    PutNumber(out, Crc(payload), 4);
    out.append(payload);
}

std::string THeaderCache::Format(const std::vector<TCacheEntry>& entries) const
{
    std::size_t size = Signature.size() + 8 + 1 + FKey.size();
    for (const TCacheEntry& e : entries)
        size += 8 + 34 + e.Uidl.size() + e.Header.size() + e.Subject.size() + e.From.size();
    std::string out;
    out.reserve(size);
    out.append(Signature);
    AppendRecord(out, std::string(1, KeyRecord) + FKey);
    std::string payload;
    for (const TCacheEntry& e : entries)
        AppendEntry(out, e, payload);
    return out;
}

bool THeaderCache::Keepable(const TCacheEntry& e)
{
    return !e.Uidl.empty() && e.Uidl.size() <= 255 && e.Header.size() <= MaxHeader && e.Size >= 0 &&
           e.Subject.size() <= MaxText && e.From.size() <= MaxText && e.Date != static_cast<long long>(NoDate);
}

void THeaderCache::AppendEntry(std::string& out, const TCacheEntry& e, std::string& payload) const
{
    if (!Keepable(e))
        return;
    payload.assign(1, EntryRecord);
    payload += static_cast<char>(e.Uidl.size());
    payload.append(e.Uidl);
    PutNumber(payload, static_cast<std::uint64_t>(e.Size), 8);
    PutNumber(payload, static_cast<std::uint64_t>(e.FirstSeen), 8);
    PutNumber(payload, e.Date ? static_cast<std::uint64_t>(*e.Date) : NoDate, 8);
    for (std::string_view text : {e.Subject, e.From}) {
        PutNumber(payload, text.size(), 4);
        payload.append(text);
    }
    payload.append(e.Header);
    AppendRecord(out, payload);
}

TCacheState THeaderCache::Parse(std::string_view bytes, std::size_t& good)
{
    Entries.clear();
    FRecords = 0;
    good = 0;
    if (bytes.size() < Signature.size())
        return Signature.substr(0, bytes.size()) == bytes ? TCacheState::TornTail : TCacheState::Damaged;
    if (bytes.substr(0, Signature.size()) != Signature)
        return TCacheState::Damaged;
    std::size_t at = Signature.size();
    bool keyed = false;
    std::string uidl;
    TCachedHeader entry;
    const auto damaged = [this] {
        Entries.clear();
        FRecords = 0;
        return TCacheState::Damaged;
    };
    for (good = at; at < bytes.size(); good = at) {
        if (bytes.size() - at < 8)
            return keyed ? TCacheState::TornTail : damaged();
        const std::size_t length = GetNumber(bytes.substr(at), 4);
        if (length > MaxPayload || length == 0)
            return damaged();
        if (bytes.size() - at - 8 < length)
            return keyed ? TCacheState::TornTail : damaged();
        const std::string_view payload = bytes.substr(at + 8, length);
        at += 8 + length;
        // A record whose bytes were never all written shows only at the very end.
        if (Crc(payload) != GetNumber(bytes.substr(good + 4), 4))
            return keyed && at == bytes.size() ? TCacheState::TornTail : damaged();
        if (!keyed) {
            if (payload[0] != KeyRecord || payload.substr(1) != FKey)
                return damaged();
            keyed = true;
            continue;
        }
        if (!ReadEntry(payload, uidl, entry))
            return damaged();
        ++FRecords;
        Entries.insert_or_assign(uidl, std::move(entry));
        entry = TCachedHeader();
    }
    return keyed ? TCacheState::Whole : TCacheState::TornTail;
}

TCacheState THeaderCache::Load()
{
    Close();
    FCut = false;
    std::string bytes;
    if (!ReadFileWhole(FFileName, bytes)) {
        Entries.clear();
        FRecords = 0;
        return TCacheState::Missing;
    }
    const TCacheState state = Parse(bytes, FGood);
    if (state == TCacheState::Damaged)
        ::unlink(FFileName.c_str());   // built anew by the appends that follow
    FCut = state == TCacheState::TornTail;
    return state;
}

bool THeaderCache::OpenForAppend()
{
    if (FFile >= 0)
        return true;
    if (FStopped || !MakeUserFolder(ExtractFilePath(FFileName)))
        return false;
    FFile = ::open(FFileName.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    struct stat st {};
    if (FFile < 0 || ::fstat(FFile, &st) != 0 || !S_ISREG(st.st_mode) || ::fchmod(FFile, S_IRUSR | S_IWUSR) != 0) {
        Close();
        return false;
    }
    FSize = st.st_size;
    // A torn tail goes before anything follows it; a file not read by Load begins anew.
    if (FCut && static_cast<long long>(FGood) <= FSize)
        FSize = static_cast<long long>(FGood);
    else if (FCut || FSize < static_cast<long long>(Signature.size()))
        FSize = 0;
    FCut = false;
    std::string start;
    if (FSize == 0) {
        start.append(Signature);
        AppendRecord(start, std::string(1, KeyRecord) + FKey);
    }
    if (::ftruncate(FFile, FSize) != 0 || ::lseek(FFile, FSize, SEEK_SET) < 0 || !WriteWhole(FFile, start)) {
        Close();
        FStopped = true;
        return false;
    }
    FSize += static_cast<long long>(start.size());
    return true;
}

bool THeaderCache::Append(const TCacheEntry& entry)
{
    if (!Keepable(entry))
        return true;
    if (!OpenForAppend())
        return false;
    // One write per entry, so that a crash cuts at most the last one.
    std::string bytes, payload;
    AppendEntry(bytes, entry, payload);
    if (!WriteWhole(FFile, bytes)) {
        // What went out of it is cut away again: the file ends with a whole record.
        if (::ftruncate(FFile, FSize) != 0)
            ::unlink(FFileName.c_str());
        Close();
        FStopped = true;
        return false;
    }
    FSize += static_cast<long long>(bytes.size());
    return true;
}

bool THeaderCache::Rewrite(const std::vector<TCacheEntry>& entries)
{
    if (FStopped || !MakeUserFolder(ExtractFilePath(FFileName)))
        return false;
    Close();   // the appends go to the new file from now on
    try {
        SaveFileWhole(FFileName, Format(entries));
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void THeaderCache::Remove()
{
    Close();
    FStopped = true;
    ::unlink(FFileName.c_str());
}

void THeaderCache::Close()
{
    if (FFile >= 0)
        ::close(FFile);
    FFile = -1;
}
