// libFuzzer target: the header cache's reader. Whatever the bytes, it must not crash; what it
// reads must be written back by the writer to the same entries; the whole records it found,
// read alone, must give the same entries with nothing torn; and the file reader, which holds
// a record at a time, must find what the reader of the bytes in memory finds.
#include "mailbox/HeaderCache.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "header cache check failed: %s\n", what);
    std::abort();
}

bool SameEntries(const THeaderCache& a, const THeaderCache& b)
{
    if (a.Entries.size() != b.Entries.size())
        return false;
    for (const auto& [uidl, e] : a.Entries) {
        const auto other = b.Entries.find(uidl);
        if (other == b.Entries.end() || other->second.Size != e.Size || other->second.FirstSeen != e.FirstSeen ||
            other->second.Header != e.Header || other->second.Subject != e.Subject || other->second.From != e.From ||
            other->second.Date != e.Date)
            return false;
    }
    return true;
}
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    // The seeds are files of this mailbox.
    const std::string key = THeaderCache::KeyFor("pop.example.jp", 110, "alice");
    THeaderCache cache("/nonexistent/cache", key), again("/nonexistent/cache", key);
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::size_t good = 0;
    const TCacheState state = cache.Parse(bytes, good);
    // A damaged file is removed by the file reader: the file is written anew for each input.
    static const std::string file = "/tmp/fuzz_app_cache." + std::to_string(::getpid());
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(size));
    THeaderCache fromFile(file, key);
    if (fromFile.Load() != state || fromFile.Records() != cache.Records() || !SameEntries(cache, fromFile))
        Fail("the file reader reads otherwise");
    if (state == TCacheState::Damaged) {
        if (!cache.Entries.empty())
            Fail("a damaged file gave entries");
        return 0;
    }
    if (good > size || cache.Records() < cache.Entries.size())
        Fail("more read than there is");
    std::size_t wholeGood = 0;
    if (state == TCacheState::TornTail && good > 0 && again.Parse(bytes.substr(0, good), wholeGood) != TCacheState::Whole &&
        !cache.Entries.empty())
        Fail("the whole records alone are not a whole file");
    if (state == TCacheState::TornTail && good > 0 && !cache.Entries.empty() && !SameEntries(cache, again))
        Fail("the whole records alone read otherwise");
    std::vector<TCacheEntry> entries;
    for (const auto& [uidl, e] : cache.Entries)
        entries.push_back({uidl, e.Size, e.FirstSeen, e.Header, e.Subject, e.From, e.Date});
    if (again.Parse(cache.Format(entries), wholeGood) != TCacheState::Whole || !SameEntries(cache, again))
        Fail("what was read is not written back the same");
    return 0;
}
