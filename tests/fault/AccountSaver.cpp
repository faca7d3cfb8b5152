// The kill test's child: saves the lists of AccountLists.h into the file named by its first
// argument, one after the other from the list its second argument names, until it is killed. It writes one byte to its standard
// output when the first save begins, so the test kills it inside its saving loop.
#include "tests/fault/AccountLists.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s Account.lst first-list\n", argv[0]);
        return 2;
    }
    const unsigned first = static_cast<unsigned>(std::atoi(argv[2]));
    const std::vector<std::vector<TAccountFields>> lists = [] {
        std::vector<std::vector<TAccountFields>> all;
        for (int k = 0; k < faulttest::SavedListCount; ++k)
            all.push_back(faulttest::SavedList(k));
        return all;
    }();
    if (::write(STDOUT_FILENO, "+", 1) != 1)
        return 1;
    for (unsigned i = first;; ++i)
        SaveAccountFile(argv[1], lists[i % lists.size()]);
}
