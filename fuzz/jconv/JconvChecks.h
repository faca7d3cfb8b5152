#pragma once
// The checks the jconv fuzz targets run on each input, one function per family. A broken
// property is reported through `fail`; the fuzz targets abort there, and the regression test
// in tests/jconv replays every committed fault input through all of them.
#include "fuzz/Check.h"
#include "jconv/Jconvert.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace JconvChecks {

using FuzzCheck::Fail;
using FuzzCheck::Require;

// Non-overlapping occurrences, left to right.
inline std::size_t Occurrences(std::string_view text, std::string_view what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

// Plain references for the functions whose fast forms are furthest from the rules they
// follow: each walks its input exactly as the rules read, however slowly.
namespace Reference {

// JIS readers: designators of three bytes, the byte after one taken as ordinary text, a
// double-byte unit per byte (EUC-JP) or per pair (Shift-JIS, a lone last byte dropped).
inline std::string ReadJis(std::string_view t, bool toSjis)
{
    std::string out;
    bool dbl = false;
    bool afterDesignator = false;
    for (std::size_t i = 0; i < t.size();) {
        const auto b = static_cast<unsigned char>(t[i]);
        if (b == 0x1B && !afterDesignator) {
            const char c = i + 1 < t.size() ? t[i + 1] : '\0';
            dbl = c == '$' ? true : c == '(' ? false : dbl;
            if (i + 3 >= t.size())
                break;
            i += 3;
            afterDesignator = true;
            continue;
        }
        afterDesignator = false;
        if (!dbl) {
            out += char(b);
            ++i;
        } else if (!toSjis) {
            out += char(b >= 0x21 && b <= 0x7E ? b | 0x80 : b);
            ++i;
        } else {
            if (i + 1 >= t.size())
                break;
            out += Jconvert::ToSjis(b, static_cast<unsigned char>(t[i + 1]));
            i += 2;
        }
    }
    return out;
}

// Header words: delete and insert in place, and search again from the first byte.
inline std::string DecodeHeaderString(std::string_view value)
{
    std::string result(value), search(value);
    for (char& c : search)
        c = c >= 'a' && c <= 'z' ? char(c - 32) : c;
    for (std::size_t a; (a = search.find("=?ISO-2022-JP?B?")) != std::string::npos;) {
        result.erase(a, 16);
        search.erase(a, 16);
        const std::size_t e = result.find("?=", a);
        if (e == std::string::npos)
            continue;
        const std::string decoded = Jconvert::DecodeBase64(result.substr(a, e - a));
        result.erase(a, e - a + 2);
        search.erase(a, e - a + 2);
        result.insert(a, decoded);
        search.insert(a, decoded);
    }
    return result;
}

// Base64: groups of four taken character by character (line breaks skipped where a group
// begins and read as "=" inside one, other bytes outside the alphabet skipped), never more
// bytes than the length computed from the input.
inline std::string DecodeBase64(std::string_view t)
{
    const auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        if (c == '=' || c == '\r' || c == '\n') return 255;
        return -1;
    };
    std::size_t m = 0;
    for (char c : t)
        m += c != '\r' && c != '\n' && c != '=';
    const std::size_t length = m / 4 * 3 + (m % 4 != 0 ? m % 4 - 1 : 0);
    std::string out;
    for (std::size_t i = 0; i < t.size();) {
        if (t[i] == '\r' || t[i] == '\n' || value(t[i]) < 0) {
            ++i;
            continue;
        }
        int v[4] = {255, 255, 255, 255};
        int k = 0;
        for (; k < 4 && i < t.size(); ++i)
            if (value(t[i]) >= 0)
                v[k++] = value(t[i]);
        if (k < 2)
            break;
        const unsigned char bytes[3] = {static_cast<unsigned char>(v[0] << 2 | v[1] >> 4),
                                        static_cast<unsigned char>(v[1] << 4 | v[2] >> 2),
                                        static_cast<unsigned char>(v[2] << 6 | v[3])};
        const int count = v[2] == 255 ? 1 : v[3] == 255 ? 2 : 3;
        for (int b = 0; b < count && out.size() < length; ++b)
            out += char(bytes[b]);
    }
    return out;
}

}  // namespace Reference

