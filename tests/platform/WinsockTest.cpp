// The sockets layer: Winsock numbering, asynchronous select semantics, host look-up.

#include "platform/Winsock.h"
#include "tests/platform/QuickPeer.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/ScriptServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using testsupport::PumpFor;
using testsupport::PumpReturnsFor;
using testsupport::PumpUntil;
using testsupport::Settle;
using testsupport::Script;
using testsupport::ScriptServer;

namespace {

constexpr unsigned SocketMsg = platform::WM_USER + 101;
constexpr unsigned OtherMsg = platform::WM_USER + 102;
constexpr long AllButWrite = ws::FD_READ | ws::FD_OOB | ws::FD_ACCEPT | ws::FD_CONNECT | ws::FD_CLOSE;

struct Note {
    unsigned Msg;
    int Event;
    int Error;
};

// A window that records the notifications it gets.
struct Notes {
    platform::WindowHandle H = 0;
    std::vector<Note> All;
    std::function<void(const Note&)> OnNote;

    Notes()
    {
        H = platform::AllocateHWnd([this](unsigned msg, platform::WPARAM, platform::LPARAM l) {
            if (msg >= platform::WM_USER) {
                All.push_back({msg, platform::LoWord(l), platform::HiWord(l)});
                if (OnNote)
                    OnNote(All.back());
            }
            return platform::LPARAM(0);
        });
    }
    ~Notes() { platform::DeallocateHWnd(H); }
    int Count(int event, unsigned msg = SocketMsg) const
    {
        int n = 0;
        for (const Note& x : All)
            n += x.Event == event && x.Msg == msg;
        return n;
    }
    const Note* First(int event) const
    {
        for (const Note& x : All)
            if (x.Event == event)
                return &x;
        return nullptr;
    }
};

ws::SockAddrIn Loopback(std::uint16_t port)
{
    ws::SockAddrIn a;
    a.sin_family = ws::AfInet;
    a.sin_port = ws::HtoNs(port);
    a.sin_addr = ws::InetAddr("127.0.0.1");
    return a;
}

class WinsockTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ws::Startup(0x0101, Data), 0); }
    void TearDown() override
    {
        for (ws::SocketHandle s : Open)
            ws::CloseSocket(s);
        ws::Cleanup();
    }

    // A registered socket connected to the port (FD_CONNECT seen).
    ws::SocketHandle ConnectTo(std::uint16_t port)
    {
        ws::SocketHandle s = ws::Socket(ws::AfInet, ws::SockStream, ws::IpProtoTcp);
        EXPECT_NE(s, ws::INVALID_SOCKET);
        Open.push_back(s);
        EXPECT_EQ(ws::AsyncSelect(s, N.H, SocketMsg, AllButWrite), 0);
        EXPECT_EQ(ws::Connect(s, Loopback(port)), ws::SOCKET_ERROR);
        EXPECT_EQ(ws::GetLastError(), ws::WSAEWOULDBLOCK);
        EXPECT_TRUE(PumpUntil([&] { return N.Count(ws::FD_CONNECT) > 0; }, 2s));
        return s;
    }

    ws::WSAData Data;
    Notes N;
    std::vector<ws::SocketHandle> Open;
};

} // namespace

TEST_F(WinsockTest, RefusedConnectionReportsConnectWith10061AndNoClose)
{
    ConnectTo(testsupport::UnusedPort());
    ASSERT_NE(N.First(ws::FD_CONNECT), nullptr);
    EXPECT_EQ(N.First(ws::FD_CONNECT)->Error, ws::WSAECONNREFUSED);
    Settle();
    EXPECT_EQ(N.Count(ws::FD_CLOSE), 0);
}

TEST_F(WinsockTest, SuccessfulConnectCarriesNoError)
{
    ScriptServer server(Script().WaitForClose());
    ConnectTo(server.Port());
    EXPECT_EQ(N.First(ws::FD_CONNECT)->Error, 0);
}

