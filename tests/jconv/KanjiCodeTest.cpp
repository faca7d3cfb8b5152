// Vector tables for kanji code detection and the JIS / Shift-JIS / EUC-JP conversions.
// Each line names the rule it checks.
#include "jconv/Jconvert.h"
#include "tests/jconv/Bytes.h"

#include <gtest/gtest.h>

#include <functional>

using namespace Jconvert;
using jconvtest::B;
using jconvtest::Hex;

namespace {

struct Conversion {
    const char* Rule;
    std::string In;
    std::string Out;
};

void RunTable(const std::function<std::string(std::string_view)>& convert, const std::vector<Conversion>& table)
{
    for (const Conversion& c : table)
        EXPECT_EQ(Hex(convert(c.In)), Hex(c.Out)) << c.Rule << "\n  input: " << Hex(c.In);
}

struct Detection {
    const char* Rule;
    std::string In;
    int Code;
};

// 599 ASCII bytes, 0x01, then ASCII up to 700 bytes.
std::string LateBinaryText(bool withDesignator)
{
    std::string text(700, 'a');
    text[599] = '\x01';
    if (withDesignator)
        text.replace(9, 3, "\x1b$B");
    return text;
}

}  // namespace

TEST(InCodeCheck, Table)
{
    const std::vector<Detection> table = {
        {"empty text is ASCII", "", JCODE_ASCII},
        {"a single byte is never examined", B("00"), JCODE_ASCII},
        {"a single byte is never examined", B("FF"), JCODE_ASCII},
        {"a single byte is never examined", B("82"), JCODE_ASCII},
        {"binary check skips the last byte", B("'abc' 00"), JCODE_ASCII},
        {"binary check: byte below 0x08", B("'a' 07 'bc'"), JCODE_BINARY},
        {"binary check: 0x08 is not binary", B("'a' 08 'bc'"), JCODE_ASCII},
        {"binary check: 0xFF", B("'a' FF 'bc'"), JCODE_BINARY},
        {"binary check: first byte examined", B("01 'bc'"), JCODE_BINARY},
        {"binary check precedes a designator", B("1B '$B' 01 'x'"), JCODE_BINARY},
        {"main scan finds a late binary byte", LateBinaryText(false), JCODE_BINARY},
        {"designator decides before a late binary byte", LateBinaryText(true), JCODE_JIS83},
        {"rule 1: ESC $ B", B("'ab' 1B '$B' 30 21"), JCODE_JIS83},
        {"rule 1: ESC $ B as the last bytes", B("'ab' 1B '$B'"), JCODE_JIS83},
        {"rule 1: ESC $ @", B("1B '$@' 30 21"), JCODE_JIS78},
        {"rule 1: ESC $ cut off reads 0", B("'ab' 1B '$'"), JCODE_ASCII},
        {"rule 1: ESC ( B alone changes nothing", B("1B '(B' 'abc'"), JCODE_ASCII},
        {"rule 1: ESC $ A consumed without result", B("1B '$A' 'abc'"), JCODE_ASCII},
        {"rule 1: ESC $ consumes the third byte", B("1B '$' 82 'a'"), JCODE_ASCII},
        {"rule 1: ESC x consumes two bytes only", B("1B 'x' 82 'a'"), JCODE_SJIS},
        {"rule 1: designator before 8-bit byte", B("1B '$B' 30 21 1B '(B' 83 65"), JCODE_JIS83},
        {"rule 2: main scan meets 0xFF after the checked bytes", std::string(600, 'a') + B("FF 'a'"), JCODE_BINARY},
        {"rule 4: Shift-JIS lead byte", B("83 65 83 58 83 67"), JCODE_SJIS},
        {"rule 4: 0x9F", B("9F 40"), JCODE_SJIS},
        {"rule 5: 8E then ASCII range", B("8E 40"), JCODE_SJIS},
        {"rule 5: 8E then 0x80..0xA0", B("8E A0"), JCODE_SJIS},
        {"rule 5: 8E then 0xE0..0xFC", B("8E FC"), JCODE_SJIS},
        {"rule 5: 8E then kana is undecided", B("8E B1"), JCODE_EUCORSJIS},
        {"rule 5: 8E then other byte", B("8E 20 'a'"), JCODE_ASCII},
        {"rule 5: 8E then 0xFD", B("8E FD 'a'"), JCODE_ASCII},
        {"rule 6: EUC-JP text is undecided", B("A5 C6 A5 B9 A5 C8"), JCODE_EUCORSJIS},
        {"rule 6: second byte F0..FE", B("B0 F0"), JCODE_EUC},
        {"rule 6: second byte up to 0x9F", B("B1 'a'"), JCODE_SJIS},
        {"rule 6: second byte 0x9F", B("B1 9F"), JCODE_SJIS},
        {"rule 6: second byte 0xA0", B("B1 A0 'a'"), JCODE_ASCII},
        {"rule 6: second byte 0xFF", std::string(600, ' ') + B("B1 FF 'a'"), JCODE_ASCII},
        {"rule 6: undecided goes on scanning", B("A5 C6 'ab' 83 65"), JCODE_SJIS},
        {"rule 6: undecided then EUC", B("A5 C6 F0 A1"), JCODE_EUC},
        {"rule 7: F0..FE", B("F0 A1"), JCODE_EUC},
        {"rule 7: FE as first byte", B("FE 'a'"), JCODE_EUC},
        {"rule 8: E0 then ASCII range", B("E0 40"), JCODE_SJIS},
        {"rule 8: EF then 0x80", B("EF 80"), JCODE_SJIS},
        {"rule 8: E0 then FD", B("E0 FD"), JCODE_EUC},
        {"rule 8: E0 then A1..FC", B("E0 FC"), JCODE_EUCORSJIS},
        {"rule 8: E0 then other byte, consumed", B("E0 30 'a'"), JCODE_ASCII},
        {"rule 8: E0 then 0xFF", std::string(600, ' ') + B("E0 FF 'a'"), JCODE_ASCII},
        {"rule 9: 0x80 and 0xA0 change nothing", B("80 A0 'a'"), JCODE_ASCII},
        {"scan never starts at the last byte", B("'a' 82"), JCODE_ASCII},
        {"look-ahead: 0x81..0x8D gives Shift-JIS", B("B0 E0 A1 81"), JCODE_SJIS},
        {"look-ahead: 0x8F..0x9C gives Shift-JIS", B("B0 E0 9C"), JCODE_SJIS},
        {"look-ahead: 0x9F does not decide", B("B0 E0 9F"), JCODE_EUCORSJIS},
        {"look-ahead: 0x8E does not decide", B("B0 E0 8E"), JCODE_EUCORSJIS},
        {"look-ahead: FD gives EUC", B("B0 E0 A1 FD"), JCODE_EUC},
        {"look-ahead: the byte below 0x40 is consumed unexamined", B("B0 E0 1B '$B'"), JCODE_EUCORSJIS},
        {"look-ahead: main scan resumes after that byte", B("B0 E0 20 81 40"), JCODE_SJIS},
        {"look-ahead: stops at end of text", B("B0 E0 A1"), JCODE_EUCORSJIS},
    };
    for (const Detection& d : table)
        EXPECT_EQ(InCodeCheck(d.In), d.Code) << d.Rule << "\n  input: " << Hex(d.In.substr(0, 40));
}

