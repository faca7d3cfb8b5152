#include "net/Psock.h"
#include "net/TimerScope.h"

#include <algorithm>
#include <cstring>

// ---- connection ----

void TPowersock::ResolveRemoteHost()
{
    StatusMessage(8, "Resolve Host");
    FLookupEnd = LookupAnswered;
    const std::string& name = ProxyHost.empty() ? Host : ProxyHost;
    std::size_t n = std::min(name.size(), static_cast<std::size_t>(TransferBufferSize));
    std::memcpy(TransferBuffer, name.data(), n);
    TransferBuffer[n] = '\0';
    std::uint32_t addr = ws::InetAddr(TransferBuffer);
    if (addr != ws::NoAddress) {
        RemoteAddr.sin_addr = addr;
        return;
    }
    RemoteAddr.sin_addr = 0;
    TimerOn();
    TimerScope timer(*this);
    AsyncDone = false;
    FResolvedCount = 0;
    FLookupTask = ws::AsyncGetHostByName(NotifyWindow, HostReplyMessage, TransferBuffer, HostEntryBuffer.get(), HostEntryBufferSize);
    auto done = [this] { return AsyncDone || TimeoutFired || CancelRequested; };
    do
        WaitPass(done);
    while (!done());
    if (!AsyncDone)
        ws::CancelAsyncRequest(FLookupTask);   // not started yet: it leaves the queue
    FLookupTask = 0;
    timer.Off();
    if (TimeoutFired) {
        FLookupEnd = LookupTimedOut;
        throw ESockError("Host Lookup Timed Out");
    }
    if (CancelRequested) {
        FLookupEnd = LookupCanceled;
        throw ESockError("Host Lookup Canceled");
    }
    if (!LastEventOk || FResolvedCount == 0)
        throw ESockError("Host Lookup Failed");
    RemoteAddr.sin_addr = FResolvedAddr;
    if (OnHostResolved)
        OnHostResolved(this);
}

void TPowersock::Connect()
{
    ForgetLastAttempt();
    StatusMessage(8, "Connecting");
    CancelRequested = false;
    if (Connected)
        throw ESockError("Already connected");
    for (int attempts = 0;; ++attempts) {
        try {
            ResolveRemoteHost();
        } catch (const ESockError&) {
            if (FLookupEnd != LookupAnswered) {
                ConnectFault = FLookupEnd == LookupTimedOut ? TConnectFault::TimedOut : TConnectFault::Canceled;
                throw;   // no answer came: asking again would only wait again
            }
        }
        if (RemoteAddr.sin_addr != 0)
            break;
        ConnectFault = TConnectFault::HostNotFound;
        if (attempts > 0 || !OnInvalidHost)
            throw ESockError("Null Remote Address");
        bool Handled = false;
        OnInvalidHost(Handled);
        if (!Handled)
            throw ESockError("Null Remote Address");
        ConnectFault = TConnectFault::None;
    }
    RemoteAddr.sin_family = ws::AfInet;
    RemoteAddr.sin_port = ws::HtoNs(ProxyHost.empty() ? static_cast<std::uint16_t>(Port & 0xFFFF) : ProxyPort);
    AsyncDone = false;
    LastEventOk = true;
    FPeerClosed = false;
    FConnectOutcome = ConnectPending;
    if (ws::Connect(SocketHandle, RemoteAddr) == ws::SOCKET_ERROR)
        ErrorManager(ws::WSAEWOULDBLOCK);
    TimerOn();
    TimerScope timer(*this);
    // The wait ends at the connect notification itself: a peer that accepts and closes at
    // once has its close handled in the same pass, which clears Connected (and a reset sets
    // LastEventOk false) before the flags are looked at.
    auto done = [this] { return FConnectOutcome != ConnectPending || TimeoutFired || CancelRequested; };
    do
        WaitPass(done);
    while (!done());
    timer.Off();
    const bool refused = FConnectOutcome == ConnectRefused;
    FConnectOutcome = NoConnect;
    if (!(TimeoutFired || CancelRequested || refused)) {
        // Connected (a close that followed is for the next operation to find).
        if (TlsMode == TTlsMode::Implicit && Connected)
            ImplicitHandshake();
        return;
    }
    // The half-made connection is dropped so that the next Connect starts afresh (a socket
    // still connecting would refuse it with "Operation already in progress").
    Connected = false;
    ReplaceSocket();
    ConnectFault = TimeoutFired ? TConnectFault::TimedOut : CancelRequested ? TConnectFault::Canceled : TConnectFault::Refused;
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    throw ESockError(TimeoutFired ? "Connection Timed out" : CancelRequested ? "Connection Canceled" : "Connection Failed");
}

void TPowersock::ReplaceSocket()
{
    if (ShuttingDown)
        return;
    ws::CloseSocket(SocketHandle);
    SocketHandle = ws::Socket(ws::AfInet, ws::SockStream, 0);
    ws::AsyncSelect(SocketHandle, NotifyWindow, SocketEventMessage, SocketEventMask);
}

void TPowersock::CertifyConnect()
{
    StatusMessage(8, "Checking Connection");
    for (int attempts = 0; !Connected; ++attempts) {
        if (attempts > 0 || !OnConnectionRequired)
            throw Exception("Not Connected");
        bool Handled = false;
        OnConnectionRequired(Handled);
        if (!Handled)
            throw Exception("Not Connected");
    }
}

