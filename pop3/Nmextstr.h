#pragma once
// The list of mail header lines with a name/value lookup, names and values separated by ":".
//
// An entry's name is its text before the first ":" (not trimmed); an entry without ":" has
// no name. Its value is the text after the colon less one leading blank. Names compare with
// AnsiCompareText. Raises only what TStringList raises.

#include <string>
#include <string_view>

#include "runtime/StringList.h"

class TExStringList : public TStringList {
public:
    // Index of the first entry named Name (unsorted), or of the one a bisection meets
    // (sorted); -1 when there is none.
    int IndexOfName(std::string_view Name) const;
    // The value of the entry named Name; empty when there is none.
    std::string GetValue(std::string_view Name) const;
    // Replaces the entry named Name with "Name: Value", appending it when absent;
    // an empty Value deletes the entry.
    void SetValue(std::string_view Name, std::string_view Value);
};
