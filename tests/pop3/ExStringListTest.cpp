#include <gtest/gtest.h>

#include <initializer_list>

#include "pop3/Nmextstr.h"

namespace {
TExStringList Make(std::initializer_list<const char*> lines, bool sorted = false)
{
    TExStringList l;
    for (const char* s : lines)
        l.Add(s);
    l.SetSorted(sorted);
    return l;
}
}

TEST(ExStringListIndexOfName, UnsortedFindsFirstEntryByColonName)
{
    struct Case {
        std::initializer_list<const char*> Lines;
        const char* Name;
        int Index;
        const char* Rule;
    };
    const Case cases[] = {
        {{"Subject: hi"}, "Subject", 0, "exact name"},
        {{"Subject: hi"}, "sUBJECT", 0, "letter case ignored"},
        {{"To: a", "Subject: 1", "Subject: 2"}, "Subject", 1, "the first of two wins"},
        {{"Subject", "Subject: x"}, "Subject", 1, "an entry without a colon has no name"},
        {{" Subject: x"}, "Subject", -1, "a folded line's name starts with its blank"},
        {{" Subject: x"}, " Subject", 0, "...and is found under that name"},
        {{"Subject : x"}, "Subject", -1, "a blank before the colon belongs to the name"},
        {{"Subject : x"}, "Subject ", 0, "...and is found with it"},
        {{"Subj: x"}, "Subject", -1, "the whole name is compared"},
        {{"Subject-X: x"}, "Subject", -1, "a longer name does not match"},
        {{"To: a: b"}, "To", 0, "the name ends at the first colon"},
        {{"abc", ": x"}, "", 1, "an empty name before a colon"},
        {{}, "Subject", -1, "empty list"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Make(c.Lines).IndexOfName(c.Name), c.Index) << c.Rule;
}

TEST(ExStringListIndexOfName, SortedListBisects)
{
    const TExStringList l = Make({"Date: d", "From: f", "Received: r", "Subject: s", "To: t", "X-Mailer: m"}, true);
    EXPECT_EQ(l.IndexOfName("date"), 0);
    EXPECT_EQ(l.IndexOfName("Received"), 2);
    EXPECT_EQ(l.IndexOfName("x-mailer"), 5);
    EXPECT_EQ(l.IndexOfName("Cc"), -1);         // before the first
    EXPECT_EQ(l.IndexOfName("Zzz"), -1);        // after the last
    EXPECT_EQ(l.IndexOfName("Reply-To"), -1);   // between two
    EXPECT_EQ(Make({}, true).IndexOfName("To"), -1);
    // An entry without a colon takes part as an empty name.
    EXPECT_EQ(Make({"plain", "To: t"}, true).IndexOfName("To"), 1);
}

TEST(ExStringListGetValue, ValueFollowsColonLessOneBlank)
{
    struct Case {
        const char* Line;
        const char* Name;
        const char* Value;
        const char* Rule;
    };
    const Case cases[] = {
        {"Subject: hello", "Subject", "hello", "one blank removed"},
        {"Subject:hello", "subject", "hello", "no blank, any case"},
        {"Subject:  hello", "SUBJECT", " hello", "only one blank removed"},
        {"Subject:\thello", "Subject", "\thello", "a tab is kept"},
        {"Subject:", "Subject", "", "entry ends at its colon"},
        {"Subject: ", "Subject", "", "entry ends at the blank"},
        {"To: a: b", "To", "a: b", "later colons are part of the value"},
        {"To: a", "Subject", "", "absent name"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Make({c.Line}).GetValue(c.Name), c.Value) << c.Rule;
}

TEST(ExStringListSetValue, ReplacesAppendsAndDeletes)
{
    TExStringList l = Make({"From: a", "Subject: old", "To: b"});
    l.SetValue("subject", "new");  // in place, with the caller's spelling of the name
    EXPECT_EQ(l.Items(), (std::vector<std::string>{"From: a", "subject: new", "To: b"}));

    l.SetValue("X-New", "v");  // absent: appended at the end
    EXPECT_EQ(l.Get(3), "X-New: v");

    l.SetValue("Cc", "");  // absent and empty: nothing happens
    EXPECT_EQ(l.Count(), 4);

    l.SetValue("FROM", "");  // empty value deletes the entry
    EXPECT_EQ(l.Items(), (std::vector<std::string>{"subject: new", "To: b", "X-New: v"}));
}

TEST(ExStringListSetValue, EmptyValueRemovesOnlyTheFirstOfTwo)
{
    TExStringList l = Make({"Received: 1", "Received: 2"});
    l.SetValue("Received", "");
    EXPECT_EQ(l.Items(), std::vector<std::string>{"Received: 2"});
}

TEST(ExStringListSetValue, SortedListStaysSortedAndKeepsItsEmptyEntry)
{
    // A header list ends with an empty entry; appending to a sorted list must not take it over.
    TExStringList l = Make({"", "From: a", "To: b"}, true);
    l.SetValue("Subject", "s");
    EXPECT_EQ(l.Items(), (std::vector<std::string>{"", "From: a", "Subject: s", "To: b"}));
    l.SetValue("From", "z");
    EXPECT_EQ(l.Items(), (std::vector<std::string>{"", "From: z", "Subject: s", "To: b"}));
    EXPECT_EQ(l.GetValue("subject"), "s");
}
