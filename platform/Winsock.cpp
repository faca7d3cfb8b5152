#include "platform/Winsock.h"

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

namespace {

using platform::detail::Context;

thread_local int LastError = 0;

int Fail(int error)
{
    LastError = error;
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
    LastError = error;
    return INVALID_SOCKET;
}

// The state of one socket. `Lock` guards the registration and the notification flags;
// the descriptor is closed when the last user lets go, so a call running on another
// thread never meets a descriptor number that was reused meanwhile.
struct SocketRec : std::enable_shared_from_this<SocketRec> {
    explicit SocketRec(int fd) : Fd(fd) {}
    ~SocketRec() { ::close(Fd); }

    const int Fd;
    SocketHandle Handle = INVALID_SOCKET;
    std::mutex Lock;
    bool Closed = false;

    // Registration.
    platform::WindowHandle Window = 0;
    unsigned Msg = 0;
    long Mask = 0;
    std::uint64_t RegSerial = 0;
    std::shared_ptr<Context> Ctx;
    std::uint64_t WatchKey = 0;

    // Connection state as the notifications see it.
    bool Listening = false;
    bool ConnectPending = false;
    bool Connected = false;

    // Enabling of each notification (Winsock's "re-enabling" rules).
    bool ReadEnabled = true;
    bool ReadQueued = false;
    std::uint64_t Arrivals = 0;   // data arrivals seen by the watcher
    bool PeerClosed = false;      // the watcher saw the end of the stream
    // Bytes a peek took out of the system that the program has not received yet:
    // Stash[StashPos ...]. Receives are served from here first, so the receive that follows
    // a peek needs no system call. StashError is an error the system reported behind them,
    // handed out once they are gone.
    std::string Stash;
    std::size_t StashPos = 0;
    int StashError = 0;
    // The last read from the system came back short (nothing more was pending then), and
    // no arrival has been seen since.
    bool Drained = false;
    std::uint64_t DrainedArrivals = 0;

    std::size_t Stashed() const { return Stash.size() - StashPos; }
    // Only a connected socket that is watched for incoming data has its arrivals counted.
    bool KnownDrained() const
    {
        return Drained && DrainedArrivals == Arrivals && Connected && Ctx && WatchKey
            && (Mask & (FD_READ | FD_ACCEPT | FD_CLOSE));
    }
    bool OobEnabled = true;
    bool AcceptEnabled = true;
    bool CloseNotified = false;
    bool WriteWake = false;
};

struct SocketTable {
    std::mutex Lock;
    std::unordered_map<SocketHandle, std::shared_ptr<SocketRec>> Sockets;
    SocketHandle Next = 0;
    int Users = 0;
};

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
        LastError = WSAENOTSOCK;
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
        LastError = WSAEMFILE;
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
    if (r.ConnectPending || r.WriteWake)
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
    // At the end of the stream the socket reads as ready without data: no FD_READ then.
    bool data = (ev & EPOLLIN) && (!(ev & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) || r.Stashed() > 0 || Pending(r.Fd) > 0);
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

// Letters, digits, '-' and '_' in dot-separated labels of 1 to 63 characters, at most 253
// in all (a final dot allowed). Anything else is no host name and never reaches the resolver.
bool IsHostName(const std::string& name)
{
    std::string n = name;
    if (!n.empty() && n.back() == '.')
        n.pop_back();
    if (n.empty() || n.size() > 253)
        return false;
    std::size_t label = 0;
    for (char c : n) {
        if (c == '.') {
            if (label == 0)
                return false;
            label = 0;
            continue;
        }
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok || ++label > 63)
            return false;
    }
    return label > 0;
}

int MapGai(int rc)
{
    switch (rc) {
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
#ifdef EAI_NODATA
    case EAI_NODATA: return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return WSANO_DATA;
#endif
    default: return WSANO_RECOVERY;
    }
}

