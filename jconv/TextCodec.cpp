// Base64, uuencode and BinHex-alphabet encoders and decoders over whole byte strings.
// Every decoder sizes its result from the input first and never writes past that size:
// malformed input can make the groups ask for more bytes than the input's length allows.
#include "jconv/Jconvert.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace Jconvert {

namespace {

using u8 = unsigned char;

constexpr char Base64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char UU[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
constexpr char BinHex[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";

// Value of each input byte for the decoders. Marker is Base64's "=", which shortens a group
// and enters the arithmetic as 255; Break is CR and LF; Other is any other byte.
constexpr u8 Marker = 0xFF;
constexpr u8 Break = 0xFE;
constexpr u8 Other = 0xFD;

constexpr std::array<u8, 256> Inverse(const char* alphabet)
{
    std::array<u8, 256> t{};
    for (auto& v : t)
        v = Other;
    for (int i = 0; i < 64; ++i)
        t[u8(alphabet[i])] = u8(i);
    t['\r'] = Break;
    t['\n'] = Break;
    return t;
}

constexpr std::array<u8, 256> Base64Value = [] {
    auto t = Inverse(Base64);
    t['='] = Marker;
    return t;
}();
constexpr std::array<u8, 256> BinHexValue = Inverse(BinHex);

inline bool IsLineBreak(u8 c) { return c == '\r' || c == '\n'; }

// The four characters of the three bytes b0 b1 b2.
inline void PutQuad(char* o, const char* alphabet, u8 b0, u8 b1, u8 b2)
{
    o[0] = alphabet[b0 >> 2];
    o[1] = alphabet[((b0 & 0x03) << 4) | (b1 >> 4)];
    o[2] = alphabet[((b1 & 0x0F) << 2) | (b2 >> 6)];
    o[3] = alphabet[b2 & 0x3F];
}

// Appends the characters of a final partial group of 1 or 2 bytes (2 or 3 characters).
inline void AppendPartial(std::string& out, const char* alphabet, const u8* p, std::size_t rest)
{
    char quad[4];
    PutQuad(quad, alphabet, p[0], rest > 1 ? p[1] : 0, 0);
    out.append(quad, rest + 1);
}

// Bytes of one decoded group of values w x y z, at most `count` of them, into o.
inline std::size_t PutBytes(char* o, std::size_t count, u8 w, u8 x, u8 y, u8 z)
{
    const u8 bytes[3] = {u8(w << 2 | x >> 4), u8(x << 4 | y >> 2), u8(y << 6 | z)};
    for (std::size_t k = 0; k < count; ++k)
        o[k] = char(bytes[k]);
    return count;
}

// Result length from a count of code characters: three bytes per four, and one less than
// the characters of a final partial group.
inline std::size_t DecodedLength(std::size_t m)
{
    return m / 4 * 3 + (m % 4 != 0 ? m % 4 - 1 : 0);
}

// Room the output buffer still has, so a malformed group cannot overrun it.
inline std::size_t Room(std::size_t want, std::size_t written, std::size_t length)
{
    return std::min(want, length - written);
}

}  // namespace

std::string EncodeBase64(std::string_view bytes)
{
    return EncodeBase64R(bytes, {});  // an empty separator breaks nothing
}

std::string EncodeBase64R(std::string_view bytes, std::string_view separator)
{
    const u8* p = reinterpret_cast<const u8*>(bytes.data());
    const std::size_t n = bytes.size();
    const std::size_t groups = n / 3;
    const std::size_t rest = n - groups * 3;
    // A separator follows every 19th complete group (76 characters), never the padded one.
    std::string out(groups * 4 + groups / 19 * separator.size() + (rest != 0 ? 4 : 0), '\0');
    char* o = out.data();
    for (std::size_t g = 0; g < groups;) {
        const std::size_t line = std::min<std::size_t>(groups - g, 19);
        for (std::size_t k = 0; k < line; ++k, p += 3, o += 4)
            PutQuad(o, Base64, p[0], p[1], p[2]);
        g += line;
        if (line == 19) {
            separator.copy(o, separator.size());
            o += separator.size();
        }
    }
    if (rest != 0) {
        PutQuad(o, Base64, p[0], rest > 1 ? p[1] : 0, 0);
        o[3] = '=';
        if (rest == 1)
            o[2] = '=';
    }
    return out;
}

std::string EncodeUU(std::string_view bytes, std::string_view separator)
{
    const u8* p = reinterpret_cast<const u8*>(bytes.data());
    const std::size_t n = bytes.size();
    std::string out;
    out.reserve(n / 45 * (61 + separator.size()) + 64 + 2 * separator.size());
    char quad[4];
    std::size_t left = n;
    while (left > 0) {
        const std::size_t line = std::min<std::size_t>(left, 45);
        out += char(line + 0x20);
        std::size_t k = 0;
        for (; k + 3 <= line; k += 3) {
            PutQuad(quad, UU, p[k], p[k + 1], p[k + 2]);
            out.append(quad, 4);
        }
        if (k < line) {
            AppendPartial(out, UU, p + k, line - k);
            out.append(3 - (line - k), '`');
        }
        p += line;
        left -= line;
        if (line == 45)
            out.append(separator);  // a short last line is ended by the closing separator
    }
    out.append(separator);
    out += '`';
    out.append(separator);
    return out;
}

std::string EncodeBinHex(std::string_view bytes, std::string_view separator)
{
    const u8* p = reinterpret_cast<const u8*>(bytes.data());
    const std::size_t n = bytes.size();
    const std::size_t groups = n / 3;
    std::string out;
    out.reserve(2 + (n + 2) / 3 * 4 + (groups / 16 + 1) * separator.size());
    out += ':';
    int column = 1;
    char quad[4];
    for (std::size_t g = 0; g < groups; ++g, p += 3) {
        PutQuad(quad, BinHex, p[0], p[1], p[2]);
        out.append(quad, 3);
        if ((column += 3) == 64) {
            out.append(separator);  // lines break between the third and fourth character
            column = 0;
        }
        out += quad[3];
        ++column;
    }
    const std::size_t rest = n - groups * 3;
    if (rest != 0)
        AppendPartial(out, BinHex, p, rest);
    out += ':';
    return out;
}

std::string DecodeBase64(std::string_view text)
{
    const u8* p = reinterpret_cast<const u8*>(text.data());
    const std::size_t n = text.size();
    std::size_t m = 0;
    for (std::size_t i = 0; i < n; ++i)
        m += Base64Value[p[i]] < Break;  // everything but CR, LF and "="
    const std::size_t length = DecodedLength(m);
    std::string out(length, '\0');
    char* const o = out.data();
    std::size_t w = 0;
    std::size_t i = 0;
    while (i < n) {
        // Whole groups of alphabet characters, the common case.
        while (i + 4 <= n && w + 3 <= length) {
            const u8 a = Base64Value[p[i]], b = Base64Value[p[i + 1]], c = Base64Value[p[i + 2]],
                     d = Base64Value[p[i + 3]];
            if ((a | b | c | d) & 0xC0)
                break;
            w += PutBytes(o + w, 3, a, b, c, d);
            i += 4;
        }
        if (i >= n)
            break;
        const u8 first = Base64Value[p[i]];
        if (first == Break || first == Other) {
            ++i;  // a line break between groups, or a byte outside the alphabet: skipped
            continue;
        }
        // One group, character by character: a line break inside it is not skipped and
        // shortens the group like "=" does; bytes outside the alphabet are skipped.
        u8 v[4] = {Marker, Marker, Marker, Marker};
        int k = 0;
        while (k < 4 && i < n) {
            const u8 value = Base64Value[p[i++]];
            if (value == Other)
                continue;
            v[k++] = value == Break ? Marker : value;
        }
        if (k < 2)
            break;  // a single leftover character gives nothing
        const std::size_t want = v[2] == Marker ? 1 : v[3] == Marker ? 2 : 3;
        w += PutBytes(o + w, Room(want, w, length), v[0], v[1], v[2], v[3]);
    }
    out.resize(w);
    return out;
}

std::string DecodeUU(std::string_view text)
{
    const u8* p = reinterpret_cast<const u8*>(text.data());
    const std::size_t n = text.size();

    // Length: 45 bytes per "M" line, then the count of the first other line.
    std::size_t length = 0;
    for (std::size_t i = 0; i < n;) {
        const u8 c = p[i];
        if (IsLineBreak(c)) {
            ++i;
        } else if (c == 'M') {
            length += 45;
            i += 61;
        } else {
            length += c == '`' || c < 0x20 ? 0 : c - 0x20;
            break;
        }
    }

    std::string out(length, '\0');
    char* const o = out.data();
    std::size_t w = 0;
    int count = 0;  // bytes the current line still announces
    auto value = [&](std::size_t at) -> u8 {
        if (at >= n || p[at] == '`')
            return 0;
        return u8(p[at] - 0x20) & 0x3F;  // bytes outside the set keep their low six bits
    };
    for (std::size_t i = 0; i < n && w < length;) {
        const u8 c = p[i];
        if (IsLineBreak(c)) {
            count = 0;
            ++i;
        } else if (count == 0) {
            count = int(c) - 0x20;  // the length character of a line
            ++i;
        } else {
            const std::size_t want = count <= 1 ? 1 : count == 2 ? 2 : 3;
            w += PutBytes(o + w, Room(want, w, length), value(i), value(i + 1), value(i + 2), value(i + 3));
            count -= 3;
            i += 4;
        }
    }
    out.resize(w);
    return out;
}

std::string DecodeBinHex(std::string_view text)
{
    const u8* p = reinterpret_cast<const u8*>(text.data());
    const std::size_t n = text.size();
    const std::size_t breaks = std::size_t(std::count_if(text.begin(), text.end(), [](char c) { return IsLineBreak(u8(c)); }));
    const std::size_t m = n >= breaks + 2 ? n - breaks - 2 : 0;  // less the two ":" delimiters
    const std::size_t length = DecodedLength(m);

    std::string out(length, '\0');
    char* const o = out.data();
    std::size_t w = 0;
    // Value of the character at a position; past the end and outside the set are invalid.
    auto value = [&](std::size_t at) -> u8 { return at < n ? BinHexValue[p[at]] : Other; };
    auto valid = [](u8 v) { return v < 64; };
    std::size_t i = 1;  // the opening ":" is not read
    while (i < n) {
        const u8 v1 = value(i), v2 = value(i + 1), v3 = value(i + 2);
        if (!valid(v1) || !valid(v2))
            break;  // one character makes no byte
        i += 3;
        if (i < n && IsLineBreak(p[i])) {
            ++i;  // the encoder breaks lines between the third and fourth character
            if (i < n && p[i] == '\n')
                ++i;
        }
        const u8 v4 = value(i++);
        const std::size_t want = !valid(v3) ? 1 : !valid(v4) ? 2 : 3;
        w += PutBytes(o + w, Room(want, w, length), v1, v2, v3, v4);
        if (want < 3)
            break;
    }
    out.resize(w);
    return out;
}

}  // namespace Jconvert
