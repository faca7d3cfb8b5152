// Kanji code detection and the conversions between JIS, Shift-JIS and EUC-JP.
// The loops write through a raw pointer into a string sized in advance: these functions
// run over every line shown and must stay well ahead of a table-driven converter.
#include "jconv/Jconvert.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

namespace Jconvert {

int STRICT_CHECK_LEN = 512;

namespace {

using u8 = unsigned char;

constexpr u8 ESC = 0x1B;

// Second byte of the full-width JIS X 0208 form of each half-width katakana byte 0xA1..0xDF;
// the first byte is 0x21 for the symbols and 0x25 for the katakana.
constexpr u8 KanaCell[63] = {
    0x23, 0x56, 0x57, 0x22, 0x26, 0x72, 0x21, 0x23, 0x25, 0x27, 0x29, 0x63, 0x65, 0x67, 0x43,  // A1-AF
    0x3C, 0x22, 0x24, 0x26, 0x28, 0x2A, 0x2B, 0x2D, 0x2F, 0x31, 0x33, 0x35, 0x37, 0x39, 0x3B, 0x3D,  // B0-BF
    0x3F, 0x41, 0x44, 0x46, 0x48, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x52, 0x55, 0x58, 0x5B, 0x5E,  // C0-CF
    0x5F, 0x60, 0x61, 0x62, 0x64, 0x66, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6F, 0x73, 0x2B, 0x2C,  // D0-DF
};

inline bool IsHalfKana(u8 b) { return b >= 0xA1 && b <= 0xDF; }

// The full-width JIS code (high byte first) of half-width katakana byte `kana`, given the byte
// that would be its sound mark (0xDE voiced, 0xDF semi-voiced, anything else none).
// `markUsed` tells whether the mark was folded into the character.
inline unsigned KanaToJis(u8 kana, u8 mark, bool& markUsed)
{
    const u8 k = kana & 0x7F;
    const u8 cell = KanaCell[k - 0x21];
    markUsed = false;
    if (k <= 0x25 || k == 0x30 || k >= 0x5E)
        return 0x2100u | cell;
    if (mark == 0xDE) {
        if (k == 0x33) {
            markUsed = true;
            return 0x2574u;
        }
        if ((k >= 0x36 && k <= 0x44) || (k >= 0x4A && k <= 0x4E)) {
            markUsed = true;
            return 0x2500u | u8(cell + 1);
        }
    } else if (mark == 0xDF && k >= 0x4A && k <= 0x4E) {
        markUsed = true;
        return 0x2500u | u8(cell + 2);
    }
    return 0x2500u | cell;
}

// The pair arithmetic, tabulated: the branches on the parity of the row and the range of
// the second byte are unpredictable on real text, table look-ups are not.
struct PairTables {
    u8 sjisFirst[256];        // by j1
    u8 sjisSecond[2][256];    // by parity of j1, then j2
    u8 jisRowTimesTwo[256];   // by s1: t
    u8 jisFirstLess[256];     // by s2: 1 when the first JIS byte is t - 1
    u8 jisSecond[256];        // by s2
};

constexpr PairTables MakePairTables()
{
    PairTables t{};
    for (int b = 0; b < 256; ++b) {
        t.sjisFirst[b] = u8((u8(b + 1) >> 1) + (b < 0x5F ? 0x70 : 0xB0));
        t.sjisSecond[0][b] = u8(b + 0x7E);
        t.sjisSecond[1][b] = u8(b + (b <= 0x5F ? 0x1F : 0x20));
        t.jisRowTimesTwo[b] = u8((b < 0xA0 ? b - 0x70 : b - 0xB0) * 2);
        t.jisFirstLess[b] = b < 0x9F ? 1 : 0;
        t.jisSecond[b] = u8(b < 0x9F ? (b > 0x7F ? b - 0x20 : b - 0x1F) : b - 0x7E);
    }
    return t;
}

constexpr PairTables Pair = MakePairTables();

inline void PutSjis(char*& o, u8 j1, u8 j2)
{
    o[0] = char(Pair.sjisFirst[j1]);
    o[1] = char(Pair.sjisSecond[j1 & 1][j2]);
    o += 2;
}

// JIS code of a Shift-JIS pair, high byte first.
inline unsigned JisOf(u8 s1, u8 s2)
{
    return unsigned(u8(Pair.jisRowTimesTwo[s1] - Pair.jisFirstLess[s2])) << 8 | Pair.jisSecond[s2];
}

// Output of a conversion that can grow beyond its input (the JIS writers, sjis2euc). Room is checked
// once per input character for the largest thing one character can write.
class Growing {
public:
    explicit Growing(std::size_t expected) : buf_(expected + 16, '\0'), o_(buf_.data()), end_(o_ + buf_.size()) {}
    char*& Ensure(std::size_t room)
    {
        if (std::size_t(end_ - o_) < room) {
            const std::size_t used = std::size_t(o_ - buf_.data());
            buf_.resize(buf_.size() * 2 + room);
            o_ = buf_.data() + used;
            end_ = buf_.data() + buf_.size();
        }
        return o_;
    }
    std::string Take()
    {
        buf_.resize(std::size_t(o_ - buf_.data()));
        return std::move(buf_);
    }

private:
    std::string buf_;
    char* o_;
    char* end_;
};

inline void PutDesignator(char*& o, char final1, char final2)
{
    o[0] = char(ESC);
    o[1] = final1;
    o[2] = final2;
    o += 3;
}

// Both JIS readers: the mode switching. `doubleByteRun` converts double-byte text from i up
// to the next ESC that starts a unit (the first unit is taken whatever it is: it directly
// follows a designator) and returns the position after it.
template <class DoubleByteRun>
std::string ReadJis(std::string_view text, DoubleByteRun doubleByteRun)
{
    const u8* p = reinterpret_cast<const u8*>(text.data());
    const std::size_t n = text.size();
    std::string out(n, '\0');  // designators are dropped, nothing grows
    char* const start = out.data();
    char* o = start;
    bool dbl = false;
    std::size_t i = 0;
    while (i < n) {
        if (p[i] == ESC) {
            const u8 c = i + 1 < n ? p[i + 1] : 0;
            if (c == '$')
                dbl = true;
            else if (c == '(')
                dbl = false;
            // The designator is three bytes; the byte after it is taken as ordinary text.
            if (i + 3 >= n)
                break;
            i += 3;
            if (!dbl)
                *o++ = char(p[i++]);
        }
        if (dbl) {
            i = doubleByteRun(o, p, i, n);
        } else {
            // Single-byte text is copied up to the next ESC in one go.
            const void* esc = std::memchr(p + i, ESC, n - i);
            const std::size_t stop = esc ? std::size_t(static_cast<const u8*>(esc) - p) : n;
            std::memcpy(o, p + i, stop - i);
            o += stop - i;
            i = stop;
        }
    }
    out.resize(std::size_t(o - start));
    return out;
}

// Both JIS writers. `eightBit` handles a byte >= 0x80 at i, already in double-byte mode,
// and returns the bytes used; `starts` tells whether that byte makes a character at all
// (a byte that makes none is dropped without a designator).
template <class Starts, class EightBit>
std::string WriteJis(std::string_view text, Starts starts, EightBit eightBit)
{
    const u8* p = reinterpret_cast<const u8*>(text.data());
    const std::size_t n = text.size();
    Growing out(n + n / 4);
    bool dbl = false;
    std::size_t i = 0;
    while (i < n) {
        char*& o = out.Ensure(8);
        const u8 b = p[i];
        if (b < 0x80) {
            if (dbl) {
                PutDesignator(o, '(', 'J');
                dbl = false;
            }
            *o++ = char(b);
            ++i;
            continue;
        }
        if (!starts(p, i, n)) {
            ++i;
            continue;
        }
        if (!dbl) {
            PutDesignator(o, '$', 'B');
            dbl = true;
        }
        i += eightBit(o, p, i, n);
    }
    return out.Take();
}

inline void PutJis(char*& o, unsigned jis)
{
    o[0] = char(jis >> 8);
    o[1] = char(jis & 0xFF);
    o += 2;
}

// A Shift-JIS kana before a lead byte E0..EF, or two EUC-JP bytes: the rest of the 8-bit
// run from `j` decides, while `result` is still JCODE_EUCORSJIS. Returns where it stopped.
std::size_t DecideRun(const u8* p, std::size_t j, std::size_t n, int& result)
{
    for (; j < n && p[j] >= 0x40 && result == JCODE_EUCORSJIS; ++j) {
        const u8 x = p[j];
        if ((x >= 0x81 && x <= 0x8D) || (x >= 0x8F && x <= 0x9C))
            result = JCODE_SJIS;
        else if (x == 0xFD || x == 0xFE)
            result = JCODE_EUC;
    }
    return j;
}

}  // namespace

int InCodeCheck(std::string_view text)
{
    const u8* p = reinterpret_cast<const u8*>(text.data());
    const std::size_t n = text.size();
    if (n == 0)
        return JCODE_ASCII;

    // Binary bytes among the leading ones; the last byte of the text is never looked at.
    const int limit = STRICT_CHECK_LEN;
    if (limit > 0) {
        const std::size_t m = std::min<std::size_t>(std::size_t(limit), n - 1);
        for (std::size_t i = 0; i < m; ++i)
            if (p[i] < 0x08 || p[i] == 0xFF)
                return JCODE_BINARY;
    }

    int result = JCODE_ASCII;
    std::size_t i = 0;
    while ((result == JCODE_ASCII || result == JCODE_EUCORSJIS) && i + 1 < n) {
        const u8 b = p[i];
        if (b == ESC) {
            if (p[i + 1] == '$') {
                const u8 d = i + 2 < n ? p[i + 2] : 0;
                if (d == 'B')
                    result = JCODE_JIS83;
                else if (d == '@')
                    result = JCODE_JIS78;
                i += 3;
            } else {
                i += 2;
            }
            continue;
        }
        if (b < 0x08 || b == 0xFF)
            return JCODE_BINARY;
        if (b <= 0x80 || b == 0xA0) {
            ++i;
            continue;
        }
        if (b <= 0x9F && b != 0x8E)
            return JCODE_SJIS;
        if (b >= 0xF0)
            return JCODE_EUC;
        const u8 c = p[i + 1];
        if (b == 0x8E) {
            if ((c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xA0) || (c >= 0xE0 && c <= 0xFC))
                result = JCODE_SJIS;
            else if (IsHalfKana(c))
                result = JCODE_EUCORSJIS;
        } else if (b <= 0xDF) {  // 0xA1..0xDF
            if (c >= 0xF0 && c <= 0xFE) {
                result = JCODE_EUC;
            } else if (c >= 0xA1 && c <= 0xEF) {
                result = JCODE_EUCORSJIS;
                if (c >= 0xE0) {
                    i = DecideRun(p, i + 2, n, result) + 1;  // the byte that ended the look-ahead goes with it
                    continue;
                }
            } else if (c <= 0x9F) {
                result = JCODE_SJIS;
            }
        } else {  // 0xE0..0xEF
            if ((c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xA0))
                result = JCODE_SJIS;
            else if (c == 0xFD || c == 0xFE)
                result = JCODE_EUC;
            else if (c >= 0xA1 && c <= 0xFC)
                result = JCODE_EUCORSJIS;
        }
        i += 2;
    }
    return result;
}

std::string ToSjis(unsigned char j1, unsigned char j2)
{
    std::string out(2, '\0');
    char* o = out.data();
    PutSjis(o, j1, j2);
    return out;
}

std::string ToJis(unsigned char s1, unsigned char s2)
{
    const unsigned jis = JisOf(s1, s2);
    return std::string{char(jis >> 8), char(jis & 0xFF)};
}

std::string jis2euc(std::string_view text)
{
    return ReadJis(text, [](char*& o, const u8* p, std::size_t i, std::size_t n) {
        do {
            const u8 b = p[i++];
            *o++ = char(b >= 0x21 && b <= 0x7E ? b | 0x80 : b);
        } while (i < n && p[i] != ESC);
        return i;
    });
}

std::string jis2sjis(std::string_view text)
{
    return ReadJis(text, [](char*& o, const u8* p, std::size_t i, std::size_t n) {
        do {
            if (i + 1 >= n)
                return n;  // half a character at the end: dropped
            PutSjis(o, p[i], p[i + 1]);
            i += 2;
        } while (i < n && p[i] != ESC);
        return i;
    });
}

std::string euc2jis83(std::string_view text)
{
    return WriteJis(
        text,
        [](const u8* p, std::size_t i, std::size_t n) {
            // 0x8E must introduce a half-width katakana; a lead byte needs its second byte.
            if (p[i] == 0x8E)
                return i + 1 < n && IsHalfKana(p[i + 1]);
            return i + 1 < n;
        },
        [](char*& o, const u8* p, std::size_t i, std::size_t n) -> std::size_t {
            if (p[i] == 0x8E) {
                const bool marked = i + 3 < n && p[i + 2] == 0x8E;
                bool used = false;
                PutJis(o, KanaToJis(p[i + 1], marked ? p[i + 3] : 0, used));
                return used ? 4 : 2;
            }
            o[0] = char(p[i] & 0x7F);
            o[1] = char(p[i + 1] & 0x7F);
            o += 2;
            return 2;
        });
}

std::string sjis2jis83(std::string_view text)
{
    return WriteJis(
        text,
        [](const u8* p, std::size_t i, std::size_t n) { return IsHalfKana(p[i]) || i + 1 < n; },
        [](char*& o, const u8* p, std::size_t i, std::size_t n) -> std::size_t {
            if (IsHalfKana(p[i])) {
                bool used = false;
                PutJis(o, KanaToJis(p[i], i + 1 < n ? p[i + 1] : 0, used));
                return used ? 2 : 1;
            }
            PutJis(o, JisOf(p[i], p[i + 1]));
            return 2;
        });
}

std::string euc2sjis(std::string_view text)
{
    const u8* p = reinterpret_cast<const u8*>(text.data());
    const std::size_t n = text.size();
    std::string out(n, '\0');
    char* const start = out.data();
    char* o = start;
    std::size_t i = 0;
    while (i < n) {
        const u8 b = p[i];
        if (b <= 0x80 || b == 0xFF) {
            *o++ = char(b);
            ++i;
            continue;
        }
        if (i + 1 >= n)
            break;  // half a character at the end: dropped
        if (b == 0x8E)
            *o++ = char(p[i + 1]);  // half-width katakana stay half-width
        else
            PutSjis(o, b & 0x7F, p[i + 1] & 0x7F);
        i += 2;
    }
    out.resize(std::size_t(o - start));
    return out;
}

std::string sjis2euc(std::string_view text)
{
    const u8* p = reinterpret_cast<const u8*>(text.data());
    const std::size_t n = text.size();
    Growing out(n + n / 16);  // only half-width katakana grow, and they are rare
    std::size_t i = 0;
    while (i < n) {
        char*& o = out.Ensure(2);
        const u8 b = p[i];
        if (b <= 0x7F) {
            *o++ = char(b);
            ++i;
        } else if (IsHalfKana(b)) {
            o[0] = char(0x8E);
            o[1] = char(b);
            o += 2;
            ++i;
        } else if (i + 1 >= n) {
            break;  // half a character at the end: dropped
        } else {
            const unsigned jis = JisOf(b, p[i + 1]);
            o[0] = char((jis >> 8) | 0x80);
            o[1] = char((jis & 0xFF) | 0x80);
            o += 2;
            i += 2;
        }
    }
    return out.Take();
}

std::string StrictConvertJCode(std::string_view text, int source, int target)
{
    if (source <= JCODE_BINARY || source == target || source == JCODE_EUCORSJIS)
        return std::string(text);
    if (target != JCODE_JIS83 && target != JCODE_EUC && target != JCODE_SJIS)
        return std::string(text);
    switch (source) {
    case JCODE_JIS83:
    case JCODE_JIS78:
        if (target == JCODE_EUC)
            return jis2euc(text);
        if (target == JCODE_SJIS)
            return jis2sjis(text);
        return std::string(text);  // JIS78 to JIS83: left as it is
    case JCODE_EUC:
        return target == JCODE_JIS83 ? euc2jis83(text) : euc2sjis(text);
    case JCODE_SJIS:
        return target == JCODE_JIS83 ? sjis2jis83(text) : sjis2euc(text);
    default:
        return std::string();  // unknown source code
    }
}

std::string ConvertJCode(std::string_view text, int target)
{
    return StrictConvertJCode(text, InCodeCheck(text), target);
}

}  // namespace Jconvert
