// The kill test's child: saves the lists of AccountLists.h into the file named by its
// argument, one after the other, until it is killed. It writes one byte to its standard
// output when the first save begins, so the test kills it inside its saving loop.
#include "tests/fault/AccountLists.h"

#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s Account.lst\n", argv[0]);
        return 2;
    }
    const std::vector<std::vector<TAccountFields>> lists = [] {
        std::vector<std::vector<TAccountFields>> all;
        for (int k = 0; k < faulttest::SavedListCount; ++k)
            all.push_back(faulttest::SavedList(k));
        return all;
    }();
    if (::write(STDOUT_FILENO, "+", 1) != 1)
        return 1;
    for (unsigned i = 0;; ++i)
        SaveAccountFile(argv[1], lists[i % lists.size()]);
}
