#pragma once
// Psock: the TCP client socket component TPowersock, on which the POP3 component is built.
// Its sources: Psock.cpp (making, waiting, time-out, addresses), PsockConnect.cpp
// (look-up, connecting, notifications, listening), PsockTls.cpp (the TLS handshake and
// what it leaves), PsockTransfer.cpp (sending and receiving), LineReader.h (the one reader
// of lines and replies), SockErrors.cpp (error texts and the error manager). This header also brings in the units its users know it by:
// TThreadTimer (ThreadTimer.h), the error table (SockErrors.h), the line helpers NthWord,
// NthPos, StreamLn, ReplyCode (LineText.h) and the listening server TNMGeneralServer
// (GeneralServer.h), and the TLS settings TTlsMode and TTlsProblem (TlsMode.h).
//
// Waiting. Operations that wait for the network look blocking to their callers but keep the
// messages of the thread flowing, so user input, socket notifications and the time-out are
// handled inside them (and a handler may call Abort). On the thread that made the component
// each wait blocks until the next event (platform::HandleMessage), handles it, then tests
// its flags: an idle wait uses no processor time and reacts at once. On any other thread (the
// connection threads of TNMGeneralServer) a wait sleeps on a condition that the component's
// own thread signals whenever it handles a notification, a timer tick or a cancel for the
// component; it never runs that thread's event loop.
//
// Failures. ESockError with an English text ("Connection Failed", "10061:Connection refused"
// ...); EAbortError (an ESockError) for transfers ended by Cancel/Abort or the time-out
// (TimeoutFired tells which); Exception for "Not Connected" (CertifyConnect) and "No Timer".
// Exceptions raised inside notification handling and status reporting never leave them.
//
// Security. With TlsMode Implicit, Connect makes the TLS handshake right after the TCP
// connection is made; StartTls makes it on an open connection. Both check the server's
// certificate against the system's trust store (SSL_CERT_FILE works) and the Host as typed,
// or accept exactly a certificate whose fingerprint is in TrustedFingerprints (the server
// may not renegotiate to another). A failed handshake is an ESockError "TLS handshake
// failed: ..." (TlsProblem tells why, TlsProblems every problem of the certificate, the
// connection is dropped); afterwards every transfer carries plaintext as before, and a TLS
// connection that breaks later fails the transfer with the reason's text ("TLS connection
// failed: invalid data from the server").
//
// Ownership. Every component is a TComponent freed by its owner. A TPowersock owns its
// socket, its hidden notification window, its TThreadTimer and a 64 KiB transfer buffer
// inside the object. Deleting a component from a handler that runs inside one of its own
// waits (on its thread) is deferred: the delete detaches the events (no handler runs again),
// aborts, and every wait of the component ends at once with EAbortError; the object is
// destroyed by a call posted to its window once no wait of it is left on the stack.

#include "net/LineText.h"
#include "net/SockErrors.h"
#include "net/ThreadTimer.h"
#include "net/TlsMode.h"
#include "platform/Window.h"
#include "platform/Winsock.h"
#include "runtime/Component.h"
#include "runtime/Exception.h"
#include "runtime/Stream.h"
#include "runtime/StringList.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class ESockError : public Exception {
public:
    using Exception::Exception;
};

class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

// Why the last Connect failed (None while it runs and once it connected): the look-up
// found no address, the peer refused, no answer within TimeOut (look-up or connect), Abort.
enum class TConnectFault { None, HostNotFound, Refused, TimedOut, Canceled };

using TOnStatus = std::function<void(TComponent* Sender, const std::string& Status)>;
using TOnHostResolved = std::function<void(TComponent* Sender)>;
using TOnErrorEvent = std::function<void(TComponent* Sender, std::uint16_t Errno, const std::string& Errmsg)>;


// Window messages of the component's hidden window.
constexpr unsigned SocketEventMessage = platform::WM_USER + 101;   // asynchronous select
constexpr unsigned HostReplyMessage = platform::WM_USER + 102;     // look-up reply; accept with Listen(true)
// Every socket of a component is registered for read, out-of-band, accept, connect, close.
constexpr long SocketEventMask = ws::FD_READ | ws::FD_OOB | ws::FD_ACCEPT | ws::FD_CONNECT | ws::FD_CLOSE;

constexpr int TransferBufferSize = 65536;


