#include "mailbox/LastLook.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "mailbox/AccountFile.h"
#include "mailbox/MessageList.h"
#include "mime/Entity.h"
#include "runtime/StringList.h"

namespace {
// FNV-1a, 64 bits: the same in every build, unlike std::hash.
std::string Hash(std::string_view bytes)
{
    unsigned long long h = 14695981039346656037ULL;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", h);
    return text;
}

std::string Joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& w : words)
        text += (text.empty() ? "" : " ") + w;
    return text;
}
}

// The header first: it is known with or without a header cache, the UIDL only with one.
std::string MessageIdentity(const TMessageRecord& record)
{
    if (record.HeaderKnown) {
        const std::string_view id = mime::FieldValue(record.Header, "Message-ID");
        return id.empty() ? "h:" + Hash(record.Header) : "m:" + Hash(id);
    }
    return record.Uidl.empty() ? std::string() : "u:" + record.Uidl;
}

TLastLook LookAt(const std::string& account, const TMessageStore& store, long long now)
{
    TLastLook look{account, now, {}};
    for (int row = store.Count() - 1; row >= 0 && static_cast<int>(look.Tail.size()) < TailLength; --row)
        if (!store.At(row).Deleted)
            if (std::string id = MessageIdentity(store.At(row)); !id.empty())
                look.Tail.push_back(std::move(id));
    std::reverse(look.Tail.begin(), look.Tail.end());
    return look;
}

int NewSince(const TLastLook& look, const TMessageStore& store)
{
    const std::unordered_set<std::string> seen(look.Tail.begin(), look.Tail.end());
    int count = 0;
    for (int row = store.Count() - 1; row >= 0; --row) {
        const TMessageRecord& r = store.At(row);
        if (r.Deleted)
            continue;
        if (seen.count(MessageIdentity(r)))
            return count;
        ++count;
    }
    if (seen.empty())
        return count;   // the mailbox was empty then: everything is new
    // Every message remembered is gone: those dated after the look are new.
    count = 0;
    for (int row = 0; row < store.Count(); ++row)
        count += !store.At(row).Deleted && store.At(row).Date && *store.At(row).Date > look.Time;
    return count;
}

std::vector<TLastLook> LoadLastLooks(const std::string& fileName)
{
    std::string text;
    ReadFileWhole(fileName, text);
    std::vector<TLastLook> looks;
    TStringList lines, fields, tail;
    lines.SetText(text);
    for (const std::string& line : lines.Items()) {
        fields.SetCommaText(line);
        if (fields.Count() < 3)
            continue;
        TLastLook look{fields[0], MessageList::Number(fields[1]).value_or(0), {}};
        for (std::size_t at = 0; at < fields[2].size();) {
            const std::size_t end = std::min(fields[2].find(' ', at), fields[2].size());
            if (end > at)
                look.Tail.push_back(fields[2].substr(at, end - at));
            at = end + 1;
        }
        looks.push_back(std::move(look));
    }
    return looks;
}

std::optional<TLastLook> FindLastLook(const std::vector<TLastLook>& looks, const std::string& account)
{
    for (const TLastLook& look : looks)
        if (look.Account == account)
            return look;
    return std::nullopt;
}

bool RememberLook(const std::string& fileName, const TLastLook& look)
{
    std::string old;
    if (!ReadFileIfAny(fileName, old))
        return false;
    std::vector<TLastLook> looks = LoadLastLooks(fileName);
    const auto same = std::find_if(looks.begin(), looks.end(), [&](const TLastLook& l) { return l.Account == look.Account; });
    if (same != looks.end())
        *same = look;
    else
        looks.push_back(look);
    std::string text;
    for (const TLastLook& l : looks)
        text += FormatQuotedLine({l.Account, std::to_string(l.Time), Joined(l.Tail)}) + "\r\n";
    try {
        SaveFileWhole(fileName, text);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
