#pragma once
// The conditions of `purgel-clean delete`, and whether a message meets them. Every condition
// given must hold ("and"); the senders of --from are alternatives ("or"). A message is never
// judged by what is unknown of it: one without a date is not older than anything, one of
// unknown size not larger. Pure functions; nothing raised but std::bad_alloc.

#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "mailbox/MessageStore.h"

struct TConditions {
    std::optional<int> OlderThanDays;
    std::optional<long long> LargerThan;   // bytes
    // Lower-case addresses ("a@example.jp") and domains ("@example.jp").
    std::vector<std::string> From;
    std::optional<QString> Subject;        // as MessageList::MatchKey gives it
    bool Any() const { return OlderThanDays || LargerThan || !From.empty() || Subject; }
};

// The address of a From text as decoded for people ("Name <a@b>", "a@b (Name)", "a@b"), in
// lower case; "" when it holds none.
std::string SenderAddress(const std::string& from);

// `now`: seconds since the epoch.
bool Meets(const TConditions& conditions, const TMessageRecord& record, long long now);
