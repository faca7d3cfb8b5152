// Line-end detection and conversion.
#include "jconv/Jconvert.h"

#include <cstring>

namespace Jconvert {

namespace {

std::string_view Sequence(int kind)
{
    switch (kind) {
    case RCODE_CRLF:
        return "\r\n";
    case RCODE_CR:
        return "\r";
    case RCODE_LF:
        return "\n";
    default:
        return {};
    }
}

}  // namespace

int ReturnCodeCheck(std::string_view text)
{
    const std::size_t at = text.find_first_of("\r\n");
    if (at == std::string_view::npos)
        return RCODE_NONE;
    if (text[at] == '\n')
        return RCODE_LF;
    return at + 1 < text.size() && text[at + 1] == '\n' ? RCODE_CRLF : RCODE_CR;
}

std::string StrictConvertReturnCode(std::string_view text, int source, int target)
{
    const std::string_view from = Sequence(source);
    if (from.empty() || source == target)
        return std::string(text);  // nothing to look for (RCODE_NONE or an unknown kind)
    const std::string_view to = Sequence(target);

    std::string out;
    out.reserve(to.size() > from.size() ? text.size() * 2 : text.size());
    // The walk never looks at the bytes it inserted, so this is a left-to-right
    // replace over the input.
    std::size_t i = 0;
    for (;;) {
        const std::size_t at = text.find(from, i);
        if (at == std::string_view::npos)
            break;
        out.append(text.data() + i, at - i);
        out.append(to);
        i = at + from.size();
    }
    out.append(text.data() + i, text.size() - i);
    return out;
}

std::string ConvertReturnCode(std::string_view text, int target)
{
    return StrictConvertReturnCode(text, ReturnCodeCheck(text), target);
}

}  // namespace Jconvert
