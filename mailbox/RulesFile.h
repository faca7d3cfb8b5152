#pragma once
// "Rules.lst": the user's rules (Rules.h), beside "Account.lst". UTF-8 text, made to be read
// and edited by hand:
//
//   # comment (a line whose first non-blank character is "#"); empty lines are ignored
//   check sender news@shop.example.jp    check every message from this address
//   keep sender mother@example.jp        a friend: no rule checks this sender's messages
//   check domain example.com             this domain and its subdomains ("@x" and "*.x" too)
//   check subject 広告                   the subject contains the text (the rest of the line)
//   check larger 5M                      larger than: bytes, or with K, M or G (units of 1024)
//   check older 365                      older than this many days
//   [taro@pop.example.jp]                the rules below are for this account only
//   [*]                                  the rules below are for every account again
//
// A line is an action ("check" or "keep"), a kind ("sender", "domain", "subject", "larger",
// "older") and a value, separated by blanks; words in any case. An account is named
// "<ID>@<server>" (AccountKey). Lines end with LF or CR LF; a UTF-8 byte order mark is
// skipped.
//
// A line that cannot be read (an unknown word, a missing or bad value, text that is not
// UTF-8) is skipped and reported with its number; it is never lost: a save writes it again,
// as it was, in its section. Loading never raises. Saving writes a header comment that states
// the format, every rule for all accounts, then a section per account, and raises Exception
// like SaveAccountFile; like it, it never leaves a partial file (mode 0600). Comments of a
// hand-edited file other than that header are not kept.

#include <string>
#include <string_view>
#include <vector>

#include "mailbox/Rules.h"

// A line that could not be read, as it stood, with the account section it stood in.
struct TUnreadRuleLine {
    int Line = 0;          // counted from 1
    std::string Text;
    std::string Account;
    bool operator==(const TUnreadRuleLine&) const = default;
};

struct TRulesFileContent {
    std::vector<TRule> Rules;
    std::vector<TUnreadRuleLine> Unread;
};

TRulesFileContent ParseRules(std::string_view text);
std::string FormatRules(const TRulesFileContent& content);
// One rule as a line of the file (without its section).
std::string FormatRuleLine(const TRule& rule);
// A rule's value as the file writes it, and read back as the file reads it: false for a
// value the rule's kind cannot take (the rule's Text or Number then undefined).
std::string RuleValueText(const TRule& rule);
bool ParseRuleValue(TRule& rule, std::string_view value);

// A size as people write it: digits, then optionally K, M or G (with or without a following
// "B", any case; units of 1024). False for anything else or a size that does not fit.
bool ParseRuleSize(std::string_view text, long long& bytes);
// The shortest such text for a size ("5M" for 5 MiB, "1500" for 1500 bytes).
std::string FormatRuleSize(long long bytes);

// Fills `content` from the file; false when the file exists but cannot be read (content then
// empty). A missing file gives no rules and true.
bool LoadRulesFile(const std::string& fileName, TRulesFileContent& content);
void SaveRulesFile(const std::string& fileName, const TRulesFileContent& content);
