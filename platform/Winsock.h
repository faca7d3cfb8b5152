#pragma once
// Windows Sockets 1.1 as the socket component needs it, over POSIX sockets (IPv4, TCP).
// Sources: Winsock.cpp (the calls), SocketTable.cpp (the socket table and the watcher that
// posts notifications), HostLookup.cpp (the host look-up and its worker threads).
//
// Numbering: every failure sets the calling thread's last error (GetLastError) to a Winsock
// number (10035 would-block, 10057 not connected, 10061 refused, 11001 host not found ...);
// calls return SOCKET_ERROR (-1) or INVALID_SOCKET then. Socket handles are small numbers
// (1 to 0xFFFE) that fit the 16-bit handles of the components; INVALID_SOCKET is 0xFFFF.
// Sending never raises SIGPIPE. All calls may be made from any thread.
//
// Asynchronous select (AsyncSelect): once registered, the socket is non-blocking and its
// notifications arrive as `msg` posted to the window, handled on the window's thread inside
// the pump: wParam = the socket, lParam = MakeLong(event, error number). Semantics:
//  - FD_READ: posted when data arrives; then none until the next Recv (peek or not) on the
//    socket. A Recv that leaves data it did not see pending posts one at once (a receive
//    that removed only part, a peek that was overtaken by new data), so a receiving loop
//    never waits for data that is already there; the data a peek saw is old news, so a
//    program that leaves data unread gets exactly one FD_READ.
//  - FD_OOB: urgent data arrived; re-enabled by the next Recv.
//  - FD_ACCEPT: a connection is pending on a listening socket; re-enabled by Accept (which
//    posts again at once when more are pending).
//  - FD_CONNECT: the outcome of Connect, with its error (a refused connection gives 10061),
//    exactly once per Connect. A connection that the peer accepts and then closes or
//    resets, however soon, gives FD_CONNECT without error followed by FD_CLOSE.
//  - FD_CLOSE: once, when the peer closes (error 0) or resets (10054) the connection, also
//    while unread data is still pending.
// Registering again replaces the earlier registration (mask 0 cancels). A notification
// still queued for a socket that has been closed, or registered anew, is dropped.
//
// Receiving: a peek takes the bytes out of the system and keeps them for the receives
// that follow (so a receive after a peek costs no system call); what a program sees is as
// if they had stayed there, also an error behind them, and closing with such bytes unread
// resets the connection as unread data does.
//
// TLS (TlsStart): the socket's record gets a TlsFilter fed through memory BIOs; epoll stays
// the only event source. From then on Recv and Send carry plaintext: a receive reads what
// arrived, decrypts it into the stash (peeks see plaintext) and never leaves decrypted
// bytes behind in OpenSSL unannounced (FD_READ is posted while plaintext waits); a send
// encrypts and sends, and ciphertext the system would not take yet is sent as soon as it
// can. While the handshake runs, Recv advances it and reports WSAEWOULDBLOCK. A failed TLS
// connection fails receives and sends with WSAECONNABORTED; TlsFailureOf tells why. A
// failure or close_notify that came behind plaintext is news once that plaintext is
// received: FD_READ is posted, and the next receive reports it.
//
// Host look-up (AsyncGetHostByName): the name is resolved by one of at most 4 worker
// threads, later look-ups waiting in turn (a resolver that never answers holds a worker
// for good, so their number is bounded) (IPv4, the
// addresses in the order the resolver gives); the reply `msg` reaches the window with
// lParam = MakeLong(size of the entry, error) (11001 for an unknown or malformed name); the
// HostEntry is written into the caller's buffer on the window's thread just before the
// reply is handled, and not at all when the window was destroyed meanwhile.

#include "platform/TlsFilter.h"
#include "platform/Window.h"

#include <cstdint>
#include <functional>
#include <string>

