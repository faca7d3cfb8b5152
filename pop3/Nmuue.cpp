#include "pop3/Nmuue.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "runtime/Exception.h"

const unsigned char base64Table[80] = {
    62,  127, 127, 127, 63,                                          // + , - . /
    52,  53,  54,  55,  56,  57,  58,  59,  60,  61,                 // 0 to 9
    127, 127, 127, 64,  127, 127, 127,                               // : ; < = > ? @
    0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  // A to M
    13,  14,  15,  16,  17,  18,  19,  20,  21,  22,  23,  24,  25,  // N to Z
    127, 127, 127, 127, 127, 127,                                    // [ \ ] ^ _ `
    26,  27,  28,  29,  30,  31,  32,  33,  34,  35,  36,  37,  38,  // a to m
    39,  40,  41,  42,  43,  44,  45,  46,  47,  48,  49,  50,  51,  // n to z
};

namespace {
constexpr size_t LineLimit = 200;   // bytes looked at for one line
constexpr size_t EncodeBytes = 45;  // input bytes per encoded line
constexpr size_t Block = 65536;     // stream I/O block

TStream& Need(TStream* stream)
{
    if (stream == nullptr)
        throw Exception("Stream not assigned");
    return *stream;
}

// Cuts the next line off the front of data: at most 200 bytes are looked at; a line feed
// ends the line and takes the byte before it along. Returns the bytes used up, never more
// than avail.
size_t CutLine(const char* data, size_t avail, std::string& line)
{
    const size_t n = std::min(avail, LineLimit);
    const void* lf = n == 0 ? nullptr : std::memchr(data, '\n', n);
    if (lf == nullptr) {
        // A longer stretch is returned in pieces of 200 bytes (a multiple of a Base64
        // group), so no byte is read twice.
        line.assign(data, n);
        return n;
    }
    const size_t k = static_cast<size_t>(static_cast<const char*>(lf) - data) + 1;
    line.assign(data, k >= 2 ? k - 2 : 0);
    return k;
}

// Reads the lines of a stream as ReadLnFromStream does, but through a block buffer, so a
// large attachment costs a few reads instead of several seeks per line.
class TLineReader {
public:
    explicit TLineReader(TStream& stream) : FStream(stream), FStart(stream.Position()), FBuf(Block) {}

    void Next(std::string& line)
    {
        Fill();
        const size_t used = CutLine(FBuf.data() + FBegin, FEnd - FBegin, line);
        FBegin += used;
        FConsumed += static_cast<long long>(used);
    }
    // True when the stream has no byte left after the last line taken.
    bool AtEnd()
    {
        Fill();
        return FBegin == FEnd;
    }
    // Leaves the stream right after the last line taken.
    void Finish() { FStream.SetPosition(FStart + FConsumed); }

private:
    void Fill()
    {
        if (FEof || FEnd - FBegin >= LineLimit)
            return;
        std::memmove(FBuf.data(), FBuf.data() + FBegin, FEnd - FBegin);
        FEnd -= FBegin;
        FBegin = 0;
        while (!FEof && FEnd < LineLimit) {
            const long long n = FStream.Read(FBuf.data() + FEnd, static_cast<long long>(FBuf.size() - FEnd));
            if (n <= 0)
                FEof = true;
            else
                FEnd += static_cast<size_t>(n);
        }
    }

    TStream& FStream;
    const long long FStart;
    long long FConsumed = 0;
    std::vector<char> FBuf;
    size_t FBegin = 0, FEnd = 0;
    bool FEof = false;
};

// Collects output and writes it in blocks; a multi-MiB attachment would otherwise cost a
// system call per byte.
class TByteSink {
public:
    explicit TByteSink(TStream& stream) : FStream(stream) { FBuf.reserve(Block); }