TEST(InCodeCheck, StrictCheckLenIsReadOnEveryCall)
{
    struct Restore {
        int Saved = STRICT_CHECK_LEN;
        ~Restore() { STRICT_CHECK_LEN = Saved; }
    } restore;
    const std::string text = B("83 65 01 'x'");
    EXPECT_EQ(STRICT_CHECK_LEN, 512);
    EXPECT_EQ(InCodeCheck(text), JCODE_BINARY);  // 0x01 within the checked bytes
    STRICT_CHECK_LEN = 2;
    EXPECT_EQ(InCodeCheck(text), JCODE_SJIS);  // decided before the main scan reaches it
    STRICT_CHECK_LEN = 0;
    EXPECT_EQ(InCodeCheck(B("'a' 01 'b'")), JCODE_BINARY);  // the main scan still finds it
    STRICT_CHECK_LEN = -5;
    EXPECT_EQ(InCodeCheck(text), JCODE_SJIS);
}

TEST(PairConversion, ToSjisAndToJis)
{
    struct Pair {
        const char* Rule;
        std::string Jis;
        std::string Sjis;
    };
    const std::vector<Pair> table = {
        {"row 16 even row (second byte + 0x7E)", B("30 21"), B("88 9F")},
        {"odd row, second byte <= 0x5F (+ 0x1F)", B("25 46"), B("83 65")},
        {"odd row, first cell", B("21 21"), B("81 40")},
        {"odd row, second byte 0x5F", B("21 5F"), B("81 7E")},
        {"odd row, second byte 0x60 skips 0x7F (+ 0x20)", B("21 60"), B("81 80")},
        {"odd row, last cell", B("21 7E"), B("81 9E")},
        {"even row, first cell", B("22 21"), B("81 9F")},
        {"last row below 0x5F", B("5E 7E"), B("9F FC")},
        {"row 0x5F moves to lead bytes E0..", B("5F 21"), B("E0 40")},
        {"row 84 (last assigned)", B("74 26"), B("EA A4")},
        {"row 94", B("7E 7E"), B("EF FC")},
    };
    for (const Pair& p : table) {
        EXPECT_EQ(Hex(ToSjis(p.Jis[0], p.Jis[1])), Hex(p.Sjis)) << p.Rule;
        EXPECT_EQ(Hex(ToJis(p.Sjis[0], p.Sjis[1])), Hex(p.Jis)) << p.Rule;
    }
    // No range check: arithmetic modulo 256 on any pair.
    EXPECT_EQ(Hex(ToSjis(0x0D, 0x0A)), "77 29");
    EXPECT_EQ(Hex(ToSjis(0xFF, 0xFF)), "B0 1F");  // (0xFF + 1) mod 256 = 0
    EXPECT_EQ(Hex(ToJis(0xA0, 0x40)), "DF 21");
    EXPECT_EQ(Hex(ToJis(0x00, 0x00)), "1F E1");
    EXPECT_EQ(Hex(ToJis(0x81, 0x7F)), "21 60");  // 0x7F is not above 0x7F: s2 - 0x1F
    EXPECT_EQ(ToSjis(0x00, 0x00).size(), 2u);
}

