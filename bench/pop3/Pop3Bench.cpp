// The headless listing a user waits for: Connect, then GetSummary(1) ... GetSummary(N) on a
// 2,000-message Dovecot mailbox (ISO-2022-JP subjects, 2 to 4 KiB messages), in messages
// per second. The reference, in the same run, is the fastest listing the server allows: a
// client that logs in, sends every TOP n 0 / LIST n at once and then reads the replies
// (bench/Pop3Client.h); the component sends its commands ahead too, since Dovecot announces
// PIPELINING. Goal: at least 0.8 times the reference's rate.
//
// The machine is shared and its load drifts: every run lists the mailbox with both clients,
// one after the other (which one goes first alternates from run to run); a run's ratio
// compares the two rates of that run, and the figure printed is the median over the runs.
// (Taking the mailbox in small alternating blocks instead measures the scheduler: two
// server processes waking each other's clients across processors.)
//
// Beside the rates it prints each client's processor time per message, the part of it in
// the system, and its context switches per message: with the same number of waits, what is
// left between the two is the client's own work and its extra system calls.
//
// Last comes the many-parts figure (PartsBench.h).
//
// Usage: bench_pop3 [messages [runs]], or bench_pop3 parts [runs] for the many-parts figure alone

#include "bench/Measure.h"
#include "bench/Pop3Client.h"
#include "bench/pop3/PartsBench.h"
#include "pop3/Nmpop3.h"
#include "tests/support/Dovecot.h"
#include "tests/support/Mailbox.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::Median;
using bench::Seconds;
using bench::ThreadCpu;

// The part of the thread's processor time spent in the system (system calls, the network
// stack), and the number of times the thread gave up the processor (waits) or was made to.
struct SystemUse {
    double seconds = 0;
    double switches = 0;
    static SystemUse Now()
    {
        rusage u{};
        getrusage(RUSAGE_THREAD, &u);
        return {static_cast<double>(u.ru_stime.tv_sec) + static_cast<double>(u.ru_stime.tv_usec) / 1e6,
                static_cast<double>(u.ru_nvcsw + u.ru_nivcsw)};
    }
};

struct Side {
    double wall = 0;
    double cpu = 0;
    double system = 0;
    double switches = 0;
    template <class F>
    void Time(F&& f)
    {
        const double c = ThreadCpu();
        const SystemUse s = SystemUse::Now();
        const auto t = Clock::now();
        f();
        wall += Seconds(t, Clock::now());
        cpu += ThreadCpu() - c;
        const SystemUse e = SystemUse::Now();
        system += e.seconds - s.seconds;
        switches += e.switches - s.switches;
    }
};

// PURGEL_BENCH_COMPONENT_ONLY=1 leaves the reference out (for profiling the component).
const bool ComponentOnly = std::getenv("PURGEL_BENCH_COMPONENT_ONLY") != nullptr;

struct Run {
    double reference = 0, component = 0;   // messages per second
    double referenceCpu = 0, componentCpu = 0;   // seconds per message
    double referenceSystem = 0, componentSystem = 0;   // of that, in the system
    double referenceSwitches = 0, componentSwitches = 0;   // per message
};

Run OneRun(const DovecotServer& server, int count, bool referenceFirst)
{
    Side ref, comp;
    TNMPOP3 pop(nullptr);
    bench::UseServer(pop, server);
    int rows = 0;
    long long bytes = 0;
    pop.OnRetrieveEnd = [&](TObject*) {
        ++rows;
        bytes += pop.Summary.Bytes;
    };

    long long refBytes = 0;
    auto runRef = [&] {
        if (!ComponentOnly) {
            double listing = 0;
            ref.Time([&] { listing = bench::AllAtOnceListing(server.Port(), server, count, &refBytes); });
            ref.wall = listing;   // its QUIT is not part of the listing, as the component's is not
        }
    };
    auto runComp = [&] {
        comp.Time([&] {
            pop.Connect();
            if (pop.MessageCount != count)
                throw std::runtime_error("TNMPOP3: unexpected message count");
            for (int i = 1; i <= pop.MessageCount; ++i)
                pop.GetSummary(i);
        });
        pop.Disconnect();
    };
    if (referenceFirst) {
        runRef();
        runComp();
    } else {
        runComp();
        runRef();
    }
    if (rows != count || (!ComponentOnly && bytes != refBytes))
        throw std::runtime_error("the two clients saw different mailboxes");
    return {count / ref.wall, count / comp.wall, ref.cpu / count, comp.cpu / count, ref.system / count, comp.system / count,
            ref.switches / count, comp.switches / count};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "parts") {
        try {
            PrintManyPartsFigure(argc > 2 ? std::atoi(argv[2]) : 3);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench_pop3: %s\n", e.what());
            return 1;
        }
        return 0;
    }
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 11;

    try {
        DovecotServer server;
        server.Start();
        server.AddMessages(mailbox::BulkMailbox(count));
        OneRun(server, count, true);   // Dovecot builds its index in the first session

        std::vector<double> ratio, reference, component, referenceCpu, componentCpu, referenceSystem, componentSystem,
            referenceSwitches, componentSwitches;
        for (int run = 0; run < runs; ++run) {
            const Run r = OneRun(server, count, run % 2 == 0);
            ratio.push_back(r.component / r.reference);
            reference.push_back(r.reference);
            component.push_back(r.component);
            referenceCpu.push_back(r.referenceCpu);
            componentCpu.push_back(r.componentCpu);
            referenceSystem.push_back(r.referenceSystem);
            componentSystem.push_back(r.componentSystem);
            referenceSwitches.push_back(r.referenceSwitches);
            componentSwitches.push_back(r.componentSwitches);
        }
        std::printf("Listing of %d messages (median of %d runs): TNMPOP3 %.0f msg/s; all-at-once client %.0f msg/s; "
                    "ratio %.2f (goal >= 0.80)\n",
                    count, runs, Median(component), Median(reference), Median(ratio));
        std::printf("Client processor time per message: TNMPOP3 %.1f us (%.1f in the system); all-at-once client %.1f us (%.1f in the system)\n",
                    Median(componentCpu) * 1e6, Median(componentSystem) * 1e6, Median(referenceCpu) * 1e6,
                    Median(referenceSystem) * 1e6);
        std::printf("Context switches per message: TNMPOP3 %.2f; all-at-once client %.2f\n", Median(componentSwitches),
                    Median(referenceSwitches));
        std::printf("Ratios per run:");
        for (double q : ratio)
            std::printf(" %.2f", q);
        std::printf("\n");
        PrintManyPartsFigure(3);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_pop3: %s\n", e.what());
        return 1;
    }
    return 0;
}