    void Put(int b)
    {
        FBuf.push_back(static_cast<char>(b));
        if (FBuf.size() >= Block)
            Flush();
    }
    void Append(const char* data, size_t n)
    {
        FBuf.append(data, n);
        if (FBuf.size() >= Block)
            Flush();
    }
    // Writes what is held; the bytes leave the buffer first, so a failed write is not
    // written again by a later flush.
    void Flush()
    {
        std::string chunk;
        chunk.swap(FBuf);
        FBuf.reserve(Block);
        FStream.WriteBuffer(chunk.data(), static_cast<long long>(chunk.size()));
    }
    // After a failure: keep what was produced so far, as byte-by-byte output would have.
    void FlushQuietly() noexcept
    {
        try {
            Flush();
        } catch (...) {
        }
    }

private:
    TStream& FStream;
    std::string FBuf;
};

bool IsBase64(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u >= 43 && u <= 122 && base64Table[u - 43] < 64;
}

int Base64Value(char c)
{
    return base64Table[static_cast<unsigned char>(c) - 43];
}

// Decodes one Base64 line into sink; true when the data has ended (padding met).
bool DecodeBase64Line(const std::string& line, TByteSink& sink)
{
    const size_t len = line.size();
    if (len <= 2 || line.compare(0, 4, "====") == 0)
        return false;
    size_t i = 0;
    while (i + 1 < len && !IsBase64(line[i])) {
        if (line[i] == '=')
            return true;
        ++i;
    }
    // A group starts before the line's last character.
    while (i + 1 < len) {
        if (line[i] == '=')
            return true;  // stray padding where a group should start: the data has ended
        if (!IsBase64(line[i])) {
            ++i;
            continue;
        }
        // Characters outside the alphabet inside a group (blanks, a CR) are passed over;
        // a group cut short by the line's end gives the bytes its characters hold.
        char c[4];
        int got = 0;
        while (got < 4 && i < len) {
            const char ch = line[i++];
            if (IsBase64(ch) || ch == '=')
                c[got++] = ch;
        }
        if (got < 2)
            return false;
        if (c[1] == '=')
            return true;
        const int a = Base64Value(c[0]), b = Base64Value(c[1]);
        sink.Put(((a << 2) | (b >> 4)) & 255);
        if (got < 3)
            return false;
        if (c[2] == '=')
            return true;  // what follows a padded group on its line is not data
        const int cv = Base64Value(c[2]);
        sink.Put(((b << 4) | (cv >> 2)) & 255);
        if (got < 4)
            return false;
        if (c[3] == '=')
            return true;
        sink.Put(((cv << 6) | Base64Value(c[3])) & 255);
    }
    return false;
}

// Decodes one uuencode line (length character first) into sink. Characters missing at
// the line's end count as 0, the value of the blanks that transports strip, so the line
// still yields the bytes its length character announces.
void DecodeUuLine(const std::string& line, TByteSink& sink)
{
    const size_t len = line.size();
    int n = TNMUUProcessor::UuDEC(line[0]);
    size_t p = 1;
    while (n > 0) {
        int v[4];
        for (size_t k = 0; k < 4; ++k)
            v[k] = p + k < len ? TNMUUProcessor::UuDEC(line[p + k]) : 0;
        sink.Put(((v[0] << 2) | (v[1] >> 4)) & 255);
        if (n >= 2)
            sink.Put(((v[1] << 4) | (v[2] >> 2)) & 255);
        if (n >= 3)
            sink.Put(((v[2] << 6) | v[3]) & 255);
        n -= 3;
        p += 4;
    }
}

bool IsEndLine(std::string_view line)
{
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.remove_suffix(1);
    return line == "end";
}

// Runs a decoding loop and leaves both streams as a byte-by-byte decoder would: output
// written, input positioned after the last line taken, also when a stream fails.
template <typename Body>
void RunDecoder(TStream& in, TStream& out, Body body)
{
    TLineReader reader(in);
    TByteSink sink(out);
    try {
        body(reader, sink);
        sink.Flush();
    } catch (...) {
        sink.FlushQuietly();
        reader.Finish();
        throw;
    }
    reader.Finish();
}
}

TNMUUProcessor::TNMUUProcessor(TComponent* AOwner) : TComponent(AOwner)
{
    Method = uuMime;
}

void TNMUUProcessor::SetEncodeTable()
{
    std::memcpy(ExchangeTable, Method == uuCode ? UUTABLE : MimeTable, sizeof ExchangeTable);
}

int TNMUUProcessor::UuDEC(char c)
{
    return (static_cast<unsigned char>(c) - 32) & 63;
}

