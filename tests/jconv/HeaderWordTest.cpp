// MIME encoded words: vector tables, and subjects encoded by an independent encoder
// (Python's email.header, data/make-header-words.py) against iconv's Shift-JIS.
#include "jconv/Jconvert.h"
#include "tests/jconv/Bytes.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace Jconvert;
using jconvtest::B;
using jconvtest::Hex;

namespace {

using testsupport::ReadFile;

const std::string Tesuto = B("1B '$B' 25 46 25 39 25 48 1B '(B'");  // the JIS word of "tesuto"

// The way the main window shows a header value.
std::string DecodeHeaderText(std::string_view value)
{
    return ConvertJCode(DecodeHeaderString(value), JCODE_SJIS);
}

// Folding between adjacent words stays in the decoded text; the comparison drops it.
std::string Unfold(std::string text)
{
    for (const char* fold : {"\r\n ", "\n "}) {
        for (std::size_t at; (at = text.find(fold)) != std::string::npos;)
            text.erase(at, std::string_view(fold).size());
    }
    return text;
}

}  // namespace

TEST(DecodeHeaderString, Table)
{
    const struct {
        const char* Rule;
        std::string In;
        std::string Out;
    } table[] = {
        {"no prefix: unchanged", "Hello, world", "Hello, world"},
        {"empty value", "", ""},
        {"one word", "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=", Tesuto},
        {"prefix in lower case", "=?iso-2022-jp?b?GyRCJUYlOSVIGyhC?=", Tesuto},
        {"prefix in mixed case", "=?Iso-2022-Jp?b?GyRCJUYlOSVIGyhC?=", Tesuto},
        {"encoding Q is not recognised", "=?ISO-2022-JP?Q?abc?=", "=?ISO-2022-JP?Q?abc?="},
        {"another charset is not recognised", "=?UTF-8?B?44OG?=", "=?UTF-8?B?44OG?="},
        {"text around the word stays", "Re: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= (2)", "Re: " + Tesuto + " (2)"},
        {"two words: CR LF and space between stay", "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n =?ISO-2022-JP?B?GyRCJUYbKEI=?=",
         Tesuto + "\r\n " + B("1B '$B' 25 46 1B '(B'")},
        {"'?=' before the first word does not disturb it", "a?=b =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=", "a?=b " + Tesuto},
        {"missing suffix: only the prefix goes", "x =?ISO-2022-JP?B?GyRCJUY", "x GyRCJUY"},
        {"empty word", "a=?ISO-2022-JP?B?" "?=b", "ab"},
        {"decoded bytes are searched again", "=?ISO-2022-JP?B?PT9JU08tMjAyMi1KUD9CP1lRPT0/PQ==?=", "a"},
        {"decoded bytes are not upper-cased for the search", "=?ISO-2022-JP?B?PT9pc28tMjAyMi1qcD9iP1lRPT0/PQ==?=",
         "=?iso-2022-jp?b?YQ==?="},
        {"decoded bytes complete a prefix begun before them", "=?iso-2022=?ISO-2022-JP?B?LUpQP0I/WVE9PT89?=", "a"},
        {"decoded lower case does not complete it", "=?iso-2022=?ISO-2022-JP?B?LWpwP2I/WVE9PT89?=", "=?iso-2022-jp?b?YQ==?="},
    };
    for (const auto& c : table)
        EXPECT_EQ(Hex(DecodeHeaderString(c.In)), Hex(c.Out)) << c.Rule;
}

TEST(DecodeHeaderString, ThenConvertToShiftJis)
{
    EXPECT_EQ(Hex(DecodeHeaderText("=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=")), "83 65 83 58 83 67");
}

TEST(DecodeHeaderString, ManyPrefixesWithoutSuffixStayLinear)
{
    std::string value, expected;
    for (int i = 0; i < 100000; ++i) {
        value += "=?ISO-2022-JP?B?x";
        expected += 'x';
    }
    EXPECT_EQ(DecodeHeaderString(value), expected);
    // And many complete words in a row.
    value.clear();
    expected.clear();
    for (int i = 0; i < 50000; ++i) {
        value += "=?ISO-2022-JP?B?YQ==?= ";
        expected += "a ";
    }
    EXPECT_EQ(DecodeHeaderString(value), expected);
}

TEST(DecodeHeaderString, SubjectsFromAnIndependentEncoder)
{
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(JCONV_TEST_DATA "/header-words")) {
        if (entry.path().extension() != ".hdr")
            continue;
        std::filesystem::path sjis = entry.path();
        sjis.replace_extension(".sjis");
        const std::string header = ReadFile(entry.path());
        const std::string expected = ReadFile(sjis);
        ASSERT_FALSE(expected.empty()) << sjis;
        EXPECT_EQ(Hex(Unfold(DecodeHeaderText(header))), Hex(expected)) << entry.path().filename();
        ++checked;
    }
    EXPECT_GE(checked, 11);
}

TEST(CreateHeaderString, Table)
{
    const std::string kanji2 = B("88 9F 88 A0");  // two kanji
    const std::string word2 = "=?ISO-2022-JP?B?GyRCMCEwIhsoQg==?=";  // ESC $ B 3021 3022 ESC ( B
    const struct {
        const char* Rule;
        std::string In;
        std::string Out;
    } table[] = {
        {"plain ASCII unchanged", "Hello, world", "Hello, world"},
        {"empty", "", ""},
        {"Re: then one word", "Re: " + kanji2, "Re: " + word2},
        {"a space between two runs stays between two words", kanji2 + " " + kanji2, word2 + " " + word2},
        {"half-width katakana stay raw", B("B1 B2") + kanji2 + B("B3"), B("B1 B2") + word2 + B("B3")},
        {"a lone lead byte at the end is dropped", "a" + kanji2 + B("88"), "a" + word2},
        {"a lone lead byte after text is dropped", B("'a' 88"), "a"},
    };
    for (const auto& c : table)
        EXPECT_EQ(CreateHeaderString(c.In), c.Out) << c.Rule;

    // One run is one word however long: no splitting, no folding.
    std::string run;
    for (int i = 0; i < 200; ++i)
        run += kanji2;
    const std::string word = CreateHeaderString(run);
    EXPECT_EQ(word.find("=?ISO-2022-JP?B?", 1), std::string::npos);
    EXPECT_EQ(word.find('\n'), std::string::npos);
}

TEST(CreateHeaderString, TextAfterAWordSurvivesDecoding)
{
    // Each word ends back in ASCII, so the text after it is not read as JIS.
    const std::string subject = B("'Re: ' 89 EF 8B 63 'test ' 88 9F 88 A0 ' (2)'");
    EXPECT_EQ(Hex(DecodeHeaderText(CreateHeaderString(subject))), Hex(subject));
}
