#include "platform/SocketTable.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace ws::detail {

int Fail(int error)
{
    SetLastError(error);
    return SOCKET_ERROR;
}

int MapErrno(int e)
{
    switch (e) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAENOTSOCK;
    case EACCES: case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: case ENFILE: return WSAEMFILE;
    case EAGAIN: case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case ENOBUFS: case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: case EPIPE: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENOTEMPTY: return WSAENOTEMPTY;
    case EUSERS: return WSAEUSERS;
    case EDQUOT: return WSAEDQUOT;
    case ESTALE: return WSAESTALE;
    case EREMOTE: return WSAEREMOTE;
    default: return WSAEINVAL;
    }
}

int FailErrno(int e)
{
    return Fail(MapErrno(e));
}

SocketHandle NoSocket(int error)
{
    SetLastError(error);
    return INVALID_SOCKET;
}

// Never destroyed (see the window registry).
SocketTable& Table()
{
    static SocketTable* t = new SocketTable;
    return *t;
}

std::shared_ptr<SocketRec> Find(SocketHandle s)
{
    auto& t = Table();
    std::lock_guard lock(t.Lock);
    auto it = t.Sockets.find(s);
    if (it == t.Sockets.end()) {
        SetLastError(WSAENOTSOCK);
        return nullptr;
    }
    return it->second;
}

// Gives the descriptor a small handle; INVALID_SOCKET (and the descriptor closed) when
// every handle is taken.
SocketHandle Adopt(int fd, bool connected)
{
    auto rec = std::make_shared<SocketRec>(fd);
    rec->Connected = connected;
    auto& t = Table();
    std::lock_guard lock(t.Lock);
    if (t.Sockets.size() >= 0xFFFE) {
        SetLastError(WSAEMFILE);
        return INVALID_SOCKET;   // rec closes fd
    }
    // Handles rotate, so a handle just closed is not handed out again at once.
    do {
        t.Next = t.Next >= 0xFFFE ? 1 : t.Next + 1;
    } while (t.Sockets.count(t.Next));
    rec->Handle = t.Next;
    t.Sockets.emplace(t.Next, std::move(rec));
    return t.Next;
}

int Pending(int fd)
{
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

// The TCP state (TCP_ESTABLISHED ...), or TCP_CLOSE when it cannot be had.
int TcpState(int fd)
{
    tcp_info info{};
    socklen_t len = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0)
        return TCP_CLOSE;
    return info.tcpi_state;
}

bool Readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

// Caller holds r.Lock.
void Notify(SocketRec& r, long event, int error)
{
    if (!(r.Mask & event))
        return;
    if (!r.Ctx)
        return;
    if (event == FD_READ)
        r.ReadQueued = true;
    platform::detail::Posted item;
    item.Window = r.Window;
    item.Msg = r.Msg;
    item.WParam = r.Handle;
    item.LParam = platform::MakeLong(static_cast<std::uint16_t>(event), static_cast<std::uint16_t>(error));
    item.Tag = r.RegSerial;
    item.Owner = r.weak_from_this();
    item.Guard = [](const platform::detail::Posted& p) {
        auto rec = std::static_pointer_cast<SocketRec>(p.Owner.lock());
        if (!rec)
            return false;
        std::lock_guard lock(rec->Lock);
        if (rec->Closed || rec->RegSerial != p.Tag)
            return false;
        if (platform::LoWord(p.LParam) == FD_READ)
            rec->ReadQueued = false;
        return true;
    };
    // The registration's context is the window's: no look-up of the window needed here.
    r.Ctx->Post(std::move(item));
}

std::uint32_t Interest(const SocketRec& r)
{
    std::uint32_t ev = EPOLLET;
    if (r.Mask & (FD_READ | FD_ACCEPT | FD_CLOSE))
        ev |= EPOLLIN | EPOLLRDHUP;
    if (r.Mask & FD_OOB)
        ev |= EPOLLPRI;
    if (r.ConnectPending || r.WriteWake || !r.TlsOut.empty())
        ev |= EPOLLOUT;
    return ev;
}

// Caller holds r.Lock. Re-applying the interest makes epoll report present conditions again.
void UpdateInterest(SocketRec& r)
{
    if (r.Ctx && r.WatchKey)
        r.Ctx->ModifyWatch(r.Fd, r.WatchKey, Interest(r));
}