TEST(JisToSjis, Table)
{
    RunTable(jis2sjis, {
        {"double-byte pairs, closing designator dropped", B("1B '$B' 25 46 25 39 25 48 1B '(B'"), B("83 65 83 58 83 67")},
        {"single-byte text around kanji", B("'a' 1B '$B' 30 21 1B '(J' 'b'"), B("'a' 88 9F 'b'")},
        {"pairs taken whatever they are (CR LF)", B("1B '$B' 25 46 0D 0A"), B("83 65 77 29")},
        {"ESC right after a designator is an ordinary byte", B("1B '(B' 1B '$B' 25 46"), B("1B '$B' 25 46")},
        {"ESC $ @ reads like ESC $ B", B("1B '$@' 25 46"), B("83 65")},
        {"ESC ( I selects single-byte, bytes copied", B("1B '(I' 31 32"), B("31 32")},
        {"any ESC $ x selects double-byte", B("1B '$A' 25 46"), B("83 65")},
        {"other ESC leaves the mode", B("1B '$B' 25 46 1B 'xy' 25 46"), B("83 65 83 65")},
        {"other ESC in single-byte mode", B("'a' 1B 'xy' 'b'"), B("'a' 'b'")},
        {"designator reaching the end ends the text", B("'ab' 1B '$'"), B("'ab'")},
        {"designator as the last three bytes", B("'ab' 1B '$B'"), B("'ab'")},
        {"ESC as the last byte", B("'ab' 1B"), B("'ab'")},
        {"8-bit bytes copied in single-byte mode", B("B1 82 'a'"), B("B1 82 'a'")},
        {"a lone last byte in double-byte mode is dropped", B("1B '$B' 25 46 25"), B("83 65")},
        {"second byte of a pair may be ESC", B("1B '$B' 25 1B 1B '(B' 'a'"), B("83 3A 'a'")},
        {"empty text", "", ""},
    });
}

TEST(JisToEuc, Table)
{
    RunTable(jis2euc, {
        {"double-byte bytes get the top bit", B("1B '$B' 25 46 25 39 25 48 1B '(B'"), B("A5 C6 A5 B9 A5 C8")},
        {"CR LF copied in double-byte mode", B("1B '$B' 25 46 0D 0A"), B("A5 C6 0D 0A")},
        {"space and 0x7F copied in double-byte mode", B("1B '$B' 25 46 20 7F 21"), B("A5 C6 20 7F A1")},
        {"each byte on its own: odd count", B("1B '$B' 25 46 25"), B("A5 C6 A5")},
        {"ESC right after a designator is copied", B("1B '(B' 1B '$B' 25 46"), B("1B '$B' 25 46")},
        {"ESC $ @ reads like ESC $ B", B("1B '$@' 30 21 1B '(J' 'x'"), B("B0 A1 'x'")},
        {"designator reaching the end ends the text", B("'a' 1B '('"), B("'a'")},
        {"8-bit byte in single-byte mode copied", B("B1"), B("B1")},
    });
}

