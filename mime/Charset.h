#pragma once
// Bytes of a named character set as UTF-8, for the mail text functions (MailText.h).
//
// Japanese sets (ISO-2022-JP, Shift_JIS and its aliases, EUC-JP) go through Jconvert to
// Shift-JIS and then through code page 932 ("windows-31j"), the window's own crossing;
// every other label goes to Qt's converters. Nothing throws but std::bad_alloc; bytes that
// do not decode come out as U+FFFD (code page 932: as its converter maps them). Converters
// are opened once per thread and kept.

#include <QString>
#include <string>
#include <string_view>

namespace mime {

// The label as a lower-case name without white space and without an RFC 2231 language
// suffix ("ISO-2022-JP*ja" -> "iso-2022-jp").
std::string CharsetLabel(std::string_view name);

// The bytes read in that charset. An empty, "us-ascii" or unknown label reads them as
// GuessedText does (mail in the wild labels 8-bit text as ASCII, or with made-up names).
std::string CharsetText(std::string_view bytes, std::string_view charset);

// Bytes of no known charset: as they are when they are valid UTF-8 (ASCII included), else
// as the Japanese code Jconvert detects when they are well formed in it, else windows-1252.
std::string GuessedText(std::string_view bytes);

bool IsUtf8(std::string_view bytes);

// Shift-JIS (code page 932) as the window shows it. The window's own crossing (app/Sjis)
// does the same through the same converter.
QString SjisToQString(std::string_view sjis);
std::string SjisToUtf8(std::string_view sjis);

}  // namespace mime
