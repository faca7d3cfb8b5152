#pragma once
// Line helpers of the socket and mail components: fields of a line, the numeric code at
// the start of a reply line, a line written to a stream. Nothing here waits or owns;
// StreamLn passes on the stream's exceptions.

#include <cstdint>
#include <string>
#include <string_view>

class TStream;

// Field n (from 1) of Text cut at every single Delimiter; "" for n <= 0 or past the end.
std::string NthWord(const std::string& Text, char Delimiter, int N);
// The same field as a view into Text (no copy).
std::string_view NthWordView(std::string_view Text, char Delimiter, int N);
// 1-based position of the n-th Delimiter; Text's length + 1 when there are fewer.
int NthPos(const std::string& Text, char Delimiter, int N);
// Writes Text and CR LF to the stream.
void StreamLn(TStream& Stream, const std::string& Text);
// The leading decimal digits of a reply line (at most 10) as its code: 0 without digits
// or past 32 bits, clipped to 32767.
std::int16_t ReplyCode(std::string_view Reply);
