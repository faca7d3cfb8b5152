// Reconnecting with the header cache, over a link of a 30 ms round trip (the delaying proxy,
// 15 ms each way) to a Dovecot mailbox of 10,000 messages with headers of real mail's size
// (RealHeaders, below), each figure beside its goal, with
// the round trip measured as the proxy gives it (a NOOP's, bench::RoundTrip):
//  - second connect, nothing new, PIPELINING stripped from CAPA: connect press to the last
//    row; goal at most 3 round trips + 0.3 s;
//  - the same with 100 new messages; goal 3 + 100 round trips + 0.3 s;
//  - with PIPELINING, second connect: the session's listing against UIDL + LIST alone
//    (the component's GetListing on a connection of its own); goal at most 1.5 times;
//  - first connect without PIPELINING: login to every row with its size; goal 3 round trips
//    + 0.3 s; and today's listing of the whole mailbox, from its pace over 50 headers;
//  - bytes from the server on a second connect with nothing new against the first; goal at
//    most 3 %;
//  - the loading of the cache file alone (goal well under 100 ms), and the memory of the
//    listed mailbox (the window's rows are the store's records; the model copies nothing):
//    with the cache against today's listing; goal at most 1.5 times.
// Medians of the runs.
//
// Usage: bench_mailbox_cache [messages [runs]]

#include "bench/Measure.h"
#include "bench/Pop3Client.h"
#include "bench/pop3/DelayProxy.h"
#include "mailbox/Credentials.h"
#include "mailbox/Environment.h"
#include "mailbox/HeaderCache.h"
#include "mailbox/MailboxSession.h"
#include "pop3/Nmpop3.h"
#include "tests/support/Dovecot.h"
#include "tests/support/Files.h"
#include "tests/support/Mailbox.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <malloc.h>

#include <random>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::Median;
using bench::Seconds;
using namespace std::chrono_literals;

constexpr auto OneWay = 15ms;

// The bench mailbox's messages with headers of the size and shape of real mail: a chain of
// Received lines, DKIM and ARC signatures, authentication results, a mailing list's fields
// for some; about 2.5 to 4 KB each, different for every message. The signatures' bytes are
// random base64 of an RSA-2048 signature's length.
std::string Base64(std::mt19937& gen, std::size_t length)
{
    static constexpr char Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        if (i % 70 == 69)
            out += "\r\n\t";
        out += Digits[gen() % 64];
    }
    return out;
}

