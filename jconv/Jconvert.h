#pragma once
// Jconvert: Japanese text conversion for mail.
//
// Kanji code detection and conversion between JIS (ISO-2022-JP), Shift-JIS and EUC-JP,
// line-end detection and conversion, Base64 / uuencode / BinHex-alphabet text encoders,
// and MIME encoded words in ISO-2022-JP.
//
// Contract shared by every function:
// - Texts are byte strings of any length and any byte values; the input is never changed
//   and every result is a new string that holds only bytes the function wrote.
// - Nothing fails or throws (except std::bad_alloc): malformed input gives shortened or
//   converted output. No function reads outside its input.
// - The module keeps no state between calls. It may be used from any thread;
//   STRICT_CHECK_LEN is only read, and must not be changed while other threads convert.

#include <string>
#include <string_view>

namespace Jconvert {

// Kanji codes (returned by InCodeCheck, taken by the dispatchers).
inline constexpr int JCODE_ASCII = 0;      // no designator and no deciding byte met
inline constexpr int JCODE_BINARY = 1;     // a byte below 0x08 or equal to 0xFF
inline constexpr int JCODE_JIS83 = 2;      // JIS with ESC $ B
inline constexpr int JCODE_JIS78 = 3;      // JIS with ESC $ @
inline constexpr int JCODE_EUC = 4;        // EUC-JP
inline constexpr int JCODE_SJIS = 5;       // Shift-JIS
inline constexpr int JCODE_EUCORSJIS = 6;  // 8-bit Japanese, EUC-JP or Shift-JIS undecided

// Line-end kinds.
inline constexpr int RCODE_NONE = 0;  // no line end
inline constexpr int RCODE_CRLF = 1;  // "\r\n"
inline constexpr int RCODE_CR = 2;    // "\r"
inline constexpr int RCODE_LF = 3;    // "\n"

// Number of leading bytes InCodeCheck examines for binary content (initially 512).
extern int STRICT_CHECK_LEN;

// ---- Kanji codes ----------------------------------------------------------------------

// The kanji code of a text: one of the JCODE_ values.
int InCodeCheck(std::string_view text);

// One JIS X 0208 code j1 j2 as its two Shift-JIS bytes, and back. Plain arithmetic,
// modulo 256, no range check: always a string of length 2.
std::string ToSjis(unsigned char j1, unsigned char j2);
std::string ToJis(unsigned char s1, unsigned char s2);

// Text conversions. The writers of JIS put ESC $ B before double-byte characters and
// ESC ( J before single-byte ones, and add nothing at the end; half-width katakana become
// full-width (with a following sound mark folded in where one exists).
std::string jis2euc(std::string_view text);
std::string jis2sjis(std::string_view text);
std::string euc2jis83(std::string_view text);
std::string euc2sjis(std::string_view text);
std::string sjis2jis83(std::string_view text);
std::string sjis2euc(std::string_view text);

// The text in the target code (JCODE_JIS83, JCODE_EUC or JCODE_SJIS); ConvertJCode detects
// the source code itself. Unchanged when the source is ASCII, binary, undecided or equal to
// the target, and for any other target. StrictConvertJCode gives "" for a source above 6
// with a target of 2, 4 or 5.
std::string ConvertJCode(std::string_view text, int target);
std::string StrictConvertJCode(std::string_view text, int source, int target);

// ---- Line ends ------------------------------------------------------------------------

// The kind of the first line end of the text (RCODE_NONE when there is none).
int ReturnCodeCheck(std::string_view text);

// Every line end of the source kind rewritten into the target kind; a target outside
// 1..3 removes them. Line ends of other kinds stay. ConvertReturnCode detects the source
// kind; StrictConvertReturnCode is told it and gives the text unchanged for a source of
// RCODE_NONE, equal to the target, or outside 0..3.
std::string ConvertReturnCode(std::string_view text, int target);
std::string StrictConvertReturnCode(std::string_view text, int source, int target);

// ---- Text encoders --------------------------------------------------------------------

// Base64 in one line, and in lines of 76 characters each followed by `separator`.
std::string EncodeBase64(std::string_view bytes);
std::string EncodeBase64R(std::string_view bytes, std::string_view separator);
// uuencoded lines without "begin"/"end", closed by an empty-count backquote line.
std::string EncodeUU(std::string_view bytes, std::string_view separator);
// BinHex 4.0 alphabet between ":" delimiters, 64 characters a line (no header, no CRC).
std::string EncodeBinHex(std::string_view bytes, std::string_view separator);

// The decoders never give more bytes than the length they compute from the input first,
// and fewer where the input is malformed.
std::string DecodeBase64(std::string_view text);
std::string DecodeUU(std::string_view text);
std::string DecodeBinHex(std::string_view text);

// ---- MIME header words ----------------------------------------------------------------

// Each "=?ISO-2022-JP?B?...?=" word (prefix matched without case) replaced by its decoded
// JIS bytes; everything else stays byte for byte. Pass the result to ConvertJCode.
std::string DecodeHeaderString(std::string_view value);
// Shift-JIS text with each run of double-byte characters made one ISO-2022-JP "B" word
// (ESC $ B, the JIS codes, ESC ( B); ASCII and half-width katakana are left as they are.
std::string CreateHeaderString(std::string_view text);

}  // namespace Jconvert