// Converters: every dispatcher path and every text conversion on arbitrary bytes. The first
// byte (when there is one) also sets STRICT_CHECK_LEN for this input.
inline void Converters(std::string_view data, Fail fail)
{
    using namespace Jconvert;
    const int saved = STRICT_CHECK_LEN;
    if (!data.empty()) {
        STRICT_CHECK_LEN = int(static_cast<unsigned char>(data[0])) * 4 - 8;
        data.remove_prefix(1);
    }
    const std::size_t n = data.size();
    const int code = InCodeCheck(data);
    Require(code >= JCODE_ASCII && code <= JCODE_EUCORSJIS, "InCodeCheck out of range", fail);
    for (int target = -1; target <= 7; ++target) {
        const std::string converted = ConvertJCode(data, target);
        Require(converted == StrictConvertJCode(data, code, target), "ConvertJCode differs from its detected source", fail);
        if (target != JCODE_JIS83 && target != JCODE_EUC && target != JCODE_SJIS)
            Require(converted == data, "ConvertJCode changed text for a target it does not convert to", fail);
        for (int source = -1; source <= 7; ++source)
            (void)StrictConvertJCode(data, source, target);
    }
    // Readers of JIS and euc2sjis never grow; sjis2euc at most doubles; the JIS writers write
    // at most a designator and two bytes per input byte.
    Require(jis2euc(data) == Reference::ReadJis(data, false), "jis2euc differs from the plain reading", fail);
    Require(jis2sjis(data) == Reference::ReadJis(data, true), "jis2sjis differs from the plain reading", fail);
    Require(jis2euc(data).size() <= n, "jis2euc grew", fail);
    Require(jis2sjis(data).size() <= n, "jis2sjis grew", fail);
    Require(euc2sjis(data).size() <= n, "euc2sjis grew", fail);
    Require(sjis2euc(data).size() <= 2 * n, "sjis2euc more than doubled", fail);
    Require(sjis2jis83(data).size() <= 5 * n, "sjis2jis83 too long", fail);
    Require(euc2jis83(data).size() <= 5 * n, "euc2jis83 too long", fail);
    if (n >= 2) {
        const auto a = static_cast<unsigned char>(data[0]), b = static_cast<unsigned char>(data[1]);
        Require(Jconvert::ToSjis(a, b).size() == 2 && Jconvert::ToJis(a, b).size() == 2, "pair not two bytes", fail);
    }
    STRICT_CHECK_LEN = saved;
}

// Line ends: the detected kind, and each conversion's length from the occurrences it replaces.
inline void LineEnds(std::string_view data, Fail fail)
{
    using namespace Jconvert;
    static constexpr std::string_view kSequence[] = {"", "\r\n", "\r", "\n"};
    const int kind = ReturnCodeCheck(data);
    Require(kind >= RCODE_NONE && kind <= RCODE_LF, "ReturnCodeCheck out of range", fail);
    Require(ConvertReturnCode(data, kind) == data, "converting to the detected kind changed the text", fail);
    for (int source = -1; source <= 4; ++source) {
        for (int target = -1; target <= 4; ++target) {
            const std::string out = StrictConvertReturnCode(data, source, target);
            if (source < RCODE_CRLF || source > RCODE_LF || source == target) {
                Require(out == data, "StrictConvertReturnCode changed text it must leave", fail);
                continue;
            }
            const std::string_view from = kSequence[source];
            const std::string_view to = target >= RCODE_CRLF && target <= RCODE_LF ? kSequence[target] : "";
            const std::size_t count = Occurrences(data, from);
            Require(out.size() == data.size() - count * from.size() + count * to.size(), "line-end conversion length", fail);
            if (source == kind)
                Require(out == ConvertReturnCode(data, target), "ConvertReturnCode differs from its detected source", fail);
        }
    }
}

// The result length each decoder computes from its input first.
inline std::size_t DecodedLength(std::size_t m) { return m / 4 * 3 + (m % 4 != 0 ? m % 4 - 1 : 0); }