std::string RealHeaders(std::mt19937& gen, int i)
{
    static const char* const Domains[] = {"mail.example.com", "news.example.org", "shop.example.net", "example.co.jp"};
    const std::string domain = Domains[gen() % 4], n = std::to_string(i);
    const auto hop = [&](int k) {
        return "Received: from mx" + std::to_string(k) + "." + domain + " (mx" + std::to_string(k) + "." + domain +
               ". [198.51.100." + std::to_string(gen() % 250) + "])\r\n\tby relay" + std::to_string(k) +
               ".example.com with ESMTPS id " + Base64(gen, 16) + "\r\n\tfor <alice@example.com>\r\n\t(version=TLS1_3 "
               "cipher=TLS_AES_256_GCM_SHA384 bits=256/256);\r\n\tMon, 1 Jul 2024 09:3" + std::to_string(k) + ":0" +
               std::to_string(gen() % 10) + " -0700 (PDT)\r\n";
    };
    const std::string results = "mx.example.com;\r\n\tdkim=pass header.i=@" + domain + " header.s=s" + n +
                                " header.b=" + Base64(gen, 8) + ";\r\n\tspf=pass (example.com: domain of bounce-" + n +
                                "@" + domain + " designates 198.51.100.7 as permitted sender) smtp.mailfrom=bounce-" + n +
                                "@" + domain + ";\r\n\tdmarc=pass (p=REJECT sp=REJECT dis=NONE) header.from=" + domain;
    std::string h = "Return-Path: <bounce-" + n + "@" + domain + ">\r\nDelivered-To: alice@example.com\r\n";
    for (int k = 0, hops = 2 + static_cast<int>(gen() % 3); k < hops; ++k)
        h += hop(k);
    for (int k = 1, arcs = static_cast<int>(gen() % 3 == 0); k <= arcs; ++k) {
        const std::string instance = "i=" + std::to_string(k) + "; ";
        h += "ARC-Seal: " + instance + "a=rsa-sha256; t=1719851400; cv=none;\r\n\td=example.com; s=arc-20240605;\r\n\tb=" +
             Base64(gen, 344) + "\r\n";
        h += "ARC-Message-Signature: " + instance + "a=rsa-sha256; c=relaxed/relaxed; d=example.com; s=arc-20240605;\r\n\th="
             "to:subject:message-id:date:from:mime-version:dkim-signature;\r\n\tbh=" + Base64(gen, 44) + ";\r\n\tb=" +
             Base64(gen, 344) + "\r\n";
        h += "ARC-Authentication-Results: " + instance + results + "\r\n";
    }
    h += "Authentication-Results: " + results + "\r\n";
    h += "Received-SPF: pass (example.com: domain of bounce-" + n + "@" + domain +
         " designates 198.51.100.7 as permitted sender) client-ip=198.51.100.7;\r\n";
    for (int k = 0, signatures = 1 + static_cast<int>(gen() % 3 == 0); k < signatures; ++k)
        h += "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=" + domain + "; s=s" + std::to_string(k) +
             "; t=1719851400;\r\n\th=from:to:subject:date:message-id:mime-version:content-type:list-unsubscribe;\r\n\t"
             "bh=" + Base64(gen, 44) + ";\r\n\tb=" + Base64(gen, 344) + "\r\n";
    if (gen() % 2)
        h += "List-Id: <news" + n + "." + domain + ">\r\nList-Unsubscribe: <https://" + domain + "/unsubscribe?u=" +
             Base64(gen, 48) + ">,\r\n\t<mailto:unsubscribe-" + n + "@" + domain + ">\r\n"
             "List-Unsubscribe-Post: List-Unsubscribe=One-Click\r\nPrecedence: bulk\r\nFeedback-ID: " + n +
             ":campaign:" + domain + "\r\nX-Mailer: Mailer 4.2\r\n";
    return h;
}

std::vector<std::string> RealMailbox(int count, unsigned seed)
{
    std::vector<std::string> messages = mailbox::BulkMailbox(count, seed);
    std::mt19937 gen(seed);
    for (std::size_t i = 0; i < messages.size(); ++i)
        messages[i].insert(0, RealHeaders(gen, static_cast<int>(i + 1)));
    return messages;
}

// The average, smallest and largest header of these messages, in bytes.
void PrintHeaderSizes(const std::vector<std::string>& messages)
{
    std::size_t total = 0, least = std::string::npos, most = 0;
    for (const std::string& m : messages) {
        const std::size_t size = m.find("\r\n\r\n") + 2;
        total += size;
        least = std::min(least, size);
        most = std::max(most, size);
    }
    std::printf("Headers of the bench mailbox: %zu bytes on average, %zu to %zu\n", total / messages.size(), least, most);
}

struct Timing {
    double Total = 0;       // connect press to the end of the listing
    double LoginToRows = 0; // login done to every row there (with its size)
    double Listing = 0;     // the listing alone
    int HeadersAtOnce = 0;  // headers there with the rows
};

// One session: connect, list (stopped once `stopAt` headers are in, when not 0), quit.
Timing Session(const DovecotServer& server, int port, int stopAt = 0)
{
    TPasswordLookup passwords(nullptr);
    TMailboxSession s(passwords);
    Timing t;
    Clock::time_point login, listing;
    bool first = true;
    s.OnConnect = [&] { login = Clock::now(); };
    s.OnListProgress = [&](int done, int) {
        if (first) {
            t.LoginToRows = Seconds(login, Clock::now());
            t.HeadersAtOnce = done;
            first = false;
        }
        if (stopAt && done >= stopAt)
            s.Stop();
    };
    const auto start = Clock::now();
    if (!s.Connect({"bench", server.User(), server.Password(), "127.0.0.1", "120", std::to_string(port)}))
        throw std::runtime_error("the session did not connect");
    listing = Clock::now();
    s.List();
    const auto end = Clock::now();
    t.Total = Seconds(start, end);
    t.Listing = Seconds(listing, end);
    s.End();
    return t;
}

