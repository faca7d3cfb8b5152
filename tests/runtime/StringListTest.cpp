#include <gtest/gtest.h>

#include "runtime/Exception.h"
#include "runtime/StringList.h"

namespace {
std::vector<std::string> Lines(std::string_view text)
{
    TStringList l;
    l.SetText(text);
    return l.Items();
}

std::vector<std::string> Fields(std::string_view text)
{
    TStringList l;
    l.SetCommaText(text);
    return l.Items();
}
}

TEST(StringListText, SplitsAtCrLfLoneCrAndLoneLf)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(Lines("a\r\nb\r\n"), (V{"a", "b"}));             // CR LF
    EXPECT_EQ(Lines("a\nb\n"), (V{"a", "b"}));                 // LF only
    EXPECT_EQ(Lines("a\rb"), (V{"a", "b"}));                   // lone CR, last line without break
    EXPECT_EQ(Lines("a\n\nb"), (V{"a", "", "b"}));             // an empty line is kept
    EXPECT_EQ(Lines("a\r\r\nb"), (V{"a", "", "b"}));           // CR then CR LF
    EXPECT_EQ(Lines(""), V{});
    EXPECT_EQ(Lines(std::string("a\0b\n", 4)), V{std::string("a\0b", 3)}); // NUL is data
}

TEST(StringListText, TextEndsEveryLineWithCrLf)
{
    TStringList l;
    l.Add("x");
    l.Add("");
    EXPECT_EQ(l.Text(), "x\r\n\r\n");
}

TEST(StringListCommaText, ReadsQuotedAndPlainFields)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(Fields(R"("A","b","c","d","30","110")"), (V{"A", "b", "c", "d", "30", "110"}));
    EXPECT_EQ(Fields(R"("a,b","x")"), (V{"a,b", "x"}));              // comma inside quotes
    EXPECT_EQ(Fields(R"("pa""ss","y")"), (V{"pa\"ss", "y"}));        // doubled quote
    EXPECT_EQ(Fields("a,b,c,d,30,110"), (V{"a", "b", "c", "d", "30", "110"})); // no quotes
    EXPECT_EQ(Fields("  a , b"), (V{"a", "b"}));                     // blanks skipped around commas
    EXPECT_EQ(Fields("a b"), (V{"a", "b"}));                         // unquoted field ends at a blank
    EXPECT_EQ(Fields(R"("   ")"), V{"   "});                         // blanks kept inside quotes
    EXPECT_EQ(Fields(R"("","")"), (V{"", ""}));
    EXPECT_EQ(Fields(""), V{});
    EXPECT_EQ(Fields(R"("unterminated)"), V{"unterminated"});
    EXPECT_EQ(Fields(std::string("a\0b", 3)), (V{"a", "b"}));        // a NUL cannot stall the reader
}

TEST(StringListCommaText, WritesAndReadsBack)
{
    TStringList l;
    for (const char* s : {"plain", "a,b", "q\"q", "", " lead"})
        l.Add(s);
    TStringList back;
    back.SetCommaText(l.CommaText());
    EXPECT_EQ(back.Items(), l.Items());
}

TEST(StringListSorted, AddKeepsOrderIgnoresDuplicatesAndFinds)
{
    TStringList l;
    l.SetSorted(true);
    l.Add("b");
    l.Add("C");
    l.Add("a");
    EXPECT_EQ(l.Add("B"), 1); // already there, without case
    EXPECT_EQ(l.Items(), (std::vector<std::string>{"a", "b", "C"}));
    int at = -1;
    EXPECT_TRUE(l.Find("c", at));
    EXPECT_EQ(at, 2);
    EXPECT_FALSE(l.Find("bb", at));
    EXPECT_EQ(at, 2);
}

TEST(StringListIndex, OutOfRangeRaises)
{
    TStringList l;
    EXPECT_THROW(l.Get(0), EStringListError);
    l.Add("x");
    EXPECT_THROW(l.Delete(1), EStringListError);
    EXPECT_THROW(l.Put(-1, "y"), EStringListError);
}

TEST(StringListAssign, SharesTheLinesUntilEitherListChanges)
{
    TStringList a;
    a.SetText("one\ntwo\nthree");
    TStringList b;
    b.Assign(a);
    EXPECT_EQ(&a.Items(), &b.Items()) << "no copy made";
    b.Put(0, "uno");
    a.Delete(2);
    a.Add("four");
    EXPECT_EQ(a.Text(), "one\r\ntwo\r\nfour\r\n");
    EXPECT_EQ(b.Text(), "uno\r\ntwo\r\nthree\r\n");
    TStringList c = b;   // copies share too
    c.SetSorted(true);
    b.Clear();
    EXPECT_EQ(c.Text(), "three\r\ntwo\r\nuno\r\n");
    EXPECT_EQ(b.Count(), 0);
}
