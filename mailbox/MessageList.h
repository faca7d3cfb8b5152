#pragma once
// What the message list shows and compares besides the received texts: sizes for people,
// the date of a message from its header lines, and the form in which the filter compares
// texts. Plain functions without widgets.

#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace MessageList {
// A row field that is a plain decimal number (a size in bytes, a date in seconds); none for
// anything else ("Deleted", "").
std::optional<long long> Number(const std::string& field);
// "512 B", "820 KB", "3.1 MB", "1.2 GB" (units of 1024; one decimal from MB up).
QString SizeText(long long bytes);
// The value of the first "Date:" line among a header's lines (folded lines joined, a
// trailing comment such as "(JST)" dropped) as seconds since the epoch; none when the
// header has no date or Qt cannot read it as an RFC 2822 date.
std::optional<long long> HeaderDate(const std::vector<std::string>& headerLines);
// Seconds since the epoch as local time, "yyyy/MM/dd HH:mm".
QString DateText(long long seconds);
// The form in which the filter compares texts: compatibility forms unified (NFKC: full-
// and half-width letters and kana alike) and case folded.
QString MatchKey(const QString& text);
}
