#pragma once
// The component as the listing benchmarks use it: logged in to the Dovecot fixture, with a
// time-out no listing on loopback reaches; the fastest listing a link allows: a client that
// sends every TOP/LIST at once, then reads the replies (the reference of the listing
// benchmarks); and a round trip of the link as a client sees it.

#include "bench/Measure.h"
#include "pop3/Nmpop3.h"
#include "tests/support/BlockingPop3.h"
#include "tests/support/Dovecot.h"

#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

inline void UseServer(TNMPOP3& pop, const DovecotServer& server)
{
    pop.Host = "127.0.0.1";
    pop.Port = server.Port();
    pop.UserID = server.User();
    pop.Password = server.Password();
    pop.TimeOut = 30000;
}

// Seconds from connecting to the last reply of a client that sends every command at once;
// `bytes`, when given, gets the sizes that LIST gave added up.
inline double AllAtOnceListing(int port, const DovecotServer& server, int count, long long* bytes = nullptr)
{
    const auto t = std::chrono::steady_clock::now();
    testsupport::BlockingPop3 client;
    client.Connect(port, 60000);
    client.Login(server.User(), server.Password());
    if (client.Stat() != count)
        throw std::runtime_error("all-at-once client: unexpected message count");
    std::string batch;
    for (int n = 1; n <= count; ++n)
        batch += "TOP " + std::to_string(n) + " 0\r\nLIST " + std::to_string(n) + "\r\n";
    for (std::size_t sent = 0; sent < batch.size();) {
        const ssize_t n = ::send(client.Socket(), batch.data() + sent, batch.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            throw std::runtime_error("all-at-once client: send failed");
        sent += static_cast<std::size_t>(n);
    }
    for (int n = 1; n <= count; ++n) {
        if (client.Line().rfind("+OK", 0) == 0)
            client.UpToDot();
        const std::string size = client.Line();   // "+OK n size"
        if (size.empty())
            throw std::runtime_error("all-at-once client: reply missing");
        if (bytes)
            *bytes += std::atoll(size.c_str() + size.rfind(' ') + 1);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
    client.Command("QUIT");
    return seconds;
}

// The round trip of a NOOP after the login, seconds, the median of `samples`.
inline double RoundTrip(int port, const DovecotServer& server, int samples = 9)
{
    testsupport::BlockingPop3 client;
    client.Connect(port, 60000);
    client.Login(server.User(), server.Password());
    std::vector<double> trips;
    for (int i = 0; i < samples; ++i) {
        const auto t = std::chrono::steady_clock::now();
        client.Ok("NOOP");
        trips.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count());
    }
    client.Quit();
    return Median(trips);
}

} // namespace bench