// Seconds of UIDL + LIST alone, by the component, after its login.
double UidlAndList(const DovecotServer& server, int port)
{
    TNMPOP3 pop(nullptr);
    bench::UseServer(pop, server);
    pop.Port = port;
    pop.Connect();
    const auto t = Clock::now();
    pop.GetListing();
    const double seconds = Seconds(t, Clock::now());
    pop.Disconnect();
    return seconds;
}

long long HeapInUse() { return static_cast<long long>(mallinfo2().uordblks); }

// A line of /proc/self/status in bytes ("VmRSS", "VmHWM").
long long StatusBytes(const std::string& name)
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(name + ":", 0) == 0)
            return std::atoll(line.c_str() + name.size() + 1) * 1024;
    return 0;
}

struct Memory {
    double Held = 0;   // heap the listed mailbox holds once listed (the session alive)
    double Peak = 0;   // the process's resident growth at its highest during the listing
};

Memory ListedMemory(const DovecotServer& server, int port)
{
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";   // the high-water mark starts anew
    const long long rss = StatusBytes("VmRSS"), before = HeapInUse();
    TPasswordLookup passwords(nullptr);
    TMailboxSession s(passwords);
    s.Connect({"bench", server.User(), server.Password(), "127.0.0.1", "120", std::to_string(port)});
    s.List();
    s.End();
    return {static_cast<double>(HeapInUse() - before), static_cast<double>(StatusBytes("VmHWM") - rss)};
}

std::string CacheFile(int port)
{
    return THeaderCache::FileNameFor(CacheFolder(), THeaderCache::KeyFor("127.0.0.1", port, "alice"));
}

