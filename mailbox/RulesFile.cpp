#include "mailbox/RulesFile.h"

#include <QUtf8StringView>
#include <algorithm>
#include <charconv>
#include <limits>

#include "mailbox/AccountFile.h"
#include "runtime/SysUtils.h"

namespace {
// What a saved file starts with: its format, for whoever opens it.
constexpr const char* FileHeader =
    "# Purgel: the rules that check messages for deletion. UTF-8, one rule a line:\n"
    "#   check sender ADDRESS   check the messages from this address\n"
    "#   check domain DOMAIN    ... from this domain or one of its subdomains\n"
    "#   check subject TEXT     ... whose subject contains TEXT (case and width do not matter)\n"
    "#   check larger SIZE      ... larger than SIZE bytes (or 500K, 5M, 1G)\n"
    "#   check older DAYS       ... older than DAYS days\n"
    "#   keep KIND VALUE        a friend: what it matches is never checked by a rule\n"
    "#   [ID@server]            the rules below are for that account only; [*]: for all again\n"
    "# Rules only check messages: deleting still takes the Delete button and its question.\n"
    "# Lines that cannot be read are reported and kept. Only this comment is kept when\n"
    "# Purgel saves the file.\n";
constexpr long long MaxDays = 1000000;

const char* const ActionWords[] = {"check", "keep"};
const char* const KindWords[] = {"sender", "domain", "subject", "larger", "older"};

bool Blank(char c) { return c == ' ' || c == '\t'; }

// The first word of `s`, which then holds the rest.
std::string_view TakeWord(std::string_view& s)
{
    s = TrimView(s);
    std::size_t end = 0;
    while (end < s.size() && !Blank(s[end]))
        ++end;
    const std::string_view word = s.substr(0, end);
    s = TrimView(s.substr(end));
    return word;
}

template <std::size_t N>
int WordIndex(std::string_view word, const char* const (&words)[N])
{
    const std::string lower = LowerCase(std::string(word));
    for (std::size_t i = 0; i < N; ++i)
        if (lower == words[i])
            return static_cast<int>(i);
    return -1;
}

bool ParseDays(std::string_view text, long long& days)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), days);
    return !text.empty() && error == std::errc() && end == text.data() + text.size() && days >= 0 && days <= MaxDays;
}

std::string AccountOfSection(std::string_view inside)
{
    inside = TrimView(inside);
    if (inside.empty() || inside == "*")
        return {};
    const std::size_t at = inside.rfind('@');
    if (at == std::string_view::npos)
        return std::string(inside);
    return std::string(inside.substr(0, at + 1)) + LowerCase(std::string(inside.substr(at + 1)));
}

bool ReadValue(TRule& rule, std::string_view value)
{
    switch (rule.Kind) {
    case TRuleKind::Sender: {
        rule.Text = FoldAddress(value);
        const std::size_t at = rule.Text.rfind('@');
        return value.find_first_of(" \t") == std::string_view::npos && at != std::string::npos && at > 0 &&
               at + 1 < rule.Text.size();
    }
    case TRuleKind::Domain:
        rule.Text = FoldDomain(value);
        return !rule.Text.empty() && rule.Text.find_first_of(" \t@") == std::string::npos;
    case TRuleKind::Subject: rule.Text = std::string(value); return !value.empty();
    case TRuleKind::LargerThan: return ParseRuleSize(value, rule.Number);
    case TRuleKind::OlderThan: return ParseDays(value, rule.Number);
    }
    return false;
}

bool ReadRule(std::string_view line, TRule& rule)
{
    const int action = WordIndex(TakeWord(line), ActionWords);
    const int kind = WordIndex(TakeWord(line), KindWords);
    if (action < 0 || kind < 0)
        return false;
    rule.Action = static_cast<TRuleAction>(action);
    rule.Kind = static_cast<TRuleKind>(kind);
    return ReadValue(rule, line);
}
}

bool ParseRuleValue(TRule& rule, std::string_view value) { return ReadValue(rule, TrimView(value)); }

bool ParseRuleSize(std::string_view text, long long& bytes)
{
    text = TrimView(text);
    long long number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || error != std::errc() || number < 0)
        return false;
    std::string unit = LowerCase(std::string(TrimView(text.substr(static_cast<std::size_t>(end - text.data())))));
    if (unit.size() == 2 && unit[1] == 'b')
        unit.pop_back();
    const int shift = unit.empty() || unit == "b" ? 0 : unit == "k" ? 10 : unit == "m" ? 20 : unit == "g" ? 30 : -1;
    if (shift < 0 || number > (std::numeric_limits<long long>::max() >> shift))
        return false;
    bytes = number << shift;
    return true;
}

std::string FormatRuleSize(long long bytes)
{
    const char* const units[] = {"G", "M", "K"};
    for (int i = 0; i < 3; ++i) {
        const long long unit = 1LL << (30 - 10 * i);
        if (bytes > 0 && bytes % unit == 0)
            return std::to_string(bytes / unit) + units[i];
    }
    return std::to_string(bytes);
}

TRulesFileContent ParseRules(std::string_view text)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    TRulesFileContent content;
    std::string account;
    int number = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string_view trimmed = TrimView(line);
        if (trimmed.empty() || trimmed.front() == '#')
            continue;
        const bool utf8 = QUtf8StringView(trimmed.data(), static_cast<qsizetype>(trimmed.size())).isValidUtf8();
        if (utf8 && trimmed.front() == '[' && trimmed.back() == ']') {
            account = AccountOfSection(trimmed.substr(1, trimmed.size() - 2));
            continue;
        }
        TRule rule;
        if (utf8 && ReadRule(trimmed, rule)) {
            rule.Account = account;
            content.Rules.push_back(std::move(rule));
        } else {
            content.Unread.push_back({number, std::string(line), account});
        }
    }
    return content;
}

std::string RuleValueText(const TRule& rule)
{
    switch (rule.Kind) {
    case TRuleKind::LargerThan: return FormatRuleSize(rule.Number);
    case TRuleKind::OlderThan: return std::to_string(rule.Number);
    default: break;
    }
    // The value is the rest of its line.
    std::string value;
    for (char c : rule.Text)
        value += c == '\r' || c == '\n' ? ' ' : c;
    return value;
}

std::string FormatRuleLine(const TRule& rule)
{
    return std::string(ActionWords[static_cast<int>(rule.Action)]) + " " + KindWords[static_cast<int>(rule.Kind)] + " " +
           RuleValueText(rule);
}

std::string FormatRules(const TRulesFileContent& content)
{
    std::vector<std::string> accounts{""};
    const auto note = [&](const std::string& a) {
        if (std::find(accounts.begin(), accounts.end(), a) == accounts.end())
            accounts.push_back(a);
    };
    for (const TRule& r : content.Rules)
        note(r.Account);
    for (const TUnreadRuleLine& u : content.Unread)
        note(u.Account);
    std::string text = FileHeader;
    for (const std::string& account : accounts) {
        if (!account.empty())
            text += "\n[" + account + "]\n";
        for (const TRule& r : content.Rules)
            if (r.Account == account)
                text += FormatRuleLine(r) + "\n";
        for (const TUnreadRuleLine& u : content.Unread)
            if (u.Account == account)
                text += u.Text + "\n";
    }
    return text;
}

bool LoadRulesFile(const std::string& fileName, TRulesFileContent& content)
{
    content = {};
    std::string text;
    if (!ReadFileIfAny(fileName, text))
        return false;
    content = ParseRules(text);
    return true;
}

void SaveRulesFile(const std::string& fileName, const TRulesFileContent& content)
{
    SaveFileWhole(fileName, FormatRules(content));
}
