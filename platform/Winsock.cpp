#include "platform/Winsock.h"

#include "platform/SocketTable.h"
#include "platform/ThreadContext.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace ws {

using namespace detail;

namespace {
thread_local int LastError = 0;   // GetLastError of the calling thread
} // namespace

std::uint16_t HtoNs(std::uint16_t v) { return htons(v); }
std::uint16_t NtoHs(std::uint16_t v) { return ntohs(v); }

int Startup(std::uint16_t version, WSAData& data)
{
    data = WSAData{};
    if ((version & 0xFF) < 1)
        return WSAVERNOTSUPPORTED;
    data.wVersion = 0x0101;
    data.wHighVersion = 0x0101;
    std::snprintf(data.szDescription, sizeof data.szDescription, "Purgel sockets over POSIX");
    std::snprintf(data.szSystemStatus, sizeof data.szSystemStatus, "Running");
    data.iMaxSockets = 0xFFFE;
    data.iMaxUdpDg = 65507;
    auto& t = Table();
    std::lock_guard lock(t.Lock);
    ++t.Users;
    return 0;
}

int Cleanup()
{
    auto& t = Table();
    std::lock_guard lock(t.Lock);
    if (t.Users == 0)
        return Fail(WSANOTINITIALISED);
    --t.Users;
    return 0;
}

int GetLastError() { return LastError; }
void SetLastError(int error) { LastError = error; }

SocketHandle Socket(int family, int type, int protocol)
{
    {
        auto& t = Table();
        std::lock_guard lock(t.Lock);
        if (t.Users == 0) {
            LastError = WSANOTINITIALISED;
            return INVALID_SOCKET;
        }
    }
    if (family != AfInet)
        return NoSocket(WSAEAFNOSUPPORT);
    if (type != SockStream)
        return NoSocket(WSAESOCKTNOSUPPORT);
    if (protocol != 0 && protocol != IpProtoTcp)
        return NoSocket(WSAEPROTONOSUPPORT);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return NoSocket(MapErrno(errno));
    return Adopt(fd, false);
}

