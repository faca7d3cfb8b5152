// The TLS calls of the socket layer (Winsock.h) and the TLS side of Recv and Send: the
// filter inside the socket record, fed from the descriptor without ever blocking.
#include "platform/SocketTable.h"
#include "platform/Winsock.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ws {

namespace detail {

namespace {

// Ciphertext read from the system per receive at most; what is left announces itself
// (Pending) like any other data left behind.
constexpr std::size_t TlsReadLimit = 256 * 1024;

// Reads what the system holds, feeds the filter, advances the handshake, decrypts
// everything into the stash (nothing decrypted stays inside OpenSSL unannounced) and sends
// what the filter produced. True when it stopped at TlsReadLimit with more to read.
bool PumpTls(SocketRec& r)
{
    TlsFilter& f = *r.Tls;
    char chunk[16384];
    std::size_t total = 0;
    r.Drained = false;   // until this read finds the system empty
    while (!r.TlsEnded && total < TlsReadLimit) {
        const ssize_t n = ::recv(r.Fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            f.Feed(chunk, static_cast<std::size_t>(n));
            total += static_cast<std::size_t>(n);
            if (static_cast<std::size_t>(n) < sizeof chunk) {
                r.NoteRead(true);   // a short read: nothing more was there
                break;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            r.NoteRead(true);
            break;
        }
        r.TlsEnded = true;
        r.TlsError = n < 0 ? errno : 0;
        f.FeedEnd();
    }
    if (f.State() == TlsState::Handshaking)
        f.Handshake();
    if (f.State() == TlsState::Established) {
        if (r.StashPos > 0) {
            r.Stash.erase(0, r.StashPos);
            r.StashPos = 0;
        }
        f.ReadPlain(r.Stash, static_cast<std::size_t>(-1) / 2);
    }
    FlushTls(r);
    return total >= TlsReadLimit;
}

} // namespace

bool FlushTls(SocketRec& r)
{
    const bool waited = !r.TlsOut.empty();
    r.Tls->TakeOutput(r.TlsOut);
    std::size_t sent = 0;
    bool ok = true;
    while (sent < r.TlsOut.size()) {
        const ssize_t n = ::send(r.Fd, r.TlsOut.data() + sent, r.TlsOut.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        ok = false;
        SetLastError(MapErrno(errno));
        sent = r.TlsOut.size();   // nothing more will go out
    }
    r.TlsOut.erase(0, sent);
    // Ciphertext left over is sent when the socket can take it (the watcher asks for that).
    if (waited != !r.TlsOut.empty())
        UpdateInterest(r);
    return ok;
}

int RecvTls(SocketRec& r, char* buf, std::size_t want, bool peek)
{
    // As in plain text, stashed bytes are all there is while nothing arrived since the
    // system was drained and the filter holds nothing undecrypted.
    const bool current = r.Stashed() > 0 && r.KnownDrained() && !r.Tls->PlainPending();
    const bool more = (r.Stashed() < want || want == 0) && !current && PumpTls(r);
    const std::size_t n = std::min(r.Stashed(), want);
    std::memcpy(buf, r.Stash.data() + r.StashPos, n);
    // A receive that saw only part of the plaintext, or left ciphertext unread, has left news
    // behind (the watcher reports arrivals only once).
    bool unseen = more || (peek && r.Stashed() > n);
    if (!peek) {
        r.StashPos += n;
        if (r.StashPos == r.Stash.size()) {
            r.Stash.clear();
            r.StashPos = 0;
        }
        // So has the end or failure that came behind the plaintext taken now: no event of
        // the system's will tell of it, only the next receive.
        const TlsState state = r.Tls->State();
        unseen = unseen || (n > 0 && r.Stashed() == 0 && (state == TlsState::Failed || state == TlsState::Closed));
    }
    AfterReceive(r, peek, static_cast<long long>(n), unseen);
    if (n > 0)
        return static_cast<int>(n);
    switch (r.Tls->State()) {
    case TlsState::Handshaking: return Fail(WSAEWOULDBLOCK);
    case TlsState::Failed: return Fail(WSAECONNABORTED);
    case TlsState::Closed: return r.TlsError ? FailErrno(r.TlsError) : 0;
    case TlsState::Established: break;
    }
    return r.TlsEnded && r.TlsError ? FailErrno(r.TlsError) : Fail(WSAEWOULDBLOCK);
}

int SendTls(SocketRec& r, const char* buf, std::size_t len)
{
    if (!FlushTls(r))
        return SOCKET_ERROR;
    // The system has not taken the last block yet: the sender waits for writability.
    if (!r.TlsOut.empty())
        return Fail(WSAEWOULDBLOCK);
    switch (r.Tls->State()) {
    case TlsState::Handshaking: return Fail(WSAENOTCONN);
    case TlsState::Failed: return Fail(WSAECONNABORTED);
    case TlsState::Closed: return Fail(WSAESHUTDOWN);
    case TlsState::Established: break;
    }
    len = std::min<std::size_t>(len, 0x7FFFFFFF);
    if (!r.Tls->WritePlain(buf, len))
        return Fail(WSAECONNABORTED);
    if (!FlushTls(r))
        return SOCKET_ERROR;
    return static_cast<int>(len);
}

void CloseTls(SocketRec& r)
{
    if (r.Tls->State() == TlsState::Established) {
        r.Tls->Close();
        FlushTls(r);
    }
}

} // namespace detail

using namespace detail;

int TlsStart(SocketHandle s, const TlsClientOptions& options)
{
    auto r = Find(s);
    if (!r)
        return SOCKET_ERROR;
    std::lock_guard lock(r->Lock);
    if (!r->Connected || r->Closed)
        return Fail(WSAENOTCONN);
    if (r->Tls)
        return Fail(WSAEISCONN);
    // Plain bytes that came before TLS may have been put there by anyone on the way.
    if (r->Stashed() > 0 || Pending(r->Fd) > 0)
        return Fail(WSAEINVAL);
    r->Tls = std::make_unique<TlsFilter>(options);
    r->Tls->Handshake();   // the ClientHello
    if (!FlushTls(*r))
        return SOCKET_ERROR;
    r->ReadEnabled = true;
    return 0;
}

TlsState TlsHandshake(SocketHandle s)
{
    auto r = Find(s);
    if (!r)
        return TlsState::Failed;
    std::lock_guard lock(r->Lock);
    if (!r->Tls)
        return TlsState::Failed;
    if (r->Tls->State() == TlsState::Handshaking) {
        PumpTls(*r);
        r->ReadEnabled = true;   // the next arrival is news again
        // Plaintext that came with the handshake is announced like any other.
        if (r->Stashed() > 0 && (r->Mask & FD_READ) && !r->ReadQueued) {
            r->ReadEnabled = false;
            Notify(*r, FD_READ, 0);
        }
    }
    return r->Tls->State();
}

bool TlsActive(SocketHandle s)
{
    auto r = Find(s);
    if (!r)
        return false;
    std::lock_guard lock(r->Lock);
    return r->Tls && r->Tls->State() == TlsState::Established;
}

TlsFailure TlsFailureOf(SocketHandle s)
{
    auto r = Find(s);
    if (!r)
        return TlsFailure::None;
    std::lock_guard lock(r->Lock);
    return r->Tls ? r->Tls->Failure() : TlsFailure::None;
}

std::vector<TlsFailure> TlsCertificateFaults(SocketHandle s)
{
    auto r = Find(s);
    if (!r)
        return {};
    std::lock_guard lock(r->Lock);
    return r->Tls ? r->Tls->CertificateFaults() : std::vector<TlsFailure>();
}

std::string TlsPeerCertificate(SocketHandle s)
{
    auto r = Find(s);
    if (!r)
        return {};
    std::lock_guard lock(r->Lock);
    return r->Tls ? r->Tls->PeerCertificateDer() : std::string();
}

} // namespace ws
