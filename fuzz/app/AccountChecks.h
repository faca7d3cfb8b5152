#pragma once
// The checks the account-file fuzz target runs on each input. A broken property is reported
// through `fail`; the fuzz target aborts there.
#include "mailbox/AccountFile.h"
#include "fuzz/Check.h"

#include <string>
#include <string_view>
#include <vector>

namespace AccountChecks {

using FuzzCheck::Fail;
using FuzzCheck::Require;

// The input as a file: whatever it holds, formatting what was read and reading that again
// gives the same accounts, and the formatted text is stable from then on.
inline void File(std::string_view input, Fail fail)
{
    const std::vector<TAccountFields> accounts = ParseAccounts(input);
    Require(accounts.size() <= input.size(), "more accounts than bytes", fail);
    for (const auto& a : accounts)
        for (const auto& f : a)
            Require(f.find_first_of("\r\n") == std::string::npos, "a field holds a line break", fail);
    const std::string text = FormatAccounts(accounts);
    const std::vector<TAccountFields> again = ParseAccounts(text);
    Require(again == accounts, "format(parse(x)) does not parse back to the same fields", fail);
    Require(FormatAccounts(again) == text, "the formatted file changes when read and written again", fail);
}

// The input cut into six fields (at the byte 0x1F, line breaks dropped as the dialog's
// single-line fields cannot hold them): one formatted line reads back as exactly them.
inline void Line(std::string_view input, Fail fail)
{
    TAccountFields fields;
    std::size_t k = 0;
    for (char c : input) {
        if (c == '\x1F') {
            if (++k == fields.size())
                break;
        } else if (c != '\r' && c != '\n') {
            fields[k] += c;
        }
    }
    const std::string line = FormatAccountLine(fields);
    const std::vector<TAccountFields> back = ParseAccounts(line);
    Require(back.size() == 1 && back[0] == fields, "a formatted line does not read back exactly", fail);
    const std::vector<TAccountFields> withEnd = ParseAccounts(line + "\r\n" + line + "\r\n");
    Require(withEnd.size() == 2 && withEnd[0] == fields && withEnd[1] == fields, "two formatted lines do not read back as two accounts", fail);
}

inline void All(std::string_view input, Fail fail)
{
    File(input, fail);
    Line(input, fail);
}

} // namespace AccountChecks
