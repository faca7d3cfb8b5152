#include "pop3/Nmextstr.h"

#include "runtime/SysUtils.h"

namespace {
// The name of a header entry; empty when the entry has no colon.
std::string_view NameOf(std::string_view entry, bool& hasColon)
{
    const auto colon = entry.find(':');
    hasColon = colon != std::string_view::npos;
    return hasColon ? entry.substr(0, colon) : std::string_view();
}
}

int TExStringList::IndexOfName(std::string_view Name) const
{
    bool hasColon = false;
    if (!Sorted()) {
        for (int i = 0; i < Count(); ++i) {
            const std::string_view name = NameOf(Get(i), hasColon);
            if (hasColon && AnsiCompareText(name, Name) == 0)
                return i;
        }
        return -1;
    }
    // The list is sorted by whole entries, so this bisection can miss a name whose entry
    // sorts differently from the name alone; callers that need every match use an
    // unsorted list.
    int low = 0, high = Count() - 1;
    while (high + 1 != low) {
        const int middle = low + (high - low) / 2;
        int c = AnsiCompareText(NameOf(Get(middle), hasColon), Name);
        if (c == 0 && !hasColon)
            c = -1;   // an entry without a colon has no name, not the empty one
        if (c == 0)
            return middle;
        if (c < 0)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return -1;
}

std::string TExStringList::GetValue(std::string_view Name) const
{
    const int i = IndexOfName(Name);
    if (i < 0)
        return {};
    // A matching name has Name's length, so the value starts right after its colon.
    std::string_view value = std::string_view(Get(i)).substr(Name.size() + 1);
    if (!value.empty() && value.front() == ' ')
        value.remove_prefix(1);
    return std::string(value);
}

void TExStringList::SetValue(std::string_view Name, std::string_view Value)
{
    const int i = IndexOfName(Name);
    if (Value.empty()) {
        if (i >= 0)
            Delete(i);
        return;
    }
    std::string entry = std::string(Name) + ": " + std::string(Value);
    if (i >= 0 && !Sorted()) {
        Put(i, std::move(entry));
        return;
    }
    // A sorted list keeps its order: the entry goes to its sorted place (an unsorted list
    // appends it), and an existing empty entry is never taken over. Add would drop it when
    // an entry that differs only in case is there already.
    if (i >= 0)
        Delete(i);
    if (!Sorted()) {
        Add(std::move(entry));
        return;
    }
    int at = 0;
    Find(entry, at);
    Insert(at, std::move(entry));
}