template <class F>
std::vector<double> Runs(int runs, F&& run)
{
    std::vector<double> v;
    for (int i = 0; i < runs; ++i)
        v.push_back(run());
    return v;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    try {
        QTemporaryDir folder;
        SetAppFolder(folder.path().toStdString());   // the cache goes to <folder>/cache/
        DovecotServer server;
        server.Start();
        const std::vector<std::string> messages = RealMailbox(count, 1);
        PrintHeaderSizes(messages);
        server.AddMessages(messages);
        // The cache file is named after the port: each proxy's sessions have a file of their own.
        bench::DelayProxy counted(static_cast<std::uint16_t>(server.Port()), 0ms);
        const int port = counted.Port();
        Session(server, port);   // Dovecot builds its index
        std::remove(CacheFile(port).c_str());

        const long long b0 = counted.BytesToClient();
        Session(server, port);
        const long long firstBytes = counted.BytesToClient() - b0;
        const std::string cached = testsupport::ReadFile(CacheFile(port));
        Session(server, port);
        const long long secondBytes = counted.BytesToClient() - b0 - firstBytes;
        std::printf("Bytes from the server, %d messages: first connect %lld, second connect %lld; %.2f %% "
                    "(goal <= 3 %%)\n",
                    count, firstBytes, secondBytes, 100.0 * secondBytes / firstBytes);

        std::vector<double> load = Runs(2 * runs + 1, [&] {
            THeaderCache cache(CacheFile(port), THeaderCache::KeyFor("127.0.0.1", port, "alice"));
            const auto t = Clock::now();
            if (cache.Load() != TCacheState::Whole || cache.Entries.size() != static_cast<std::size_t>(count))
                throw std::runtime_error("the cache did not load whole");
            return Seconds(t, Clock::now()) * 1e3;
        });
        std::printf("Loading the cache of %d messages (%zu bytes): %.1f ms (goal well under 100 ms)\n", count,
                    cached.size(), Median(load));

        // The proxies keep every connection's threads until they go: one per figure.
        {
            bench::DelayProxy plain(static_cast<std::uint16_t>(server.Port()), OneWay, true);
            // The same file under the slow proxy's port (the mailbox's name inside says which).
            THeaderCache from(CacheFile(port), THeaderCache::KeyFor("127.0.0.1", port, "alice"));
            from.Load();
            std::vector<TCacheEntry> entries;
            for (const auto& [uidl, e] : from.Entries)
                entries.push_back({uidl, e.Size, e.FirstSeen, e.Header, e.Subject, e.From, e.Date});
            THeaderCache slow(CacheFile(plain.Port()), THeaderCache::KeyFor("127.0.0.1", plain.Port(), "alice"));
            slow.Rewrite(entries);
            const std::string slowCached = testsupport::ReadFile(slow.FileName());
            const double RoundTrip = bench::RoundTrip(plain.Port(), server);

            std::vector<Timing> second;
            for (int i = 0; i < runs; ++i)
                second.push_back(Session(server, plain.Port()));
            std::vector<double> total, atOnce;
            for (const Timing& t : second) {
                total.push_back(t.Total);
                atOnce.push_back(t.HeadersAtOnce);
            }
            std::printf("Second connect, nothing new, no PIPELINING, %d messages, %.1f ms round trip: connect press "
                        "to the last row %.3f s (goal <= 3 round trips + 0.3 s = %.3f s); %.0f headers from the cache "
                        "with the rows\n",
                        count, RoundTrip * 1e3, Median(total), 3 * RoundTrip + 0.3, Median(atOnce));

            std::vector<double> sizesFirst, perHeader;
            for (int i = 0; i < runs; ++i) {
                std::remove(slow.FileName().c_str());
                const Timing t = Session(server, plain.Port(), 50);
                sizesFirst.push_back(t.LoginToRows);
                perHeader.push_back(t.Listing / 50);
            }
            std::printf("First connect, no cache, no PIPELINING: login to every row with its size %.3f s (goal <= 3 "
                        "round trips + 0.3 s = %.3f s); then %.1f ms a header, so the whole listing (today's) "
                        "about %.0f s\n",
                        Median(sizesFirst), 3 * RoundTrip + 0.3, Median(perHeader) * 1e3, Median(perHeader) * count);

            server.AddMessages(RealMailbox(100, 2));
            std::vector<double> withNew = Runs(runs, [&] {
                testsupport::WriteFile(slow.FileName(), slowCached, 0600);
                return Session(server, plain.Port()).Total;
            });
            std::printf("Second connect with 100 new messages, no PIPELINING: %.3f s (goal <= 3 + 100 round trips + "
                        "0.3 s = %.3f s)\n",
                        Median(withNew), 103 * RoundTrip + 0.3);
        }
        {
            bench::DelayProxy piped(static_cast<std::uint16_t>(server.Port()), OneWay);
            Session(server, piped.Port());   // its cache
            std::vector<double> ratio, listing, alone;
            for (int i = 0; i < runs; ++i) {
                listing.push_back(Session(server, piped.Port()).Listing);
                alone.push_back(UidlAndList(server, piped.Port()));
                ratio.push_back(listing.back() / alone.back());
            }
            std::printf("Second connect with PIPELINING: the listing %.3f s, UIDL + LIST alone %.3f s; ratio %.2f "
                        "(goal <= 1.50)\n",
                        Median(listing), Median(alone), Median(ratio));
        }

        // Memory: today's listing (no cache: every header by TOP) against the listing from the cache.
        SetAppFolder(folder.path().toStdString() + "/none");
        ListedMemory(server, server.Port());   // the allocator's pools grown once
        std::remove(CacheFile(server.Port()).c_str());
        const Memory today = ListedMemory(server, server.Port());
        std::vector<double> held, peak;
        for (int i = 0; i < 3; ++i) {
            const Memory m = ListedMemory(server, server.Port());
            held.push_back(m.Held);
            peak.push_back(m.Peak);
        }
        std::printf("Memory of the listed mailbox (%d messages): from the cache %.1f MB held, %.1f MB at the peak; "
                    "today's listing %.1f MB held, %.1f MB at the peak; ratio %.2f held, %.2f at the peak "
                    "(goal <= 1.50)\n",
                    count + 100, Median(held) / 1e6, Median(peak) / 1e6, today.Held / 1e6, today.Peak / 1e6,
                    Median(held) / today.Held, Median(peak) / std::max(today.Peak, 1.0));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_mailbox_cache: %s\n", e.what());
        return 1;
    }
    return 0;
}
