#pragma once
// The checks the pop3 fuzz targets run on each input: the stream codec and the header value
// list. A broken property is reported through `fail`; the fuzz targets abort there, and the
// regression test in tests/pop3 replays every committed fault input through them.
#include "fuzz/Check.h"
#include "pop3/Nmextstr.h"
#include "pop3/Nmuue.h"
#include "runtime/Stream.h"
#include "runtime/SysUtils.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace Pop3Checks {

using FuzzCheck::Fail;
using FuzzCheck::Require;

inline std::string Bytes(TMemoryStream& s)
{
    return s.DataString();
}

// ---- TNMUUProcessor ----

// Decodes `data` from `start` with `method`; returns the output, checks positions and size.
inline std::string DecodeFrom(std::string_view data, long long start, UUMethods method, Fail fail)
{
    TNMUUProcessor codec(nullptr);
    TMemoryStream in, out;
    in.Write(data.data(), static_cast<long long>(data.size()));
    in.SetPosition(start);
    codec.InStream = &in;
    codec.OutStream = &out;
    codec.Method = method;
    try {
        codec.Decode();
    } catch (const std::exception&) {
        fail("Decode raised on memory streams");
    }
    const long long size = static_cast<long long>(data.size());
    Require(in.Position() >= start && in.Position() <= size, "Decode left the input position outside what it read", fail);
    // Base64: at most three bytes for four characters. uuencode: at most 63 bytes for a line
    // of three characters or more (a shorter line carries nothing).
    const long long avail = size - start;
    if (method == uuMime)
        Require(out.Size() * 4 <= avail * 3, "Base64 decoding wrote more than its input carries", fail);
    else
        Require(out.Size() <= avail * 21, "uudecoding wrote more than its lines announce", fail);
    return Bytes(out);
}

// Walks the stream with ReadLnFromStream from `start` to its end.
inline void ReadLines(std::string_view data, long long start, Fail fail)
{
    TMemoryStream in;
    in.Write(data.data(), static_cast<long long>(data.size()));
    in.SetPosition(start);
    const long long size = in.Size();
    std::string line;
    while (in.Position() < size) {
        const long long before = in.Position();
        TNMUUProcessor::ReadLnFromStream(in, line);
        const long long after = in.Position();
        Require(after > before, "ReadLnFromStream did not move on", fail);
        Require(after <= size, "ReadLnFromStream moved past the end", fail);
        Require(after - before <= 200, "ReadLnFromStream looked at more than 200 bytes", fail);
        Require(line.size() <= static_cast<std::size_t>(after - before), "ReadLnFromStream returned bytes it did not pass", fail);
        if (after <= before || after > size)
            return;
    }
}

// Encode then Decode gives the bytes back, in both methods; every line fits its method.
inline void RoundTrip(std::string_view data, UUMethods method, Fail fail)
{
    TNMUUProcessor codec(nullptr);
    TMemoryStream in, text;
    in.Write(data.data(), static_cast<long long>(data.size()));
    codec.InStream = &in;
    codec.OutStream = &text;
    codec.Method = method;
    codec.Encode();
    Require(text.Position() == 0, "Encode left the output away from its start", fail);
    const std::string encoded = Bytes(text);
    for (std::size_t at = 0; at < encoded.size();) {
        const std::size_t lf = encoded.find('\n', at);
        Require(lf != std::string::npos && lf > at && encoded[lf - 1] == '\r', "an encoded line does not end in CR LF", fail);
        if (lf == std::string::npos)
            return;
        Require(lf + 1 - at <= (method == uuMime ? 62u : 63u), "an encoded line is longer than its method allows", fail);
        at = lf + 1;
    }
    Require(DecodeFrom(encoded, 0, method, fail) == data, "decoding the encoded text does not give the bytes back", fail);
}

