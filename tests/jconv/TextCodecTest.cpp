// Vector tables for the Base64, uuencode and BinHex-alphabet encoders and decoders.
// Each line names the rule it checks.
#include "jconv/Jconvert.h"
#include "tests/jconv/Bytes.h"

#include <gtest/gtest.h>

using namespace Jconvert;
using jconvtest::B;
using jconvtest::Hex;

namespace {

std::string Bytes(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = char(i * 37 + 11);
    return s;
}

std::string Repeat(const std::string& s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

}  // namespace

TEST(EncodeBase64, Table)
{
    const struct {
        const char* Rule;
        std::string In;
        std::string Out;
    } table[] = {
        {"empty input", "", ""},
        {"one group", "abc", "YWJj"},
        {"final single byte: two characters and ==", "a", "YQ=="},
        {"final pair: three characters and =", "ab", "YWI="},
        {"all bit positions", B("00 FF FE"), "AP/+"},
        {"no line breaks however long", std::string(300, 'x'), Repeat("eHh4", 100)},
    };
    for (const auto& c : table)
        EXPECT_EQ(EncodeBase64(c.In), c.Out) << c.Rule;
}

TEST(EncodeBase64R, SeparatorAfterEvery76Characters)
{
    const std::string crlf = "\r\n";
    const std::string e57 = EncodeBase64(Bytes(57));
    // 57 bytes: 19 complete groups fill the line, the separator ends the output.
    EXPECT_EQ(EncodeBase64R(Bytes(57), crlf), e57 + crlf);
    // 58 bytes: the padded final group is never followed by a separator.
    const std::string r58 = EncodeBase64R(Bytes(58), crlf);
    EXPECT_EQ(r58.size(), 76u + 2 + 4);
    EXPECT_EQ(r58.substr(76, 2), crlf);
    EXPECT_EQ(r58.substr(80), "==");
    // 56 bytes: 76 characters with the padded group, no separator.
    EXPECT_EQ(EncodeBase64R(Bytes(56), crlf), EncodeBase64(Bytes(56)));
    // 114 bytes: two full lines, each ended.
    const std::string r114 = EncodeBase64R(Bytes(114), crlf);
    EXPECT_EQ(r114.size(), 2 * 78u);
    EXPECT_EQ(r114.substr(154), crlf);
    // Any separator is copied as it is; an empty input gives nothing.
    EXPECT_EQ(EncodeBase64R(Bytes(57), "|"), e57 + "|");
    EXPECT_EQ(EncodeBase64R("", crlf), "");
}

TEST(EncodeUU, Table)
{
    const std::string crlf = "\r\n";
    const struct {
        const char* Rule;
        std::string In;
        std::string Out;
    } table[] = {
        {"empty input: separator, backquote, separator", "", "\r\n`\r\n"},
        {"single byte: two characters and two backquotes", "a", "!80``\r\n`\r\n"},
        {"pair: three characters and one backquote", "ab", "\"86(`\r\n`\r\n"},
        {"one group", "Cat", "#0V%T\r\n`\r\n"},
        {"zero bytes encode as backquotes", std::string(3, '\0'), "#````\r\n`\r\n"},
    };
    for (const auto& c : table)
        EXPECT_EQ(EncodeUU(c.In, crlf), c.Out) << c.Rule;

    // 45 bytes: "M", 60 characters, separator, then an empty line before the backquote line.
    const std::string full = EncodeUU(Bytes(45), crlf);
    EXPECT_EQ(full.size(), 61u + 2 + 2 + 1 + 2);
    EXPECT_EQ(full[0], 'M');
    EXPECT_EQ(full.substr(61), "\r\n\r\n`\r\n");
    // 46 bytes: a full line, then a one-byte line.
    const std::string more = EncodeUU(Bytes(46), crlf);
    EXPECT_EQ(more.substr(61, 3), "\r\n!");
    EXPECT_EQ(more.substr(68), "\r\n`\r\n");
    // Another separator.
    EXPECT_EQ(EncodeUU("a", "\n"), "!80``\n`\n");
}

TEST(EncodeBinHex, Table)
{
    const std::string crlf = "\r\n";
    EXPECT_EQ(EncodeBinHex("", crlf), "::") << "empty input";
    EXPECT_EQ(EncodeBinHex("abc", crlf), ":B@*M:") << "values 24 22 9 35 in the BinHex 4.0 set";
    EXPECT_EQ(EncodeBinHex(std::string(3, '\0'), crlf), ":!!!!:") << "value 0 is '!'";
    EXPECT_EQ(EncodeBinHex(B("FF FF FF"), crlf), ":rrrr:") << "value 63 is 'r'";
    EXPECT_EQ(EncodeBinHex("a", crlf), ":B3:") << "final single byte: two characters, no padding";
    EXPECT_EQ(EncodeBinHex("ab", crlf), ":B@):") << "final pair: three characters";

    // 48 bytes: ":" and 63 characters, the separator, the 64th character, ":".
    const std::string e48 = EncodeBinHex(Bytes(48), crlf);
    EXPECT_EQ(e48.size(), 1u + 63 + 2 + 1 + 1);
    EXPECT_EQ(e48.substr(64, 2), crlf);
    EXPECT_EQ(e48.back(), ':');
    // 47 bytes: the final partial group takes no separator; the last line reaches 65 characters.
    const std::string e47 = EncodeBinHex(Bytes(47), crlf);
    EXPECT_EQ(e47.size(), 65u);
    EXPECT_EQ(e47.find('\r'), std::string::npos);
    // 96 bytes: every full line has exactly 64 characters.
    const std::string e96 = EncodeBinHex(Bytes(96), "|");
    EXPECT_EQ(e96.find('|'), 64u);
    EXPECT_EQ(e96.find('|', 65), 64u + 1 + 64);
    EXPECT_EQ(e96.size(), 1u + 128 + 2 + 1);
}

TEST(DecodeBase64, Table)
{
    const struct {
        const char* Rule;
        std::string In;
        std::string Out;
    } table[] = {
        {"line break between groups skipped", "YWJj\r\nYQ==", "abca"},
        {"unpadded pair group", "YWI", "ab"},
        {"unpadded single-byte group", "YQ", "a"},
        {"single leftover character gives nothing", "YWJjY", "abc"},
        {"= shortens its group and ends nothing", "YQ==YWJj", "aabc"},
        {"empty input", "", ""},
        {"only line breaks", "\r\n\r\n", ""},
        {"binary bytes", "AP/+", B("00 FF FE")},
        {"padding only writes nothing beyond the computed length", "====", ""},
        {"a line break inside a group shortens it like =", "YWJjYQ\r\nYWI=", "abcaab"},
        {"bytes outside the alphabet are skipped", "YW Jj\tYQ==", "abca"},
        {"= in the second position", "Y===", ""},
    };
    for (const auto& c : table)
        EXPECT_EQ(Hex(DecodeBase64(c.In)), Hex(c.Out)) << c.Rule << ": " << c.In;
}

TEST(DecodeUU, Table)
{
    const struct {
        const char* Rule;
        std::string In;
        std::string Out;
    } table[] = {
        {"one byte and the backquote line", "!80``\r\n`\r\n", "a"},
        {"one group", "#0V%T\r\n`\r\n", "Cat"},
        {"LF line ends", "#0V%T\n`\n", "Cat"},
        {"space as value 0", "#    \r\n", std::string(3, '\0')},
        {"empty input", "", ""},
        {"backquote line only", "`\r\n", ""},
        {"the first short line ends the length", "!80``\r\n#0V%T\r\n", "a"},
        {"a short M line keeps only decoded bytes", "M0V%T\r\n", "Cat"},
        {"count above 0x60 keeps only decoded bytes", "a0V%T", "Cat"},
        {"length character below 0x20", "\t0V%T", ""},
    };
    for (const auto& c : table)
        EXPECT_EQ(Hex(DecodeUU(c.In)), Hex(c.Out)) << c.Rule;
}

TEST(DecodeBinHex, Table)
{
    const struct {
        const char* Rule;
        std::string In;
        std::string Out;
    } table[] = {
        {"one group", ":B@*M:", "abc"},
        {"empty", "::", ""},
        {"empty input", "", ""},
        {"final single byte", ":B3:", "a"},
        {"final pair", ":B@):", "ab"},
        {"':' first in a group ends decoding", ":B@*M:B@*M:", "abc"},
        {"':' second in a group writes nothing", ":B@*MB:", "abc"},
        {"':' third in a group: one byte", ":B@*M!!:", B("'abc' 00")},
        {"':' fourth in a group: two bytes", ":B@*M!!!:", B("'abc' 00 00")},
        {"invalid character ends like ':'", ":B@*M!!7!:", B("'abc' 00")},
        {"line break between third and fourth skipped", ":B@*\r\nM:", "abc"},
        {"LF alone between third and fourth", ":B@*\nM:", "abc"},
        {"no closing ':': length counts two delimiters", ":B@*M", "ab"},
    };
    for (const auto& c : table)
        EXPECT_EQ(Hex(DecodeBinHex(c.In)), Hex(c.Out)) << c.Rule << ": " << c.In;
}

TEST(Codecs, DecodeGivesEncodedBytesBack)
{
    for (std::size_t n = 0; n <= 200; ++n) {
        const std::string x = Bytes(n);
        EXPECT_EQ(DecodeBase64(EncodeBase64(x)), x) << n;
        EXPECT_EQ(DecodeBase64(EncodeBase64R(x, "\r\n")), x) << n;
        EXPECT_EQ(DecodeBase64(EncodeBase64R(x, "\n")), x) << n;
        EXPECT_EQ(DecodeUU(EncodeUU(x, "\r\n")), x) << n;  // multiples of 45 included
        EXPECT_EQ(DecodeUU(EncodeUU(x, "\n")), x) << n;
        EXPECT_EQ(DecodeBinHex(EncodeBinHex(x, "\r\n")), x) << n;
        EXPECT_EQ(DecodeBinHex(EncodeBinHex(x, "\n")), x) << n;
    }
}