class TPowersock : public TComponent {
public:
    // Raises ESockError "Initializaton of windows sockets failed" when no socket can be had.
    explicit TPowersock(TComponent* AOwner);
    ~TPowersock() override;
    // Deletion, deferred while a wait of the component is running (see Ownership above).
    static void operator delete(TPowersock* Object, std::destroying_delete_t);
    static void operator delete(void* Block) { ::operator delete(Block); }

    // Virtual operations, in slot order.
    // Waits for accept readiness (Listen) and accepts one connection; the readiness is used
    // up, so the next Accept waits for the next connection.
    virtual ws::SocketHandle Accept();
    // Resolves Host (or ProxyHost), connects and waits; OnConnect fires inside the wait.
    // With TlsMode Implicit the TLS handshake follows (StartTls) before Connect returns.
    // Returns once the connect notification reports the connection made, also when the
    // peer closed or reset it at once (OnDisconnect has then fired too, and the next read
    // finds the connection closed). On failure (refused, time-out, cancel)
    // OnConnectionFailed fires before the ESockError, and the half-made socket is replaced
    // by a fresh one so that the next Connect can start at once.
    virtual void Connect();
    virtual void Disconnect();
    virtual std::string Transaction(const std::string& Command);
    // Cancel; derived components add to it. Note that the destructor of this class can only
    // reach this version: a derived class whose Abort must run at destruction calls it in
    // its own destructor.
    virtual void Abort();

    // Published properties.
    std::string Host;
    int Port = 0;
    int TimeOut = 0;        // milliseconds per wait; 0 = no limit
    int ReportLevel = 0;    // status texts whose level is at most this reach OnStatus

    // Published events.
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    TNotifyEvent OnConnectionFailed;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    // Declared here, published by the POP3 component.
    THandlerEvent OnConnectionRequired;
    TNotifyEvent OnPacketRecvd;
    int BytesRecvd() const { return FBytesRecvd; }
    int BytesTotal() const { return FBytesTotal; }
    // Not published.
    TOnErrorEvent OnError;
    TNotifyEvent OnPacketSent;
    TNotifyEvent OnDataReady;
    TNotifyEvent OnAcceptReady;

    // Secure connection (see the header comment).
    TTlsMode TlsMode = TTlsMode::None;   // set before Connect
    // SHA-256 fingerprints (lowercase hex, no colons) of the DER of certificates the user
    // chose to trust for this server; such a certificate is accepted exactly.
    std::vector<std::string> TrustedFingerprints;
    TTlsProblem TlsProblem() const { return FTlsProblem; }
    // Every problem found in the certificate of a handshake that failed for it, TlsProblem()
    // among them; empty for other failures.
    const std::vector<TTlsProblem>& TlsProblems() const { return FTlsProblems; }
    // DER of the certificate the server presented in the last handshake ("" when none), also
    // when it was refused.
    const std::string& PeerCertificate() const { return FPeerCertificate; }
    // Fingerprint (as TrustedFingerprints) of PeerCertificate(); "" when none.
    std::string PeerFingerprint() const;
    // What the last Connect found out is forgotten: ConnectFault, the TLS problems and the
    // certificate. Every Connect does this first, before anything can fail.
    void ForgetLastAttempt();
    // The TLS handshake on the open connection; waits (pumping) like Connect, ended by the
    // time-out or Cancel. Raises ESockError "TLS handshake failed: ..." (EAbortError on
    // time-out or cancel) after dropping the connection; TlsProblem tells why.
    void StartTls();

    // Public state.
    std::atomic<bool> Connected{false};
    std::atomic<bool> TimeoutFired{false};   // read after an abort exception: time-out or cancel
    TConnectFault ConnectFault = TConnectFault::None;
    std::string Status;
    TStringList WinsockInfo;
    std::string ProxyHost;
    std::uint16_t ProxyPort = 0;
    ws::SockAddrIn RemoteAddr;
    std::string LastReply;
    std::int16_t LastReplyCode = 0;   // leading digits of LastReply; clipped to 32767
    int BytesSent = 0;

    // Connection (see the header comment for waiting).
    void CertifyConnect();
    void Cancel();
    void Close(ws::SocketHandle Socket);
    void RequestCloseSocket();
    void ResolveRemoteHost();
    void Wndproc(platform::TMessage& Message);
    void StatusMessage(std::uint8_t Level, const std::string& Text);
    // The same for the fixed texts: no string is made unless the level is reported.
    void StatusMessage(std::uint8_t Level, const char* Text);