TEST_F(WinsockTest, UnreadDataGivesOneReadNotificationAndNoBusyPump)
{
    std::atomic<bool> sent{false};
    ScriptServer server(Script().SendLine("one").Pause(50ms).SendLine("two").Pause(50ms).SendLine("three")
                            .Call([&] { sent = true; }).WaitForClose());
    ws::SocketHandle s = ConnectTo(server.Port());
    ASSERT_TRUE(PumpUntil([&] { return sent.load(); }, 2s));
    Settle();
    EXPECT_EQ(N.Count(ws::FD_READ), 1) << "more data without a receive must not notify again";
    EXPECT_LE(PumpReturnsFor(5, 40), 2 * 5 + 2) << "an idle pump with unread data must not spin";

    char buf[64];
    EXPECT_EQ(ws::Recv(s, buf, 3, ws::MsgPeek), 3);
    Settle();
    EXPECT_EQ(N.Count(ws::FD_READ), 1) << "a peek re-enables, but the data it saw is no news";
    EXPECT_EQ(ws::Recv(s, buf, 5, 0), 5);
    Settle();
    EXPECT_EQ(N.Count(ws::FD_READ), 2) << "a receive that leaves data notifies again";
}

TEST_F(WinsockTest, ReadIsNotifiedAgainForDataArrivingAfterAPeek)
{
    ScriptServer server(Script().SendLine("one").Pause(200ms).SendLine("two").WaitForClose());
    ws::SocketHandle s = ConnectTo(server.Port());
    ASSERT_TRUE(PumpUntil([&] { return N.Count(ws::FD_READ) == 1; }, 2s));
    char buf[64];
    EXPECT_EQ(ws::Recv(s, buf, sizeof buf, ws::MsgPeek), 5);
    EXPECT_TRUE(PumpUntil([&] { return N.Count(ws::FD_READ) == 2; }, 2s));
}

TEST_F(WinsockTest, CloseIsNotifiedOnceAlsoWithUnreadData)
{
    ScriptServer server(Script().Send("data").Close());
    ws::SocketHandle s = ConnectTo(server.Port());
    ASSERT_TRUE(PumpUntil([&] { return N.Count(ws::FD_CLOSE) > 0; }, 2s));
    Settle();
    EXPECT_EQ(N.Count(ws::FD_CLOSE), 1);
    EXPECT_EQ(N.First(ws::FD_CLOSE)->Error, 0);
    ASSERT_NE(N.First(ws::FD_READ), nullptr);
    EXPECT_LT(N.First(ws::FD_READ) - N.All.data(), N.First(ws::FD_CLOSE) - N.All.data()) << "read before close";
    char buf[16];
    EXPECT_EQ(ws::Recv(s, buf, sizeof buf, 0), 4);
    EXPECT_EQ(ws::Recv(s, buf, sizeof buf, 0), 0);
}

TEST_F(WinsockTest, CloseWithoutDataAndResetCarryTheirErrors)
{
    ScriptServer server({Script().Close(), Script().Reset()});
    ConnectTo(server.Port());
    ASSERT_TRUE(PumpUntil([&] { return N.Count(ws::FD_CLOSE) == 1; }, 2s));
    EXPECT_EQ(N.Count(ws::FD_READ), 0);
    EXPECT_EQ(N.First(ws::FD_CLOSE)->Error, 0);
    N.All.clear();
    ws::SocketHandle s2 = ConnectTo(server.Port());
    ASSERT_TRUE(PumpUntil([&] { return N.Count(ws::FD_CLOSE) == 1; }, 2s));
    EXPECT_EQ(N.First(ws::FD_CLOSE)->Error, ws::WSAECONNRESET);
    // A send to the reset connection fails with a number and never raises SIGPIPE.
    int rc = 0;
    for (int i = 0; i < 3 && rc != ws::SOCKET_ERROR; ++i)
        rc = ws::Send(s2, "x", 1);
    EXPECT_EQ(rc, ws::SOCKET_ERROR);
    EXPECT_GT(ws::GetLastError(), 10000);
}