// Decoders: arbitrary input stays within the computed length; encoded input decodes back to
// exactly the bytes encoded, at exactly the computed length.
inline void Decoders(std::string_view data, Fail fail)
{
    using namespace Jconvert;
    const auto isBreak = [](char c) { return c == '\r' || c == '\n'; };
    const std::size_t breaks = std::size_t(std::count_if(data.begin(), data.end(), isBreak));
    const std::size_t base64Chars = data.size() - breaks - std::size_t(std::count(data.begin(), data.end(), '='));
    const std::string base64 = DecodeBase64(data);
    Require(base64.size() <= DecodedLength(base64Chars), "DecodeBase64 beyond its length", fail);
    Require(base64 == Reference::DecodeBase64(data), "DecodeBase64 differs from the plain reading", fail);
    Require(DecodeBinHex(data).size() <= DecodedLength(data.size() >= breaks + 2 ? data.size() - breaks - 2 : 0),
            "DecodeBinHex beyond its length", fail);
    std::size_t uuLength = 0;
    for (std::size_t i = 0; i < data.size();) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (isBreak(char(c))) {
            ++i;
        } else if (c == 'M') {
            uuLength += 45;
            i += 61;
        } else {
            uuLength += c == '`' || c < 0x20 ? 0 : c - 0x20;
            break;
        }
    }
    Require(DecodeUU(data).size() <= uuLength, "DecodeUU beyond its length", fail);

    Require(DecodeBase64(EncodeBase64(data)) == data, "Base64 round trip", fail);
    for (const std::string_view separator : {std::string_view("\r\n"), std::string_view("\n")}) {
        Require(DecodeBase64(EncodeBase64R(data, separator)) == data, "Base64 lines round trip", fail);
        Require(DecodeUU(EncodeUU(data, separator)) == data, "uuencode round trip", fail);
        Require(DecodeBinHex(EncodeBinHex(data, separator)) == data, "BinHex round trip", fail);
    }
    Require(EncodeBase64(data).size() == (data.size() + 2) / 3 * 4, "EncodeBase64 length", fail);
}

// A Shift-JIS text of printable ASCII, line ends and JIS X 0208 characters (rows 1 to 94),
// built from arbitrary bytes without the conversions under test.
inline std::string ShiftJisText(std::string_view data, bool lineEnds)
{
    std::string text;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        if (b & 0x80) {
            const unsigned row = b % 47;  // lead bytes 81..9F and E0..EF
            const unsigned lead = row < 31 ? 0x81 + row : 0xE0 + (row - 31);
            const unsigned cell = i + 1 < data.size() ? static_cast<unsigned char>(data[++i]) % 188 : 0;
            const unsigned trail = cell < 63 ? 0x40 + cell : 0x80 + (cell - 63);  // 40..7E, 80..FC
            text += char(lead);
            text += char(trail);
        } else if (lineEnds && b == 0x7F) {
            text += "\r\n";
        } else if (lineEnds && b == 0x7E) {
            text += '\n';
        } else {
            text += char(0x20 + b % 0x5F);
        }
    }
    return text;
}

// jis2sjis(sjis2jis83(x)) gives x back, and the other conversions agree with it.
inline void RoundTrip(std::string_view data, Fail fail)
{
    using namespace Jconvert;
    const std::string x = ShiftJisText(data, true);
    const std::string jis = sjis2jis83(x);
    Require(jis2sjis(jis) == x, "jis2sjis(sjis2jis83(x)) != x", fail);
    const std::string euc = sjis2euc(x);
    Require(euc2sjis(euc) == x, "euc2sjis(sjis2euc(x)) != x", fail);
    Require(jis2euc(jis) == euc, "jis2euc(sjis2jis83(x)) != sjis2euc(x)", fail);
    Require(euc2jis83(euc) == jis, "euc2jis83(sjis2euc(x)) != sjis2jis83(x)", fail);
    Require(std::all_of(jis.begin(), jis.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }), "JIS text not 7-bit", fail);
}

// Header words: decoding only shrinks a value and leaves a value without a prefix alone;
// a created header reads back as its text.
inline void HeaderWords(std::string_view data, Fail fail)
{
    using namespace Jconvert;
    const std::string decoded = DecodeHeaderString(data);
    Require(decoded.size() <= data.size(), "DecodeHeaderString grew", fail);
    Require(decoded == Reference::DecodeHeaderString(data), "DecodeHeaderString differs from the in-place rewrite", fail);
    std::string upper(data);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; });
    if (upper.find("=?ISO-2022-JP?B?") == std::string::npos)
        Require(decoded == data, "DecodeHeaderString changed a value without a word", fail);
    (void)CreateHeaderString(data);

    // Text without "?" cannot hold a prefix of its own; its JIS bytes could spell one, which
    // the decoder would rightly decode again, so such texts are left out.
    std::string x = ShiftJisText(data, true);
    std::replace(x.begin(), x.end(), '?', '!');
    if (sjis2jis83(x).find("=?") != std::string::npos)
        return;
    const std::string header = CreateHeaderString(x);
    Require(std::all_of(header.begin(), header.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }), "header not 7-bit", fail);
    Require(ConvertJCode(DecodeHeaderString(header), JCODE_SJIS) == x, "created header does not read back", fail);
}

inline void All(std::string_view data, Fail fail)
{
    Converters(data, fail);
    LineEnds(data, fail);
    Decoders(data, fail);
    RoundTrip(data, fail);
    HeaderWords(data, fail);
}

}  // namespace JconvChecks
