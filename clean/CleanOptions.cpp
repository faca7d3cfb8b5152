#include "clean/CleanOptions.h"

#include <algorithm>
#include <charconv>

#include "mailbox/RulesFile.h"

namespace {

constexpr int MaxDays = 1000000;

std::optional<long long> Digits(std::string_view text)
{
    long long n = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || error != std::errc() || stop != text.data() + text.size() || n < 0)
        return std::nullopt;
    return n;
}

// Which commands take an option.
struct TOptionUse {
    const char* Name;
    bool Value;   // takes a value
    bool List, Stats, Delete;
};
constexpr TOptionUse Options[] = {
    {"--accounts", true, true, true, true},     {"--json", false, true, true, false},
    {"--by", true, false, true, false},         {"--dry-run", false, false, false, true},
    {"--rules", false, false, false, true},     {"--older-than", true, false, false, true},
    {"--larger-than", true, false, false, true}, {"--from", true, false, false, true},
    {"--subject", true, false, false, true},
};

class TReader {
public:
    explicit TReader(const std::vector<std::string>& args) : FArgs(args) {}
    TParsedCommandLine Read();

private:
    void Fail(TText text, std::vector<std::string> args)
    {
        if (!FResult.Error)
            FResult.Error = TUsageError{text, std::move(args)};
    }
    bool ReadOption(const std::string& arg);
    // False for a value the option cannot take.
    bool Take(const std::string& name, const std::string& value);
    void CheckCommand();

    const std::vector<std::string>& FArgs;
    std::size_t FNext = 0;
    TParsedCommandLine FResult;
    std::vector<const TOptionUse*> FGiven;   // for the check against the command
};

TParsedCommandLine TReader::Read()
{
    TCleanOptions& o = FResult.Options;
    for (const std::string& arg : FArgs)
        if (arg == "-h" || arg == "--help" || arg == "--version") {
            o.Command = arg == "--version" ? TCleanCommand::Version : TCleanCommand::Help;
            return FResult;
        }
    std::vector<std::string> positional;
    while (FNext < FArgs.size()) {
        const std::string& arg = FArgs[FNext++];
        if (arg.size() > 1 && arg[0] == '-') {
            if (!ReadOption(arg))
                Fail(TText::UnknownOption, {arg});
        } else
            positional.push_back(arg);
    }
    if (positional.empty())
        Fail(TText::Usage, {});
    else if (positional[0] == "list")
        o.Command = TCleanCommand::List;
    else if (positional[0] == "stats")
        o.Command = TCleanCommand::Stats;
    else if (positional[0] == "delete")
        o.Command = TCleanCommand::Delete;
    else
        Fail(TText::UnknownCommand, {positional[0]});
    if (positional.size() < 2)
        Fail(TText::MissingAccount, {});
    else
        o.Account = positional[1];
    if (positional.size() > 2)
        Fail(TText::ExtraArgument, {positional[2]});
    CheckCommand();
    return FResult;
}

// A value goes after "=" in the option or in the next argument.
bool TReader::ReadOption(const std::string& arg)
{
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const TOptionUse* use = nullptr;
    for (const TOptionUse& option : Options)
        if (name == option.Name)
            use = &option;
    if (!use)
        return false;
    const bool seen = std::find(FGiven.begin(), FGiven.end(), use) != FGiven.end();
    if (seen && name != "--from")
        Fail(TText::RepeatedOption, {name});
    FGiven.push_back(use);
    std::optional<std::string> value;
    if (equals != std::string::npos)
        value = arg.substr(equals + 1);
    if (!use->Value) {
        if (value)
            Fail(TText::BadValue, {name, *value});
        value = "";
    } else if (!value && FNext < FArgs.size())
        value = FArgs[FNext++];
    if (!value)
        Fail(TText::MissingValue, {name});
    else if (!Take(name, *value))
        Fail(TText::BadValue, {name, *value});
    return true;
}

bool TReader::Take(const std::string& name, const std::string& value)
{
    TCleanOptions& o = FResult.Options;
    TConditions& c = o.Conditions;
    TRule rule;
    if (name == "--accounts") {
        o.AccountsFile = value;
        return !value.empty();
    }
    if (name == "--json" || name == "--dry-run" || name == "--rules") {
        (name == "--json" ? o.Json : name == "--dry-run" ? o.DryRun : c.Rules) = true;
        return true;
    }
    if (name == "--by") {
        o.By = value == "domain" ? TGroupBy::Domain : TGroupBy::Address;
        return value == "sender" || value == "domain";
    }
    if (name == "--from") {
        const std::optional<TRule> sender = SenderCondition(value);
        if (sender)
            c.From.push_back(*sender);
        return sender.has_value();
    }
    if (name == "--older-than") {
        const std::optional<long long> days = Digits(value);
        rule.Kind = TRuleKind::OlderThan;
        rule.Number = days.value_or(0);
        if (!days || *days > MaxDays)
            return false;
    } else if (name == "--larger-than") {
        rule.Kind = TRuleKind::LargerThan;
        if (!ParseRuleSize(value, rule.Number))
            return false;
    } else {
        rule.Kind = TRuleKind::Subject;
        rule.Text = value;
        if (QString::fromStdString(value).trimmed().isEmpty())
            return false;
    }
    c.All.push_back(rule);
    return true;
}

// Each option with its command; a real delete needs a condition.
void TReader::CheckCommand()
{
    const TCleanOptions& o = FResult.Options;
    const char* command = o.Command == TCleanCommand::List ? "list" : o.Command == TCleanCommand::Stats ? "stats" : "delete";
    for (const TOptionUse* use : FGiven) {
        const bool fits = o.Command == TCleanCommand::List    ? use->List
                          : o.Command == TCleanCommand::Stats ? use->Stats
                                                              : use->Delete;
        if (!fits)
            Fail(TText::NotForCommand, {use->Name, command});
    }
    if (o.Command == TCleanCommand::Delete && !o.DryRun && !o.Conditions.Any())
        Fail(TText::NoCondition, {});
}

}  // namespace

TParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) { return TReader(args).Read(); }
