// Speed of the kanji code conversions against glibc iconv doing the same conversion in the
// same run, on a 4 MiB Japanese text, and of the Base64 codec. Prints, per conversion, both
// times and the ratio iconv time / our time (the goal is at least 1).
#include "jconv/Jconvert.h"

#include <iconv.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace {

constexpr std::size_t kTextSize = 4u << 20;

// Best of several runs, in seconds.
double Time(const std::function<void()>& run, int repeats = 7)
{
    double best = 1e9;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    // Converts into `out`, which is sized for the result; returns false on any failure.
    bool Convert(const std::string& in, std::string& out)
    {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* ip = const_cast<char*>(in.data());
        std::size_t il = in.size();
        char* op = out.data();
        std::size_t ol = out.size();
        const bool ok = iconv(cd_, &ip, &il, &op, &ol) != static_cast<std::size_t>(-1) &&
                        iconv(cd_, nullptr, nullptr, &op, &ol) != static_cast<std::size_t>(-1);
        out.resize(out.size() - ol);
        return ok;
    }

private:
    iconv_t cd_;
};

std::string Convert(const char* to, const char* from, const std::string& in)
{
    Iconv cd(to, from);
    std::string out(in.size() * 3 + 16, '\0');
    if (!cd.Convert(in, out)) {
        std::fprintf(stderr, "iconv %s -> %s failed\n", from, to);
        std::exit(1);
    }
    return out;
}

// A mail-like EUC-JP text: lines of hiragana, katakana, common kanji (rows 16 to 47),
// punctuation and ASCII words, each ended by CR LF.
std::string EucJpText()
{
    std::string text;
    text.reserve(kTextSize + 256);
    std::uint32_t seed = 12345;
    auto next = [&](std::uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    auto put = [&](unsigned j1, unsigned j2) {
        text += char(j1 | 0x80);
        text += char(j2 | 0x80);
    };
    std::size_t column = 0;
    while (text.size() < kTextSize) {
        const std::uint32_t kind = next(100);
        if (kind < 40) {
            put(0x24, 0x21 + next(0x53));  // hiragana
        } else if (kind < 55) {
            put(0x25, 0x21 + next(0x56));  // katakana
        } else if (kind < 85) {
            put(0x30 + next(0x1F), 0x21 + next(0x5E));  // kanji of level 1
        } else if (kind < 90) {
            put(0x21, next(2) ? 0x22 : 0x23);  // 、 。
        } else {
            static const char* const words[] = {"POP3 ", "mail ", "2024-06-01 ", "Re: ", "OK ", "http://example.com/ "};
            text += words[next(6)];
        }
        if (++column >= 36) {
            text += "\r\n";
            column = 0;
        }
    }
    return text;
}

void Report(const char* what, std::size_t bytes, double ours, double reference)
{
    std::printf("%-22s ours %7.2f ms (%7.1f MB/s)   iconv %7.2f ms (%6.1f MB/s)   ratio %5.2f\n", what, ours * 1e3,
                bytes / ours / 1e6, reference * 1e3, bytes / reference / 1e6, reference / ours);
}

bool CompareConversion(const char* what, const std::string& in, int target, const char* to, const char* from)
{
    const std::string ours = Jconvert::ConvertJCode(in, target);
    Iconv cd(to, from);
    std::string theirs(in.size() * 2 + 16, '\0');
    const bool ok = cd.Convert(in, theirs) && ours == theirs;
    if (!ok)
        std::printf("%s: our result differs from iconv's\n", what);
    std::string out(in.size() * 2 + 16, '\0');
    const double oursTime = Time([&] { (void)Jconvert::ConvertJCode(in, target); });
    const double iconvTime = Time([&] {
        out.resize(in.size() * 2 + 16);  // iconv gets its buffer ready-made
        cd.Convert(in, out);
    });
    Report(what, in.size(), oursTime, iconvTime);
    return ok;
}

}  // namespace

int main()
{
    const std::string euc = EucJpText();
    const std::string sjis = Convert("SHIFT_JIS", "EUC-JP", euc);
    const std::string jis = Convert("ISO-2022-JP", "EUC-JP", euc);
    std::printf("text: %zu bytes EUC-JP, %zu Shift-JIS, %zu JIS\n", euc.size(), sjis.size(), jis.size());

    bool ok = true;
    ok &= CompareConversion("Shift-JIS -> EUC-JP", sjis, Jconvert::JCODE_EUC, "EUC-JP", "SHIFT_JIS");
    ok &= CompareConversion("JIS -> Shift-JIS", jis, Jconvert::JCODE_SJIS, "SHIFT_JIS", "ISO-2022-JP");
    ok &= CompareConversion("EUC-JP -> Shift-JIS", euc, Jconvert::JCODE_SJIS, "SHIFT_JIS", "EUC-JP");

    std::string bytes(kTextSize, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 2654435761u) >> 13);
    const std::string base64 = Jconvert::EncodeBase64R(bytes, "\r\n");
    ok &= Jconvert::DecodeBase64(base64) == bytes;
    const double encodeTime = Time([&] { (void)Jconvert::EncodeBase64(bytes); });
    const double encodeLinesTime = Time([&] { (void)Jconvert::EncodeBase64R(bytes, "\r\n"); });
    const double decodeTime = Time([&] { (void)Jconvert::DecodeBase64(base64); });
    std::printf("EncodeBase64           %7.1f MB/s of input\n", bytes.size() / encodeTime / 1e6);
    std::printf("EncodeBase64R (CR LF)  %7.1f MB/s of input\n", bytes.size() / encodeLinesTime / 1e6);
    std::printf("DecodeBase64 (CR LF)   %7.1f MB/s of output\n", bytes.size() / decodeTime / 1e6);
    return ok ? 0 : 1;
}
