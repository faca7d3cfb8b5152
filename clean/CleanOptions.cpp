#include "clean/CleanOptions.h"

#include <charconv>

#include "mailbox/MessageList.h"
#include "runtime/SysUtils.h"

namespace {

constexpr long long MaxSize = 1LL << 53;
constexpr int MaxDays = 1000000;

std::optional<long long> Digits(std::string_view text)
{
    long long n = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || error != std::errc() || stop != text.data() + text.size() || n < 0)
        return std::nullopt;
    return n;
}

// "ADDRESS" or "@DOMAIN", lower case; none for anything else.
std::optional<std::string> Sender(const std::string& text)
{
    const std::size_t at = text.find('@');
    if (at == std::string::npos || at + 1 == text.size() || text.find('@', at + 1) != std::string::npos ||
        text.find_first_of(" \t<>") != std::string::npos)
        return std::nullopt;
    return LowerCase(text);
}

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
    // The option's value: after "=", else the next argument.
    std::optional<std::string> Value(const std::string& name, const std::optional<std::string>& inline_);
    void Once(const std::string& name, bool& seen);
    void CheckCommand();

    const std::vector<std::string>& FArgs;
    std::size_t FNext = 0;
    TParsedCommandLine FResult;
    std::vector<std::string> FGiven;   // the options given, for the check against the command
    bool FSeenAccounts = false, FSeenOlder = false, FSeenLarger = false, FSeenSubject = false;
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

std::optional<std::string> TReader::Value(const std::string& name, const std::optional<std::string>& inline_)
{
    if (inline_)
        return inline_;
    if (FNext < FArgs.size())
        return FArgs[FNext++];
    Fail(TText::MissingValue, {name});
    return std::nullopt;
}

void TReader::Once(const std::string& name, bool& seen)
{
    if (seen)
        Fail(TText::RepeatedOption, {name});
    seen = true;
}

bool TReader::ReadOption(const std::string& arg)
{
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    std::optional<std::string> value;
    if (equals != std::string::npos)
        value = arg.substr(equals + 1);
    TCleanOptions& o = FResult.Options;
    TConditions& c = o.Conditions;
    if (name == "--json" || name == "--dry-run") {
        bool& flag = name == "--json" ? o.Json : o.DryRun;
        Once(name, flag);
        if (value)
            Fail(TText::BadValue, {name, *value});
    } else if (name == "--accounts" || name == "--older-than" || name == "--larger-than" || name == "--from" ||
               name == "--subject") {
        value = Value(name, value);
        if (!value)
            return true;
        bool valid = true;
        if (name == "--accounts") {
            Once(name, FSeenAccounts);
            o.AccountsFile = *value;
            valid = !value->empty();
        } else if (name == "--older-than") {
            Once(name, FSeenOlder);
            const std::optional<long long> days = Digits(*value);
            valid = days && *days <= MaxDays;
            if (valid)
                c.OlderThanDays = static_cast<int>(*days);
        } else if (name == "--larger-than") {
            Once(name, FSeenLarger);
            c.LargerThan = ParseSize(*value);
            valid = c.LargerThan.has_value();
        } else if (name == "--from") {
            const std::optional<std::string> sender = Sender(*value);
            valid = sender.has_value();
            if (valid)
                c.From.push_back(*sender);
        } else {
            Once(name, FSeenSubject);
            const QString text = QString::fromStdString(*value);
            valid = !text.trimmed().isEmpty();
            c.Subject = MessageList::MatchKey(text);
        }
        if (!valid)
            Fail(TText::BadValue, {name, *value});
    } else
        return false;
    FGiven.push_back(name);
    return true;
}

// Each option with its command; a real delete needs a condition.
void TReader::CheckCommand()
{
    const TCleanOptions& o = FResult.Options;
    for (const std::string& name : FGiven) {
        const bool fits = name == "--accounts" || (name == "--json" ? o.Command == TCleanCommand::List
                                                                      : o.Command == TCleanCommand::Delete);
        if (!fits)
            Fail(TText::NotForCommand, {name, o.Command == TCleanCommand::List ? "list" : "delete"});
    }
    if (o.Command == TCleanCommand::Delete && !o.DryRun && !o.Conditions.Any())
        Fail(TText::NoCondition, {});
}

}  // namespace

TParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) { return TReader(args).Read(); }

std::optional<long long> ParseSize(const std::string& text)
{
    std::string_view digits = text;
    long long unit = 1;
    if (!digits.empty() && (digits.back() == 'K' || digits.back() == 'k'))
        unit = 1024;
    else if (!digits.empty() && (digits.back() == 'M' || digits.back() == 'm'))
        unit = 1024 * 1024;
    if (unit != 1)
        digits.remove_suffix(1);
    const std::optional<long long> n = Digits(digits);
    if (!n || *n > MaxSize / unit)
        return std::nullopt;
    return *n * unit;
}
