#pragma once
// The text of mail for people, in UTF-8: header values with their encoded words of any
// character set, and the readable text of a whole MIME message.
//
// Both functions take bytes as received, of any length and any values; they never throw
// (except std::bad_alloc), keep no state between calls, and may be used from any thread.
// Japanese character sets go through Jconvert to Shift-JIS and then through code page 932,
// so Japanese text reads exactly as the window has always shown it; every other character
// set goes through Qt's converters (ICU). Nothing is replaced by a Shift-JIS substitute.

#include <string>
#include <string_view>

namespace mime {

// The text of a header value for people. Folds (CR LF or LF followed by a blank) are
// unfolded; RFC 2047 words ("B" and "Q", any charset, RFC 2231 language suffix) decoded,
// the white space between two adjacent words dropped and adjacent words of one charset
// decoded together; a malformed word stays as it is. Other bytes above 0x7F are read as
// UTF-8 when valid, else as the Japanese code Jconvert detects, else as windows-1252.
std::string HeaderText(std::string_view rawValue);

// The readable text of a whole message as received (header, empty line, body; CR LF or LF
// line ends), lines joined by "\n": the MIME structure walked (nested multiparts), the text
// part chosen (text/plain first, else HTML converted to its text), its transfer encoding
// undone and its charset applied to the whole part (a part without one is detected as a
// whole), followed by one entry per attachment: an empty line and `File "name" extracted`.
std::string MessageText(std::string_view rawMessage);

}  // namespace mime
