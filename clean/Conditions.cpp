#include "clean/Conditions.h"

#include <algorithm>

std::optional<TRule> SenderCondition(const std::string& text)
{
    const std::size_t at = text.find('@');
    if (at == std::string::npos || at + 1 == text.size() || text.find('@', at + 1) != std::string::npos ||
        text.find_first_of(" \t<>") != std::string::npos)
        return std::nullopt;
    TRule rule;
    rule.Kind = at == 0 ? TRuleKind::Domain : TRuleKind::Sender;
    rule.Text = at == 0 ? FoldDomain(text) : FoldAddress(text);
    if (rule.Text.empty())
        return std::nullopt;
    return rule;
}

bool Meets(const TConditions& conditions, const TRuleMatcher* rules, const TMessageRecord& record, long long now)
{
    if (!record.HeaderKnown || record.Deleted)
        return false;
    const TSender sender = SenderOf(record);
    const auto matches = [&](const TRule& rule) { return RuleMatches(rule, record, sender, now); };
    if (!std::all_of(conditions.All.begin(), conditions.All.end(), matches))
        return false;
    if (!conditions.From.empty() && std::none_of(conditions.From.begin(), conditions.From.end(), matches))
        return false;
    return !conditions.Rules || (rules && rules->Verdict(record) == TVerdict::Check);
}