TEST_F(WinsockTest, PeerEndingRightAfterAcceptGivesConnectThenOneClose)
{
    // The close races the connect: however soon it comes, the connect is told first and
    // without error, then exactly one close with the close's own error.
    constexpr int Rounds = 150;
    for (auto ending : {racetest::QuickPeer::Close, racetest::QuickPeer::Reset}) {
        racetest::QuickPeer peer(ending);
        std::map<ws::SocketHandle, std::vector<Note>> seen;
        platform::WindowHandle w = platform::AllocateHWnd([&](unsigned msg, platform::WPARAM s, platform::LPARAM l) {
            if (msg == SocketMsg)
                seen[static_cast<ws::SocketHandle>(s)].push_back({msg, platform::LoWord(l), platform::HiWord(l)});
            return platform::LPARAM(0);
        });
        std::vector<ws::SocketHandle> mine;
        for (int round = 0; round < Rounds; ++round) {
            ws::SocketHandle s = ws::Socket(ws::AfInet, ws::SockStream, 0);
            Open.push_back(s);
            mine.push_back(s);
            ASSERT_EQ(ws::AsyncSelect(s, w, SocketMsg, AllButWrite), 0);
            ASSERT_EQ(ws::Connect(s, Loopback(peer.Port())), ws::SOCKET_ERROR);
            ASSERT_EQ(ws::GetLastError(), ws::WSAEWOULDBLOCK);
            ASSERT_TRUE(PumpUntil([&] { return seen[s].size() >= 2; }, 2s)) << "round " << round << ": " << seen[s].size();
        }
        Settle();   // room for a notification too many
        const int closeError = ending == racetest::QuickPeer::Close ? 0 : ws::WSAECONNRESET;
        for (ws::SocketHandle s : mine) {
            const std::vector<Note>& n = seen[s];
            std::string events;
            for (const Note& note : n)
                events += " " + std::to_string(note.Event) + "/" + std::to_string(note.Error);
            ASSERT_EQ(n.size(), 2u) << "events (code/error):" << events;
            EXPECT_EQ(n[0].Event, ws::FD_CONNECT);
            EXPECT_EQ(n[0].Error, 0);
            EXPECT_EQ(n[1].Event, ws::FD_CLOSE);
            EXPECT_EQ(n[1].Error, closeError);
        }
        platform::DeallocateHWnd(w);
    }
}

