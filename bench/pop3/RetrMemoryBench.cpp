// Peak memory of one retrieval: a 20 MB plain-text message (76-character lines) fetched
// with GetMailMessage from Dovecot, as a multiple of the message's size (goal <= 2); and a
// 100 MB reply cut off at the reply limit (64 MiB): its peak and what stays held after the
// error (the result cleared, the allocator's free memory given back).
//
// Each retrieval runs in a child process forked once the message is in the mailbox, so its
// peak (the child's high-water mark of resident memory) starts from the child's own size.
//
// Usage: bench_pop3_memory [megabytes]

#include "pop3/Nmpop3.h"
#include "tests/support/Dovecot.h"

#include <QCoreApplication>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// Resident bytes now.
long long Resident()
{
    long long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

long long PeakResident()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<long long>(u.ru_maxrss) * 1024;
}

std::string PlainMessage(long long bytes)
{
    std::string m = "From: a@example.org\r\nSubject: big\r\nContent-Type: text/plain\r\n\r\n";
    const std::string line = "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0\r\n";
    m.reserve(static_cast<std::size_t>(bytes) + line.size());
    while (static_cast<long long>(m.size()) < bytes)
        m += line;
    return m;
}

// In a child: connects, retrieves message `msg` and prints its peak and what is held after.
void Measure(const DovecotServer& server, int msg, long long size)
{
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        int argc = 1;
        char name[] = "bench_pop3_memory";
        char* argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        TNMPOP3 pop(nullptr);
        pop.Host = "127.0.0.1";
        pop.Port = server.Port();
        pop.UserID = server.User();
        pop.Password = server.Password();
        pop.TimeOut = 60000;
        pop.Connect();
        const long long before = Resident();
        const char* outcome = "retrieved";
        try {
            pop.GetMailMessage(msg);
        } catch (const std::exception&) {
            outcome = "failed";
        }
        const long long peak = PeakResident() - before;
        pop.MailMessage.Clear();
        malloc_trim(0);   // what the program holds, not what the allocator keeps for reuse
        const long long held = Resident() - before;
        std::printf("  %lld MB reply %s: peak %.2f times its size (%.1f MB), %.1f MB held after\n", size >> 20, outcome,
                    static_cast<double>(peak) / static_cast<double>(size), static_cast<double>(peak) / 1e6,
                    static_cast<double>(held) / 1e6);
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
}

} // namespace

int main(int argc, char** argv)
{
    const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 20;
    try {
        DovecotServer server;
        server.Start();
        server.AddMessage(PlainMessage(megabytes << 20));
        server.AddMessage(PlainMessage(100LL << 20));
        std::printf("Peak memory of a retrieval (goal: <= 2 times the message):\n");
        Measure(server, 1, megabytes << 20);
        Measure(server, 2, 100LL << 20);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_pop3_memory: %s\n", e.what());
        return 1;
    }
    return 0;
}
