// mime::HeaderText over 100,000 subjects of the kinds a mailbox holds today (ISO-2022-JP "B"
// words, folded over several lines when long; UTF-8 "B" and "Q" words; plain ASCII), against
// the window's current route on the ISO-2022-JP ones: DecodeHeaderString, then ConvertJCode
// to Shift-JIS. The figure is the time ratio HeaderText / current route on the same
// ISO-2022-JP subjects (goal: at most 1.5), the median of several runs.
//
// Usage: bench_mime [subjects [runs]]

#include "bench/Measure.h"
#include "jconv/Jconvert.h"
#include "mime/Charset.h"
#include "mime/MailText.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::Median;
using bench::Seconds;

const char* const Phrases[] = {
    "\x89\xef\x8b" "c\x82\xcc\x82\xa8\x92m\x82\xe7\x82\xb9" /* sjis: 会議のお知らせ */,
    "\x81y\x8f" "d\x97v\x81z\x83V\x83X\x83" "e\x83\x80\x83\x81\x83\x93\x83" "e\x83i\x83\x93\x83X\x82\xcc\x82\xa8\x92m\x82\xe7\x82\xb9" /* sjis: 【重要】システムメンテナンスのお知らせ */,
    "\x8fT\x8a\xa7\x83" "e\x83" "b\x83N\x83j\x83\x85\x81[\x83X \x91\xe6" /* sjis: 週刊テックニュース 第 */,
    "\x82\xb2\x92\x8d\x95\xb6\x82\xa0\x82\xe8\x82\xaa\x82\xc6\x82\xa4\x82\xb2\x82\xb4\x82\xa2\x82\xdc\x82\xb7" /* sjis: ご注文ありがとうございます */,
    "\x94\xad\x91\x97\x8a\xae\x97\xb9\x82\xcc\x82\xb2\x88\xc4\x93\xe0" /* sjis: 発送完了のご案内 */,
    "\x8a\xbd\x8c}\x89\xef\x82\xcc\x82\xb2\x88\xc4\x93\xe0\x81`\x8eQ\x89\xc1\x8e\xf3\x95t\x92\x86" /* sjis: 歓迎会のご案内〜参加受付中 */,
    "\x90}\x8f\x91\x8a\xd9\x82\xa9\x82\xe7\x82\xcc\x82\xa8\x92m\x82\xe7\x82\xb9\x81" "F\x97\x5c\x96\xf1\x82\xcc\x96{\x82\xaa\x93\xcd\x82\xab\x82\xdc\x82\xb5\x82\xbd" /* sjis: 図書館からのお知らせ：予約の本が届きました */,
};
const char* const Prefixes[] = {"", "Re: ", "Fwd: ", "[info:%d] "};
const char* const English[] = {"Your order has shipped", "Weekly report", "Build #%d passed", "Lunch on Friday?"};

std::string Q(const std::string& utf8)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : utf8)
        if (c == ' ')
            out += '_';
        else if (c >= 0x80 || c == '=' || c == '?' || c == '_')
            out += {'=', hex[c >> 4], hex[c & 15]};
        else
            out += static_cast<char>(c);
    return out;
}

struct Subjects {
    std::vector<std::string> All, Jis;
};

Subjects Make(int count)
{
    Subjects s;
    unsigned r = 12345;
    auto next = [&r](unsigned n) { return (r = r * 1103515245u + 12345u) / 65536u % n; };
    char prefix[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(prefix, sizeof prefix, Prefixes[next(4)], i);
        const std::string a = Phrases[next(7)], b = Phrases[next(7)];
        switch (next(5)) {
        case 0: case 1:  // ISO-2022-JP, long ones folded into two words as senders do
            s.Jis.push_back(prefix + Jconvert::CreateHeaderString(a) +
                            (next(2) ? "\r\n " + Jconvert::CreateHeaderString(b) : std::string()));
            s.All.push_back(s.Jis.back());
            break;
        case 2:
            s.All.push_back(prefix + ("=?UTF-8?B?" + Jconvert::EncodeBase64(mime::SjisToUtf8(a + b)) + "?="));
            break;
        case 3:
            s.All.push_back(prefix + ("=?utf-8?Q?" + Q(mime::SjisToUtf8(a)) + "?="));
            break;
        default:
            char english[64];
            std::snprintf(english, sizeof english, English[next(4)], i);
            s.All.push_back(prefix + std::string(english));
        }
    }
    return s;
}

template <typename F>
double Time(const std::vector<std::string>& subjects, F convert)
{
    std::size_t sink = 0;
    const auto start = Clock::now();
    for (const std::string& subject : subjects)
        sink += convert(subject).size();
    const double took = Seconds(start, Clock::now());
    if (sink == 0)
        std::printf("(nothing converted)\n");
    return took;
}

}  // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
    const Subjects s = Make(count);
    auto current = [](const std::string& v) { return Jconvert::ConvertJCode(Jconvert::DecodeHeaderString(v), Jconvert::JCODE_SJIS); };
    auto ours = [](const std::string& v) { return mime::HeaderText(v); };
    (void)Time(s.Jis, ours);  // converters opened and caches warm before timing
    std::vector<double> ratios, all, reference, mine;
    for (int run = 0; run < runs; ++run) {
        const double c = Time(s.Jis, current), m = Time(s.Jis, ours);
        reference.push_back(c);
        mine.push_back(m);
        ratios.push_back(m / c);
        all.push_back(Time(s.All, ours));
    }
    std::printf("subjects: %zu, %zu of them ISO-2022-JP\n", s.All.size(), s.Jis.size());
    std::printf("ISO-2022-JP: HeaderText %7.2f ms   current route %7.2f ms   ratio %5.2f (goal <= 1.5)\n",
                Median(mine) * 1e3, Median(reference) * 1e3, Median(ratios));
    std::printf("all subjects: HeaderText %7.2f ms (%.0f subjects/s)\n", Median(all) * 1e3, s.All.size() / Median(all));
    return 0;
}