TEST(SjisToJis, Table)
{
    RunTable(sjis2jis83, {
        {"voiced marks fold into KA and KI", B("B6 DE B7 DE"), B("1B '$B' 25 2C 25 2E")},
        {"semi-voiced mark folds into HA", B("CA DF"), B("1B '$B' 25 51")},
        {"voiced mark folds into HO", B("CE DE"), B("1B '$B' 25 5C")},
        {"voiced mark alone", B("DE"), B("1B '$B' 21 2B")},
        {"semi-voiced mark alone", B("DF"), B("1B '$B' 21 2C")},
        {"U with voiced mark becomes VU", B("B3 DE"), B("1B '$B' 25 74")},
        {"U with semi-voiced mark does not fold", B("B3 DF"), B("1B '$B' 25 26 21 2C")},
        {"KA with semi-voiced mark does not fold", B("B6 DF"), B("1B '$B' 25 2B 21 2C")},
        {"TO (last of KA..TO) folds", B("C4 DE"), B("1B '$B' 25 49")},
        {"NA does not fold", B("C5 DE"), B("1B '$B' 25 4A 21 2B")},
        {"WA does not fold", B("DC DE"), B("1B '$B' 25 6F 21 2B")},
        {"symbols take no sound mark", B("A1 DE B0 DF"), B("1B '$B' 21 23 21 2B 21 3C 21 2C")},
        {"symbol row 0x21: the five symbols", B("A1 A2 A3 A4 A5"), B("1B '$B' 21 23 21 56 21 57 21 22 21 26")},
        {"kana table: WO, small A, small TSU, N", B("A6 A7 AF DD"), B("1B '$B' 25 72 25 21 25 43 25 73")},
        {"two kanji, CR LF, a: ESC ( J before the line end", B("88 9F 88 A0 0D 0A 'a'"),
         B("1B '$B' 30 21 30 22 1B '(J' 0D 0A 'a'")},
        {"no closing designator at the end", B("88 9F 88 A0"), B("1B '$B' 30 21 30 22")},
        {"kana and kanji share one double-byte run", B("B1 88 9F"), B("1B '$B' 25 22 30 21")},
        {"ESC is single-byte text", B("88 9F 1B"), B("1B '$B' 30 21 1B '(J' 1B")},
        {"0x80 paired by ToJis", B("80 40"), B("1B '$B' 1F 21")},
        {"a lone last lead byte is dropped, no designator", B("'a' 88"), B("'a'")},
        {"ASCII stays without designator", B("'abc'"), B("'abc'")},
    });
}

TEST(EucToJis, Table)
{
    RunTable(euc2jis83, {
        {"pairs lose their top bit", B("A5 C6 A5 B9 A5 C8"), B("1B '$B' 25 46 25 39 25 48")},
        {"CR LF switch back with ESC ( J", B("B0 A1 0D 0A 'a'"), B("1B '$B' 30 21 1B '(J' 0D 0A 'a'")},
        {"half-width KA with voiced mark (8E DE)", B("8E B6 8E DE"), B("1B '$B' 25 2C")},
        {"half-width HA with semi-voiced mark", B("8E CA 8E DF"), B("1B '$B' 25 51")},
        {"half-width U with voiced mark", B("8E B3 8E DE"), B("1B '$B' 25 74")},
        {"a bare DE is no sound mark in EUC-JP", B("8E B6 DE A1"), B("1B '$B' 25 2B 5E 21")},
        {"half-width symbol", B("8E A4"), B("1B '$B' 21 22")},
        {"8E before a non-kana byte is dropped", B("8E 41"), B("41")},
        {"8E at the end is dropped", B("'a' 8E"), B("'a'")},
        {"a lone last lead byte is dropped", B("'a' B0"), B("'a'")},
        {"0x8F paired like any lead byte", B("8F A1 A1 A1"), B("1B '$B' 0F 21 21 21")},
    });
}

TEST(EucToSjis, Table)
{
    RunTable(euc2sjis, {
        {"pairs through ToSjis", B("A5 C6 A5 B9 A5 C8"), B("83 65 83 58 83 67")},
        {"8E keeps the kana half-width", B("8E B1"), B("B1")},
        {"8E copies whatever byte follows", B("8E 41"), B("41")},
        {"0x80 and 0xFF copied", B("80 FF 'a'"), B("80 FF 'a'")},
        {"ASCII copied", B("'a' 0D 0A"), B("'a' 0D 0A")},
        {"0x8F paired like any lead byte", B("8F A1 A1 A1"), B("78 40 81 40")},
        {"a lone last lead byte is dropped", B("'a' B0"), B("'a'")},
        {"8E at the end is dropped", B("'a' 8E"), B("'a'")},
    });
}

