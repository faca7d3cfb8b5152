#pragma once
// The command line of purgel-clean: a command, the account's name and the options, read into
// TCleanOptions. A value goes after its option ("--older-than 365") or after "=" in it
// ("--older-than=365"). Nothing is raised: a command line that cannot be read gives a
// TUsageError naming the text to say and its arguments.

#include <optional>
#include <string>
#include <vector>

#include "clean/CleanTexts.h"
#include "clean/Conditions.h"
#include "mailbox/SenderGrouping.h"

enum class TCleanCommand { Help, Version, List, Stats, Delete };

struct TCleanOptions {
    TCleanCommand Command = TCleanCommand::Help;
    std::string Account;        // the account's name as given (the locale's bytes, UTF-8)
    std::string AccountsFile;   // --accounts; "" for the user's own "Account.lst"
    bool Json = false;
    bool DryRun = false;
    TGroupBy By = TGroupBy::Address;   // stats --by
    TConditions Conditions;
};

struct TUsageError {
    TText Text = TText::Usage;
    std::vector<std::string> Args;
};

struct TParsedCommandLine {
    TCleanOptions Options;
    std::optional<TUsageError> Error;
};

// `args` without the program's name. "-h"/"--help" anywhere asks for the help, "--version"
// for the version, whatever else stands there.
TParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);
