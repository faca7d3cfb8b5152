#pragma once
// The socket table of the socket layer (Winsock.cpp's calls work on it): the state of every
// socket by handle, error numbering, and the epoll watcher that turns system readiness
// into the posted notifications. Private to platform/. The table is never destroyed; a
// record's descriptor is closed when its last user lets go. Nothing here waits; `Lock` of a
// record guards its registration and notification flags.

#include "platform/ThreadContext.h"
#include "platform/TlsFilter.h"
#include "platform/Winsock.h"

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace ws::detail {

using platform::detail::Context;

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
    // A read from the system came back short (Empty) or full; arrivals counted from here.
    void NoteRead(bool Empty)
    {
        Drained = Empty;
        DrainedArrivals = Arrivals;
    }
    // Only a connected socket that is watched for incoming data has its arrivals counted.
    bool KnownDrained() const
    {
        return Drained && DrainedArrivals == Arrivals && Connected && Ctx && WatchKey
            && (Mask & (FD_READ | FD_ACCEPT | FD_CLOSE));
    }
    // TLS (TlsSocket.cpp): the filter once TlsStart ran; then Stash holds plaintext.
    // TlsOut is ciphertext the system did not take yet (sent on the next writability),
    // TlsEnded that the system reported the end of the stream (TlsError: a reset).
    std::unique_ptr<TlsFilter> Tls;
    std::string TlsOut;
    bool TlsEnded = false;
    int TlsError = 0;
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


int Fail(int error);

int MapErrno(int e);

int FailErrno(int e);

SocketHandle NoSocket(int error);

// Never destroyed (see the window registry).
SocketTable& Table();

std::shared_ptr<SocketRec> Find(SocketHandle s);

// Gives the descriptor a small handle; INVALID_SOCKET (and the descriptor closed) when
// every handle is taken.
SocketHandle Adopt(int fd, bool connected);

int Pending(int fd);

// The TCP state (TCP_ESTABLISHED ...), or TCP_CLOSE when it cannot be had.
int TcpState(int fd);

bool Readable(int fd);

// Caller holds r.Lock.
void Notify(SocketRec& r, long event, int error);

std::uint32_t Interest(const SocketRec& r);

// Caller holds r.Lock. Re-applying the interest makes epoll report present conditions again.
void UpdateInterest(SocketRec& r);

// Runs on the window's thread when epoll reports the socket.
void OnSocketEvents(const std::weak_ptr<SocketRec>& weak, std::uint32_t ev);

void SetNonBlocking(int fd);

// Caller holds r.Lock. What a receive leaves behind: re-enables the notifications and posts
// FD_READ for data the receive did not see or left (Recv's rules in Winsock.h); `unseen`:
// the receive knows of data it did not hand out.
void AfterReceive(SocketRec& r, bool peek, long long n, bool unseen);

// TLS (TlsSocket.cpp); the caller holds r.Lock and r.Tls is set.
// A receive on a TLS socket: plaintext from the stash, filled from the system first.
int RecvTls(SocketRec& r, char* buf, std::size_t want, bool peek);
int SendTls(SocketRec& r, const char* buf, std::size_t len);
// Sends what ciphertext waits, as far as the system takes it; false on a send error.
bool FlushTls(SocketRec& r);
// Before the descriptor closes: close_notify, sent if the system takes it at once.
void CloseTls(SocketRec& r);

sockaddr_in ToSys(const SockAddrIn& a);

SockAddrIn FromSys(const sockaddr_in& s);

} // namespace ws::detail
