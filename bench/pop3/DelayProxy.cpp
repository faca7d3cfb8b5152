#include "bench/pop3/DelayProxy.h"

#include "tests/support/ScriptServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <string>

namespace bench {

using Clock = std::chrono::steady_clock;

// One direction: the reader stamps each chunk, the writer sends it when its time has come.
struct Direction {
    int From = -1, To = -1;
    bool Strip = false;
    std::atomic<long long>* Bytes = nullptr;   // counts what this direction carries, when set
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<std::pair<Clock::time_point, std::string>> Queue;
    bool Ended = false;
    std::thread Reader, Writer;

    void Start(std::chrono::milliseconds delay)
    {
        Reader = std::thread([this, delay] {
            char buf[65536];
            for (;;) {
                const ssize_t n = ::recv(From, buf, sizeof buf, 0);
                std::lock_guard lock(Lock);
                if (n <= 0) {
                    Ended = true;
                    Changed.notify_all();
                    return;
                }
                std::string chunk(buf, static_cast<std::size_t>(n));
                const std::string word = "PIPELINING\r\n";
                if (Strip)
                    for (std::size_t at; (at = chunk.find(word)) != std::string::npos;)
                        chunk.erase(at, word.size());
                if (Bytes)
                    *Bytes += static_cast<long long>(chunk.size());
                Queue.emplace_back(Clock::now() + delay, std::move(chunk));
                Changed.notify_all();
            }
        });
        Writer = std::thread([this] {
            std::unique_lock lock(Lock);
            for (;;) {
                Changed.wait(lock, [&] { return Ended || !Queue.empty(); });
                if (Queue.empty()) {
                    ::shutdown(To, SHUT_WR);
                    return;
                }
                auto [due, chunk] = std::move(Queue.front());
                Queue.pop_front();
                lock.unlock();
                std::this_thread::sleep_until(due);
                for (std::size_t sent = 0; sent < chunk.size();) {
                    const ssize_t n = ::send(To, chunk.data() + sent, chunk.size() - sent, MSG_NOSIGNAL);
                    if (n <= 0)
                        break;
                    sent += static_cast<std::size_t>(n);
                }
                lock.lock();
            }
        });
    }
    void Join()
    {
        Reader.join();
        Writer.join();
    }
};

struct DelayProxy::Link {
    int Client = -1, Server = -1;
    Direction Up, Down;
    ~Link()
    {
        ::shutdown(Client, SHUT_RDWR);
        ::shutdown(Server, SHUT_RDWR);
        Up.Join();
        Down.Join();
        ::close(Client);
        ::close(Server);
    }
};

DelayProxy::DelayProxy(std::uint16_t upstreamPort, std::chrono::milliseconds delay, bool stripPipelining)
    : FUpstream(upstreamPort), FDelay(delay), FStrip(stripPipelining)
{
    FListener = testsupport::ListenLoopback(16, FPort);
    FAcceptor = std::thread([this] { Accept(); });
}

DelayProxy::~DelayProxy()
{
    FStopping = true;
    ::shutdown(FListener, SHUT_RDWR);
    FAcceptor.join();
    ::close(FListener);
    std::lock_guard lock(FLock);
    FLinks.clear();
}

void DelayProxy::Accept()
{
    for (;;) {
        const int client = ::accept(FListener, nullptr, nullptr);
        if (client < 0 || FStopping) {
            if (client >= 0)
                ::close(client);
            return;
        }
        auto link = std::make_unique<Link>();
        const int one = 1;   // every chunk leaves when its time comes, not with the next
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        link->Client = client;
        link->Server = testsupport::DialLoopback(FUpstream);
        ::setsockopt(link->Server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        link->Up.From = client;
        link->Up.To = link->Server;
        link->Down.From = link->Server;
        link->Down.To = client;
        link->Down.Strip = FStrip;
        link->Down.Bytes = &FBytesDown;
        link->Up.Start(FDelay);
        link->Down.Start(FDelay);
        std::lock_guard lock(FLock);
        FLinks.push_back(std::move(link));
    }
}

} // namespace bench
