#pragma once
// The conditions of `purgel-clean delete`, and whether a message meets them. Each condition
// is a rule of the rules file's kinds (mailbox/Rules.h), judged as the window's rules judge:
// every condition given must hold ("and"), the senders of --from are alternatives ("or"),
// and --rules adds the verdict of the rules file (a friend is never deleted). A message is
// never judged by what is unknown of it: one whose header is unknown meets nothing, one
// without a date is not older than anything, one of unknown size not larger. Pure functions;
// nothing raised but std::bad_alloc.

#include <optional>
#include <string>
#include <vector>

#include "mailbox/Rules.h"

struct TConditions {
    std::vector<TRule> All;    // --older-than, --larger-than, --subject: each must match
    std::vector<TRule> From;   // --from: one of them must match
    bool Rules = false;        // --rules: the rules file must say Check
    bool Any() const { return !All.empty() || !From.empty() || Rules; }
};

// The rule of `--from` for "ADDRESS" or "@DOMAIN"; none for anything else.
std::optional<TRule> SenderCondition(const std::string& text);

// `rules`: the matcher of the rules file, consulted only with --rules; `now`: seconds since
// the epoch.
bool Meets(const TConditions& conditions, const TRuleMatcher* rules, const TMessageRecord& record, long long now);