namespace ws {

using SocketHandle = std::uint16_t;
constexpr SocketHandle INVALID_SOCKET = 0xFFFF;
constexpr int SOCKET_ERROR = -1;

// Address family, socket type and protocol numbers.
constexpr int AfInet = 2;
constexpr int SockStream = 1;
constexpr int IpProtoTcp = 6;
// InetAddr's result for text that is no address (and for "255.255.255.255").
constexpr std::uint32_t NoAddress = 0xFFFFFFFFu;

// Receive flags.
constexpr int MsgPeek = 2;

// Asynchronous select event codes.
constexpr long FD_READ = 1;
constexpr long FD_WRITE = 2;
constexpr long FD_OOB = 4;
constexpr long FD_ACCEPT = 8;
constexpr long FD_CONNECT = 16;
constexpr long FD_CLOSE = 32;

// Error numbers.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// The 16-byte IPv4 socket address record: port and address in network byte order.
struct SockAddrIn {
    std::uint16_t sin_family = 0;
    std::uint16_t sin_port = 0;
    std::uint32_t sin_addr = 0;
    char sin_zero[8] = {};
};
static_assert(sizeof(SockAddrIn) == 16);

// What Startup reports about the implementation.
struct WSAData {
    std::uint16_t wVersion = 0;        // low byte major, high byte minor
    std::uint16_t wHighVersion = 0;
    char szDescription[257] = {};
    char szSystemStatus[129] = {};
    std::uint16_t iMaxSockets = 0;
    std::uint16_t iMaxUdpDg = 0;
};

// The host entry a look-up writes into the caller's buffer (AsyncGetHostByName).
struct HostEntry {
    std::uint16_t AddrType = AfInet;
    std::uint16_t AddrLength = 4;
    std::uint16_t AddrCount = 0;       // entries used in Addr
    std::uint16_t Reserved = 0;
    std::uint32_t Addr[16] = {};       // network byte order
    char Name[256] = {};
};

std::uint16_t HtoNs(std::uint16_t v);
std::uint16_t NtoHs(std::uint16_t v);

// Start-up and clean-up are counted; Socket fails with WSANOTINITIALISED while the count is 0.
int Startup(std::uint16_t version, WSAData& data);
int Cleanup();

int GetLastError();          // of the calling thread
void SetLastError(int error);

SocketHandle Socket(int family, int type, int protocol);
int CloseSocket(SocketHandle s);
// SO_LINGER: with on and 0 seconds, closing resets the connection at once.
int SetLinger(SocketHandle s, bool on, int seconds);
int Bind(SocketHandle s, const SockAddrIn& addr);
int Listen(SocketHandle s, int backlog);
// Returns the new socket (not registered for notifications) and the peer's address.
SocketHandle Accept(SocketHandle s, SockAddrIn* peer);
// On a registered socket: returns SOCKET_ERROR with WSAEWOULDBLOCK and reports the outcome
// with FD_CONNECT; otherwise as the system's connect.
int Connect(SocketHandle s, const SockAddrIn& addr);
int Send(SocketHandle s, const char* buf, int len);
// flags: 0 or MsgPeek.
int Recv(SocketHandle s, char* buf, int len, int flags);
int GetSockName(SocketHandle s, SockAddrIn& addr);

// Starts the TLS client handshake on a connected socket (the ClientHello is sent). Fails
// with WSAEINVAL when unread bytes are waiting (they came before TLS, and are refused),
// WSAEISCONN when TLS runs already, WSAENOTCONN when not connected.
int TlsStart(SocketHandle s, const TlsClientOptions& options);
// Advances the handshake with what has arrived; Failed also for a socket without TLS.
TlsState TlsHandshake(SocketHandle s);
// Whether TLS is established on the socket.
bool TlsActive(SocketHandle s);
// Why TLS failed on the socket (None when it did not, or without TLS).
TlsFailure TlsFailureOf(SocketHandle s);
// Every fault found in the server's certificate chain (TlsFilter::CertificateFaults).
std::vector<TlsFailure> TlsCertificateFaults(SocketHandle s);
// DER of the server's certificate ("" before it arrived or without TLS).
std::string TlsPeerCertificate(SocketHandle s);

int AsyncSelect(SocketHandle s, platform::WindowHandle window, unsigned msg, long events);
// Posts one WM_NULL to the socket's registered window as soon as the socket can take more
// data (at once when it can already), to wake a pump that waits to send.
int AsyncNotifyWritable(SocketHandle s);
// Waits up to `ms` milliseconds (-1: no limit) until the socket can take more data: 1 when
// it can, 0 on time-out, SOCKET_ERROR on error. Runs no pump.
int WaitWritable(SocketHandle s, int ms);

// Dotted-decimal parsing with the system's inet_addr rules (also "a.b.c", hex and octal
// parts); NoAddress when the text is no address. Formatting gives "a.b.c.d".
std::uint32_t InetAddr(const char* text);
const char* InetNtoa(std::uint32_t addr);   // text in a per-thread buffer

int GetHostName(char* name, int len);
// Blocking look-up of the first IPv4 address; SOCKET_ERROR with 11001 etc. on failure.
int GetHostByName(const char* name, std::uint32_t& addr);
// Starts a look-up; returns a non-zero task number, or 0 (with the error) when the buffer is
// smaller than a HostEntry or the window does not exist.
int AsyncGetHostByName(platform::WindowHandle window, unsigned msg, const char* name, char* buf, int buflen);
// Takes a look-up that has not started yet out of the queue; SOCKET_ERROR (WSAEINVAL) when
// it is running or over.
int CancelAsyncRequest(int task);

namespace detail {
// Worker threads of the host look-up started so far (at most 4).
int LookupThreads();
// Replaces the system resolver (0 and the entry, or a Winsock error) until called with
// nullptr; for tests of look-ups that never answer.
void SetResolverForTests(std::function<int(const std::string&, HostEntry&)> resolve);
} // namespace detail

} // namespace ws
