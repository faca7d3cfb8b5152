// HeaderText: RFC 2047 encoded words of any charset in a header value.
#include "mime/MailText.h"

#include "mime/Charset.h"
#include "mime/Transfer.h"

#include <vector>

namespace mime {

namespace {

// A run of the value: plain text as received, or the decoded bytes of encoded words.
struct Run {
    bool Word = false;
    std::string Charset;  // label, for words
    std::string Bytes;
};

bool Blank(char c) { return c == ' ' || c == '\t'; }

bool AllBlank(std::string_view s)
{
    for (char c : s)
        if (!Blank(c))
            return false;
    return true;
}

// The value with its folds undone: each line break (CR LF, LF or a lone CR) removed, the
// blank after it kept.
std::string Unfolded(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (char c : value)
        if (c != '\r' && c != '\n')
            out += c;
    return out;
}

// The encoded word "=?charset?B|Q?text?=" at `at`, decoded into `run`; its length, or 0
// when the bytes there are no well-formed word (they then stay text).
std::size_t EncodedWord(std::string_view v, std::size_t at, Run& run)
{
    const std::size_t q1 = v.find('?', at + 2);
    if (q1 == std::string_view::npos || q1 == at + 2 || q1 + 3 >= v.size() || v[q1 + 2] != '?')
        return 0;
    const std::string_view charset = v.substr(at + 2, q1 - at - 2);
    for (char c : charset)
        if (Blank(c) || c == '=' || static_cast<unsigned char>(c) < 0x20)
            return 0;
    const char encoding = v[q1 + 1];
    const std::size_t start = q1 + 3;
    std::size_t end = start;
    while (end < v.size() && v[end] != '?' && !Blank(v[end]))
        ++end;
    if (end + 1 >= v.size() || v[end] != '?' || v[end + 1] != '=')
        return 0;
    const std::string_view text = v.substr(start, end - start);
    bool ok = false;
    if (encoding == 'B' || encoding == 'b')
        ok = DecodeWordBase64(text, run.Bytes);
    else if (encoding == 'Q' || encoding == 'q')
        ok = (run.Bytes = DecodeWordQ(text), true);
    if (!ok)
        return 0;
    run.Word = true;
    run.Charset = CharsetLabel(charset);
    return end + 2 - at;
}

std::vector<Run> Runs(std::string_view v)
{
    std::vector<Run> runs;
    std::string text;
    for (std::size_t i = 0; i < v.size();) {
        Run word;
        const std::size_t length = v.compare(i, 2, "=?") == 0 ? EncodedWord(v, i, word) : 0;
        if (length == 0) {
            text += v[i++];
            continue;
        }
        // White space between two adjacent words is not part of the text (RFC 2047 6.2).
        const bool between = !runs.empty() && runs.back().Word && AllBlank(text);
        if (!text.empty() && !between)
            runs.push_back({false, {}, std::move(text)});
        text.clear();
        // Words of one charset are decoded together, so a character split between them is whole.
        if (!runs.empty() && runs.back().Word && runs.back().Charset == word.Charset)
            runs.back().Bytes += word.Bytes;
        else
            runs.push_back(std::move(word));
        i += length;
    }
    if (!text.empty())
        runs.push_back({false, {}, std::move(text)});
    return runs;
}

}  // namespace

std::string HeaderText(std::string_view rawValue)
{
    const std::string value = Unfolded(rawValue);
    if (value.find("=?") == std::string::npos)
        return GuessedText(value);
    std::string out;
    for (const Run& run : Runs(value))
        out += run.Word ? CharsetText(run.Bytes, run.Charset) : GuessedText(run.Bytes);
    return out;
}

}  // namespace mime