    // Data transfer.
    // Sending waits (pumping) only while the socket has no room, timed from the last
    // progress; the time-out or a cancel ends it with EAbortError "Socket send aborted".
    void SendBuffer(const char* Buffer, std::uint16_t Length);
    void Write(const std::string& Text);
    void Writeln(const std::string& Text);
    // Count bytes (0: what is pending), waiting for them; fewer when the peer closed first.
    std::string Read(std::uint16_t Count);
    // One line with its terminator (LF, and a CR before it); "" when the peer has closed.
    // Raises ESockError for a line of more than 65536 bytes (what was read of it is gone).
    std::string ReadLn();
    void SendFile(const std::string& FileName);
    void SendStream(TStream& Stream);
    void AppendFile(const std::string& FileName);
    void CaptureFile(const std::string& FileName);
    void CaptureStream(TStream& Stream, int Size);
    void CaptureString(std::string& Text, int Size);
    void FilterHeader(TStream& Stream);
    bool DataAvailable();
    void ClearInput();

    // Time-out and errors.
    void TimerOn();
    void TimerOff();
    void TimerFired(TObject* Sender);
    std::string SocketErrorStr(std::uint16_t ErrorNo);
    std::string ErrorManager(std::uint16_t Ignored);
    void SetWSAError(std::uint16_t ErrorNo, const std::string& Message);
    int GetLastErrorNo();
    void SetLastErrorNo(int Value);
    std::string GetRemoteIP();
    std::string GetLocalIP();        // "" when the local name has no address
    std::string GetLocalAddress();   // "0,0,0,0" without a local address
    std::string GetPortString();     // ",0,0" without a local address

    // Listening (the component's socket becomes the listener).
    void Listen(bool UseSecondMessage);

protected:
    static constexpr int HostEntryBufferSize = 1024;

    void InitWinsock();
    static platform::WindowHandle PsockAllocateHWnd(TPowersock* Object);

    // One pass of a wait: handles what is pending, and when `leave` does not yet hold, waits
    // for the next event first (see the header comment).
    void WaitPass(const std::function<bool()>& leave);
    // True while a wait of the component runs on its own thread (further down the stack,
    // when a handler asks).
    bool InWait() const { return FWaitDepth > 0; }
    // Empties every event (their handlers are kept alive until destruction: one of them
    // may be running). Derived components add theirs.
    virtual void DetachEvents();
    // Called by RequestCloseSocket once the socket of a connection is closed, before
    // OnDisconnect (not while this class's destructor runs). Raises nothing.
    virtual void ConnectionEnded() {}
    // Takes a handler out of its event and keeps it until the component is destroyed.
    template <class TEvent>
    void ParkEvent(TEvent& Event)
    {
        if (Event)
            FParkedEvents.push_back(std::make_shared<TEvent>(std::move(Event)));
        Event = nullptr;
    }
    // Wakes a wait running on another thread; called for every message, tick and cancel.
    void NotifyWaiters();

    // How a ReadLines call reads. Every line is handed to the caller with its terminator.
    struct TLineRead {
        bool DropOnFailure = false;    // close the connection (no QUIT) before a failure is raised
        bool RestartTimeout = false;   // the time-out measures the silence since the last bytes
        bool KeepLast = false;         // leave the last batch unconsumed (see ReadLines)
        std::string* Keep = nullptr;   // gets every byte of the lines taken, in order
    };
    // How ReadLines ended: the handler took its last line, or the peer closed first.
    enum class TLinesEnd { Taken, PeerClosed };
    // The one reader of lines and replies (LineReader.h): peeks, hands every complete line
    // of the peek to Take (bool(std::string_view), true to stop; it must not pump) and
    // receives exactly those lines' bytes in one receive. With KeepLast the last batch is
    // left in the socket and its size stored in *Unconsumed, for ConsumeInput. Waits
    // (pumping, see the header comment) while no line end is there. Raises EAbortError
    // "Socket readln aborted" on cancel or time-out, ESockError "Line too long: no line end
    // within 65536 bytes" when 65536 bytes pass without a line end (they are gone), and the
    // error manager's ESockError for a failed receive.
    template <class TakeLine>
    TLinesEnd ReadLines(const TLineRead& How, TakeLine&& Take, int* Unconsumed = nullptr);
    // Receives Count bytes already looked at (a ReadLines batch left by KeepLast).
    void ConsumeInput(int Count);
    // Raises ReadLines' "Line too long" ESockError: first drops the connection with
    // DropOnFailure, else receives Consume bytes (what came before the line and its first
    // 65536 bytes, which are gone).
    [[noreturn]] void LineTooLong(const TLineRead& How, int Consume);
    // Notes a reply line: LastReply, LastReplyCode (ReplyCode; 0 while OnStatus runs), and
    // the reply as a level-1 status.
    void NoteReply(std::string_view Reply);
    // Closes the connection without QUIT (OnDisconnect) when it is still open; raises nothing.
    void DropConnection();

