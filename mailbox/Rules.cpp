#include "mailbox/Rules.h"

#include <algorithm>

#include "mailbox/MessageList.h"
#include "runtime/SysUtils.h"

namespace {
constexpr long long SecondsPerDay = 24 * 60 * 60;

QString SubjectKey(const std::string& text)
{
    return MessageList::MatchKey(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

bool Matches(const TRule& rule, const TMessageRecord& r, const TSender& sender, const QString& subjectKey, long long now)
{
    if (!r.HeaderKnown)
        return false;
    switch (rule.Kind) {
    case TRuleKind::Sender: return !sender.Address.empty() && sender.Address == rule.Text;
    case TRuleKind::Domain: return DomainWithin(sender.Domain, rule.Text);
    case TRuleKind::Subject: return !subjectKey.isEmpty() && SubjectKey(r.Subject).contains(subjectKey);
    case TRuleKind::LargerThan: return r.Size >= 0 && r.Size > rule.Number;
    case TRuleKind::OlderThan: return r.Date && *r.Date < now - rule.Number * SecondsPerDay;
    }
    return false;
}

bool UsesSender(const TRule& rule) { return rule.Kind == TRuleKind::Sender || rule.Kind == TRuleKind::Domain; }
}

std::string AccountKey(const TAccountFields& account)
{
    return account[afUserID] + "@" + LowerCase(account[afServer]);
}

bool RuleMatches(const TRule& rule, const TMessageRecord& record, const TSender& sender, long long now)
{
    return Matches(rule, record, sender, rule.Kind == TRuleKind::Subject ? SubjectKey(rule.Text) : QString(), now);
}

TRuleMatcher::TRuleMatcher(const std::vector<TRule>& rules, const std::string& accountKey, long long now) : FNow(now)
{
    for (const TRule& rule : rules)
        if (rule.Account.empty() || rule.Account == accountKey)
            FRules.push_back(rule);
    std::stable_partition(FRules.begin(), FRules.end(), [](const TRule& r) { return r.Action == TRuleAction::Keep; });
    for (const TRule& rule : FRules)
        FSubjectKeys.push_back(rule.Kind == TRuleKind::Subject ? SubjectKey(rule.Text) : QString());
}

// Friends come first, so the first rule that matches decides.
TVerdict TRuleMatcher::Verdict(const TMessageRecord& record) const
{
    if (FRules.empty() || !record.HeaderKnown)
        return TVerdict::None;
    // The sender is read only when a rule asks for it.
    TSender sender;
    bool senderRead = false;
    for (std::size_t i = 0; i < FRules.size(); ++i) {
        if (UsesSender(FRules[i]) && !senderRead) {
            sender = SenderOf(record);
            senderRead = true;
        }
        if (Matches(FRules[i], record, sender, FSubjectKeys[i], FNow))
            return FRules[i].Action == TRuleAction::Keep ? TVerdict::Keep : TVerdict::Check;
    }
    return TVerdict::None;
}

int ApplyRules(const TRuleMatcher& matcher, TMessageStore& store, int first, int last)
{
    if (matcher.Empty())
        return 0;
    int checked = 0;
    for (int row = std::max(0, first); row <= last && row < store.Count(); ++row) {
        const TMessageRecord& r = store.At(row);
        if (r.Deleted || r.Checked || !r.HeaderKnown || matcher.Verdict(r) != TVerdict::Check)
            continue;
        store.SetChecked(row, true);
        ++checked;
    }
    return checked;
}