int CloseSocket(SocketHandle s)
{
    std::shared_ptr<SocketRec> rec;
    {
        auto& t = Table();
        std::lock_guard lock(t.Lock);
        auto it = t.Sockets.find(s);
        if (it == t.Sockets.end())
            return Fail(WSAENOTSOCK);
        rec = std::move(it->second);
        t.Sockets.erase(it);
    }
    std::lock_guard lock(rec->Lock);
    rec->Closed = true;
    if (rec->Tls)
        CloseTls(*rec);
    if (rec->Stashed() > 0) {
        // Unread data makes the system reset the connection on close; the stashed bytes
        // are unread data that the system no longer holds.
        linger l{1, 0};
        setsockopt(rec->Fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    if (rec->Ctx)
        rec->Ctx->RemoveWatch(rec->Fd, rec->WatchKey);
    rec->Ctx.reset();
    return 0;
}

int SetLinger(SocketHandle s, bool on, int seconds)
{
    auto r = Find(s);
    if (!r)
        return SOCKET_ERROR;
    linger l{on ? 1 : 0, seconds};
    if (setsockopt(r->Fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0)
        return FailErrno(errno);
    return 0;
}

int Bind(SocketHandle s, const SockAddrIn& addr)
{
    auto r = Find(s);
    if (!r)
        return SOCKET_ERROR;
    sockaddr_in a = ToSys(addr);
    if (::bind(r->Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return FailErrno(errno);
    return 0;
}

int Listen(SocketHandle s, int backlog)
{
    auto r = Find(s);
    if (!r)
        return SOCKET_ERROR;
    std::lock_guard lock(r->Lock);
    if (::listen(r->Fd, backlog) != 0)
        return FailErrno(errno);
    r->Listening = true;
    UpdateInterest(*r);
    return 0;
}

SocketHandle Accept(SocketHandle s, SockAddrIn* peer)
{
    auto r = Find(s);
    if (!r)
        return INVALID_SOCKET;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    int fd = ::accept4(r->Fd, reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC);
    int e = errno;
    {
        std::lock_guard lock(r->Lock);
        r->AcceptEnabled = true;
        if (!r->Closed && Readable(r->Fd) && (r->Mask & FD_ACCEPT)) {
            r->AcceptEnabled = false;
            Notify(*r, FD_ACCEPT, 0);
        }
    }
    if (fd < 0)
        return NoSocket(MapErrno(e));
    if (peer)
        *peer = FromSys(a);
    return Adopt(fd, true);
}

int Connect(SocketHandle s, const SockAddrIn& addr)
{
    auto r = Find(s);
    if (!r)
        return SOCKET_ERROR;
    sockaddr_in a = ToSys(addr);
    std::lock_guard lock(r->Lock);
    if (!r->Ctx) {
        if (::connect(r->Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return FailErrno(errno);
        r->Connected = true;
        return 0;
    }
    int rc = ::connect(r->Fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int e = rc == 0 ? 0 : errno;
    switch (e) {
    case 0:
    case EINPROGRESS:
        // Like a non-blocking Winsock connect: would-block now, the outcome as FD_CONNECT.
        r->ConnectPending = true;
        UpdateInterest(*r);
        return Fail(WSAEWOULDBLOCK);
    case ECONNREFUSED:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ETIMEDOUT:
        Notify(*r, FD_CONNECT, MapErrno(e));
        return Fail(WSAEWOULDBLOCK);
    case ECONNRESET:
    case EPIPE:
    case ECONNABORTED:
        // Made and lost again within the call (on loopback the peer can accept and reset
        // before it returns): told as the notifications tell it otherwise.
        r->Connected = true;
        r->CloseNotified = true;
        Notify(*r, FD_CONNECT, 0);
        Notify(*r, FD_CLOSE, WSAECONNRESET);
        return Fail(WSAEWOULDBLOCK);
    default:
        return FailErrno(e);
    }
}

int Send(SocketHandle s, const char* buf, int len)
{
    auto r = Find(s);
    if (!r)
        return SOCKET_ERROR;
    if (r->Tls) {
        std::lock_guard lock(r->Lock);
        return SendTls(*r, buf, len > 0 ? static_cast<std::size_t>(len) : 0);
    }
    ssize_t n = ::send(r->Fd, buf, static_cast<std::size_t>(len), MSG_NOSIGNAL);
    if (n < 0)
        return FailErrno(errno);
    return static_cast<int>(n);
}

int Recv(SocketHandle s, char* buf, int len, int flags)
{
    auto r = Find(s);
    if (!r)
        return SOCKET_ERROR;
    const bool peek = flags & MsgPeek;
    std::lock_guard lock(r->Lock);
    const std::size_t want = len > 0 ? static_cast<std::size_t>(len) : 0;
    if (r->Tls)
        return RecvTls(*r, buf, want, peek);
    // The stashed bytes come first; the system is asked for the rest unless it is known to
    // hold nothing (then the stashed bytes are all there is).
    const std::size_t stashed = std::min(r->Stashed(), want);
    if (stashed > 0)
        std::memcpy(buf, r->Stash.data() + r->StashPos, stashed);
    ssize_t got = 0;
    int e = 0;
    if (stashed == 0 || (stashed < want && !r->KnownDrained())) {
        if (stashed == 0 && r->StashError) {
            got = -1;
            e = r->StashError;   // the error behind the bytes that are gone now
            r->StashError = 0;
        } else {
            // Behind stashed bytes the call must not block, also on a blocking socket.
            got = ::recv(r->Fd, buf + stashed, want - stashed, stashed > 0 ? MSG_DONTWAIT : 0);
            e = errno;
        }
        if (got >= 0 || e == EAGAIN) {
            r->NoteRead(got < static_cast<ssize_t>(want - stashed));
        }
        if (got < 0 && stashed > 0) {
            if (e != EAGAIN)
                r->StashError = e;
            got = 0;
        }
    }
    if (got > 0 && peek) {
        r->Stash.erase(0, r->StashPos);   // what was received already goes first
        r->StashPos = 0;
        r->Stash.append(buf + stashed, static_cast<std::size_t>(got));
    }
    if (!peek) {
        r->StashPos += stashed;
        if (r->StashPos == r->Stash.size()) {
            r->Stash.clear();
            r->StashPos = 0;
        }
    }
    const ssize_t n = got < 0 ? got : static_cast<ssize_t>(stashed) + got;
    AfterReceive(*r, peek, n, false);
    if (n < 0)
        return FailErrno(e);
    return static_cast<int>(n);
}

int GetSockName(SocketHandle s, SockAddrIn& addr)
{
    auto r = Find(s);
    if (!r)
        return SOCKET_ERROR;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(r->Fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return FailErrno(errno);
    addr = FromSys(a);
    return 0;
}

int AsyncSelect(SocketHandle s, platform::WindowHandle window, unsigned msg, long events)
{
    auto r = Find(s);
    if (!r)
        return SOCKET_ERROR;
    std::shared_ptr<Context> ctx;
    if (events != 0) {
        ctx = platform::detail::WindowContext(window);
        if (!ctx)
            return Fail(WSAEINVAL);
    }
    std::lock_guard lock(r->Lock);
    SetNonBlocking(r->Fd);
    ++r->RegSerial;
    r->Window = window;
    r->Msg = msg;
    r->Mask = events;
    r->ReadEnabled = r->OobEnabled = r->AcceptEnabled = true;
    r->CloseNotified = false;
    if (r->Ctx != ctx) {
        if (r->Ctx)
            r->Ctx->RemoveWatch(r->Fd, r->WatchKey);
        r->Ctx.reset();
        r->WatchKey = 0;
        if (ctx) {
            std::weak_ptr<SocketRec> weak = r;
            r->WatchKey = ctx->AddWatch(r->Fd, Interest(*r), [weak](std::uint32_t ev) { OnSocketEvents(weak, ev); });
            if (!r->WatchKey)
                return Fail(WSAENOBUFS);
            r->Ctx = std::move(ctx);
        }
    } else {
        UpdateInterest(*r);
    }
    return 0;
}

int AsyncNotifyWritable(SocketHandle s)
{
    auto r = Find(s);
    if (!r)
        return SOCKET_ERROR;
    std::lock_guard lock(r->Lock);
    if (!r->Ctx)
        return Fail(WSAEINVAL);
    r->WriteWake = true;
    UpdateInterest(*r);
    return 0;
}

int WaitWritable(SocketHandle s, int ms)
{
    auto r = Find(s);
    if (!r)
        return SOCKET_ERROR;
    pollfd p{r->Fd, POLLOUT, 0};
    int n = ::poll(&p, 1, ms);
    if (n < 0)
        return FailErrno(errno);
    return n > 0 ? 1 : 0;
}

std::uint32_t InetAddr(const char* text)
{
    in_addr a{};
    if (!text || inet_aton(text, &a) == 0)
        return NoAddress;
    return a.s_addr;
}

const char* InetNtoa(std::uint32_t addr)
{
    thread_local char buf[16];
    const auto* b = reinterpret_cast<const unsigned char*>(&addr);
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return buf;
}

int GetHostName(char* name, int len)
{
    if (!name || len <= 0)
        return Fail(WSAEFAULT);
    if (gethostname(name, static_cast<std::size_t>(len)) != 0)
        return FailErrno(errno);
    name[len - 1] = '\0';
    return 0;
}

} // namespace ws

