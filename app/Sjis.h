#pragma once
// The crossing between the program's Shift-JIS bytes (code page 932, "windows-31j") and
// Qt's Unicode strings; used only where text meets a widget.
//
// A byte sequence that does not decode shows as U+001A; a character that Shift-JIS cannot
// hold encodes as its substitute bytes, so callers that store text check IsSjisEncodable first.

#include <QString>
#include <string>
#include <string_view>

QString SjisToQ(std::string_view sjis);
std::string QToSjis(const QString& text);
bool IsSjisEncodable(const QString& text);
