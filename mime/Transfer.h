#pragma once
// The transfer encodings of mail undone: Base64 and quoted-printable bodies (RFC 2045) and
// the "B" and "Q" encodings of header words (RFC 2047). Nothing throws but std::bad_alloc.

#include <string>
#include <string_view>

namespace mime {

// A body in the named transfer encoding ("base64", "quoted-printable", any case; anything
// else, 7bit and 8bit included, is returned as it is). Base64 skips line breaks and bytes
// outside its alphabet; quoted-printable keeps a "=" that starts no escape.
std::string DecodeTransfer(std::string_view body, std::string_view encoding);

// A "B" word's text into `bytes`; false, with `bytes` unspecified, when the text holds a
// byte outside the Base64 alphabet or is cut off (padding may be left out).
bool DecodeWordBase64(std::string_view text, std::string& bytes);
// A "Q" word's text: "_" is a space, "=XX" a byte; a "=" that starts no escape stays.
std::string DecodeWordQ(std::string_view text);

// RFC 2231 extended parameter text: "%XX" a byte; a "%" that starts no escape stays.
std::string DecodePercent(std::string_view text);

}  // namespace mime
