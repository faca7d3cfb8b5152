#pragma once
// A loopback peer that ends every connection at once: its thread accepts as fast as it can,
// sends the greeting (if any) and closes (FIN) or resets (RST, zero linger) the connection,
// so the close races the client's own view of the connect and of the data. For the socket
// layer's and the socket component's race tests.

#include "tests/support/ScriptServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace racetest {

class QuickPeer {
public:
    enum Ending { Close, Reset };

    explicit QuickPeer(Ending ending, std::string greeting = "") : FEnding(ending), FGreeting(std::move(greeting))
    {
        FListener = testsupport::ListenLoopback(64, FPort);
        FThread = std::thread([this] { Run(); });
    }
    ~QuickPeer()
    {
        FStop = true;
        ::shutdown(FListener, SHUT_RDWR);   // ends the blocking accept
        FThread.join();
        ::close(FListener);
    }
    QuickPeer(const QuickPeer&) = delete;
    QuickPeer& operator=(const QuickPeer&) = delete;

    std::uint16_t Port() const { return FPort; }
    int Served() const { return FServed; }

private:
    void Run()
    {
        while (!FStop) {
            int fd = ::accept(FListener, nullptr, nullptr);
            if (fd < 0)
                return;
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            if (!FGreeting.empty())
                ::send(fd, FGreeting.data(), FGreeting.size(), MSG_NOSIGNAL);
            if (FEnding == Reset) {
                linger l{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            }
            ::close(fd);
            ++FServed;
        }
    }

    Ending FEnding;
    std::string FGreeting;
    int FListener = -1;
    std::uint16_t FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FServed{0};
    std::thread FThread;
};

} // namespace racetest
