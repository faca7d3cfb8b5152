#pragma once
// The rules that check messages for deletion, and their matcher.
//
// A rule checks the messages it matches (TRuleAction::Check) or keeps them from being checked
// by any rule (Keep: a friend; friends win). Kinds: by sender address, by domain (the domain
// and its subdomains), subject containing a text (full- and half-width forms and case alike,
// MessageList::MatchKey), larger than a number of bytes, older than a number of days. A rule
// is for every account or for one (AccountKey). A message whose header is not known yet
// matches no rule; a size or date rule passes over a message without a size or date.
//
// Rules only check: nothing here unchecks a message or deletes one. Pure functions and a
// value class; nothing raised but std::bad_alloc. The matcher uses Qt Core's Unicode tables.

#include <QString>
#include <string>
#include <vector>

#include "mailbox/AccountFile.h"
#include "mailbox/MessageStore.h"
#include "mailbox/Sender.h"

enum class TRuleAction { Check, Keep };
enum class TRuleKind { Sender, Domain, Subject, LargerThan, OlderThan };

struct TRule {
    TRuleAction Action = TRuleAction::Check;
    TRuleKind Kind = TRuleKind::Sender;
    // Sender: the folded address; Domain: the folded domain; Subject: the text (UTF-8).
    std::string Text;
    // LargerThan: bytes; OlderThan: days.
    long long Number = 0;
    // "" for every account, else the AccountKey of the one it is for.
    std::string Account;
    bool operator==(const TRule&) const = default;
};

// How a rule names its account: "<ID>@<server>" (the server in lower case), which stays
// when the account is renamed.
std::string AccountKey(const TAccountFields& account);

// Whether one rule matches a message, whatever its scope and action. `sender` is
// SenderOf(record); `now` in seconds since the epoch.
bool RuleMatches(const TRule& rule, const TMessageRecord& record, const TSender& sender, long long now);

enum class TVerdict { None, Check, Keep };

// The rules of one account at one moment, ready to match many messages.
class TRuleMatcher {
public:
    TRuleMatcher(const std::vector<TRule>& rules, const std::string& accountKey, long long now);

    bool Empty() const { return FRules.empty(); }
    // Keep when a friend rule matches, else Check when another rule does, else None.
    TVerdict Verdict(const TMessageRecord& record) const;

private:
    std::vector<TRule> FRules;         // the account's, friends first
    std::vector<QString> FSubjectKeys; // per rule: the match form of a subject rule's text
    long long FNow;
};

// Checks every row in first..last that the matcher says Check, unless it is deleted, checked
// already or its header is not known yet. Returns how many rows it checked.
int ApplyRules(const TRuleMatcher& matcher, TMessageStore& store, int first, int last);
