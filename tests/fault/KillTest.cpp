// "Account.lst" under SIGKILL: a child saves account lists in a loop and is killed at random
// moments, a few hundred times; after every kill the file must hold one of the lists that
// were saved, whole, and beside it there may be at most the save's one temporary file.
#include "tests/fault/AccountLists.h"
#include "tests/support/Files.h"
#include "tests/support/Timing.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

extern char** environ;

namespace {

using testsupport::ReadFile;

namespace fs = std::filesystem;
using testsupport::Clock;

std::vector<std::string> Entries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The saver started (saving from list `firstList` on) with its standard output on a pipe; returns its pid once it has begun
// saving (-1 when it could not be started).
pid_t StartSaver(std::string file, int firstList)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::string first = std::to_string(firstList);
    char* argv[] = {const_cast<char*>(ACCOUNT_SAVER), file.data(), first.data(), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, ACCOUNT_SAVER, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    char ready = 0;
    const bool started = rc == 0 && ::read(out[0], &ready, 1) == 1;
    ::close(out[0]);
    if (rc == 0 && !started) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    return started ? pid : -1;
}

TEST(AccountFileKill, EveryKillLeavesOneWholeSavedListAndAtMostOneTemporaryFile)
{
    const testsupport::TempFolder scratch("purgel-kill");
    const fs::path& folder = scratch.Path();
    const std::string file = (folder / "Account.lst").string();
    const std::string temp = AccountTempName(file);

    // What the file may hold: the list there before the first kill, or any list the child saves.
    const std::vector<TAccountFields> before{{"before", "id", "pw", "pop.example.jp", "30", "110"}};
    SaveAccountFile(file, before);
    std::vector<std::string> complete{FormatAccounts(before)};
    for (int k = 0; k < faulttest::SavedListCount; ++k)
        complete.push_back(FormatAccounts(faulttest::SavedList(k)));

    std::mt19937 random(20240601);
    std::uniform_int_distribution<int> delayUs(0, 3000);
    std::uniform_int_distribution<int> firstList(0, faulttest::SavedListCount - 1);
    const auto start = Clock::now();
    int kills = 0, tempLeft = 0;
    std::set<std::size_t> seen;
    // At least 100 kills however slow the machine is (a sanitizer build on a loaded machine
    // manages fewer than 10 a second), at most 300, and no more than 5 s past the 100th.
    const auto enough = [&] {
        const auto spent = Clock::now() - start;
        return kills >= 300 || spent > testsupport::Generous(std::chrono::seconds(60)) || (kills >= 100 && spent > std::chrono::seconds(5));
    };
    while (!enough()) {
        const pid_t pid = StartSaver(file, firstList(random));
        ASSERT_GT(pid, 0) << "the saver did not start";
        ::usleep(static_cast<useconds_t>(delayUs(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the saver ended by itself";
        ++kills;

        const std::string text = ReadFile(file);
        ASSERT_FALSE(text.empty()) << "empty after kill " << kills;
        const auto which = std::find(complete.begin(), complete.end(), text);
        ASSERT_NE(which, complete.end()) << "not a whole saved list after kill " << kills << " (" << text.size() << " bytes)";
        ASSERT_EQ(FormatAccounts(ParseAccounts(text)), text);
        seen.insert(static_cast<std::size_t>(which - complete.begin()));

        const auto names = Entries(folder);
        if (names.size() == 2) {
            ASSERT_EQ(names, (std::vector<std::string>{"Account.lst", "Account.lst.tmp"}));
            ++tempLeft;
            struct stat st {};
            ASSERT_EQ(::stat(temp.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u) << "the left temporary file holds passwords";
        } else {
            ASSERT_EQ(names, std::vector<std::string>{"Account.lst"});
        }
    }
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    std::printf("[ figures  ] %d kills in %lld ms; %d left the temporary file (killed inside a save); "
                "%zu of %zu lists seen\n",
                kills, ms, tempLeft, seen.size(), complete.size());
    EXPECT_GE(kills, 100);
    EXPECT_GT(tempLeft, 0) << "no kill landed inside a save";

    // The next save takes the left file over: afterwards only the account file is there.
    SaveAccountFile(file, before);
    EXPECT_EQ(Entries(folder), std::vector<std::string>{"Account.lst"});
    EXPECT_EQ(ReadFile(file), complete[0]);
}

} // namespace
