#include "mailbox/HeaderCache.h"

#include <cerrno>
#include <cstdint>
#include <algorithm>
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
// Entries are gathered into one write until they reach this size or age.
constexpr std::size_t GatherBytes = 64u << 10;
constexpr auto GatherTime = std::chrono::milliseconds(100);
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
bool TakeText(std::string_view& in, std::string_view& text)
{
    if (in.size() < 4)
        return false;
    const std::size_t length = GetNumber(in, 4);
    if (length > MaxText || in.size() - 4 < length)
        return false;
    text = in.substr(4, length);
    in.remove_prefix(4 + length);
    return true;
}

// An entry's payload: its UIDL (a length byte first), size, first seen, date, subject and
// sender (each a length first), header. The entry's texts point into the payload.
bool ReadEntry(std::string_view payload, TCacheEntry& entry)
{
    if (payload.size() < 2 || payload[0] != EntryRecord)
        return false;
    const std::size_t length = static_cast<unsigned char>(payload[1]);
    if (length == 0 || payload.size() < 2 + length + 24)
        return false;
    entry.Uidl = payload.substr(2, length);
    std::string_view rest = payload.substr(2 + length);
    const auto size = static_cast<long long>(GetNumber(rest, 8));
    const std::uint64_t date = GetNumber(rest.substr(16), 8);
    entry.FirstSeen = static_cast<long long>(GetNumber(rest.substr(8), 8));
    rest.remove_prefix(24);
    if (size < 0 || !TakeText(rest, entry.Subject) || !TakeText(rest, entry.From) || rest.size() > THeaderCache::MaxHeader)
        return false;   // never written so
    entry.Size = size;
    entry.Date = date == NoDate ? std::nullopt : std::optional<long long>(static_cast<long long>(date));
    entry.Header = rest;
    return true;
}

}

// The bytes the reader walks through: bytes in memory, or a file read in pieces into a
// buffer that holds the record in hand (and what was read past it), never the whole file.
class TCacheSource {
public:
    explicit TCacheSource(std::string_view bytes) : FBytes(bytes) {}
    explicit TCacheSource(int file) : FFile(file) {}

    // The bytes from the reading position on: at least `want` of them unless the data ends
    // first. Valid until the next call.
    std::string_view Ahead(std::size_t want)
    {
        if (FFile < 0)
            return FBytes.substr(FAt);
        if (FBuffer.size() - FAt < want && !FEnd) {
            FBuffer.erase(0, FAt);
            FAt = 0;
            while (FBuffer.size() < want && !FEnd)
                ReadMore(std::max(want - FBuffer.size(), Piece));
        }
        return std::string_view(FBuffer).substr(FAt);
    }
    void Skip(std::size_t n)
    {
        FAt += n;
        FOffset += n;
    }
    std::size_t Offset() const { return FOffset; }
    bool Failed() const { return FFailed; }

private:
    static constexpr std::size_t Piece = 64u << 10;

