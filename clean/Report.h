#pragma once
// What purgel-clean prints of messages: a line per message for people and scripts, the JSON
// array of `list --json`, the size of several together, and the progress line on a terminal.
// Texts from the mail reach a terminal only without control characters: a subject may hold
// escape sequences meant to rewrite the screen. UTF-8 throughout; nothing raised but
// std::bad_alloc and the stream's own failures.

#include <chrono>
#include <iosfwd>
#include <string>
#include <vector>

#include "mailbox/MessageStore.h"
#include "mailbox/SenderGrouping.h"

// The text with every control character (C0, DEL, C1) and line or paragraph separator as a
// blank, blanks at both ends removed.
std::string PrintableText(const std::string& utf8);

// Number, size in bytes, date ("yyyy/MM/dd HH:mm" local time, "-" without one), sender and
// subject, separated by tabs.
std::string MessageLine(const TMessageRecord& record);

// The records as a JSON array of objects: number, size (null while unknown), date (ISO 8601
// with the local offset, null without one), from, address, subject, uidl (null while unknown).
std::string MessagesJson(const std::vector<const TMessageRecord*>& records);

// The groups of `stats` (the grouping's BySize order): one line each, number of messages,
// total size in bytes, share of the mailbox's size ("12.5%"), newest and oldest date, the
// address or domain ("-" for messages without a sender) and, by address, the name; tabs
// between. Or a JSON array of objects: count, size, share (percent), newest, oldest (as in
// MessagesJson), address or domain (null without a sender), name.
std::string GroupLine(const TSenderGrouping& grouping, TGroupBy by, int group);
std::string GroupsJson(const TSenderGrouping& grouping, TGroupBy by);

// The sizes added up, as people read them ("3.1 MB"); unknown sizes count nothing.
std::string TotalSizeText(const std::vector<const TMessageRecord*>& records);

// One line on a terminal that is written over as the work goes: "listing 120/4000". Shown
// at most ten times a second; Clear blanks it for what is said next.
class TProgressLine {
public:
    TProgressLine(std::ostream& out, bool shown) : FOut(out), FShown(shown) {}
    void Show(const std::string& text, bool force = false);
    void Clear();

private:
    std::ostream& FOut;
    bool FShown;
    std::size_t FWidth = 0;   // of the line shown, for blanking it
    std::chrono::steady_clock::time_point FLast{};
};
