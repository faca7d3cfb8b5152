#include "runtime/StringList.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "runtime/Exception.h"
#include "runtime/Stream.h"
#include "runtime/SysUtils.h"

std::vector<std::string>& TStringList::Mutable()
{
    if (!FItems)
        FItems = std::make_shared<std::vector<std::string>>();
    else if (FItems.use_count() > 1)
        FItems = std::make_shared<std::vector<std::string>>(*FItems);
    return *FItems;
}

const std::vector<std::string>& TStringList::NoItems()
{
    static const std::vector<std::string> none;
    return none;
}

void TStringList::CheckIndex(int index) const
{
    if (index < 0 || index >= Count())
        throw EStringListError("List index out of bounds (" + IntToStr(index) + ")");
}

const std::string& TStringList::Get(int index) const
{
    CheckIndex(index);
    return Items()[static_cast<size_t>(index)];
}

void TStringList::Put(int index, std::string s)
{
    CheckIndex(index);
    Mutable()[static_cast<size_t>(index)] = std::move(s);
}

int TStringList::Add(std::string s)
{
    if (!FSorted) {
        Mutable().push_back(std::move(s));
        return Count() - 1;
    }
    int index = 0;
    if (Find(s, index))
        return index;
    auto& items = Mutable();
    items.insert(items.begin() + index, std::move(s));
    return index;
}

void TStringList::Insert(int index, std::string s)
{
    if (index < 0 || index > Count())
        throw EStringListError("List index out of bounds (" + IntToStr(index) + ")");
    auto& items = Mutable();
    items.insert(items.begin() + index, std::move(s));
}

void TStringList::Delete(int index)
{
    CheckIndex(index);
    auto& items = Mutable();
    items.erase(items.begin() + index);
}

int TStringList::IndexOf(std::string_view s) const
{
    if (FSorted) {
        int index = 0;
        return Find(s, index) ? index : -1;
    }
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(Items()[static_cast<size_t>(i)], s))
            return i;
    return -1;
}

void TStringList::SetSorted(bool value)
{
    if (value && !FSorted) {
        auto& items = Mutable();
        std::stable_sort(items.begin(), items.end(),
                         [](const std::string& a, const std::string& b) { return AnsiCompareText(a, b) < 0; });
    }
    FSorted = value;
}

bool TStringList::Find(std::string_view s, int& index) const
{
    int lo = 0, hi = Count() - 1;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        const int c = AnsiCompareText(Items()[static_cast<size_t>(mid)], s);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) {
                index = mid;
                return true;
            }
        }
    }
    index = lo;
    return false;
}

void TStringList::SetText(std::string_view text)
{
    FItems.reset();
    size_t i = 0;
    while (i < text.size()) {
        const size_t start = i;
        while (i < text.size() && text[i] != '\r' && text[i] != '\n')
            ++i;
        Mutable().emplace_back(text.substr(start, i - start));
        if (i < text.size() && text[i] == '\r')
            ++i;
        if (i < text.size() && text[i] == '\n')
            ++i;
    }
    if (FSorted) {
        FSorted = false;
        SetSorted(true);
    }
}

std::string TStringList::Text() const
{
    std::string r;
    size_t n = 0;
    for (const auto& s : Items())
        n += s.size() + 2;
    r.reserve(n);
    for (const auto& s : Items()) {
        r += s;
        r += "\r\n";
    }
    return r;
}

void TStringList::LoadFromFile(const std::string& fileName)
{
    TFileStream f(fileName, fmOpenRead);
    std::string data(static_cast<size_t>(f.Size()), '\0');
    if (!data.empty())
        f.ReadBuffer(data.data(), static_cast<long long>(data.size()));
    SetText(data);
}

void TStringList::SaveToFile(const std::string& fileName) const
{
    TFileStream f(fileName, fmCreate);
    const std::string data = Text();
    if (!data.empty())
        f.WriteBuffer(data.data(), static_cast<long long>(data.size()));
}

void TStringList::SetCommaText(std::string_view text)
{
    FItems.reset();
    auto blank = [](unsigned char c) { return c >= 0x01 && c <= 0x20; };
    size_t i = 0;
    while (i < text.size() && blank(text[i]))
        ++i;
    while (i < text.size()) {
        std::string field;
        if (text[i] == '"') {
            ++i;
            while (i < text.size()) {
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i; // the closing quote
                    break;
                }
                field += text[i++];
            }
        } else {
            const size_t start = i;
            while (i < text.size() && text[i] != ',' && static_cast<unsigned char>(text[i]) > 0x20)
                ++i;
            field.assign(text.substr(start, i - start));
        }
        Mutable().push_back(std::move(field));
        while (i < text.size() && blank(text[i]))
            ++i;
        if (i < text.size() && text[i] == ',') {
            ++i;
            while (i < text.size() && blank(text[i]))
                ++i;
        } else if (i < text.size() && text[i] == '\0') {
            ++i; // a NUL ends an unquoted field but would never be consumed otherwise
        }
    }
}

std::string TStringList::CommaText() const
{
    std::string r;
    for (size_t k = 0; k < Items().size(); ++k) {
        const std::string& s = Items()[k];
        if (k)
            r += ',';
        const bool quote = s.empty() || std::any_of(s.begin(), s.end(), [](char c) {
            return c == ',' || c == '"' || static_cast<unsigned char>(c) <= 0x20;
        });
        if (!quote) {
            r += s;
            continue;
        }
        r += '"';
        for (char c : s) {
            if (c == '"')
                r += '"';
            r += c;
        }
        r += '"';
    }
    return r;
}