// Runs on the window's thread when epoll reports the socket.
void OnSocketEvents(const std::weak_ptr<SocketRec>& weak, std::uint32_t ev)
{
    auto rec = weak.lock();
    if (!rec)
        return;
    SocketRec& r = *rec;
    std::lock_guard lock(r.Lock);
    if (r.Closed)
        return;
    if (r.ConnectPending && (ev & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
        // The outcome is read from the socket's present state, not from the reported
        // events: those may have been taken before the connect started (an unconnected
        // socket reads as hung up), or be overtaken by a close that came meanwhile.
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(r.Fd, SOL_SOCKET, SO_ERROR, &err, &len);
        int state = TcpState(r.Fd);
        if (err == 0 && (state == TCP_SYN_SENT || state == TCP_SYN_RECV))
            return;   // still connecting: the outcome comes with a later report
        // A reset (rather than a refusal) means the connection was made and then lost
        // before we looked; so does an attempt that is over without an error to tell.
        // Connected, and the close follows below.
        bool made = err == 0 || err == ECONNRESET || err == EPIPE;
        r.ConnectPending = false;
        r.Connected = made;
        UpdateInterest(r);
        Notify(r, FD_CONNECT, made ? 0 : MapErrno(err));
        if (!made)
            return;
        if (err || state == TCP_CLOSE)
            ev |= EPOLLERR | EPOLLHUP;
    }
    if (!r.TlsOut.empty() && (ev & (EPOLLOUT | EPOLLERR | EPOLLHUP)))
        FlushTls(r);
    if (r.WriteWake && (ev & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
        r.WriteWake = false;
        UpdateInterest(r);
        platform::PostMessage(r.Window, platform::WM_NULL, 0, 0);
    }
    if (r.Listening) {
        if ((ev & EPOLLIN) && r.AcceptEnabled && (r.Mask & FD_ACCEPT)) {
            r.AcceptEnabled = false;
            Notify(r, FD_ACCEPT, 0);
        }
        return;
    }
    if (!r.Connected)
        return;
    if (ev & EPOLLIN)
        ++r.Arrivals;
    if (ev & (EPOLLRDHUP | EPOLLHUP | EPOLLERR))
        r.PeerClosed = true;
    // At the end of the stream the socket reads as ready without data: no FD_READ then. The
    // bytes are counted, not the flags trusted: a close may show as readable a moment before
    // it shows as hung up.
    bool data = (ev & EPOLLIN) && (r.Stashed() > 0 || Pending(r.Fd) > 0);
    if (data && r.ReadEnabled && (r.Mask & FD_READ)) {
        r.ReadEnabled = false;
        Notify(r, FD_READ, 0);
    }
    if ((ev & EPOLLPRI) && r.OobEnabled && (r.Mask & FD_OOB)) {
        r.OobEnabled = false;
        Notify(r, FD_OOB, 0);
    }
    if ((ev & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) && !r.CloseNotified && (r.Mask & FD_CLOSE)) {
        r.CloseNotified = true;
        Notify(r, FD_CLOSE, (ev & EPOLLERR) ? WSAECONNRESET : 0);
    }
}

void AfterReceive(SocketRec& r, bool peek, long long n, bool unseen)
{
    r.ReadEnabled = true;
    r.OobEnabled = true;
    // Data that a receive left behind is news: notify, so that a receiving loop comes back
    // for it. (The data a peek saw is old news; data it did not see comes with a report of
    // its own, since the read is re-enabled now.)
    bool left = unseen;
    if (!peek && n > 0)
        left = left || r.Stashed() > 0 || (!r.KnownDrained() && Pending(r.Fd) > 0);
    bool live = !r.Closed && r.Connected;
    if (left && live && (r.Mask & FD_READ)) {
        r.ReadEnabled = false;
        if (!r.ReadQueued)
            Notify(r, FD_READ, 0);
    } else if (!peek && n > 0 && !left && r.PeerClosed && live && r.Window) {
        // The last data before an end of stream that was already reported: wake the
        // receiving loop so that it comes back to see the end.
        platform::PostMessage(r.Window, platform::WM_NULL, 0, 0);
    }
}

void SetNonBlocking(int fd)
{
    int fl = fcntl(fd, F_GETFL);
    if (fl >= 0 && !(fl & O_NONBLOCK))
        fcntl(fd, F_SETFL, fl | O_NONBLOCK);
}

sockaddr_in ToSys(const SockAddrIn& a)
{
    sockaddr_in s{};
    s.sin_family = AF_INET;
    s.sin_port = a.sin_port;
    s.sin_addr.s_addr = a.sin_addr;
    return s;
}

SockAddrIn FromSys(const sockaddr_in& s)
{
    SockAddrIn a;
    a.sin_family = AfInet;
    a.sin_port = s.sin_port;
    a.sin_addr = s.sin_addr.s_addr;
    return a;
}
} // namespace ws::detail
