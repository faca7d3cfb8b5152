// Cross-check of the six text conversions against an independent implementation, glibc iconv,
// over every assigned JIS X 0208 character (rows 1 to 84) in texts that mix ASCII, kanji,
// half-width katakana and line ends.
//
// Known glibc differences, handled explicitly rather than by loosening a comparison:
// - glibc's SHIFT_JIS decodes 0x5C as U+00A5 YEN SIGN and 0x7E as U+203E OVERLINE (the
//   JIS X 0201 Roman reading), though it encodes U+005C and U+007E to those same bytes.
// - glibc's ISO-2022-JP switches back with ESC ( B (ASCII) where our writer uses ESC ( J
//   (JIS X 0201 Roman), closes every text with ESC ( B where ours may end in double-byte mode,
//   and decodes 0x5C / 0x7E after ESC ( J as U+00A5 / U+203E.
// For the JIS X 0208 characters themselves glibc's EUC-JP, SHIFT_JIS and ISO-2022-JP agree
// with one another on every code of rows 1 to 84; the per-character test below holds them to it.
#include "jconv/Jconvert.h"
#include "tests/jconv/Bytes.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <string>
#include <vector>

using namespace Jconvert;
using jconvtest::Hex;

namespace {

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (Ok())
            iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // The whole input converted, with the closing shift sequence; false when any of it fails.
    bool Convert(std::string_view in, std::string& out)
    {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        out.assign(in.size() * 4 + 16, '\0');
        char* ip = const_cast<char*>(in.data());
        std::size_t il = in.size();
        char* op = out.data();
        std::size_t ol = out.size();
        if (iconv(cd_, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1) || il != 0)
            return false;
        if (iconv(cd_, nullptr, nullptr, &op, &ol) == static_cast<std::size_t>(-1))
            return false;
        out.resize(out.size() - ol);
        return true;
    }

private:
    iconv_t cd_;
};

std::string Utf32(const std::u32string& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char32_t));
}

std::u32string FromUtf32(const std::string& bytes)
{
    return std::u32string(reinterpret_cast<const char32_t*>(bytes.data()), bytes.size() / sizeof(char32_t));
}

// Unicode text in one of glibc's encodings; the test fails where glibc cannot encode it.
std::string Encode(const char* code, const std::u32string& text)
{
    Iconv cd(code, "UTF-32LE");
    std::string out;
    EXPECT_TRUE(cd.Ok() && cd.Convert(Utf32(text), out)) << code;
    return out;
}

std::u32string Decode(const char* code, const std::string& bytes)
{
    Iconv cd("UTF-32LE", code);
    std::string out;
    EXPECT_TRUE(cd.Ok() && cd.Convert(bytes, out)) << code;
    return FromUtf32(out);
}

struct Character {
    unsigned char J1, J2;  // JIS X 0208 code
    char32_t U;
};

// Every pair A1A1..F4FE that glibc's EUC-JP converts is an assigned character.
const std::vector<Character>& AssignedCharacters()
{
    static const std::vector<Character> all = [] {
        std::vector<Character> chars;
        Iconv euc("UTF-32LE", "EUC-JP");
        std::string out;
        for (int j1 = 0x21; j1 <= 0x74; ++j1) {
            for (int j2 = 0x21; j2 <= 0x7E; ++j2) {
                const char pair[2] = {char(j1 | 0x80), char(j2 | 0x80)};
                if (euc.Convert(std::string_view(pair, 2), out) && out.size() == 4)
                    chars.push_back({(unsigned char)j1, (unsigned char)j2, FromUtf32(out)[0]});
            }
        }
        return chars;
    }();
    return all;
}

// Full-width forms of the half-width katakana U+FF61..U+FF9F (Shift-JIS A1..DF): Unicode's
// compatibility forms, with the sound marks as the spacing U+309B / U+309C of JIS X 0208.
constexpr char32_t FullWidth[63] = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30E3, 0x30E5,
    0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF, 0x30B1, 0x30B3,
    0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1, 0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC,
    0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4,
    0x30E6, 0x30E8, 0x30E9, 0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C,
};

