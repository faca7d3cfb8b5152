#pragma once
// A TCP proxy on loopback that holds every chunk it forwards for a fixed delay in each
// direction, order kept: a slow link (15 ms each way is a 30 ms round trip) between a client
// and a local server, for the listing benchmarks. It can strip "PIPELINING" from what the
// server says (its CAPA answer), to measure a server without it.
//
// Runs on threads of its own (an acceptor, and a reader and a writer per direction of each
// connection); stops when destroyed (sockets closed, threads joined).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace bench {

class DelayProxy {
public:
    DelayProxy(std::uint16_t upstreamPort, std::chrono::milliseconds delay, bool stripPipelining = false);
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    std::uint16_t Port() const { return FPort; }
    // Bytes passed from the server to the client so far, over every connection.
    long long BytesToClient() const { return FBytesDown; }

private:
    struct Link;
    void Accept();

    std::uint16_t FUpstream;
    std::chrono::milliseconds FDelay;
    bool FStrip;
    std::uint16_t FPort = 0;
    int FListener = -1;
    std::atomic<bool> FStopping{false};
    std::atomic<long long> FBytesDown{0};
    std::mutex FLock;
    std::vector<std::unique_ptr<Link>> FLinks;
    std::thread FAcceptor;
};

} // namespace bench
