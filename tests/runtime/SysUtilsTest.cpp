#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>
#include <filesystem>
#include <fstream>

#include "runtime/Exception.h"
#include "runtime/SysUtils.h"
#include "tests/support/Files.h"

TEST(SysUtilsIntegers, ReadsOptionallySignedDecimal)
{
    EXPECT_EQ(StrToInt("30"), 30);
    EXPECT_EQ(StrToInt("-5"), -5);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("  42"), 42);            // leading blanks allowed
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", "-", "abc", "30x", "3 0", "2147483648", "42 ", "0x10"})
        EXPECT_EQ(StrToIntDef(bad, -99), -99) << bad;
}

TEST(SysUtilsIntegers, ErrorCarriesTheText)
{
    try {
        StrToInt("-ERR");
        FAIL();
    } catch (const EConvertError& e) {
        // "'-ERR' は整数ではありません" in Shift-JIS
        EXPECT_EQ(e.Message, "'-ERR' \x82\xcd\x90\xae\x90\x94\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1");
    }
}

TEST(SysUtilsText, TrimAndCase)
{
    EXPECT_EQ(Trim(" \t 320\r\n"), "320");
    EXPECT_EQ(TrimLeft("  a "), "a ");
    EXPECT_EQ(TrimRight("  a \x01"), "  a");
    EXPECT_EQ(UpperCase("boundary=x\x82\xa0"), "BOUNDARY=X\x82\xa0");
    EXPECT_EQ(LowerCase("Multipart/MIXED"), "multipart/mixed");
}

TEST(SysUtilsText, AnsiCompareTextFoldsAsciiOnly)
{
    EXPECT_EQ(AnsiCompareText("Subject", "SUBJECT"), 0);
    EXPECT_LT(AnsiCompareText("a", "B"), 0);
    EXPECT_LT(AnsiCompareText("_", "a"), 0);
    // 0x82 0x61 ("Ａ") and 0x82 0x41 differ only in a trail byte that looks like a letter.
    EXPECT_NE(AnsiCompareText("\x82\x61", "\x82\x41"), 0);
    EXPECT_LT(AnsiCompareText("ab", "abc"), 0);
}

TEST(SysUtilsFiles, NamesAndRenameNeverReplaces)
{
    EXPECT_EQ(ExtractFilePath("/a/b/purgel"), "/a/b/");
    EXPECT_EQ(ExtractFileName("/a/b/purgel"), "purgel");
    EXPECT_EQ(ChangeFileExt("/a/b.d/purgel", ".ini"), "/a/b.d/purgel.ini");
    EXPECT_EQ(ChangeFileExt("x.exe", ".ini"), "x.ini");

    const testsupport::TempFolder scratch("purgel-sysutils");
    const auto& dir = scratch.Path();
    const std::string a = (dir / "a").string(), b = (dir / "b").string();
    std::ofstream(a) << "A";
    std::ofstream(b) << "B";
    EXPECT_TRUE(FileExists(a));
    EXPECT_FALSE(FileExists(dir.string()));
    EXPECT_FALSE(RenameFile(a, b)); // b exists: kept
    std::ifstream fb(b);
    std::string content;
    fb >> content;
    EXPECT_EQ(content, "B");
    EXPECT_TRUE(DeleteFile(b));
    EXPECT_TRUE(RenameFile(a, b));
    EXPECT_FALSE(FileExists(a));
}