// Katakana with a following sound mark that become one JIS X 0208 character. Unicode also
// composes WO and WA with the voiced mark (U+30FA, U+30F7), which JIS X 0208 lacks: those
// stay two characters and are among the units below.
constexpr char32_t Folded[][3] = {
    {0xFF73, 0xFF9E, 0x30F4}, {0xFF76, 0xFF9E, 0x30AC}, {0xFF77, 0xFF9E, 0x30AE}, {0xFF78, 0xFF9E, 0x30B0},
    {0xFF79, 0xFF9E, 0x30B2}, {0xFF7A, 0xFF9E, 0x30B4}, {0xFF7B, 0xFF9E, 0x30B6}, {0xFF7C, 0xFF9E, 0x30B8},
    {0xFF7D, 0xFF9E, 0x30BA}, {0xFF7E, 0xFF9E, 0x30BC}, {0xFF7F, 0xFF9E, 0x30BE}, {0xFF80, 0xFF9E, 0x30C0},
    {0xFF81, 0xFF9E, 0x30C2}, {0xFF82, 0xFF9E, 0x30C5}, {0xFF83, 0xFF9E, 0x30C7}, {0xFF84, 0xFF9E, 0x30C9},
    {0xFF8A, 0xFF9E, 0x30D0}, {0xFF8A, 0xFF9F, 0x30D1}, {0xFF8B, 0xFF9E, 0x30D3}, {0xFF8B, 0xFF9F, 0x30D4},
    {0xFF8C, 0xFF9E, 0x30D6}, {0xFF8C, 0xFF9F, 0x30D7}, {0xFF8D, 0xFF9E, 0x30D9}, {0xFF8D, 0xFF9F, 0x30DA},
    {0xFF8E, 0xFF9E, 0x30DC}, {0xFF8E, 0xFF9F, 0x30DD},
};

// A piece of half-width katakana text and its full-width form.
struct KanaUnit {
    std::u32string Half, Full;
};

std::vector<KanaUnit> KanaUnits()
{
    std::vector<KanaUnit> units;
    // Singles in code order: no combinable katakana is followed by a sound mark.
    for (int i = 0; i < 63; ++i)
        units.push_back({std::u32string(1, char32_t(0xFF61 + i)), std::u32string(1, FullWidth[i])});
    for (const auto& f : Folded)
        units.push_back({std::u32string{f[0], f[1]}, std::u32string(1, f[2])});
    // Marks after katakana that take none stay characters of their own.
    for (const auto& pair : {std::u32string{0xFF9C, 0xFF9E}, std::u32string{0xFF66, 0xFF9E}, std::u32string{0xFF73, 0xFF9F},
                             std::u32string{0xFF76, 0xFF9F}, std::u32string{0xFF85, 0xFF9E}, std::u32string{0xFF61, 0xFF9E}}) {
        units.push_back({pair, {FullWidth[pair[0] - 0xFF61], FullWidth[pair[1] - 0xFF61]}});
    }
    return units;
}

// The test text twice: with half-width katakana, and with them in full width as the
// conversions to JIS write them.
struct MixedText {
    std::u32string Half, Full;
};

MixedText BuildMixedText()
{
    const auto& chars = AssignedCharacters();
    const std::vector<KanaUnit> kana = KanaUnits();
    MixedText t;
    std::size_t nextKana = 0;
    int line = 0;
    for (std::size_t at = 0; at < chars.size(); ++line) {
        auto both = [&](const std::u32string& s) {
            t.Half += s;
            t.Full += s;
        };
        const std::string ascii = "L" + std::to_string(line) + " a\\b~c{|}: ";
        both(std::u32string(ascii.begin(), ascii.end()));
        std::u32string kanji;
        for (int k = 0; k < 48 && at < chars.size(); ++k)
            kanji += chars[at++].U;
        const bool kanjiLast = line % 4 == 3 || at == chars.size();  // kanji right before the line end
        if (!kanjiLast)
            both(kanji);
        for (int k = 0; k < 7; ++k, nextKana = (nextKana + 1) % kana.size()) {
            t.Half += kana[nextKana].Half;
            t.Full += kana[nextKana].Full;
        }
        both(U" x ");
        if (kanjiLast)
            both(kanji);
        if (at < chars.size())
            both(line % 3 == 0 ? U"\n" : U"\r\n");  // the text ends with a kanji
    }
    return t;
}

const MixedText& Text()
{
    static const MixedText text = BuildMixedText();
    return text;
}

// Our JIS spelled as glibc writes it: ESC ( B for ESC ( J, and the closing ESC ( B.
std::string AsGlibcJis(std::string jis)
{
    bool doubleByte = false;
    for (std::size_t i = 0; i + 2 < jis.size(); ++i) {
        if (jis[i] != '\x1b')
            continue;
        doubleByte = jis[i + 1] == '$';
        if (jis[i + 1] == '(' && jis[i + 2] == 'J')
            jis[i + 2] = 'B';
    }
    if (doubleByte)
        jis += "\x1b(B";
    return jis;
}

// glibc's reading of 0x5C and 0x7E as JIS X 0201 Roman, from position `from` on.
std::u32string RomanFrom(std::u32string text, std::size_t from)
{
    for (std::size_t i = from; i < text.size(); ++i) {
        if (text[i] == U'\\')
            text[i] = 0x00A5;
        else if (text[i] == U'~')
            text[i] = 0x203E;
    }
    return text;
}

