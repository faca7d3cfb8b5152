#include "mime/Transfer.h"

#include "jconv/Jconvert.h"

namespace mime {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool Base64Letter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// "=XX" (or "%XX") at `at` as its byte, or -1.
int Escape(std::string_view t, std::size_t at)
{
    if (at + 2 >= t.size())
        return -1;
    const int high = HexValue(t[at + 1]), low = HexValue(t[at + 2]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// Text with "<marker>XX" escapes made bytes; a marker that starts no escape stays.
std::string Unescaped(std::string_view text, char marker, bool underscoreIsSpace)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int byte = text[i] == marker ? Escape(text, i) : -1;
        if (byte >= 0) {
            out += static_cast<char>(byte);
            i += 2;
        } else {
            out += underscoreIsSpace && text[i] == '_' ? ' ' : text[i];
        }
    }
    return out;
}

std::string Base64Body(std::string_view body)
{
    // Only the alphabet reaches the decoder, so a line of any length decodes whole.
    std::string letters;
    letters.reserve(body.size());
    for (char c : body) {
        if (c == '=')
            break;
        if (Base64Letter(c))
            letters += c;
    }
    return Jconvert::DecodeBase64(letters);
}

std::string QuotedPrintableBody(std::string_view body)
{
    std::string out;
    out.reserve(body.size());
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c != '=') {
            out += c;
            continue;
        }
        // A soft line break: "=" then blanks up to the end of the line.
        std::size_t end = i + 1;
        while (end < body.size() && (body[end] == ' ' || body[end] == '\t'))
            ++end;
        if (end < body.size() && (body[end] == '\r' || body[end] == '\n')) {
            i = body[end] == '\r' && end + 1 < body.size() && body[end + 1] == '\n' ? end + 1 : end;
            continue;
        }
        if (end == body.size()) {
            i = end;
            continue;
        }
        const int byte = Escape(body, i);
        if (byte < 0) {
            out += c;
            continue;
        }
        out += static_cast<char>(byte);
        i += 2;
    }
    return out;
}

bool Is(std::string_view value, std::string_view name)
{
    std::size_t b = 0, e = value.size();
    while (b < e && (value[b] == ' ' || value[b] == '\t' || value[b] == '"'))
        ++b;
    while (e > b && (value[e - 1] == ' ' || value[e - 1] == '\t' || value[e - 1] == '"'))
        --e;
    if (e - b != name.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = value[b + i];
        if ((c >= 'A' && c <= 'Z' ? c + 32 : c) != name[i])
            return false;
    }
    return true;
}

}  // namespace

std::string DecodeTransfer(std::string_view body, std::string_view encoding)
{
    if (Is(encoding, "base64"))
        return Base64Body(body);
    if (Is(encoding, "quoted-printable"))
        return QuotedPrintableBody(body);
    return std::string(body);
}

bool DecodeWordBase64(std::string_view text, std::string& bytes)
{
    std::size_t letters = text.size();
    while (letters > 0 && text[letters - 1] == '=')
        --letters;
    if (letters % 4 == 1 || text.size() - letters > 2)
        return false;
    for (std::size_t i = 0; i < letters; ++i)
        if (!Base64Letter(text[i]))
            return false;
    bytes = Jconvert::DecodeBase64(text.substr(0, letters));
    return true;
}

std::string DecodePercent(std::string_view text) { return Unescaped(text, '%', false); }

std::string DecodeWordQ(std::string_view text) { return Unescaped(text, '=', true); }

}  // namespace mime
