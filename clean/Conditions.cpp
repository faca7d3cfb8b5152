#include "clean/Conditions.h"

#include <algorithm>

#include "mailbox/MessageList.h"
#include "runtime/SysUtils.h"

namespace {
constexpr long long SecondsPerDay = 24 * 60 * 60;

// Quotes, brackets and punctuation that may cling to a bare address.
std::string_view Unwrapped(std::string_view word)
{
    constexpr std::string_view clinging = "<>()[]\"',;:";
    while (!word.empty() && clinging.find(word.front()) != std::string_view::npos)
        word.remove_prefix(1);
    while (!word.empty() && clinging.find(word.back()) != std::string_view::npos)
        word.remove_suffix(1);
    return word;
}

bool FromMatches(const std::vector<std::string>& senders, const std::string& address)
{
    if (address.empty())
        return false;
    const std::string domain = address.substr(address.rfind('@'));
    return std::any_of(senders.begin(), senders.end(),
                       [&](const std::string& s) { return s == (s.front() == '@' ? domain : address); });
}
}  // namespace

std::string SenderAddress(const std::string& from)
{
    // The angle brackets name the address; a display name may hold '@' too.
    const std::size_t open = from.rfind('<');
    if (open != std::string::npos) {
        const std::size_t close = from.find('>', open);
        const std::string inside = Trim(from.substr(open + 1, close == std::string::npos ? close : close - open - 1));
        if (inside.find('@') != std::string::npos)
            return LowerCase(inside);
    }
    std::size_t start = 0;
    while (start < from.size()) {
        const std::size_t end = std::min(from.find_first_of(" \t\r\n", start), from.size());
        const std::string_view word = Unwrapped(std::string_view(from).substr(start, end - start));
        const std::size_t at = word.find('@');
        if (at != std::string_view::npos && at > 0 && at + 1 < word.size())
            return LowerCase(word);
        start = end + 1;
    }
    return "";
}

bool Meets(const TConditions& conditions, const TMessageRecord& record, long long now)
{
    if (conditions.OlderThanDays && !(record.Date && *record.Date < now - *conditions.OlderThanDays * SecondsPerDay))
        return false;
    if (conditions.LargerThan && !(record.Size >= 0 && record.Size > *conditions.LargerThan))
        return false;
    if (!conditions.From.empty() && !FromMatches(conditions.From, SenderAddress(record.From)))
        return false;
    if (conditions.Subject &&
        !MessageList::MatchKey(QString::fromStdString(record.Subject)).contains(*conditions.Subject))
        return false;
    return true;
}