    char TransferBuffer[TransferBufferSize + 1];
    std::atomic<bool> CancelRequested{false};
    std::atomic<bool> ShuttingDown{false};
    std::atomic<bool> LastEventOk{false};
    std::atomic<bool> AsyncDone{false};
    std::unique_ptr<char[]> HostEntryBuffer;   // 1024 bytes
    std::atomic<ws::SocketHandle> SocketHandle{ws::INVALID_SOCKET};
    platform::WindowHandle NotifyWindow = 0;
    TThreadTimer* FTimer = nullptr;
    std::atomic<int> FLastErrorNo{0};
    int FBytesRecvd = 0;
    int FBytesTotal = 0;

private:
    void ReplaceSocket();
    // The handshake of TlsMode Implicit inside Connect; OnConnectionFailed on failure.
    void ImplicitHandshake();
    // TimerOn; with Arm false everything but setting the window timer (for a caller that
    // turns it off again before it pumps).
    void StartTimeout(bool Arm);
    // Sends one block (see SendBuffer); with Pump, counts, reports and pumps after each
    // send call. False when a send call returned 0.
    bool SendChunk(const char* Data, int Length, bool Pump);
    // One receive of a receiving loop into Sink, counted and reported; Timed restarts the
    // time-out and ends the loop on the not-connected error. False when the loop ends.
    bool ReceiveChunk(const std::function<void(const char*, int)>& Sink, bool Timed);
    // Clears a pending cancel and raises EAbortError with the text.
    void ThrowIfCanceled(const char* Text);

    // How the last look-up ended: Connect retries after an unanswered look-up only.
    enum LookupEnd { LookupAnswered, LookupTimedOut, LookupCanceled };
    LookupEnd FLookupEnd = LookupAnswered;
    // The wait's end test of ReadLines, made once (a listing reads thousands of replies).
    std::function<bool()> FCancelWait;
    // What the connect notification said to the Connect that waits for it.
    enum ConnectOutcome { NoConnect, ConnectPending, ConnectMade, ConnectRefused };
    std::atomic<ConnectOutcome> FConnectOutcome{NoConnect};
    // The close notification of the present connection came (data may still be unread).
    std::atomic<bool> FPeerClosed{false};

    // Destroys the object once no wait of it is running (a tick of this timer of the
    // notification window asks again).
    static constexpr platform::WPARAM DeferredDeleteTimer = 2;
    static void FinishDeferredDelete(TPowersock* Object);

    std::thread::id FOwnerThread;
    int FWaitDepth = 0;            // waits of the component running on its thread
    bool FDeletePending = false;   // deleted inside a wait: destroyed when it has unwound
    std::vector<std::shared_ptr<void>> FParkedEvents;
    // The look-up in progress (its reply is told apart from late replies of earlier ones).
    std::atomic<int> FLookupTask{0};
    std::uint32_t FResolvedAddr = 0;
    int FResolvedCount = 0;
    std::mutex FWaitLock;
    std::condition_variable FWaitCv;
    std::uint64_t FEventSerial = 0;
    std::uint64_t FSeenSerial = 0;

protected:
    // Sets the problem of the connection being made (the layers above add theirs).
    void SetTlsProblem(TTlsProblem Problem) { FTlsProblem = Problem; }
    // Whether the connection runs over TLS now.
    bool TlsActive();
    // Notes Problem, drops the connection (no QUIT) and raises ESockError Text.
    [[noreturn]] void FailTls(TTlsProblem Problem, const char* Text);

private:
    TTlsProblem FTlsProblem = TTlsProblem::None;
    std::vector<TTlsProblem> FTlsProblems;
    std::string FPeerCertificate;
};

// The listening server, known to its users through this header too.
#include "net/GeneralServer.h"
