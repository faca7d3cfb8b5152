// Who fills the mailbox: TSenderGrouping over a store of 10,000 listed messages (headers with
// Received lines, senders with ISO-2022-JP, UTF-8 and plain names, a few hundred addresses
// over fewer domains), by address and by domain at once. Figures, medians of several runs:
//  - the whole table from a filled store (goal: under 50 ms, so it never holds the window);
//  - the grouping following the store while the rows arrive one by one, as a listing adds them
//    (with the time the store takes for those appends alone);
//  - the rule matcher (ten rules of every kind) over the same store;
// each also as a ratio against a reference in the same run: one pass that counts the records
// by their decoded From text in a hash map, the least any grouping has to do.
//
// Usage: bench_mailbox [messages [runs]]

#include "bench/Measure.h"
#include "mailbox/Rules.h"
#include "mailbox/SenderGrouping.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using bench::Clock;
using bench::Median;
using bench::Seconds;

// Names as senders encode them: ISO-2022-JP and UTF-8 "B" words, and plain ASCII.
const char* const Names[] = {
    "=?ISO-2022-JP?B?GyRCOjRGIzJWO1IbKEI=?=",                 // 佐藤花子
    "=?ISO-2022-JP?B?GyRCM3Q8MDJxPFIlNSVzJVclaz4mRTkbKEI=?=",  // 株式会社サンプル商店
    "=?UTF-8?B?6YCx5YiK44OL44Ol44O844K5?=",                   // 週刊ニュース
    "\"Example Shop\"",
    "Taro Yamada",
};

std::vector<TMessageRecord> Make(int count)
{
    std::vector<TMessageRecord> records;
    unsigned r = 12345;
    auto next = [&r](unsigned n) { return (r = r * 1103515245u + 12345u) / 65536u % n; };
    for (int n = 1; n <= count; ++n) {
        const unsigned sender = next(400), domain = sender % 90;
        const std::string address = "user" + std::to_string(sender) + "@mail" + std::to_string(domain % 3) + ".Domain" +
                                    std::to_string(domain) + ".example.jp";
        std::vector<std::string> lines{
            "Return-Path: <bounce-" + std::to_string(n) + "@example.net>",
            "Received: from mx" + std::to_string(next(50)) + ".example.net (mx.example.net [192.0.2.1])",
            "\tby pop.example.jp with ESMTP id " + std::to_string(n) + "; Mon, 3 Mar 2025 10:00:00 +0900",
            "Received: from localhost by mx.example.net; Mon, 3 Mar 2025 09:59:59 +0900",
            "Message-ID: <" + std::to_string(n) + "." + std::to_string(next(100000)) + "@example.jp>",
            "Date: Mon, " + std::to_string(1 + next(28)) + " Mar 2025 10:00:00 +0900",
            next(4) == 0 ? "From: " + address : "From: " + std::string(Names[next(5)]) + " <" + address + ">",
            "To: someone@example.jp",
            "Subject: =?ISO-2022-JP?B?GyRCPTU0KSVLJWUhPCU5GyhC?= " + std::to_string(n),
            "MIME-Version: 1.0",
            "Content-Type: text/plain; charset=ISO-2022-JP",
        };
        TMessageRecord record;
        record.Number = n;
        record.Size = 1000 + next(200000);
        ReadHeader(record, lines);
        records.push_back(std::move(record));
    }
    return records;
}

// The reference: every record counted once by its decoded sender, in a hash map.
double Reference(const TMessageStore& store, std::size_t& groups)
{
    const auto start = Clock::now();
    std::unordered_map<std::string, std::pair<int, long long>> counts;
    for (int row = 0; row < store.Count(); ++row) {
        auto& c = counts[store.At(row).From];
        ++c.first;
        c.second += store.At(row).Size;
    }
    groups = counts.size();
    return Seconds(start, Clock::now());
}

double Whole(TMessageStore& store, int& groups)
{
    const auto start = Clock::now();
    const TSenderGrouping grouping(store);
    groups = grouping.Count(TGroupBy::Address) + grouping.Count(TGroupBy::Domain);
    return Seconds(start, Clock::now());
}

// The rows appended one by one, with the grouping following or without it.
double Following(const std::vector<TMessageRecord>& records, bool grouped)
{
    TMessageStore store;
    std::optional<TSenderGrouping> grouping;
    if (grouped)
        grouping.emplace(store);
    const auto start = Clock::now();
    for (const TMessageRecord& r : records)
        store.Append(r);
    return Seconds(start, Clock::now());
}

double Matching(TMessageStore& store, int& checked)
{
    const std::vector<TRule> rules = {
        {TRuleAction::Keep, TRuleKind::Sender, "user7@mail1.domain7.example.jp", 0, ""},
        {TRuleAction::Keep, TRuleKind::Domain, "domain8.example.jp", 0, ""},
        {TRuleAction::Check, TRuleKind::Sender, "user1@mail1.domain1.example.jp", 0, ""},
        {TRuleAction::Check, TRuleKind::Sender, "user2@mail2.domain2.example.jp", 0, ""},
        {TRuleAction::Check, TRuleKind::Domain, "domain3.example.jp", 0, ""},
        {TRuleAction::Check, TRuleKind::Domain, "domain4.example.jp", 0, "other@pop"},
        {TRuleAction::Check, TRuleKind::Subject, "\xe9\x80\xb1\xe5\x88\x8a 99" /* utf-8: 週刊 99 */, 0, ""},
        {TRuleAction::Check, TRuleKind::Subject, "sale", 0, ""},
        {TRuleAction::Check, TRuleKind::LargerThan, "", 190000, ""},
        {TRuleAction::Check, TRuleKind::OlderThan, "", 3650, ""},
    };
    store.SetAllChecked(false);
    const auto start = Clock::now();
    checked = ApplyRules(TRuleMatcher(rules, "me@pop", 1750000000), store, 0, store.Count() - 1);
    return Seconds(start, Clock::now());
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
    const std::vector<TMessageRecord> records = Make(count);
    TMessageStore store;
    store.Append(records);
    std::vector<double> reference, whole, following, appending, matching;
    std::size_t referenceGroups = 0;
    int groups = 0, checked = 0;
    for (int i = 0; i < runs; ++i) {
        reference.push_back(Reference(store, referenceGroups));
        whole.push_back(Whole(store, groups));
        following.push_back(Following(records, true));
        appending.push_back(Following(records, false));
        matching.push_back(Matching(store, checked));
    }
    const double ref = Median(reference), all = Median(whole), match = Median(matching);
    const double follow = Median(following), append = Median(appending);
    std::printf("grouping of %d messages into %d groups (by address and by domain), median of %d runs:\n", count, groups, runs);
    std::printf("  whole table:              %7.2f ms  (%.1fx the reference; goal: under 50 ms) %s\n", all * 1e3,
                all / ref, all < 0.05 ? "ok" : "MISSED");
    std::printf("  following the rows:       %7.2f ms  (%.1fx; the store's own appends %.2f ms of it)\n", follow * 1e3,
                follow / ref, append * 1e3);
    std::printf("  rule matcher, 10 rules:   %7.2f ms  (%.1fx; %d checked)\n", match * 1e3, match / ref, checked);
    std::printf("  reference (%zu senders):  %7.2f ms\n", referenceGroups, ref * 1e3);
    return all < 0.05 ? 0 : 1;
}
