#pragma once
// The pieces of a MIME entity (RFC 2045, 2046, 2231): its header and body, header fields,
// the parameters of a structured field, and the parts of a multipart body. Views point
// into the caller's bytes, which must outlive them. Nothing throws but std::bad_alloc.

#include <string>
#include <string_view>
#include <vector>

namespace mime {

struct Entity {
    std::string_view Header;  // the header lines with their line ends, without the empty line
    std::string_view Body;    // everything after the empty line
};

// Split at the first empty line (CR LF or LF ends), or before the first line that is no
// header field (nor the continuation of one).
Entity SplitEntity(std::string_view raw);

// The raw value of the first field of that name (any case), folds kept; "" when none.
std::string_view FieldValue(std::string_view header, std::string_view name);

// The value before the first ";" of a structured field, trimmed and lower case
// ("Text/Plain; charset=x" -> "text/plain").
std::string MainValue(std::string_view fieldValue);

// A parameter of a structured field as UTF-8 text: RFC 2231 forms first (name*=charset'lang'
// %XX, continuations name*0, name*1*, ...), else the plain name=value (a quoted string
// unquoted, encoded words in it decoded); "" when absent.
std::string Parameter(std::string_view fieldValue, std::string_view name);

// A parameter's value as written, a quoted string unquoted and nothing decoded (a multipart
// boundary is bytes to compare, not text); "" when absent.
std::string RawParameterValue(std::string_view fieldValue, std::string_view name);

// What a line of a multipart body is (RFC 2046): "--" and the boundary at its very start,
// "--" after it for the closing delimiter, then nothing but transport padding (blanks; a
// line end may be included). A line that merely contains the boundary, or begins with a
// longer one, is text; with an empty boundary every line is.
enum class DelimiterKind { None, Part, Closing };
DelimiterKind Delimiter(std::string_view line, std::string_view boundary);

// The parts of a multipart body between its delimiter lines (Delimiter). Preamble and
// epilogue are left out; a body without a closing delimiter ends its last part at the end
// of the body.
std::vector<std::string_view> BodyParts(std::string_view body, std::string_view boundary);

}  // namespace mime
