// The listing over a slow link: a 2,000-message Dovecot mailbox listed through a proxy that
// holds every chunk 15 ms each way (about a 30 ms round trip), by the component (GetSummary
// 1..N, commands sent ahead since Dovecot announces PIPELINING) and by a plain client that
// sends every TOP/LIST at once and then reads the replies (the link's limit). Goal: the
// component within 1.5 times the limit. Also: the component through the proxy with
// PIPELINING stripped from CAPA, in round trips per message against a NOOP's round trip
// through the same proxy measured in the same run, and the time from a stop in the middle of
// a listing to the answer of the next command. Every figure is the median of the runs. (On
// loopback without the proxy the same comparison is bench_pop3's.)
//
// Usage: bench_pop3_link [messages [runs]]

#include "bench/Measure.h"
#include "bench/Pop3Client.h"
#include "bench/pop3/DelayProxy.h"
#include "tests/support/Dovecot.h"
#include "tests/support/Mailbox.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::Median;
using bench::Seconds;
using namespace std::chrono_literals;

constexpr auto OneWay = 15ms;

// Seconds from Connect to the last GetSummary of messages 1..count (all when 0).
double Component(int port, const DovecotServer& server, int count = 0)
{
    TNMPOP3 pop(nullptr);
    bench::UseServer(pop, server);
    pop.Port = port;
    pop.TimeOut = 60000;
    const auto t = Clock::now();
    pop.Connect();
    const int last = count ? count : pop.MessageCount;
    for (int n = 1; n <= last; ++n)
        pop.GetSummary(n);
    const double seconds = Seconds(t, Clock::now());
    pop.Disconnect();
    return seconds;
}

// Milliseconds from a stop after `listed` summaries to the answer of the next command
// (the replies in flight read and dropped first).
double StopThenNext(int port, const DovecotServer& server, int listed)
{
    TNMPOP3 pop(nullptr);
    bench::UseServer(pop, server);
    pop.Port = port;
    pop.Connect();
    for (int n = 1; n <= listed; ++n)
        pop.GetSummary(n);
    const auto t = Clock::now();
    pop.UniqueID(1);
    const double ms = Seconds(t, Clock::now()) * 1e3;
    pop.Disconnect();
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    try {
        DovecotServer server;
        server.Start();
        server.AddMessages(mailbox::BulkMailbox(count));
        bench::AllAtOnceListing(server.Port(), server, count);   // Dovecot builds its index in the first session

        bench::DelayProxy link(static_cast<std::uint16_t>(server.Port()), OneWay);
        const double linkTrip = bench::RoundTrip(link.Port(), server);
        std::vector<double> limit, comp, ratio;
        for (int run = 0; run < runs; ++run) {
            limit.push_back(bench::AllAtOnceListing(link.Port(), server, count));
            comp.push_back(Component(link.Port(), server));
            ratio.push_back(comp.back() / limit.back());
        }
        std::printf("Listing of %d messages over a %.1f ms round trip (median of %d runs): TNMPOP3 %.2f s; "
                    "all-at-once client %.2f s; ratio %.2f (goal <= 1.50)\n",
                    count, linkTrip * 1e3, runs, Median(comp), Median(limit), Median(ratio));
        std::vector<double> stops;
        for (int run = 0; run < runs; ++run)
            stops.push_back(StopThenNext(link.Port(), server, 500));
        std::printf("Stop after 500 messages, then UIDL (median of %d runs): %.0f ms to its answer (replies in flight dropped)\n",
                    runs, Median(stops));

        bench::DelayProxy plain(static_cast<std::uint16_t>(server.Port()), OneWay, true);
        const double trip = bench::RoundTrip(plain.Port(), server);
        const int few = 50;
        std::vector<double> perMessage;
        for (int run = 0; run < runs; ++run)
            perMessage.push_back(Component(plain.Port(), server, few) / few);
        std::printf("Without PIPELINING (stripped from CAPA), median of %d runs: %.1f ms a message, %.2f round trips "
                    "a message (a NOOP's round trip through the proxy: %.1f ms)\n",
                    runs, Median(perMessage) * 1e3, Median(perMessage) / trip, trip * 1e3);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_pop3_link: %s\n", e.what());
        return 1;
    }
    return 0;
}
