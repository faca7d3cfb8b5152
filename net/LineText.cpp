#include "net/LineText.h"

#include "runtime/Stream.h"

#include <algorithm>

std::string NthWord(const std::string& Text, char Delimiter, int N)
{
    return std::string(NthWordView(Text, Delimiter, N));
}

std::string_view NthWordView(std::string_view Text, char Delimiter, int N)
{
    if (N <= 0)
        return {};
    for (; N > 1; --N) {
        const std::size_t at = Text.find(Delimiter);
        if (at == std::string_view::npos)
            return {};
        Text.remove_prefix(at + 1);
    }
    return Text.substr(0, Text.find(Delimiter));
}

int NthPos(const std::string& Text, char Delimiter, int N)
{
    int count = 0;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == Delimiter && ++count == N)
            return static_cast<int>(i) + 1;
    }
    return static_cast<int>(Text.size()) + 1;
}

void StreamLn(TStream& Stream, const std::string& Text)
{
    std::string line = Text + "\r\n";
    Stream.WriteBuffer(line.data(), static_cast<long long>(line.size()));
}

std::int16_t ReplyCode(std::string_view Reply)
{
    std::size_t digits = 0;
    long long value = 0;
    while (digits < 10 && digits < Reply.size() && Reply[digits] >= '0' && Reply[digits] <= '9')
        value = value * 10 + (Reply[digits++] - '0');
    if (value > 2147483647LL)
        value = 0;   // not a 32-bit number
    return static_cast<std::int16_t>(std::min(value, 32767LL));
}
