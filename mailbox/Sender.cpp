#include "mailbox/Sender.h"

#include <QString>
#include <QUrl>
#include <algorithm>

#include "mailbox/MessageStore.h"
#include "mime/Entity.h"
#include "runtime/SysUtils.h"

namespace {
bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool Ascii(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string Lower(std::string_view s)
{
    if (!Ascii(s))
        return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).toLower().toStdString();
    return LowerCase(s);
}

// The address of the first mailbox of a raw address list: inside the angle brackets when
// there are any, else the bare words (comments and the quotes of a quoted string left out).
std::string RawAddress(std::string_view value)
{
    std::string bare;
    int depth = 0;   // of nested comments
    bool quoted = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\' && (quoted || depth > 0)) {
            if (quoted && i + 1 < value.size())
                bare += value[i + 1];
            ++i;
        } else if (depth > 0) {
            depth += c == '(' ? 1 : c == ')' ? -1 : 0;
        } else if (quoted) {
            if (c == '"')
                quoted = false;
            else
                bare += c;
        } else if (c == '(') {
            depth = 1;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '<') {
            std::string_view inside = value.substr(i + 1);
            inside = inside.substr(0, inside.find('>'));
            // An obsolete source route ("@relay:") goes before the address.
            if (const std::size_t colon = inside.rfind(':'); colon != std::string_view::npos)
                inside.remove_prefix(colon + 1);
            return std::string(inside);
        } else if (c == ',' && bare.find('@') != std::string::npos) {
            break;   // the end of the first mailbox; a comma in an unquoted name is no end
        } else {
            bare += c;
        }
    }
    return bare.find('@') != std::string::npos ? bare : std::string();
}

std::string_view Unquoted(std::string_view s)
{
    s = TrimView(s);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
        s = TrimView(s.substr(1, s.size() - 2));
    return s;
}

// The address in a decoded field: in the last angle brackets, else the first word with "@".
std::string DecodedAddress(std::string_view decoded)
{
    decoded = TrimView(decoded);
    const std::size_t open = decoded.rfind('<');
    if (!decoded.empty() && decoded.back() == '>' && open != std::string_view::npos)
        return std::string(decoded.substr(open + 1, decoded.size() - open - 2));
    for (std::size_t at = 0; at < decoded.size();) {
        std::size_t end = at;
        while (end < decoded.size() && !Blank(decoded[end]))
            ++end;
        const std::string_view word = decoded.substr(at, end - at);
        if (word.find('@') != std::string_view::npos)
            return std::string(TrimView(word.substr(0, word.find_first_of(",;"))));
        at = end + 1;
    }
    return {};
}

// The name of a decoded field: before the last angle brackets, or a trailing comment.
std::string DecodedName(std::string_view decoded)
{
    decoded = TrimView(decoded);
    const std::size_t open = decoded.rfind('<');
    std::string_view name;
    if (!decoded.empty() && decoded.back() == '>' && open != std::string_view::npos)
        name = Unquoted(decoded.substr(0, open));
    else if (const std::size_t paren = decoded.rfind('('); !decoded.empty() && decoded.back() == ')' && paren != std::string_view::npos)
        name = Unquoted(decoded.substr(paren + 1, decoded.size() - paren - 2));
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (name[i] != '\\' || i + 1 == name.size() || (name[i + 1] != '"' && name[i + 1] != '\\'))
            out += name[i];
    return out;
}
}

TSender ParseSender(std::string_view rawValue, std::string_view decoded)
{
    TSender s;
    std::string address = RawAddress(rawValue);
    // A field encoded whole, address and all, shows its address only once decoded.
    if (TrimView(address).empty() && rawValue.find("=?") != std::string_view::npos)
        address = DecodedAddress(decoded);
    s.Address = FoldAddress(address);
    if (const std::size_t at = s.Address.rfind('@'); at != std::string::npos)
        s.Domain = s.Address.substr(at + 1);
    s.Name = DecodedName(decoded);
    return s;
}

TSender SenderOf(const TMessageRecord& record)
{
    if (!record.HeaderKnown)
        return {};
    return ParseSender(mime::FieldValue(record.Header, "From"), record.From);
}

std::string FoldDomain(std::string_view domain)
{
    domain = TrimView(domain);
    if (!domain.empty() && domain.front() == '@')
        domain.remove_prefix(1);
    else if (domain.substr(0, 2) == "*.")
        domain.remove_prefix(2);
    while (!domain.empty() && domain.back() == '.')
        domain.remove_suffix(1);
    std::string folded = Lower(domain);
    if (Ascii(folded) && folded.find("xn--") == std::string::npos)
        return folded;
    // One spelling for an international domain, the readable one.
    const QByteArray ace = QUrl::toAce(QString::fromStdString(folded));
    if (ace.isEmpty())
        return folded;
    return QUrl::fromAce(ace).toLower().toStdString();
}

std::string FoldAddress(std::string_view address)
{
    address = TrimView(address);
    if (address.size() >= 2 && address.front() == '<' && address.back() == '>')
        address = TrimView(address.substr(1, address.size() - 2));
    std::string blankless;
    for (char c : address)
        if (!Blank(c))
            blankless += c;
    const std::size_t at = blankless.rfind('@');
    if (at == std::string::npos)
        return Lower(blankless);
    return Lower(std::string_view(blankless).substr(0, at)) + "@" + FoldDomain(std::string_view(blankless).substr(at + 1));
}

bool DomainWithin(std::string_view domain, std::string_view within)
{
    if (within.empty() || domain.size() < within.size())
        return false;
    if (domain.size() == within.size())
        return domain == within;
    return domain.substr(domain.size() - within.size()) == within && domain[domain.size() - within.size() - 1] == '.';
}
