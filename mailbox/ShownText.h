#pragma once
// The texts the window shows of a message as received, in UTF-8 through the mail text
// functions (mime/MailText.h): the whole value of a header field, the readable text of a
// fetched message, the header lines one by one. Pure functions; they raise only
// std::bad_alloc. The component's records are read, never changed.

#include <string>
#include <string_view>
#include <vector>

class TMailMessage;

// The raw value of the first field `name` (case ignored) among header lines as received: the
// text after its colon, then each continuation line (one that begins with a blank) joined
// with CR LF, as the sender folded it. Empty when no line has the field.
std::string FieldValue(const std::vector<std::string>& header, std::string_view name);

// HeaderText of that value: what the list and the viewer show for a subject or a sender.
std::string FieldText(const std::vector<std::string>& header, std::string_view name);

// MessageText of the message put back together as it came: its header lines, the empty line
// that closes them, its raw body lines, CR LF after each. The attachments are listed under
// the text by name, whatever the component made of their files.
std::string ReadableText(const TMailMessage& message);

// Every line decoded with HeaderText on its own (a folded field shows as several lines),
// joined by "\n".
std::string DecodedLines(const std::vector<std::string>& lines);