// 0 and the entry, or a Winsock error number.
int Resolve(const std::string& name, HostEntry& entry)
{
    if (!IsHostName(name))
        return WSAHOST_NOT_FOUND;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* res = nullptr;
    int rc = getaddrinfo(name.c_str(), nullptr, &hints, &res);
    if (rc != 0)
        return MapGai(rc);
    entry = HostEntry{};
    for (addrinfo* p = res; p && entry.AddrCount < 16; p = p->ai_next) {
        if (p->ai_family != AF_INET)
            continue;
        std::uint32_t a = reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
        bool seen = false;
        for (int i = 0; i < entry.AddrCount; ++i)
            seen = seen || entry.Addr[i] == a;
        if (!seen)
            entry.Addr[entry.AddrCount++] = a;
    }
    const char* canon = res && res->ai_canonname ? res->ai_canonname : name.c_str();
    std::snprintf(entry.Name, sizeof entry.Name, "%s", canon);
    freeaddrinfo(res);
    return entry.AddrCount ? 0 : WSANO_DATA;
}

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
            r->Drained = got < static_cast<ssize_t>(want - stashed);
            r->DrainedArrivals = r->Arrivals;
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
    r->ReadEnabled = true;
    r->OobEnabled = true;
    // Data that a receive left behind is news: notify, so that a receiving loop comes back
    // for it. (The data a peek saw is old news; data it did not see comes with a report of
    // its own, since the read is re-enabled now.)
    bool left = false;
    if (!peek && n > 0)
        left = r->Stashed() > 0 || (!r->KnownDrained() && Pending(r->Fd) > 0);
    bool live = !r->Closed && r->Connected;
    if (left && live && (r->Mask & FD_READ)) {
        r->ReadEnabled = false;
        if (!r->ReadQueued)
            Notify(*r, FD_READ, 0);
    } else if (!peek && n > 0 && !left && r->PeerClosed && live && r->Window) {
        // The last data before an end of stream that was already reported: wake the
        // receiving loop so that it comes back to see the end.
        platform::PostMessage(r->Window, platform::WM_NULL, 0, 0);
    }
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

int GetHostByName(const char* name, std::uint32_t& addr)
{
    HostEntry entry;
    int err = Resolve(name ? name : "", entry);
    if (err)
        return Fail(err);
    addr = entry.Addr[0];
    return 0;
}

int AsyncGetHostByName(platform::WindowHandle window, unsigned msg, const char* name, char* buf, int buflen)
{
    if (!buf || buflen < static_cast<int>(sizeof(HostEntry))) {
        LastError = WSAENOBUFS;
        return 0;
    }
    if (!platform::IsWindow(window)) {
        LastError = WSAEINVAL;
        return 0;
    }
    static std::atomic<int> nextTask{0};
    int task = ++nextTask;
    if (task <= 0)
        task = nextTask = 1;
    std::string host = name ? name : "";
    // Detached: a look-up cannot be interrupted, and its reply is dropped when no one
    // waits for it any more. Everything it touches outlives it.
    std::thread([window, msg, host, buf, task] {
        auto entry = std::make_shared<HostEntry>();
        int err = Resolve(host, *entry);
        platform::LPARAM lp = platform::MakeLong(static_cast<std::uint16_t>(sizeof(HostEntry)), static_cast<std::uint16_t>(err));
        platform::detail::Posted reply;
        reply.Window = window;
        reply.Msg = msg;
        reply.WParam = static_cast<platform::WPARAM>(task);
        reply.LParam = lp;
        // The entry is written into the caller's buffer (Tag) only now, when the window
        // is known to be alive.
        reply.Data = entry;
        reply.Tag = reinterpret_cast<std::uintptr_t>(buf);
        reply.Guard = [](const platform::detail::Posted& p) {
            if (platform::HiWord(p.LParam) == 0)
                std::memcpy(reinterpret_cast<char*>(p.Tag), p.Data.get(), sizeof(HostEntry));
            return true;
        };
        platform::detail::PostWindowMessage(std::move(reply));
    }).detach();
    return task;
}

} // namespace ws
