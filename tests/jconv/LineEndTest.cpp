// Vector tables for line-end detection and conversion. Each line names the rule it checks.
#include "jconv/Jconvert.h"
#include "tests/jconv/Bytes.h"

#include <gtest/gtest.h>

using namespace Jconvert;
using jconvtest::Hex;

TEST(ReturnCodeCheck, Table)
{
    const struct {
        const char* Rule;
        std::string In;
        int Kind;
    } table[] = {
        {"no line end", "", RCODE_NONE},
        {"no line end", "abc", RCODE_NONE},
        {"LF", "a\nb", RCODE_LF},
        {"CR LF", "\r\n", RCODE_CRLF},
        {"CR as the last byte", "abc\r", RCODE_CR},
        {"CR followed by other than LF", "a\rb\r\n", RCODE_CR},
        {"only the first line end decides (LF then CR LF)", "a\nb\r\n", RCODE_LF},
        {"only the first line end decides (CR LF then LF)", "a\r\nb\n", RCODE_CRLF},
        {"CR CR LF: the first CR is lone", "\r\r\n", RCODE_CR},
        {"NUL bytes are ordinary", std::string("a\0\nb", 4), RCODE_LF},
    };
    for (const auto& c : table)
        EXPECT_EQ(ReturnCodeCheck(c.In), c.Kind) << c.Rule;
}

TEST(ConvertReturnCode, Table)
{
    const struct {
        const char* Rule;
        std::string In;
        int Target;
        std::string Out;
    } table[] = {
        {"CR LF to LF", "a\r\nb\r\n", RCODE_LF, "a\nb\n"},
        {"CR LF to CR", "a\r\nb\r\n", RCODE_CR, "a\rb\r"},
        {"target 0 removes the line ends", "a\r\nb\r\n", RCODE_NONE, "ab"},
        {"a target above 3 removes them too", "a\r\nb\r\n", 9, "ab"},
        {"a negative target removes them too", "a\nb", -1, "ab"},
        {"lone CR stays with source CR LF", "a\r\nb\rc", RCODE_LF, "a\nb\rc"},
        {"lone LF stays with source CR LF", "a\r\nb\nc", RCODE_CR, "a\rb\nc"},
        {"source CR: the CR of a CR LF pair is replaced", "a\rb\r\nc", RCODE_LF, "a\nb\n\nc"},
        {"source LF: the LF of a CR LF pair is replaced", "a\nb\r\nc", RCODE_CRLF, "a\r\nb\r\r\nc"},
        {"LF to CR LF: inserted bytes are not walked again", "\n\n", RCODE_CRLF, "\r\n\r\n"},
        {"CR to CR LF", "a\rb\r", RCODE_CRLF, "a\r\nb\r\n"},
        {"source equal to target: unchanged", "a\r\nb\n", RCODE_CRLF, "a\r\nb\n"},
        {"no line end: unchanged for every target", "abc", RCODE_CRLF, "abc"},
        {"no line end: unchanged for target 0", "abc", RCODE_NONE, "abc"},
        {"CR CR LF as CR source to LF", "\r\r\n", RCODE_LF, "\n\n\n"},
    };
    for (const auto& c : table)
        EXPECT_EQ(Hex(ConvertReturnCode(c.In, c.Target)), Hex(c.Out)) << c.Rule;
}

TEST(StrictConvertReturnCode, Table)
{
    const struct {
        const char* Rule;
        std::string In;
        int Source;
        int Target;
        std::string Out;
    } table[] = {
        {"the given source is used: LF of CR LF to CR", "a\r\nb", RCODE_LF, RCODE_CR, "a\r\rb"},
        {"source the text does not use", "a\nb", RCODE_CRLF, RCODE_CR, "a\nb"},
        {"source RCODE_NONE: unchanged", "a\nb", RCODE_NONE, RCODE_CR, "a\nb"},
        {"source equal to target: unchanged", "a\nb", RCODE_LF, RCODE_LF, "a\nb"},
        {"unknown source: unchanged", "a\nb", 7, RCODE_CR, "a\nb"},
        {"negative source: unchanged", "a\nb", -2, RCODE_CR, "a\nb"},
        {"target 0 removes", "a\rb\r", RCODE_CR, RCODE_NONE, "ab"},
        {"CR LF across the whole text", "\r\n\r\n\r", RCODE_CRLF, RCODE_LF, "\n\n\r"},
    };
    for (const auto& c : table)
        EXPECT_EQ(Hex(StrictConvertReturnCode(c.In, c.Source, c.Target)), Hex(c.Out)) << c.Rule;
}
