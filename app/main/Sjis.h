#pragma once
// The crossing between the program's Shift-JIS bytes (code page 932, "windows-31j") and
// Qt's Unicode strings; used only where text meets a widget.
//
// A byte sequence that does not decode shows as U+001A; a character that Shift-JIS cannot
// hold encodes as its substitute bytes, so callers that store text check IsSjisEncodable first.
// The decoding is the mail text functions' own (mime::SjisToQString), so Japanese text reads
// the same whichever route it came by. The UTF-8 of those functions crosses with Utf8ToQ.

#include <QString>
#include <QValidator>
#include <string>
#include <string_view>

QString SjisToQ(std::string_view sjis);
QString Utf8ToQ(std::string_view utf8);
std::string QToSjis(const QString& text);
bool IsSjisEncodable(const QString& text);

// Keeps out of an edit what the account file and the server could not be given: characters
// without Shift-JIS bytes, and line breaks (they would split the account's line, or the
// command that carries the text).
class TSjisValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& cursor) const override;
};