    void ReadMore(std::size_t n)
    {
        const std::size_t had = FBuffer.size();
        FBuffer.resize(had + n);
        ssize_t got;
        do
            got = ::read(FFile, FBuffer.data() + had, n);
        while (got < 0 && errno == EINTR);
        FBuffer.resize(had + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        FEnd = got <= 0;
        FFailed = got < 0;
    }

    std::string_view FBytes;
    int FFile = -1;
    std::string FBuffer;
    std::size_t FAt = 0;       // the reading position in FBytes or FBuffer
    std::size_t FOffset = 0;   // and from the start of the data
    bool FEnd = false;
    bool FFailed = false;
};

THeaderCache::THeaderCache(std::string fileName, std::string key) : FFileName(std::move(fileName)), FKey(std::move(key)) {}

THeaderCache::~THeaderCache()
{
    Flush();
    Close();
}

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

TCacheState THeaderCache::ReadRecords(TCacheSource& in, std::size_t& good, const TEntrySink& each)
{
    good = 0;
    std::string_view bytes = in.Ahead(Signature.size());
    if (bytes.size() < Signature.size())
        return Signature.substr(0, bytes.size()) == bytes ? TCacheState::TornTail : TCacheState::Damaged;
    if (bytes.substr(0, Signature.size()) != Signature)
        return TCacheState::Damaged;
    in.Skip(Signature.size());
    bool keyed = false;
    TCacheEntry entry;
    for (;;) {
        good = in.Offset();
        bytes = in.Ahead(8);
        if (bytes.empty())
            break;
        if (bytes.size() < 8)
            return keyed ? TCacheState::TornTail : TCacheState::Damaged;
        const std::size_t length = GetNumber(bytes, 4);
        if (length > MaxPayload || length == 0)
            return TCacheState::Damaged;
        // One byte more than the record, to know whether it is the last.
        bytes = in.Ahead(8 + length + 1);
        if (bytes.size() < 8 + length)
            return keyed ? TCacheState::TornTail : TCacheState::Damaged;
        const std::string_view payload = bytes.substr(8, length);
        // A record whose bytes were never all written shows only at the very end.
        if (Crc(payload) != GetNumber(bytes.substr(4), 4))
            return keyed && bytes.size() == 8 + length ? TCacheState::TornTail : TCacheState::Damaged;
        if (!keyed) {
            if (payload[0] != KeyRecord || payload.substr(1) != FKey)
                return TCacheState::Damaged;
            keyed = true;
        } else {
            if (!ReadEntry(payload, entry))
                return TCacheState::Damaged;
            ++FRecords;
            each(entry);
        }
        in.Skip(8 + length);
    }
    return keyed ? TCacheState::Whole : TCacheState::TornTail;
}

TCacheState THeaderCache::Walk(TCacheSource& in, std::size_t& good, const TEntrySink& each)
{
    FRecords = 0;
    TCacheState state = ReadRecords(in, good, each);
    if (in.Failed())
        state = TCacheState::Missing;
    if (state == TCacheState::Missing || state == TCacheState::Damaged)
        FRecords = 0;
    return state;
}

THeaderCache::TEntrySink THeaderCache::IntoEntries()
{
    Entries.clear();
    return [this](const TCacheEntry& e) {
        Entries.insert_or_assign(std::string(e.Uidl), TCachedHeader{e.Size, e.FirstSeen, std::string(e.Header),
                                                                    std::string(e.Subject), std::string(e.From), e.Date});
    };
}

TCacheState THeaderCache::Parse(std::string_view bytes, std::size_t& good)
{
    TCacheSource in(bytes);
    const TCacheState state = Walk(in, good, IntoEntries());
    if (state == TCacheState::Damaged)
        Entries.clear();
    return state;
}

TCacheState THeaderCache::Read(const TEntrySink& each)
{
    Flush();
    Close();
    FCut = false;
    FGood = 0;
    FRecords = 0;
    const int file = ::open(FFileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return TCacheState::Missing;
    TCacheSource in(file);
    const TCacheState state = Walk(in, FGood, each);
    ::close(file);
    if (state == TCacheState::Damaged)
        ::unlink(FFileName.c_str());   // built anew by the appends that follow
    FCut = state == TCacheState::TornTail;
    return state;
}

TCacheState THeaderCache::Load()
{
    const TCacheState state = Read(IntoEntries());
    if (state == TCacheState::Missing || state == TCacheState::Damaged)
        Entries.clear();
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
    const auto now = std::chrono::steady_clock::now();
    if (FPending.empty())
        FPendingSince = now;
    std::string payload;
    AppendEntry(FPending, entry, payload);
    if (FPending.size() < GatherBytes && now - FPendingSince < GatherTime)
        return true;
    return Flush();
}

bool THeaderCache::Flush()
{
    if (FPending.empty() || FFile < 0)
        return !FStopped;
    const bool written = WriteWhole(FFile, FPending);
    if (written) {
        FSize += static_cast<long long>(FPending.size());
    } else {
        // What went out of it is cut away again: the file ends with a whole record.
        if (::ftruncate(FFile, FSize) != 0)
            ::unlink(FFileName.c_str());
        Close();
        FStopped = true;
    }
    FPending.clear();
    return written;
}

bool THeaderCache::Rewrite(const std::vector<TCacheEntry>& entries)
{
    Flush();   // kept should the new file fail
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
    FPending.clear();
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
