// Socket transport speed, each figure against a reference measured in the same run:
//  (a) Transaction round trips on loopback against an echo server, and the same exchanges
//      by a plain blocking-socket client; goal: at most 1.3 times the blocking client's time;
//  (b) the processor time used during a 1-second ReadLn wait on a silent server, as a share
//      of the wall time, the median of five waits; goal: under 2 %.

#include "bench/Measure.h"
#include "net/Psock.h"
#include "tests/support/ScriptServer.h"

#include <QCoreApplication>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::Median;
using bench::Seconds;
constexpr int RoundTrips = 5000;
constexpr int Runs = 5;

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The reference: blocking send, then blocking receives until the line end.
double BlockingClient(std::uint16_t port)
{
    int fd = testsupport::DialLoopback(port);
    if (fd < 0) {
        std::perror("connect");
        return 0;
    }
    const char cmd[] = "NOOP\r\n";
    char buf[256];
    auto start = Clock::now();
    for (int i = 0; i < RoundTrips; ++i) {
        ::send(fd, cmd, sizeof cmd - 1, MSG_NOSIGNAL);
        std::size_t have = 0;
        while (have == 0 || buf[have - 1] != '\n') {
            ssize_t n = ::recv(fd, buf + have, sizeof buf - have, 0);
            if (n <= 0)
                return 0;
            have += static_cast<std::size_t>(n);
        }
    }
    auto end = Clock::now();
    ::close(fd);
    return Seconds(start, end) / RoundTrips;
}

double ComponentClient(std::uint16_t port)
{
    TPowersock sock(nullptr);
    sock.Host = testsupport::LoopbackHost;
    sock.Port = port;
    sock.TimeOut = 10000;
    sock.Connect();
    auto start = Clock::now();
    for (int i = 0; i < RoundTrips; ++i) {
        if (sock.Transaction("NOOP") != "NOOP\r\n") {
            std::fprintf(stderr, "unexpected reply\n");
            return 0;
        }
    }
    auto end = Clock::now();
    sock.Disconnect();
    return Seconds(start, end) / RoundTrips;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);

    testsupport::EchoServer echo;
    std::vector<double> blocking, component;
    for (int run = 0; run < Runs; ++run) {
        blocking.push_back(BlockingClient(echo.Port()));
        component.push_back(ComponentClient(echo.Port()));
    }
    double b = Median(blocking), c = Median(component);
    std::printf("Transaction round trip: %.1f us; blocking client: %.1f us; ratio %.2f (goal <= 1.30)\n",
                c * 1e6, b * 1e6, b > 0 ? c / b : 0.0);

    // The idle wait: a read from a silent server until its time-out, five times.
    testsupport::ScriptServer silent(testsupport::Script().WaitForClose(std::chrono::milliseconds(20000)));
    TPowersock sock(nullptr);
    sock.Host = testsupport::LoopbackHost;
    sock.Port = silent.Port();
    sock.Connect();
    sock.TimeOut = 1000;
    std::vector<double> shares;
    for (int run = 0; run < 5; ++run) {
        const double cpu0 = CpuSeconds();
        const auto wall0 = Clock::now();
        try {
            sock.ReadLn();
        } catch (const EAbortError&) {
        }
        shares.push_back((CpuSeconds() - cpu0) / Seconds(wall0, Clock::now()));
    }
    std::printf("ReadLn wait of 1 s on a silent server, median of 5: %.2f %% of a processor (goal < 2 %%)\n",
                100.0 * Median(shares));
    sock.Disconnect();
    return 0;
}