void TNMUUProcessor::ReadLnFromStream(TStream& Stream, std::string& Line)
{
    const long long start = Stream.Position();
    char buf[LineLimit];
    const long long got = std::max(0LL, Stream.Read(buf, LineLimit));
    const size_t used = CutLine(buf, static_cast<size_t>(got), Line);
    Stream.SetPosition(start + static_cast<long long>(used));
}

void TNMUUProcessor::Encode()
{
    TStream& in = Need(InStream);
    TStream& out = Need(OutStream);
    TByteSink sink(out);
    try {
        in.SetPosition(0);
        if (OnBeginEncode)
            OnBeginEncode(this);
        SetEncodeTable();
        const char* const t = ExchangeTable;
        const bool uu = Method == uuCode;
        // Whole blocks are read, then cut into lines of 45 bytes, so only the last line
        // can be short even when the stream hands out short reads.
        std::vector<unsigned char> block(EncodeBytes * (Block / EncodeBytes));
        char text[1 + 60 + 2];
        bool eof = false;
        while (!eof) {
            size_t have = 0;
            while (have < block.size()) {
                const long long n = in.Read(block.data() + have, static_cast<long long>(block.size() - have));
                if (n <= 0) {
                    eof = true;
                    break;
                }
                have += static_cast<size_t>(n);
            }
            for (size_t off = 0; off < have; off += EncodeBytes) {
                const size_t count = std::min(EncodeBytes, have - off);
                const unsigned char* b = block.data() + off;
                size_t o = 0;
                if (uu)
                    text[o++] = t[count & 63];
                size_t j = 0;
                for (; j + 3 <= count; j += 3) {
                    text[o++] = t[b[j] >> 2];
                    text[o++] = t[((b[j] << 4) | (b[j + 1] >> 4)) & 63];
                    text[o++] = t[((b[j + 1] << 2) | (b[j + 2] >> 6)) & 63];
                    text[o++] = t[b[j + 2] & 63];
                }
                if (count - j == 1) {
                    text[o++] = t[b[j] >> 2];
                    text[o++] = t[(b[j] << 4) & 48];
                    if (!uu) {
                        text[o++] = '=';
                        text[o++] = '=';
                    }
                } else if (count - j == 2) {
                    text[o++] = t[b[j] >> 2];
                    text[o++] = t[((b[j] << 4) & 48) | (b[j + 1] >> 4)];
                    text[o++] = t[(b[j + 1] << 2) & 60];
                    if (!uu)
                        text[o++] = '=';
                }
                text[o++] = '\r';
                text[o++] = '\n';
                sink.Append(text, o);
            }
        }
        if (uu) {
            const char closing[] = {t[0], '\r', '\n'};
            sink.Append(closing, sizeof closing);
        }
        sink.Flush();
    } catch (...) {
        sink.FlushQuietly();
        out.SetPosition(0);
        if (OnEndEncode)
            OnEndEncode(this);
        throw;
    }
    out.SetPosition(0);
    if (OnEndEncode)
        OnEndEncode(this);
}

void TNMUUProcessor::Decode()
{
    Need(InStream);
    Need(OutStream);
    if (OnBeginDecode)
        OnBeginDecode(this);
    if (Method == uuCode)
        StdDecode();
    else
        Base64Decode();
    if (OnEndDecode)
        OnEndDecode(this);
}

void TNMUUProcessor::Base64Decode()
{
    RunDecoder(Need(InStream), Need(OutStream), [](TLineReader& reader, TByteSink& sink) {
        std::string line;
        bool ended = false;
        do {
            reader.Next(line);
            ended = DecodeBase64Line(line, sink);
        } while (!ended && !reader.AtEnd());
    });
}

void TNMUUProcessor::StdDecode()
{
    RunDecoder(Need(InStream), Need(OutStream), [](TLineReader& reader, TByteSink& sink) {
        std::string line;
        do {
            reader.Next(line);
            if (line.size() <= 2)
                continue;
            // The framing lines of a mailed uuencode part: no encoder writes a length
            // character beyond "`", so these are never data, and decoding them would add
            // stray bytes to the file.
            if (line.compare(0, 6, "begin ") == 0)
                continue;
            if (IsEndLine(line))
                break;
            if (UuDEC(line[0]) == 0)
                reader.Next(line);  // the line after a zero-length line is dropped
            else
                DecodeUuLine(line, sink);
        } while (!reader.AtEnd());
    });
}
