#include "mime/Entity.h"

#include "mime/Charset.h"
#include "mime/MailText.h"
#include "mime/Transfer.h"

#include <map>

namespace mime {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool SameCaseless(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

std::string_view Trimmed(std::string_view s)
{
    while (!s.empty() && Blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && Blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// The end of the line that starts at `at`, its line end included.
std::size_t LineEnd(std::string_view s, std::size_t at)
{
    const std::size_t lf = s.find('\n', at);
    return lf == std::string_view::npos ? s.size() : lf + 1;
}

// One parameter as written: its name (lower case) and its value, a quoted string unquoted.
struct RawParameter {
    std::string Name;
    std::string Value;
};

std::vector<RawParameter> RawParameters(std::string_view v)
{
    std::vector<RawParameter> out;
    std::size_t i = v.find(';');
    while (i != std::string_view::npos && i < v.size()) {
        ++i;
        const std::size_t eq = v.find_first_of("=;", i);
        if (eq == std::string_view::npos || v[eq] == ';') {
            i = eq;
            continue;
        }
        RawParameter p;
        for (char c : Trimmed(v.substr(i, eq - i)))
            p.Name += Lower(c);
        std::size_t j = eq + 1;
        while (j < v.size() && Blank(v[j]))
            ++j;
        if (j < v.size() && v[j] == '"') {
            for (++j; j < v.size() && v[j] != '"'; ++j)
                p.Value += v[j] == '\\' && j + 1 < v.size() ? v[++j] : v[j];
            i = v.find(';', j);
        } else {
            i = v.find(';', j);
            p.Value = std::string(Trimmed(v.substr(j, i == std::string_view::npos ? std::string_view::npos : i - j)));
        }
        out.push_back(std::move(p));
    }
    return out;
}

// RFC 2231: name* (one extended value) or name*0, name*1*, ... (sections, each marked "*"
// when percent-encoded); the charset and language lead the first extended section.
bool ExtendedParameter(const std::vector<RawParameter>& all, std::string_view name, std::string& text)
{
    std::map<int, std::pair<bool, std::string>> sections;
    for (const RawParameter& p : all) {
        if (p.Name.size() <= name.size() || p.Name.compare(0, name.size(), name) != 0 || p.Name[name.size()] != '*')
            continue;
        std::string_view rest = std::string_view(p.Name).substr(name.size() + 1);
        const bool encoded = rest.empty() || rest.back() == '*';
        if (!rest.empty() && rest.back() == '*')
            rest.remove_suffix(1);
        int number = 0;
        for (char c : rest)
            number = number >= 0 && number < 10000 && c >= '0' && c <= '9' ? number * 10 + (c - '0') : -1;
        if (number >= 0 && !sections.count(number))
            sections[number] = {encoded, p.Value};
    }
    if (sections.empty())
        return false;
    std::string charset, bytes;
    for (auto& [number, section] : sections) {
        std::string_view value = section.second;
        if (section.first && number == sections.begin()->first) {
            const std::size_t q1 = value.find('\''), q2 = q1 == std::string_view::npos ? q1 : value.find('\'', q1 + 1);
            if (q2 != std::string_view::npos) {
                charset = value.substr(0, q1);
                value.remove_prefix(q2 + 1);
            }
        }
        bytes += section.first ? DecodePercent(value) : std::string(value);
    }
    text = CharsetText(bytes, charset);
    return true;
}

}  // namespace

Entity SplitEntity(std::string_view raw)
{
    for (std::size_t at = 0; at < raw.size();) {
        const std::size_t end = LineEnd(raw, at);
        const std::string_view line = raw.substr(at, end - at);
        if (line == "\r\n" || line == "\n")
            return {raw.substr(0, at), raw.substr(end)};
        // A line that is neither a field nor its continuation starts the body, as when the
        // empty line is missing.
        const std::size_t colon = line.find(':');
        const bool continuation = at > 0 && (line[0] == ' ' || line[0] == '\t');
        const bool field = colon != std::string_view::npos && colon > 0 &&
                           line.substr(0, colon).find_first_of(" \t\r\n") == std::string_view::npos;
        if (!continuation && !field)
            return {raw.substr(0, at), raw.substr(at)};
        at = end;
    }
    return {raw, {}};
}

std::string_view FieldValue(std::string_view header, std::string_view name)
{
    for (std::size_t at = 0; at < header.size();) {
        std::size_t end = LineEnd(header, at);
        const bool match = header.size() > at + name.size() && header[at + name.size()] == ':' &&
                           SameCaseless(header.substr(at, name.size()), name);
        if (!match) {
            at = end;
            continue;
        }
        while (end < header.size() && (header[end] == ' ' || header[end] == '\t'))
            end = LineEnd(header, end);
        return Trimmed(header.substr(at + name.size() + 1, end - at - name.size() - 1));
    }
    return {};
}

std::string MainValue(std::string_view fieldValue)
{
    std::string out;
    for (char c : Trimmed(fieldValue.substr(0, fieldValue.find(';'))))
        if (!Blank(c))
            out += Lower(c);
    return out;
}

std::string Parameter(std::string_view fieldValue, std::string_view name)
{
    const std::vector<RawParameter> all = RawParameters(fieldValue);
    std::string text;
    if (ExtendedParameter(all, name, text))
        return text;
    for (const RawParameter& p : all)
        if (p.Name == name)
            return HeaderText(p.Value);
    return {};
}

std::string RawParameterValue(std::string_view fieldValue, std::string_view name)
{
    for (const RawParameter& p : RawParameters(fieldValue))
        if (p.Name == name)
            return p.Value;
    return {};
}

DelimiterKind Delimiter(std::string_view line, std::string_view boundary)
{
    if (boundary.empty() || line.substr(0, 2) != "--" || line.substr(2, boundary.size()) != boundary)
        return DelimiterKind::None;
    line.remove_prefix(2 + boundary.size());
    const bool closing = line.substr(0, 2) == "--";
    if (closing)
        line.remove_prefix(2);
    if (line.find_first_not_of(" \t\r\n") != std::string_view::npos)
        return DelimiterKind::None;
    return closing ? DelimiterKind::Closing : DelimiterKind::Part;
}

std::vector<std::string_view> BodyParts(std::string_view body, std::string_view boundary)
{
    std::vector<std::string_view> parts;
    if (boundary.empty())
        return parts;
    std::size_t partStart = std::string_view::npos;
    for (std::size_t at = 0; at < body.size();) {
        const std::size_t end = LineEnd(body, at);
        const DelimiterKind delimiter = Delimiter(body.substr(at, end - at), boundary);
        if (delimiter != DelimiterKind::None) {
            // The line end before a delimiter belongs to the delimiter.
            if (partStart != std::string_view::npos) {
                std::size_t stop = at;
                if (stop > partStart && body[stop - 1] == '\n')
                    --stop;
                if (stop > partStart && body[stop - 1] == '\r')
                    --stop;
                parts.push_back(body.substr(partStart, stop - partStart));
            }
            if (delimiter == DelimiterKind::Closing)
                return parts;
            partStart = end;
        }
        at = end;
    }
    if (partStart != std::string_view::npos && partStart < body.size())
        parts.push_back(body.substr(partStart));
    return parts;
}

}  // namespace mime