// First byte: bit 0 the method, the rest picks the start position.
inline void Codec(std::string_view input, Fail fail)
{
    if (input.empty())
        return;
    const auto flags = static_cast<unsigned char>(input[0]);
    const std::string_view data = input.substr(1);
    const UUMethods method = (flags & 1) ? uuCode : uuMime;
    const long long start = static_cast<long long>((flags >> 1) % (data.size() + 1));
    DecodeFrom(data, start, method, fail);
    DecodeFrom(data, start, method == uuMime ? uuCode : uuMime, fail);
    ReadLines(data, start, fail);
    RoundTrip(data, uuMime, fail);
    RoundTrip(data, uuCode, fail);
}

// ---- TExStringList ----

namespace Reference {

inline bool HasName(const std::string& entry, std::string_view name)
{
    const std::size_t colon = entry.find(':');
    return colon != std::string::npos && AnsiSameText(std::string_view(entry).substr(0, colon), name);
}

inline int IndexOfName(const TStringList& list, std::string_view name)
{
    for (int i = 0; i < list.Count(); ++i)
        if (HasName(list[i], name))
            return i;
    return -1;
}

inline std::string ValueAt(const std::string& entry, std::string_view name)
{
    std::string value = entry.substr(name.size() + 1);
    if (!value.empty() && value.front() == ' ')
        value.erase(0, 1);
    return value;
}

inline bool IsSorted(const TStringList& list)
{
    for (int i = 1; i < list.Count(); ++i)
        if (AnsiCompareText(list[i - 1], list[i]) > 0)
            return false;
    return true;
}

} // namespace Reference

// One look-up and one change on a list.
inline void LookUp(TExStringList& list, std::string_view name, std::string_view value, Fail fail)
{
    const int found = list.IndexOfName(name);
    const int first = Reference::IndexOfName(list, name);
    if (!list.Sorted())
        Require(found == first, "IndexOfName is not the first entry of that name", fail);
    else
        Require(found == -1 || Reference::HasName(list[found], name), "sorted IndexOfName found an entry of another name", fail);
    const std::string got = list.GetValue(name);
    Require(got == (found < 0 ? std::string() : Reference::ValueAt(list[found], name)), "GetValue is not the value of the entry found", fail);

    const int count = list.Count();
    const std::string entry = std::string(name) + ": " + std::string(value);
    list.SetValue(name, value);
    if (value.empty()) {
        Require(list.Count() == count - (found >= 0 ? 1 : 0), "an empty value did not delete exactly the entry found", fail);
    } else {
        Require(list.Count() == count + (found >= 0 ? 0 : 1), "SetValue changed the number of entries wrongly", fail);
        const auto& items = list.Items();
        Require(std::find(items.begin(), items.end(), entry) != items.end(), "SetValue did not store the entry", fail);
        // A name with a colon names its entry only up to that colon.
        if (!list.Sorted() && name.find(':') == std::string_view::npos)
            Require(list.GetValue(name) == value, "the value set does not read back", fail);
    }
    if (list.Sorted())
        Require(Reference::IsSorted(list), "SetValue left a sorted list out of order", fail);
}

// First byte: bit 0 sorted; the lines after it build the list; the names of the first lines
// (and the same with their letters' case flipped) are looked up and set to the value of the
// line after.
inline void HeaderList(std::string_view input, Fail fail)
{
    if (input.empty())
        return;
    const auto flags = static_cast<unsigned char>(input[0]);
    TStringList lines;
    lines.SetText(input.substr(1));
    TExStringList list;
    for (const auto& l : lines.Items())
        list.Add(l);
    list.SetSorted((flags & 1) != 0);
    const int queries = std::min(lines.Count(), 12);
    for (int i = 0; i < queries; ++i) {
        const std::string& line = lines[i];
        std::string name = line.substr(0, line.find(':'));
        std::string flipped = name;
        for (char& c : flipped)
            c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        const std::string value = i + 1 < lines.Count() ? lines[i + 1] : std::string();
        LookUp(list, (flags & 2) ? flipped : name, (flags & 4) ? std::string() : value, fail);
        LookUp(list, line, value, fail);   // a whole line as a name, colon and all
    }
}

} // namespace Pop3Checks
