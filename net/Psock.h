#pragma once
// Psock: the TCP client socket component TPowersock, on which the POP3 component is built;
// its time-out timer TThreadTimer; the Winsock error texts; the line helpers NthWord,
// NthPos and StreamLn; and the small listening server TNMGeneralServer.
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
// Ownership. Every component is a TComponent freed by its owner. A TPowersock owns its
// socket, its hidden notification window, its TThreadTimer and a 64 KiB transfer buffer
// inside the object.

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

using TOnStatus = std::function<void(TComponent* Sender, const std::string& Status)>;
using TOnHostResolved = std::function<void(TComponent* Sender)>;
using TOnErrorEvent = std::function<void(TComponent* Sender, std::uint16_t Errno, const std::string& Errmsg)>;

struct TWinsockMessage {
    int ErrorNo;
    const char* Text;
};
// The Winsock error texts, in ascending order of number.
extern const std::array<TWinsockMessage, 50> WinsockMessage;

// Window messages of the component's hidden window.
constexpr unsigned SocketEventMessage = platform::WM_USER + 101;   // asynchronous select
constexpr unsigned HostReplyMessage = platform::WM_USER + 102;     // look-up reply; accept with Listen(true)
// Every socket of a component is registered for read, out-of-band, accept, connect, close.
constexpr long SocketEventMask = ws::FD_READ | ws::FD_OOB | ws::FD_ACCEPT | ws::FD_CONNECT | ws::FD_CLOSE;

constexpr int TransferBufferSize = 65536;

// A window-system timer (identifier 1 on its own hidden window) ticking on the thread that
// made it. Enabled/Interval may be changed from any thread.
class TThreadTimer : public TComponent {
public:
    explicit TThreadTimer(TComponent* AOwner);   // raises Exception "No Timer" without a window
    ~TThreadTimer() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    std::uint32_t Interval() const { return FInterval; }
    void SetInterval(std::uint32_t Value);
    const TNotifyEvent& OnTimer() const { return FOnTimer; }
    void SetOnTimer(TNotifyEvent Value);

    // Kills the timer, then sets it anew (a fresh countdown) when Interval is not 0, the timer
    // is enabled and has a handler. Raises Exception "No Timer" when that fails.
    void UpdateTimer();
    void Wndproc(platform::TMessage& Message);
    virtual void Timer();
    platform::WindowHandle Handle() const { return FWindowHandle; }

    static platform::WindowHandle TmrAllocateHWnd(TThreadTimer* Object);

private:
    std::atomic<bool> FEnabled{true};
    std::atomic<std::uint32_t> FInterval{1000};
    TNotifyEvent FOnTimer;
    platform::WindowHandle FWindowHandle = 0;
};

class TPowersock : public TComponent {
public:
    // Raises ESockError "Initializaton of windows sockets failed" when no socket can be had.
    explicit TPowersock(TComponent* AOwner);
    ~TPowersock() override;

    // Virtual operations, in slot order.
    // Waits for accept readiness (Listen) and accepts one connection; the readiness is used
    // up, so the next Accept waits for the next connection.
    virtual ws::SocketHandle Accept();
    // Resolves Host (or ProxyHost), connects and waits; OnConnect fires inside the wait.
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

    // Public state.
    std::atomic<bool> Connected{false};
    std::atomic<bool> TimeoutFired{false};   // read after an abort exception: time-out or cancel
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
    void SendBuffer(const char* Buffer, std::uint16_t Length);
    void Write(const std::string& Text);
    void Writeln(const std::string& Text);
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
    void InitWinsock();
    static platform::WindowHandle PsockAllocateHWnd(TPowersock* Object);

    // One pass of a wait: handles what is pending, and when `leave` does not yet hold, waits
    // for the next event first (see the header comment).
    void WaitPass(const std::function<bool()>& leave);
    // Wakes a wait running on another thread; called for every message, tick and cancel.
    void NotifyWaiters();

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

    // What the connect notification said to the Connect that waits for it.
    enum ConnectOutcome { NoConnect, ConnectPending, ConnectMade, ConnectRefused };
    std::atomic<ConnectOutcome> FConnectOutcome{NoConnect};

    std::thread::id FOwnerThread;
    // The look-up in progress (its reply is told apart from late replies of earlier ones).
    std::atomic<int> FLookupTask{0};
    std::uint32_t FResolvedAddr = 0;
    int FResolvedCount = 0;
    std::mutex FWaitLock;
    std::condition_variable FWaitCv;
    std::uint64_t FEventSerial = 0;
    std::uint64_t FSeenSerial = 0;
};

// Field n (from 1) of Text cut at every single Delimiter; "" for n <= 0 or past the end.
std::string NthWord(const std::string& Text, char Delimiter, int N);
// The same field as a view into Text (no copy).
std::string_view NthWordView(std::string_view Text, char Delimiter, int N);
// 1-based position of the n-th Delimiter; Text's length + 1 when there are fewer.
int NthPos(const std::string& Text, char Delimiter, int N);
// Writes Text and CR LF to the stream.
void StreamLn(TStream& Stream, const std::string& Text);

class InstantiateServethread;

// A listening server: Loaded() listens on Port; every accepted connection gets a new
// instance of the server's own class (NewConnectionServer), owned by the listening server,
// whose Serve runs on a thread of its own. When Serve returns, the instance leaves
// ClientList and is destroyed on the listening server's thread. Destroying the listening
// server cancels every instance and waits for their threads.
class TNMGeneralServer : public TPowersock {
public:
    explicit TNMGeneralServer(TComponent* AOwner);
    ~TNMGeneralServer() override;

    void Loaded() override;
    void Connect() override {}
    // A listening server cancels every connection's wait; a connection instance cancels its own.
    void Abort() override;
    // The dialogue with one client; runs on the connection's thread. Does nothing here.
    virtual void Serve() {}
    // The instance for one connection. Derived servers return an instance of their own class:
    // `return new TMyServer(this);`.
    virtual TNMGeneralServer* NewConnectionServer();
    void ServerAccept(TObject* Sender);

    TNotifyEvent OnClientContact;

    // The per-connection instances of a listening server (absent on an instance itself).
    class TClientList {
    public:
        void Add(TNMGeneralServer* Server);
        void Remove(TNMGeneralServer* Server);
        std::vector<TNMGeneralServer*> Snapshot() const;
        int Count() const;

    private:
        mutable std::mutex FLock;
        std::vector<TNMGeneralServer*> FItems;
    };
    std::unique_ptr<TClientList> ClientList;
    TNMGeneralServer* ListenerServer = nullptr;
    InstantiateServethread* ServeThread = nullptr;

private:
    friend class InstantiateServethread;
    void ServeThreadEnded(InstantiateServethread* Thread);
    std::set<InstantiateServethread*> FThreads;   // live connection threads (this server's thread only)
};

// Runs one connection's Serve on a thread of its own (see TNMGeneralServer).
class InstantiateServethread {
public:
    // Makes the connection instance for the accepted socket and starts the thread; raises
    // nothing (a failed instance makes a thread that ends at once).
    InstantiateServethread(TNMGeneralServer* Owner, ws::SocketHandle Socket);
    // Waits for the thread, then removes the instance from the list and destroys it.
    ~InstantiateServethread();
    InstantiateServethread(const InstantiateServethread&) = delete;
    InstantiateServethread& operator=(const InstantiateServethread&) = delete;

    TNMGeneralServer* ConnectionServer = nullptr;

private:
    void Execute();
    TNMGeneralServer* FListener;
    platform::WindowHandle FListenerWindow;
    std::thread FThread;
};
