#pragma once
// Helpers for the jconv test tables: byte strings written as hex, and shown as hex on failure.
#include <cstdio>
#include <string>
#include <string_view>

namespace jconvtest {

// "1B 24 42 'ab' 0D": hex bytes separated by blanks; text between single quotes is taken as it is.
inline std::string B(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == ' ') {
            ++i;
        } else if (c == '\'') {
            const std::size_t end = text.find('\'', i + 1);
            out.append(text.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            out += char(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

inline std::string Hex(std::string_view bytes)
{
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        out += buf;
    }
    if (!out.empty())
        out.pop_back();
    return out;
}

}  // namespace jconvtest
