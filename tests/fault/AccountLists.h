#pragma once
// The account lists the kill test's child saves in turn: different sizes (one account to a
// few hundred), quotes, commas and Shift-JIS bytes in the fields, every list telling itself
// apart by its first name.
#include "mailbox/AccountFile.h"
#include "mailbox/HeaderCache.h"

#include <string>
#include <vector>

namespace faulttest {

constexpr int SavedListCount = 8;

inline std::vector<TAccountFields> SavedList(int k)
{
    std::vector<TAccountFields> list;
    const int n = 1 + k * 45;
    for (int i = 0; i < n; ++i) {
        const std::string tag = std::to_string(k) + "." + std::to_string(i);
        list.push_back({"list " + tag, "user\"" + tag, "pa,ss\"\"" + tag + "\x82\xa0", "pop" + tag + ".example.jp",
                        std::to_string(30 + i), "110"});
    }
    return list;
}

// The header cache entry the child appends as its i-th (the caller keeps the strings the
// entry's views show), and the mailbox of its file.
constexpr const char* CacheKey = "alice@pop.example.jp:110";
inline TCacheEntry CacheEntry(long long i, std::string& uidl, std::string& header)
{
    uidl = "uidl-" + std::to_string(i);
    header = "Subject: " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 300), 'x') + "\r\n";
    return {uidl, i * 7, i, header, std::string_view(header).substr(8, 4), "a@example.jp", i};
}

} // namespace faulttest
