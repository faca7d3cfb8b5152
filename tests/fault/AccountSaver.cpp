// The kill test's child: saves the lists of AccountLists.h into the file named by its first
// argument, one after the other from the list its second argument names, until it is killed. It writes one byte to its standard
// output when the first save begins, so the test kills it inside its saving loop.
// With "--cache file" it appends header cache entries (CacheEntry) to what the file holds,
// compacting it now and then, instead.
#include "mailbox/HeaderCache.h"
#include "tests/fault/AccountLists.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

int main(int argc, char** argv)
{
    if (argc == 3 && std::string_view(argv[1]) == "--cache") {
        THeaderCache cache(argv[2], faulttest::CacheKey);
        cache.Load();
        std::vector<std::string> uidls, headers;
        for (long long i = static_cast<long long>(cache.Entries.size());; ++i) {
            if (i % 400 == 399) {   // the newest 100 only, written beside and renamed over
                std::vector<TCacheEntry> kept;
                uidls.reserve(100);   // the entries' views must stay valid
                headers.reserve(100);
                for (long long k = i - 100; k < i; ++k)
                    kept.push_back(faulttest::CacheEntry(k, uidls.emplace_back(), headers.emplace_back()));
                cache.Rewrite(kept);
                uidls.clear();
                headers.clear();
            }
            std::string uidl, header;
            cache.Append(faulttest::CacheEntry(i, uidl, header));
            if (i == static_cast<long long>(cache.Entries.size()) && ::write(STDOUT_FILENO, "+", 1) != 1)
                return 1;
        }
    }
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
