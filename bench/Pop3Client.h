#pragma once
// The component as the listing benchmarks use it: logged in to the Dovecot fixture, with a
// time-out no listing on loopback reaches; and the fastest listing a link allows: a client
// that sends every TOP/LIST at once, then reads the replies.

#include "pop3/Nmpop3.h"
#include "tests/support/BlockingPop3.h"
#include "tests/support/Dovecot.h"

#include <sys/socket.h>

#include <chrono>
#include <stdexcept>
#include <string>

namespace bench {

inline void UseServer(TNMPOP3& pop, const DovecotServer& server)
{
    pop.Host = "127.0.0.1";
    pop.Port = server.Port();
    pop.UserID = server.User();
    pop.Password = server.Password();
    pop.TimeOut = 30000;
}

// Seconds from connecting to the last reply of a client that sends every command at once.
inline double AllAtOnceListing(int port, const DovecotServer& server, int count)
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
        if (client.Line().empty())
            throw std::runtime_error("all-at-once client: reply missing");
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
    client.Command("QUIT");
    return seconds;
}

} // namespace bench