TEST_F(WinsockTest, AResetBehindPeekedDataIsReportedOnceTheDataIsRead)
{
    ScriptServer server(Script().Pause(50ms).Send("abc").Reset());
    ws::SocketHandle s = ConnectTo(server.Port());
    ASSERT_TRUE(PumpUntil([&] { return N.Count(ws::FD_CLOSE) > 0; }, 2s));
    char buf[64];
    EXPECT_EQ(ws::Recv(s, buf, 3, ws::MsgPeek), 3);
    EXPECT_EQ(ws::Recv(s, buf, sizeof buf, ws::MsgPeek), 3) << "peeking again sees the same bytes";
    ASSERT_EQ(ws::Recv(s, buf, sizeof buf, 0), 3);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_EQ(ws::Recv(s, buf, sizeof buf, 0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::GetLastError(), ws::WSAECONNRESET);
}

TEST_F(WinsockTest, AnUnwatchedSocketAsksTheSystemForDataBehindPeekedBytes)
{
    // No notifications tell of later arrivals here, so nothing may be taken as known.
    std::atomic<bool> sent{false};
    ScriptServer server(Script().Send("a").Expect("more").Send("b").Call([&] { sent = true; }).WaitForClose());
    ws::SocketHandle s = ws::Socket(ws::AfInet, ws::SockStream, 0);
    ASSERT_EQ(ws::Connect(s, Loopback(server.Port())), 0) << "a blocking connect";
    char buf[16];
    EXPECT_EQ(ws::Recv(s, buf, sizeof buf, ws::MsgPeek), 1);
    ASSERT_EQ(ws::Send(s, "more\r\n", 6), 6);
    ASSERT_TRUE(PumpUntil([&] { return sent.load(); }, 2s));
    EXPECT_EQ(ws::Recv(s, buf, sizeof buf, ws::MsgPeek), 2);
    EXPECT_EQ(ws::Recv(s, buf, sizeof buf, 0), 2);
    ws::CloseSocket(s);
}

TEST_F(WinsockTest, ClosingWithPeekedButUnreadDataResetsTheConnection)
{
    // As with unread data still in the system: the peer sees a reset, not an orderly close.
    std::uint16_t port = 0;
    int l = testsupport::ListenLoopback(64, port);
    ws::SocketHandle s = ws::Socket(ws::AfInet, ws::SockStream, 0);
    ASSERT_EQ(ws::AsyncSelect(s, N.H, SocketMsg, AllButWrite), 0);
    ws::Connect(s, Loopback(port));
    int peer = ::accept(l, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    ASSERT_EQ(::send(peer, "hello", 5, 0), 5);
    ASSERT_TRUE(PumpUntil([&] { return N.Count(ws::FD_READ) > 0; }, 2s));
    char buf[16];
    ASSERT_EQ(ws::Recv(s, buf, sizeof buf, ws::MsgPeek), 5);
    ASSERT_EQ(ws::Recv(s, buf, 2, 0), 2);
    ws::CloseSocket(s);
    char c;
    EXPECT_EQ(::recv(peer, &c, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
    ::close(peer);
    ::close(l);
}

TEST_F(WinsockTest, NotificationsQueuedForAClosedSocketAreDropped)
{
    // The data and the close come only once the connect has been handled, and are both in
    // the system before the pump looks: their notifications are queued together.
    ScriptServer server(Script().Expect("go").Send("x").Close());
    ws::SocketHandle s = ConnectTo(server.Port());
    ASSERT_EQ(ws::Send(s, "go\r\n", 4), 4);
    ASSERT_TRUE(server.WaitDone());
    N.OnNote = [&](const Note& n) {
        if (n.Event == ws::FD_READ)
            ws::CloseSocket(s);
    };
    Settle();
    EXPECT_EQ(N.Count(ws::FD_READ), 1);
    EXPECT_EQ(N.Count(ws::FD_CLOSE), 0);
}

TEST_F(WinsockTest, RegisteringAgainReplacesTheEarlierRegistration)
{
    ScriptServer server(Script().Expect("go").SendLine("hello").WaitForClose());
    ws::SocketHandle s = ConnectTo(server.Port());
    ASSERT_EQ(ws::AsyncSelect(s, N.H, OtherMsg, AllButWrite), 0);
    ASSERT_EQ(ws::Send(s, "go\r\n", 4), 4);
    ASSERT_TRUE(PumpUntil([&] { return N.Count(ws::FD_READ, OtherMsg) == 1; }, 2s));
    EXPECT_EQ(N.Count(ws::FD_READ, SocketMsg), 0);
    ASSERT_EQ(ws::AsyncSelect(s, N.H, SocketMsg, ws::FD_CLOSE), 0);
    Settle();
    EXPECT_EQ(N.Count(ws::FD_READ, SocketMsg), 0) << "read is no longer in the mask";
}

TEST_F(WinsockTest, AcceptIsNotifiedAgainWhileConnectionsArePending)
{
    ws::SocketHandle l = ws::Socket(ws::AfInet, ws::SockStream, 0);
    Open.push_back(l);
    ASSERT_EQ(ws::Bind(l, Loopback(0)), 0);
    ASSERT_EQ(ws::AsyncSelect(l, N.H, SocketMsg, ws::FD_ACCEPT), 0);
    ASSERT_EQ(ws::Listen(l, 5), 0);
    ws::SockAddrIn local;
    ASSERT_EQ(ws::GetSockName(l, local), 0);
    int c1 = ::socket(AF_INET, SOCK_STREAM, 0), c2 = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = local.sin_port;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(c1, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::connect(c2, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_TRUE(PumpUntil([&] { return N.Count(ws::FD_ACCEPT) == 1; }, 2s));
    Settle();
    EXPECT_EQ(N.Count(ws::FD_ACCEPT), 1);
    ws::SockAddrIn peer;
    ws::SocketHandle a1 = ws::Accept(l, &peer);
    ASSERT_NE(a1, ws::INVALID_SOCKET);
    Open.push_back(a1);
    EXPECT_EQ(peer.sin_addr, ws::InetAddr("127.0.0.1"));
    ASSERT_TRUE(PumpUntil([&] { return N.Count(ws::FD_ACCEPT) == 2; }, 2s));
    ws::SocketHandle a2 = ws::Accept(l, nullptr);
    ASSERT_NE(a2, ws::INVALID_SOCKET);
    Open.push_back(a2);
    Settle();
    EXPECT_EQ(N.Count(ws::FD_ACCEPT), 2);
    EXPECT_EQ(ws::Accept(l, nullptr), ws::INVALID_SOCKET);
    EXPECT_EQ(ws::GetLastError(), ws::WSAEWOULDBLOCK);
    ::close(c1);
    ::close(c2);
}

TEST_F(WinsockTest, ZeroLingerResetsTheConnectionOnClose)
{
    std::uint16_t port = 0;
    int l = testsupport::ListenLoopback(64, port);
    ws::SocketHandle s = ConnectTo(port);
    int peer = ::accept(l, nullptr, nullptr);
    ASSERT_EQ(ws::SetLinger(s, true, 0), 0);
    ws::CloseSocket(s);
    char c;
    EXPECT_EQ(::recv(peer, &c, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
    ::close(peer);
    ::close(l);
}

TEST_F(WinsockTest, WritableWakeIsPostedForAConnectedSocket)
{
    ScriptServer server(Script().WaitForClose());
    ws::SocketHandle s = ConnectTo(server.Port());
    int wakes = 0;
    platform::WindowHandle w = platform::AllocateHWnd([&](unsigned msg, platform::WPARAM, platform::LPARAM) {
        wakes += msg == platform::WM_NULL;
        return platform::LPARAM(0);
    });
    ASSERT_EQ(ws::AsyncSelect(s, w, SocketMsg, AllButWrite), 0);
    ASSERT_EQ(ws::AsyncNotifyWritable(s), 0);
    EXPECT_TRUE(PumpUntil([&] { return wakes == 1; }, 2s));
    EXPECT_EQ(ws::WaitWritable(s, 0), 1);
    platform::DeallocateHWnd(w);
}

TEST_F(WinsockTest, ErrorsUseWinsockNumbers)
{
    ws::SocketHandle s = ws::Socket(ws::AfInet, ws::SockStream, 0);
    Open.push_back(s);
    char buf[4];
    EXPECT_EQ(ws::Recv(s, buf, 1, ws::MsgPeek), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::GetLastError(), ws::WSAENOTCONN);
    EXPECT_EQ(ws::Send(0xFFF0, buf, 1), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::GetLastError(), ws::WSAENOTSOCK);
    EXPECT_EQ(ws::Socket(ws::AfInet, 2, 0), ws::INVALID_SOCKET);
    EXPECT_EQ(ws::GetLastError(), ws::WSAESOCKTNOSUPPORT);
}

TEST_F(WinsockTest, SocketsNeedStartup)
{
    ws::Cleanup();
    EXPECT_EQ(ws::Socket(ws::AfInet, ws::SockStream, 0), ws::INVALID_SOCKET);
    EXPECT_EQ(ws::GetLastError(), ws::WSANOTINITIALISED);
    ws::Startup(0x0101, Data);
    EXPECT_EQ(Data.wVersion, 0x0101);
}

TEST_F(WinsockTest, HandlesFitSixteenBitsAndAreNotReusedAtOnce)
{
    ws::SocketHandle a = ws::Socket(ws::AfInet, ws::SockStream, 0);
    ws::CloseSocket(a);
    ws::SocketHandle b = ws::Socket(ws::AfInet, ws::SockStream, 0);
    Open.push_back(b);
    EXPECT_LT(a, ws::INVALID_SOCKET);
    EXPECT_LT(b, ws::INVALID_SOCKET);
    EXPECT_NE(a, b);
}

TEST(WinsockLastError, IsPerThread)
{
    ws::SetLastError(10061);
    int other = -1;
    std::thread([&] {
        other = ws::GetLastError();
        ws::SetLastError(10035);
    }).join();
    EXPECT_EQ(other, 0);
    EXPECT_EQ(ws::GetLastError(), 10061);
}

TEST(WinsockAddresses, DottedParsingAndFormatting)
{
    struct {
        const char* Text;
        std::uint32_t Host;   // host byte order; NoAddress for "no address"
        const char* Rule;
    } cases[] = {
        {"127.0.0.1", 0x7F000001, "plain dotted quad"},
        {"192.0.2.7", 0xC0000207, "plain dotted quad"},
        {"255.255.255.255", ws::NoAddress, "the all-ones address parses to the no-address value"},
        {"1.2.3", 0x01020003, "three parts: the last fills 16 bits"},
        {"0x7f.1", 0x7F000001, "hex part, two parts"},
        {"256.1.1.1", ws::NoAddress, "a part out of range"},
        {"mail.example", ws::NoAddress, "a host name is no address"},
        {"", ws::NoAddress, "empty text"},
    };
    for (const auto& c : cases) {
        std::uint32_t got = ws::InetAddr(c.Text);
        EXPECT_EQ(got == ws::NoAddress ? ws::NoAddress : ntohl(got), c.Host) << c.Text << ": " << c.Rule;
    }
    EXPECT_STREQ(ws::InetNtoa(htonl(0xC0000207)), "192.0.2.7");
    EXPECT_EQ(ws::HtoNs(0x1234), htons(0x1234));
}

TEST_F(WinsockTest, LocalNameAndBlockingLookUp)
{
    char name[200];
    ASSERT_EQ(ws::GetHostName(name, sizeof name), 0);
    EXPECT_GT(std::strlen(name), 0u);
    std::uint32_t addr = 0;
    ASSERT_EQ(ws::GetHostByName("localhost", addr), 0);
    EXPECT_EQ(addr, ws::InetAddr("127.0.0.1"));
    EXPECT_EQ(ws::GetHostByName("bad..name", addr), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::GetLastError(), ws::WSAHOST_NOT_FOUND);
}

TEST_F(WinsockTest, AsyncLookUpRepliesToTheWindowWithTheEntry)
{
    char buf[1024];
    ASSERT_NE(ws::AsyncGetHostByName(N.H, OtherMsg, "localhost", buf, sizeof buf), 0);
    ASSERT_TRUE(PumpUntil([&] { return !N.All.empty(); }, 5s));
    EXPECT_EQ(N.All[0].Msg, OtherMsg);
    EXPECT_EQ(N.All[0].Error, 0);
    ws::HostEntry e;
    std::memcpy(&e, buf, sizeof e);
    ASSERT_GE(e.AddrCount, 1);
    EXPECT_EQ(e.Addr[0], ws::InetAddr("127.0.0.1"));
}

TEST_F(WinsockTest, AsyncLookUpOfMalformedNamesFailsWith11001)
{
    char buf[1024];
    for (const char* name : {"bad..name", "", "no space.example", "under\\score\\"}) {
        N.All.clear();
        ASSERT_NE(ws::AsyncGetHostByName(N.H, OtherMsg, name, buf, sizeof buf), 0);
        ASSERT_TRUE(PumpUntil([&] { return !N.All.empty(); }, 5s)) << name;
        EXPECT_EQ(N.All[0].Error, ws::WSAHOST_NOT_FOUND) << '"' << name << '"';
    }
    EXPECT_EQ(ws::AsyncGetHostByName(N.H, OtherMsg, "localhost", buf, 16), 0) << "buffer too small";
    EXPECT_EQ(ws::GetLastError(), ws::WSAENOBUFS);
}

TEST_F(WinsockTest, AsyncLookUpReplyForADestroyedWindowIsDropped)
{
    // The window goes while the look-up runs: its reply comes for no one.
    std::vector<char> buf(1024, '\xAB');
    int replies = 0;
    std::mutex lock;
    std::condition_variable changed;
    bool started = false, gone = false, answered = false;
    ws::detail::SetResolverForTests([&](const std::string&, ws::HostEntry& e) {
        std::unique_lock l(lock);
        started = true;
        changed.notify_all();
        changed.wait(l, [&] { return gone; });
        e.AddrCount = 1;
        e.Addr[0] = ws::InetAddr("127.0.0.1");
        answered = true;
        return 0;
    });
    platform::WindowHandle w = platform::AllocateHWnd([&](unsigned, platform::WPARAM, platform::LPARAM) {
        ++replies;
        return platform::LPARAM(0);
    });
    ASSERT_NE(ws::AsyncGetHostByName(w, OtherMsg, "localhost", buf.data(), 1024), 0);
    {
        std::unique_lock l(lock);
        ASSERT_TRUE(changed.wait_for(l, testsupport::Generous(2s), [&] { return started; }));
    }
    platform::DeallocateHWnd(w);
    {
        std::lock_guard l(lock);
        gone = true;
    }
    changed.notify_all();
    ASSERT_TRUE(PumpUntil([&] { std::lock_guard l(lock); return answered; }, 2s));
    PumpFor(100ms);   // the worker posts its reply right after the resolver returned
    ws::detail::SetResolverForTests(nullptr);
    EXPECT_EQ(replies, 0);
    EXPECT_EQ(buf, std::vector<char>(1024, '\xAB')) << "the buffer is not written for a dead window";
}

TEST_F(WinsockTest, AsyncLookUpsThatNeverAnswerHoldAFewWorkersAndTheRestWaitOrLeave)
{
    std::mutex lock;
    std::condition_variable changed;
    bool released = false;
    int stuck = 0;
    ws::detail::SetResolverForTests([&](const std::string&, ws::HostEntry&) {
        std::unique_lock l(lock);
        ++stuck;
        changed.notify_all();
        changed.wait(l, [&] { return released; });
        return int(ws::WSAHOST_NOT_FOUND);
    });
    char buf[20][1024];
    std::vector<int> tasks;
    for (auto& b : buf)
        tasks.push_back(ws::AsyncGetHostByName(N.H, OtherMsg, "never.invalid", b, sizeof b));
    {
        std::unique_lock l(lock);
        changed.wait_for(l, testsupport::Generous(5s), [&] { return stuck == 4; });
    }
    EXPECT_LE(ws::detail::LookupThreads(), 4) << "workers are only made while asking";
    EXPECT_EQ(stuck, 4);
    EXPECT_EQ(ws::CancelAsyncRequest(tasks[0]), ws::SOCKET_ERROR) << "running already";
    for (std::size_t i = 4; i < tasks.size(); ++i)
        EXPECT_EQ(ws::CancelAsyncRequest(tasks[i]), 0);
    {
        std::lock_guard l(lock);
        released = true;
    }
    changed.notify_all();
    EXPECT_TRUE(PumpUntil([&] { return N.All.size() >= 4; }, 5s));
    PumpFor(100ms);
    EXPECT_EQ(N.All.size(), 4u) << "the cancelled ones never ran";
    ws::detail::SetResolverForTests(nullptr);
}
