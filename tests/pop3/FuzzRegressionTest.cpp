// Every input that once made a pop3 fuzz target fail is kept under data/regressions, named
// after the fault with the target's family first (codec-, headerlist-, dialogue-), and is
// replayed here through that target's checks.
#include "fuzz/pop3/DialogueReplay.h"
#include "fuzz/pop3/Pop3Checks.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using testsupport::ReadFile;

void ReportFailure(const char* what) { ADD_FAILURE() << what; }

bool HasPrefix(const std::string& name, const char* prefix)
{
    return name.rfind(prefix, 0) == 0;
}

} // namespace

TEST(FuzzRegressions, EveryKeptInputPassesItsTargetsChecks)
{
    const testsupport::TempFolder scratch("purgel-pop3-regressions");
    Pop3Checks::DialogueReplay dialogue(scratch.Path());
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(__FILE__).parent_path() / "data" / "regressions")) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const std::string bytes = ReadFile(entry.path());
        if (HasPrefix(name, "codec-"))
            Pop3Checks::Codec(bytes, ReportFailure);
        else if (HasPrefix(name, "headerlist-"))
            Pop3Checks::HeaderList(bytes, ReportFailure);
        else if (HasPrefix(name, "dialogue-"))
            dialogue.Run(bytes, ReportFailure);
        else
            ADD_FAILURE() << "no target family in the name";
        ++replayed;
    }
    EXPECT_GT(replayed, 0);
}

// The dialogue target's seeds run through the same checks, so the replay itself is proven
// on whole dialogues (multipart attachments, refusals, a cut-off reply).
TEST(FuzzRegressions, TheDialogueSeedsPassTheirChecks)
{
    const testsupport::TempFolder scratch("purgel-pop3-seeds");
    Pop3Checks::DialogueReplay dialogue(scratch.Path());
    const auto seeds = std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "fuzz" / "corpus" / "fuzz_pop3_dialogue";
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(seeds)) {
        SCOPED_TRACE(entry.path().filename().string());
        dialogue.Run(ReadFile(entry.path()), ReportFailure);
        ++replayed;
    }
    EXPECT_GT(replayed, 0);
}

// The two faults of the header list, as plain cases.
TEST(FuzzRegressions, SortedSetValueKeepsTheEntryBesideOneThatDiffersInCase)
{
    TExStringList list;
    list.Add("a: 1");
    list.Add("A: 1");   // equal to "a: 1" for the list's case-insensitive order
    list.SetSorted(true);
    list.SetValue("A", "1");
    EXPECT_EQ(list.Count(), 2) << "the replaced entry went missing";
    EXPECT_EQ(list.IndexOf("A: 1") >= 0, true);
}

TEST(FuzzRegressions, SortedLookUpOfAnEmptyNameMeetsNoEntryWithoutAColon)
{
    TExStringList list;
    list.Add("no colon");
    list.Add("");
    list.SetSorted(true);
    EXPECT_EQ(list.IndexOfName(""), -1);
    EXPECT_EQ(list.GetValue(""), "") << "and it does not raise";
    list.Add(": empty name");
    EXPECT_EQ(list.GetValue(""), "empty name");
}
