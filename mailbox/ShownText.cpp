#include "mailbox/ShownText.h"

#include "mime/MailText.h"
#include "pop3/Nmpop3.h"

namespace {
bool Continues(const std::string& line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// "Name:" at the start of the line, the name in any case.
bool IsField(const std::string& line, std::string_view name)
{
    if (line.size() <= name.size() || line[name.size()] != ':')
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (Lower(line[i]) != Lower(name[i]))
            return false;
    return true;
}
}

std::string FieldValue(const std::vector<std::string>& header, std::string_view name)
{
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (!IsField(header[i], name))
            continue;
        std::string value = header[i].substr(name.size() + 1);
        while (++i < header.size() && Continues(header[i]))
            value += "\r\n" + header[i];
        return value;
    }
    return std::string();
}

std::string FieldText(const std::vector<std::string>& header, std::string_view name)
{
    return mime::HeaderText(FieldValue(header, name));
}

std::string ReadableText(const TMailMessage& message)
{
    const std::vector<std::string>& header = message.Header.Items();
    const std::vector<std::string>& body = message.RawBody.Items();
    std::size_t size = 2;
    for (const std::string& line : header)
        size += line.size() + 2;
    for (const std::string& line : body)
        size += line.size() + 2;
    std::string raw;
    raw.reserve(size);
    for (const std::string& line : header)
        raw.append(line).append("\r\n");
    // The component keeps the empty line that ends the header, when the message had one.
    if (header.empty() || !header.back().empty())
        raw.append("\r\n");
    for (const std::string& line : body)
        raw.append(line).append("\r\n");
    return mime::MessageText(raw);
}

std::string DecodedLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += '\n';
        text += mime::HeaderText(lines[i]);
    }
    return text;
}
