// What TLS costs the user: the listing of a 2,000-message Dovecot mailbox (Connect, then
// GetSummary for every message) over TLS from the first byte, against the same listing in
// plain text from the same server in the same run (goal: at least 0.8 times the plain
// rate); and the time from Connect to logged in (greeting, CAPA, USER, PASS, STAT), over
// TLS, after STLS and in plain text.
//
// Each run lists with both connections, the order alternating from run to run; a run's
// ratio compares its two rates, and the figure is the median over the runs. The server's
// certificate comes from a test CA that SSL_CERT_FILE names, as a user's system store would.
//
// Usage: bench_pop3_tls [messages [runs]]

#include "bench/Measure.h"
#include "bench/Pop3Client.h"
#include "pop3/Nmpop3.h"
#include "tests/support/Dovecot.h"
#include "tests/support/Mailbox.h"
#include "tests/support/TestCerts.h"

#include <QCoreApplication>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace {

using bench::Clock;
using bench::Median;
using bench::Seconds;

void UseMode(TNMPOP3& pop, const DovecotServer& server, TTlsMode mode)
{
    bench::UseServer(pop, server);
    pop.TlsMode = mode;
    if (mode == TTlsMode::Implicit)
        pop.Port = server.TlsPort();
}

// Times the thread gave up the processor so far (its waits).
double Waits()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_nvcsw);
}

// Messages per second of one listing; adds the client's processor time and waits per message
// to *cpu and *waits.
double ListingRate(const DovecotServer& server, int count, TTlsMode mode, std::vector<double>* cpu = nullptr,
                   std::vector<double>* waits = nullptr)
{
    TNMPOP3 pop(nullptr);
    UseMode(pop, server, mode);
    const auto t = Clock::now();
    const double c = bench::ThreadCpu();
    const double w = Waits();
    pop.Connect();
    if (pop.MessageCount != count)
        throw std::runtime_error("unexpected message count");
    for (int i = 1; i <= count; ++i)
        pop.GetSummary(i);
    const double seconds = Seconds(t, Clock::now());
    if (cpu)
        cpu->push_back((bench::ThreadCpu() - c) / count);
    if (waits)
        waits->push_back((Waits() - w) / count);
    pop.Disconnect();
    return count / seconds;
}

// Milliseconds from Connect to logged in, median of `times`.
double LoginMs(const DovecotServer& server, TTlsMode mode, int times)
{
    std::vector<double> ms;
    for (int i = 0; i < times; ++i) {
        TNMPOP3 pop(nullptr);
        UseMode(pop, server, mode);
        const auto t = Clock::now();
        pop.Connect();
        ms.push_back(Seconds(t, Clock::now()) * 1e3);
        pop.Disconnect();
    }
    return Median(ms);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;

    try {
        testsupport::TestCerts certs;
        ::setenv("SSL_CERT_FILE", certs.Ca.CertFile.c_str(), 1);
        DovecotServer server;
        server.EnableTls(certs.Server.CertFile, certs.Server.KeyFile);
        server.Start();
        server.AddMessages(mailbox::BulkMailbox(count));
        ListingRate(server, count, TTlsMode::None);   // Dovecot builds its index in the first session

        std::vector<double> ratio, plain, secure, plainCpu, secureCpu, plainWaits, secureWaits;
        for (int run = 0; run < runs; ++run) {
            double p = 0, s = 0;
            if (run % 2 == 0) {
                p = ListingRate(server, count, TTlsMode::None, &plainCpu, &plainWaits);
                s = ListingRate(server, count, TTlsMode::Implicit, &secureCpu, &secureWaits);
            } else {
                s = ListingRate(server, count, TTlsMode::Implicit, &secureCpu, &secureWaits);
                p = ListingRate(server, count, TTlsMode::None, &plainCpu, &plainWaits);
            }
            plain.push_back(p);
            secure.push_back(s);
            ratio.push_back(s / p);
        }
        std::printf("Listing of %d messages over TLS (median of %d runs): TLS %.0f msg/s; plain %.0f msg/s; "
                    "ratio %.2f (goal >= 0.80)\n",
                    count, runs, Median(secure), Median(plain), Median(ratio));
        std::printf("Client processor time per message: TLS %.1f us; plain %.1f us\n", Median(secureCpu) * 1e6,
                    Median(plainCpu) * 1e6);
        std::printf("Client waits per message: TLS %.2f; plain %.2f\n", Median(secureWaits), Median(plainWaits));
        std::printf("Connect to logged in (median of 21): TLS %.1f ms; STLS %.1f ms; plain %.1f ms\n",
                    LoginMs(server, TTlsMode::Implicit, 21), LoginMs(server, TTlsMode::StartTls, 21),
                    LoginMs(server, TTlsMode::None, 21));
        std::printf("Ratios per run:");
        for (double q : ratio)
            std::printf(" %.2f", q);
        std::printf("\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_pop3_tls: %s\n", e.what());
        return 1;
    }
    return 0;
}