TEST(SjisToEuc, Table)
{
    RunTable(sjis2euc, {
        {"pairs through ToJis, top bits set", B("83 65 83 58 83 67"), B("A5 C6 A5 B9 A5 C8")},
        {"half-width kana get 8E", B("B1 DF"), B("8E B1 8E DF")},
        {"ASCII copied", B("'a' 0D 0A"), B("'a' 0D 0A")},
        {"0xA0 is paired", B("A0 40"), B("DF A1")},
        {"0xFD is paired", B("FD 40"), B("99 A1")},
        {"a lone last lead byte is dropped", B("'a' 83"), B("'a'")},
    });
}

TEST(Dispatch, ConvertJCode)
{
    const std::string jis = B("1B '$B' 25 46 1B '(B'");
    const std::string jis78 = B("1B '$@' 25 46 1B '(J'");
    const std::string sjis = B("83 65 'a'");
    const std::string euc = B("A5 C6 F0 A1");
    const std::string undecided = B("A5 C6 A5 B9");
    const std::string binary = B("83 65 00 'x'");
    const struct {
        const char* Rule;
        const std::string& In;
        int Target;
        std::string Out;
    } table[] = {
        {"JIS to Shift-JIS", jis, JCODE_SJIS, B("83 65")},
        {"JIS to EUC-JP", jis, JCODE_EUC, B("A5 C6")},
        {"JIS to JIS: same code", jis, JCODE_JIS83, jis},
        {"JIS78 to JIS83: unchanged", jis78, JCODE_JIS83, jis78},
        {"JIS78 to Shift-JIS", jis78, JCODE_SJIS, B("83 65")},
        {"JIS78 to EUC-JP", jis78, JCODE_EUC, B("A5 C6")},
        {"Shift-JIS to JIS", sjis, JCODE_JIS83, B("1B '$B' 25 46 1B '(J' 'a'")},
        {"Shift-JIS to EUC-JP", sjis, JCODE_EUC, B("A5 C6 'a'")},
        {"EUC-JP to Shift-JIS", euc, JCODE_SJIS, B("83 65 E8 9F")},
        {"EUC-JP to JIS", euc, JCODE_JIS83, B("1B '$B' 25 46 70 21")},
        {"target JIS78 gives the text unchanged", sjis, JCODE_JIS78, sjis},
        {"target ASCII gives the text unchanged", sjis, JCODE_ASCII, sjis},
        {"target 6 gives the text unchanged", sjis, JCODE_EUCORSJIS, sjis},
        {"target 7 gives the text unchanged", sjis, 7, sjis},
        {"undecided text unchanged (SJIS)", undecided, JCODE_SJIS, undecided},
        {"undecided text unchanged (JIS)", undecided, JCODE_JIS83, undecided},
        {"binary text unchanged", binary, JCODE_EUC, binary},
    };
    for (const auto& c : table)
        EXPECT_EQ(Hex(ConvertJCode(c.In, c.Target)), Hex(c.Out)) << c.Rule;
}

TEST(Dispatch, StrictConvertJCode)
{
    const std::string euc = B("A5 C6");
    EXPECT_EQ(Hex(StrictConvertJCode(euc, JCODE_EUC, JCODE_SJIS)), "83 65") << "source taken as given";
    EXPECT_EQ(Hex(StrictConvertJCode(euc, JCODE_SJIS, JCODE_EUC)), Hex(sjis2euc(euc))) << "no detection";
    EXPECT_EQ(StrictConvertJCode(euc, 7, JCODE_SJIS), "") << "unknown source with a real target";
    EXPECT_EQ(StrictConvertJCode(euc, 7, JCODE_JIS83), "");
    EXPECT_EQ(StrictConvertJCode(euc, 7, JCODE_JIS78), euc) << "unknown source, other target";
    EXPECT_EQ(StrictConvertJCode(euc, -1, JCODE_SJIS), euc) << "source 1 or below";
    EXPECT_EQ(StrictConvertJCode(euc, JCODE_BINARY, JCODE_SJIS), euc);
    EXPECT_EQ(StrictConvertJCode(euc, JCODE_EUCORSJIS, JCODE_SJIS), euc) << "undecided source";
}