void TPowersock::Disconnect()
{
    StatusMessage(8, "Disconnecting");
    RequestCloseSocket();
}

void TPowersock::RequestCloseSocket()
{
    StatusMessage(4, "Request Close Socket");
    Connected = false;
    if (SocketHandle == ws::INVALID_SOCKET)
        return;
    if (ws::CloseSocket(SocketHandle) == ws::SOCKET_ERROR) {
        ErrorManager(ws::WSAEWOULDBLOCK);
        return;
    }
    ConnectionEnded();
    if (!IsDestroying() && OnDisconnect)
        OnDisconnect(this);
    if (ShuttingDown) {
        SocketHandle = ws::INVALID_SOCKET;
        return;
    }
    SocketHandle = ws::Socket(ws::AfInet, ws::SockStream, 0);
    ws::AsyncSelect(SocketHandle, NotifyWindow, SocketEventMessage, SocketEventMask);
}

void TPowersock::Close(ws::SocketHandle Socket)
{
    StatusMessage(8, "Closing Socket");
    ws::CloseSocket(Socket);
}

void TPowersock::Cancel()
{
    StatusMessage(8, "Canceling");
    CancelRequested = true;
    NotifyWaiters();
    // A wait on the component's own thread must wake too when the cancel comes from elsewhere.
    if (std::this_thread::get_id() != FOwnerThread)
        platform::PostMessage(NotifyWindow, platform::WM_NULL, 0, 0);
}

void TPowersock::Abort()
{
    StatusMessage(8, "Abort");
    Cancel();
}

void TPowersock::Wndproc(platform::TMessage& Message)
{
    try {
        const std::uint16_t code = platform::LoWord(Message.LParam);
        // A late reply of an earlier look-up is not this look-up's answer.
        if (Message.Msg == HostReplyMessage && code != ws::FD_ACCEPT
            && (FLookupTask == 0 || Message.WParam != static_cast<platform::WPARAM>(FLookupTask.load()))) {
            NotifyWaiters();
            return;
        }
        // Sockets accepted by a listener report to its window too: their notifications
        // are not about the component's own socket.
        if ((Message.Msg == SocketEventMessage || code == ws::FD_ACCEPT)
            && Message.WParam != static_cast<platform::WPARAM>(SocketHandle.load())) {
            NotifyWaiters();
            return;
        }
        LastEventOk = platform::HiWord(Message.LParam) == 0;
        if (Message.Msg == SocketEventMessage) {
            switch (code) {
            case ws::FD_READ:
                if (OnDataReady) {
                    try {
                        OnDataReady(this);
                    } catch (...) {
                    }
                }
                break;
            case ws::FD_ACCEPT:
                Connected = true;
                if (OnAcceptReady)
                    OnAcceptReady(this);
                break;
            case ws::FD_CONNECT:
                if (FConnectOutcome == ConnectPending)
                    FConnectOutcome = LastEventOk ? ConnectMade : ConnectRefused;
                if (LastEventOk) {
                    Connected = true;
                    if (OnConnect)
                        OnConnect(this);
                }
                break;
            case ws::FD_CLOSE:
                FPeerClosed = true;
                if (!DataAvailable())
                    RequestCloseSocket();
                break;
            default:
                break;
            }
        } else if (Message.Msg == HostReplyMessage) {
            if (code == ws::FD_ACCEPT) {
                Connected = true;
            } else if (LastEventOk) {
                ws::HostEntry entry;
                std::memcpy(&entry, HostEntryBuffer.get(), sizeof entry);
                FResolvedCount = entry.AddrCount;
                FResolvedAddr = entry.Addr[0];
            }
            AsyncDone = true;
        }
    } catch (...) {
        // Nothing raised while handling a notification leaves the handler.
    }
    Message.Result = 0;
    NotifyWaiters();
}

// ---- listening ----

void TPowersock::Listen(bool UseSecondMessage)
{
    StatusMessage(8, "Listening");
    if (Port < 0 || Port > 65535)
        throw ESockError("Invalid Port: " + std::to_string(Port));
    RemoteAddr = ws::SockAddrIn{};
    RemoteAddr.sin_family = ws::AfInet;
    RemoteAddr.sin_addr = ws::InetAddr("0.0.0.0");
    RemoteAddr.sin_port = ws::HtoNs(static_cast<std::uint16_t>(Port));
    AsyncDone = false;
    ws::Bind(SocketHandle, RemoteAddr);
    ws::AsyncSelect(SocketHandle, NotifyWindow, UseSecondMessage ? HostReplyMessage : SocketEventMessage, ws::FD_ACCEPT);
    ws::Listen(SocketHandle, 1);
}

ws::SocketHandle TPowersock::Accept()
{
    StatusMessage(4, "Accepting");
    auto done = [this] { return AsyncDone || CancelRequested; };
    do
        WaitPass(done);
    while (!done());
    if (CancelRequested)
        throw ESockError("Accepting Canceled");
    if (!LastEventOk)
        throw ESockError("Error creating Data Connection");
    // The readiness is used up: a later Accept waits for the next connection.
    AsyncDone = false;
    ws::SockAddrIn peer;
    ws::SocketHandle s = ws::Accept(SocketHandle, &peer);
    if (s == ws::INVALID_SOCKET) {
        ErrorManager(0);
        throw ESockError("Error creating Data Connection");
    }
    ws::AsyncSelect(s, NotifyWindow, SocketEventMessage, SocketEventMask);
    RemoteAddr = peer;
    return s;
}
