#pragma once
// The text helpers and reply readers the POP3 dialogue (Nmpop3.cpp) and its message parser
// (Pop3Message.cpp) share. Private to pop3/.

#include "net/LineReader.h"
#include "pop3/Nmpop3.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>
#include <utility>

namespace pop3text {

// Sets the busy flag for the lifetime of an operation and clears it on every way out.
class BusyScope {
public:
    explicit BusyScope(bool& flag) : FFlag(flag) { FFlag = true; }
    ~BusyScope() { FFlag = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& FFlag;
};

// Runs an action when an operation ends, on every way out (the action must not raise).
template <class F>
class AtScopeEnd {
public:
    explicit AtScopeEnd(F action) : FAction(std::move(action)) {}
    ~AtScopeEnd() { FAction(); }
    AtScopeEnd(const AtScopeEnd&) = delete;
    AtScopeEnd& operator=(const AtScopeEnd&) = delete;

private:
    F FAction;
};

inline std::string_view StripLineEnd(std::string_view line)
{
    if (line.size() >= 2 && line[line.size() - 2] == '\r' && line.back() == '\n')
        line.remove_suffix(2);
    else if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    return line;
}

// A message line as it was before the server doubled its leading dot (RFC 1939): the
// message is stored as it is, so that a uuencoded line beginning with "." decodes.
inline std::string_view Unstuffed(std::string_view line)
{
    if (line.size() >= 2 && line[0] == '.' && line[1] == '.')
        line.remove_prefix(1);
    return line;
}

// True for the "." line that ends a multi-line reply (line end included).
inline bool IsEndLine(std::string_view line)
{
    return line == ".\r\n" || line == ".\n";
}

// The text from the 1-based character `from` on, at most `count` characters.
inline std::string_view From(std::string_view text, std::size_t from, std::size_t count = std::string_view::npos)
{
    return text.substr(std::min(from - 1, text.size()), count);
}

inline std::string_view FirstWord(std::string_view reply)
{
    return NthWordView(reply, ' ', 1);
}

inline bool ContainsOk(std::string_view reply)
{
    return FirstWord(reply).find("+OK") != std::string_view::npos;
}

// A command with a message number: verb (at most 8 characters), the number in decimal,
// tail (at most 8), made in one piece.
inline std::string CommandLine(std::string_view verb, int msg, std::string_view tail = "")
{
    char line[32];
    char* end = std::copy(verb.begin(), verb.end(), line);
    end = std::to_chars(end, line + 24, msg).ptr;
    end = std::copy(tail.begin(), tail.end(), end);
    return std::string(line, end);
}

inline bool Contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

inline bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.starts_with(prefix);
}

inline bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The value of at most 10 decimal digits; 0 past 32 bits.
inline int DigitsValue(std::string_view digits)
{
    long long v = 0;
    for (char c : digits)
        v = v * 10 + (c - '0');
    return v > 2147483647LL ? 0 : static_cast<int>(v);
}

// A plain decimal number (digits only, within 32 bits); 0 for anything else.
inline int PlainNumber(std::string_view text)
{
    if (text.empty() || text.size() > 10 || !std::all_of(text.begin(), text.end(), IsDigit))
        return 0;
    return DigitsValue(text);
}

// The size of a "number size" listing line: a plain decimal number within 32 bits.
inline bool IsSizeWord(std::string_view word)
{
    return PlainNumber(word) > 0 || word == "0";
}

// The id of a "number id" UIDL line: printable characters without a blank (RFC 1939 says
// 1 to 70 of them; a few more are taken).
inline bool IsUidlWord(std::string_view word)
{
    return !word.empty() && word.size() <= 255 &&
           std::all_of(word.begin(), word.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

} // namespace pop3text

template <class TakeLine>
int TNMPOP3::ReadReply(TakeLine&& Take, bool KeepLast, std::string* Keep)
{
    // Every failure of a reply ends the dialogue: no QUIT may be sent into what is left.
    int unread = 0;
    const TLineRead how{.DropOnFailure = true, .RestartTimeout = true, .KeepLast = KeepLast, .Keep = Keep};
    auto counted = [this, &Take](std::string_view line) {
        FReplyBytes += static_cast<long long>(line.size());
        if (ReplyLimit > 0 && FReplyBytes > ReplyLimit)
            ReplyTooLong();
        return Take(line);
    };
    if (ReadLines(how, counted, &unread) == TLinesEnd::PeerClosed)
        ConnectionClosed();
    return unread;
}

template <class TakeLine>
void TNMPOP3::ReadListing(TakeLine&& Take)
{
    ReadReply([&Take](std::string_view line) {
        const bool last = pop3text::IsEndLine(line);
        Take(line, last);
        return last;
    });
}