// First mismatch of two byte strings, for a readable failure on megabyte texts.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected)
{
    if (actual == expected)
        return ::testing::AssertionSuccess();
    std::size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i])
        ++i;
    const std::size_t from = i >= 8 ? i - 8 : 0;
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " / " << expected.size() << ", first difference at " << i
                                         << "\n  actual:   " << Hex(actual.substr(from, 24))
                                         << "\n  expected: " << Hex(expected.substr(from, 24));
}

}  // namespace

TEST(IconvCrossCheck, AssignedCharactersOfRows1To84)
{
    // JIS X 0208:1990 assigns 6879 characters; rows 9 to 15 and 85 to 94 are empty.
    const auto& chars = AssignedCharacters();
    EXPECT_EQ(chars.size(), 6879u);
    Iconv sjis("SHIFT_JIS", "UTF-32LE");
    Iconv jis("ISO-2022-JP", "UTF-32LE");
    ASSERT_TRUE(sjis.Ok() && jis.Ok());
    int failures = 0;
    for (const Character& c : chars) {
        std::string s, j;
        const std::string u = Utf32(std::u32string(1, c.U));
        ASSERT_TRUE(sjis.Convert(u, s) && jis.Convert(u, j));
        const std::string code{char(c.J1), char(c.J2)};
        if (ToSjis(c.J1, c.J2) != s || ToJis(s[0], s[1]) != code || j != "\x1b$B" + code + "\x1b(B") {
            ADD_FAILURE() << "JIS " << Hex(code) << ": SHIFT_JIS " << Hex(s) << ", ISO-2022-JP " << Hex(j);
            if (++failures > 20)
                break;
        }
    }
}

TEST(IconvCrossCheck, FromShiftJis)
{
    const std::string sjis = Encode("SHIFT_JIS", Text().Half);
    ASSERT_EQ(InCodeCheck(sjis), JCODE_SJIS);
    EXPECT_TRUE(SameBytes(sjis2euc(sjis), Encode("EUC-JP", Text().Half)));
    EXPECT_TRUE(SameBytes(AsGlibcJis(sjis2jis83(sjis)), Encode("ISO-2022-JP", Text().Full)));
    EXPECT_TRUE(SameBytes(ConvertJCode(sjis, JCODE_EUC), Encode("EUC-JP", Text().Half)));
}

TEST(IconvCrossCheck, FromEucJp)
{
    const std::string euc = Encode("EUC-JP", Text().Half);
    ASSERT_EQ(InCodeCheck(euc), JCODE_EUC);
    EXPECT_TRUE(SameBytes(euc2sjis(euc), Encode("SHIFT_JIS", Text().Half)));
    EXPECT_TRUE(SameBytes(AsGlibcJis(euc2jis83(euc)), Encode("ISO-2022-JP", Text().Full)));
    EXPECT_TRUE(SameBytes(ConvertJCode(euc, JCODE_SJIS), Encode("SHIFT_JIS", Text().Half)));
}

TEST(IconvCrossCheck, FromJis)
{
    const std::string jis = Encode("ISO-2022-JP", Text().Full);
    ASSERT_EQ(InCodeCheck(jis), JCODE_JIS83);
    EXPECT_TRUE(SameBytes(jis2sjis(jis), Encode("SHIFT_JIS", Text().Full)));
    EXPECT_TRUE(SameBytes(jis2euc(jis), Encode("EUC-JP", Text().Full)));
    EXPECT_TRUE(SameBytes(ConvertJCode(jis, JCODE_SJIS), Encode("SHIFT_JIS", Text().Full)));
}

TEST(IconvCrossCheck, GlibcReadsOurOutputBack)
{
    const std::u32string& half = Text().Half;
    const std::u32string& full = Text().Full;
    const std::string euc = Encode("EUC-JP", half);
    // Shift-JIS: glibc reads every 0x5C / 0x7E as JIS X 0201 Roman.
    EXPECT_TRUE(Decode("SHIFT_JIS", euc2sjis(euc)) == RomanFrom(half, 0));
    EXPECT_TRUE(Decode("EUC-JP", sjis2euc(Encode("SHIFT_JIS", half))) == half);
    // Our JIS: ASCII until the first double-byte character, JIS X 0201 Roman after each ESC ( J.
    const std::size_t firstKanji = full.find_first_not_of(std::u32string(U"L0 a\\b~c{|}: "));
    EXPECT_TRUE(Decode("ISO-2022-JP", euc2jis83(euc)) == RomanFrom(full, firstKanji));
}
