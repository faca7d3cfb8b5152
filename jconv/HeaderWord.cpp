// MIME encoded words in ISO-2022-JP ("=?ISO-2022-JP?B?" Base64 "?=") in header values.
#include "jconv/Jconvert.h"

#include <algorithm>
#include <cstddef>

namespace Jconvert {

namespace {

constexpr std::string_view Prefix = "=?ISO-2022-JP?B?";
constexpr std::string_view Suffix = "?=";

inline char Fold(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

inline bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

}  // namespace

// A word is replaced in place and the search starts again from the first byte, so decoded
// bytes can join the text before them into a new prefix. Rescanning from the start would be
// quadratic; instead the text is carried over from a pending part (kept reversed, so its
// front is cheap to take and to push decoded bytes onto) into a finished part, checking for
// a prefix that ends at each byte carried: the leftmost prefix of the restarted search
// always ends at a byte not yet carried. Each byte keeps a search form beside it: upper-cased
// for the value's own bytes, as they are for decoded bytes.
std::string DecodeHeaderString(std::string_view value)
{
    const auto caseless = [](char a, char b) { return Fold(a) == b; };
    if (std::search(value.begin(), value.end(), Prefix.begin(), Prefix.end(), caseless) == value.end())
        return std::string(value);

    std::string done, doneSearch;
    done.reserve(value.size());
    doneSearch.reserve(value.size());
    std::string pending(value.rbegin(), value.rend());
    std::string pendingSearch(pending);
    std::transform(pendingSearch.begin(), pendingSearch.end(), pendingSearch.begin(), Fold);
    // pending[0, clean) is known to hold no suffix; it is the far end of the value, which
    // only shrinks as bytes are carried over, so failed searches never repeat their work.
    std::size_t clean = 0;

    while (!pending.empty()) {
        done += pending.back();
        doneSearch += pendingSearch.back();
        pending.pop_back();
        pendingSearch.pop_back();
        clean = std::min(clean, pending.size());
        const std::size_t d = doneSearch.size();
        if (doneSearch.back() != '?' || d < Prefix.size() || doneSearch.compare(d - Prefix.size(), Prefix.size(), Prefix) != 0)
            continue;
        done.resize(d - Prefix.size());
        doneSearch.resize(d - Prefix.size());

        // The suffix, reversed in the pending part, nearest to its back.
        const std::size_t from = clean > 0 ? clean - 1 : 0;
        const std::size_t hit = std::string_view(pending).substr(from).rfind("=?");
        if (hit == std::string_view::npos) {
            clean = pending.size();  // the prefix alone goes; its text stays
            continue;
        }
        const std::size_t suffixAt = from + hit;  // index of the suffix's "=" in reversed order
        const std::size_t textStart = suffixAt + Suffix.size();
        const std::string encoded(pending.rbegin(), pending.rbegin() + std::ptrdiff_t(pending.size() - textStart));
        pending.resize(suffixAt);
        pendingSearch.resize(suffixAt);
        clean = std::min(clean, suffixAt);
        const std::string decoded = DecodeBase64(encoded);
        pending.append(decoded.rbegin(), decoded.rend());
        pendingSearch.append(decoded.rbegin(), decoded.rend());
    }
    return done;
}

std::string CreateHeaderString(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::string out;
    out.reserve(n + n / 2);
    std::string run;  // adjacent double-byte characters, Shift-JIS
    const auto flushRun = [&] {
        if (run.empty())
            return;
        // The word's text ends back in ASCII, as ISO-2022-JP requires: a word left in
        // double-byte mode would swallow the text after it once decoded in place.
        out.append(Prefix);
        out.append(EncodeBase64(sjis2jis83(run) + "\x1b(B"));
        out.append(Suffix);
        run.clear();
    };
    for (std::size_t i = 0; i < n;) {
        if (IsLeadByte(p[i])) {
            if (i + 1 >= n)
                break;  // a lead byte without its second byte is half a character: dropped
            run.append(text.data() + i, 2);
            i += 2;
        } else {
            flushRun();  // ASCII and half-width katakana stay as they are
            out += text[i];
            ++i;
        }
    }
    flushRun();
    return out;
}

}  // namespace Jconvert
