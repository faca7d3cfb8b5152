#include "net/Psock.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

const std::array<TWinsockMessage, 50> WinsockMessage = {{
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
}};

namespace {

// Live components holding Windows Sockets started, and what the first start reported.
std::mutex WinsockLock;
int WinsockUsers = 0;

constexpr int HostEntryBufferSize = 1024;

// Turns the timer off when a timed operation leaves early (by an exception); the normal
// way out calls Off() where the operation's own order puts it.
class TimerScope {
public:
    explicit TimerScope(TPowersock& s) : FSock(s) {}
    ~TimerScope()
    {
        if (!FDone) {
            try {
                FSock.TimerOff();
            } catch (...) {
            }
        }
    }
    void Off()
    {
        FDone = true;
        FSock.TimerOff();
    }

private:
    TPowersock& FSock;
    bool FDone = false;
};

std::string VersionText(std::uint16_t v)
{
    return std::to_string(v >> 8) + "." + std::to_string(v & 0xFF);
}

} // namespace

// ---- TThreadTimer ----

TThreadTimer::TThreadTimer(TComponent* AOwner) : TComponent(AOwner)
{
    FWindowHandle = TmrAllocateHWnd(this);
    if (!FWindowHandle)
        throw Exception("No Timer");
}

TThreadTimer::~TThreadTimer()
{
    FEnabled = false;
    try {
        UpdateTimer();
    } catch (...) {
    }
    platform::DeallocateHWnd(FWindowHandle);
}

platform::WindowHandle TThreadTimer::TmrAllocateHWnd(TThreadTimer* Object)
{
    return platform::AllocateHWnd([Object](unsigned msg, platform::WPARAM w, platform::LPARAM l) -> platform::LPARAM {
        if (!Object)
            return platform::DefWindowProc(msg, w, l);
        if (msg != platform::WM_ACTIVATEAPP) {
            platform::TMessage m{msg, w, l, 0};
            Object->Wndproc(m);
        }
        return 0;
    });
}

void TThreadTimer::SetEnabled(bool Value)
{
    if (Value == FEnabled)
        return;
    FEnabled = Value;
    UpdateTimer();
}

void TThreadTimer::SetInterval(std::uint32_t Value)
{
    if (Value == FInterval)
        return;
    FInterval = Value;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent Value)
{
    FOnTimer = std::move(Value);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer()
{
    // Setting the timer kills the earlier setting too (a fresh countdown): one call does.
    if (FInterval != 0 && FEnabled && FOnTimer) {
        if (!platform::SetTimer(FWindowHandle, 1, FInterval))
            throw Exception("No Timer");
    } else {
        platform::KillTimer(FWindowHandle, 1);
    }
}

void TThreadTimer::Wndproc(platform::TMessage& Message)
{
    if (Message.Msg != platform::WM_TIMER)
        return;
    try {
        Timer();
    } catch (...) {
        platform::HandleException(this);
    }
}

void TThreadTimer::Timer()
{
    if (FOnTimer)
        FOnTimer(this);
}

// ---- TPowersock: construction ----

TPowersock::TPowersock(TComponent* AOwner) : TComponent(AOwner)
{
    StatusMessage(8, "Create");
    FOwnerThread = std::this_thread::get_id();
    NotifyWindow = PsockAllocateHWnd(this);
    if (!NotifyWindow)
        throw ESockError("Initializaton of windows sockets failed (no notification window: the application object is missing)");
    try {
        ProxyHost = "";
        HostEntryBuffer = std::make_unique<char[]>(HostEntryBufferSize);
        FTimer = new TThreadTimer(this);
        FTimer->SetEnabled(false);
        FTimer->SetOnTimer([this](TObject* Sender) { TimerFired(Sender); });
        TimeOut = 0;
        CancelRequested = false;
        ShuttingDown = false;
        Connected = false;
        InitWinsock();
    } catch (...) {
        platform::DeallocateHWnd(NotifyWindow);
        throw;
    }
}

void TPowersock::InitWinsock()
{
    StatusMessage(8, "Initializing Winsock");
    std::lock_guard lock(WinsockLock);
    if (++WinsockUsers == 1) {
        ws::WSAData data;
        ws::Startup(0x0101, data);
        WinsockInfo.Add("Version= " + VersionText(data.wVersion));
        WinsockInfo.Add("High Version= " + VersionText(data.wHighVersion));
        WinsockInfo.Add("Description= " + std::string(data.szDescription).substr(0, 256));
        WinsockInfo.Add("System= " + std::string(data.szSystemStatus).substr(0, 128));
        WinsockInfo.Add("Max Sockets= " + std::to_string(data.iMaxSockets));
        WinsockInfo.Add("Max Udp pack size= " + std::to_string(data.iMaxUdpDg));
    }
    try {
        SocketHandle = ws::Socket(ws::AfInet, ws::SockStream, ws::IpProtoTcp);
        ws::SetLinger(SocketHandle, true, 0);
        if (SocketHandle == ws::INVALID_SOCKET) {
            ErrorManager(ws::WSAEWOULDBLOCK);
            throw ESockError("no socket");
        }
        ws::AsyncSelect(SocketHandle, NotifyWindow, SocketEventMessage, SocketEventMask);
    } catch (...) {
        if (--WinsockUsers == 0)
            ws::Cleanup();
        throw ESockError("Initializaton of windows sockets failed");
    }
}

TPowersock::~TPowersock()
{
    Destroying();
    StatusMessage(8, "Destroy");
    try {
        Abort();
    } catch (...) {
    }
    try {
        Cancel();
    } catch (...) {
    }
    // The window goes first: a look-up reply still queued must not write into the buffer.
    platform::DeallocateHWnd(NotifyWindow);
    NotifyWindow = 0;
    delete FTimer;
    FTimer = nullptr;
    HostEntryBuffer.reset();
    ShuttingDown = true;
    try {
        RequestCloseSocket();
    } catch (...) {
    }
    std::lock_guard lock(WinsockLock);
    if (--WinsockUsers == 0)
        ws::Cleanup();
}

platform::WindowHandle TPowersock::PsockAllocateHWnd(TPowersock* Object)
{
    return platform::AllocateHWnd([Object](unsigned msg, platform::WPARAM w, platform::LPARAM l) -> platform::LPARAM {
        if (!Object)
            return platform::DefWindowProc(msg, w, l);
        if (msg < SocketEventMessage) {
            Object->NotifyWaiters();
            return platform::DefWindowProc(msg, w, l);
        }
        platform::TMessage m{msg, w, l, 0};
        Object->Wndproc(m);
        return m.Result;
    });
}

void TPowersock::StatusMessage(std::uint8_t Level, const char* Text)
{
    if (Level <= ReportLevel)
        StatusMessage(Level, std::string(Text));
}

void TPowersock::StatusMessage(std::uint8_t Level, const std::string& Text)
{
    try {
        if (Level <= ReportLevel) {
            Status = Text;
            if (!IsDestroying() && OnStatus)
                OnStatus(this, Status);
        }
    } catch (...) {
        // A status report never fails the operation that reports it.
    }
}

// ---- waiting ----

void TPowersock::WaitPass(const std::function<bool()>& leave)
{
    if (std::this_thread::get_id() == FOwnerThread) {
        if (leave())
            platform::ProcessMessages();
        else
            platform::HandleMessage();
        return;
    }
    std::unique_lock lock(FWaitLock);
    FWaitCv.wait(lock, [&] { return FEventSerial != FSeenSerial || leave(); });
    FSeenSerial = FEventSerial;
}

void TPowersock::NotifyWaiters()
{
    {
        std::lock_guard lock(FWaitLock);
        ++FEventSerial;
    }
    FWaitCv.notify_all();
}

// ---- connection ----

void TPowersock::ResolveRemoteHost()
{
    StatusMessage(8, "Resolve Host");
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
    FLookupTask = 0;
    timer.Off();
    if (TimeoutFired)
        throw ESockError("Host Lookup Timed Out");
    if (CancelRequested)
        throw ESockError("Host Lookup Canceled");
    if (!LastEventOk || FResolvedCount == 0)
        throw ESockError("Host Lookup Failed");
    RemoteAddr.sin_addr = FResolvedAddr;
    if (OnHostResolved)
        OnHostResolved(this);
}

void TPowersock::Connect()
{
    StatusMessage(8, "Connecting");
    CancelRequested = false;
    if (Connected)
        throw ESockError("Already connected");
    for (int attempts = 0;; ++attempts) {
        try {
            ResolveRemoteHost();
        } catch (const ESockError& e) {
            if (e.Message == "Host Lookup Timed Out" || e.Message == "Host Lookup Canceled")
                throw;
        }
        if (RemoteAddr.sin_addr != 0)
            break;
        if (attempts > 0 || !OnInvalidHost)
            throw ESockError("Null Remote Address");
        bool Handled = false;
        OnInvalidHost(Handled);
        if (!Handled)
            throw ESockError("Null Remote Address");
    }
    RemoteAddr.sin_family = ws::AfInet;
    RemoteAddr.sin_port = ws::HtoNs(ProxyHost.empty() ? static_cast<std::uint16_t>(Port & 0xFFFF) : ProxyPort);
    AsyncDone = false;
    LastEventOk = true;
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
    if (!(TimeoutFired || CancelRequested || refused))
        return;   // connected (a close that followed is for the next operation to find)
    // The half-made connection is dropped so that the next Connect starts afresh (a socket
    // still connecting would refuse it with "Operation already in progress").
    Connected = false;
    ReplaceSocket();
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

// ---- data transfer ----

void TPowersock::ThrowIfCanceled(const char* Text)
{
    if (CancelRequested) {
        CancelRequested = false;
        throw EAbortError(Text);
    }
}

bool TPowersock::ReceiveChunk(const std::function<void(const char*, int)>& Sink, bool Timed)
{
    int n = ws::Recv(SocketHandle, TransferBuffer, TransferBufferSize, 0);
    if (n == 0)
        return false;
    if (n > 0) {
        Sink(TransferBuffer, n);
        FBytesRecvd += n;
        if (OnPacketRecvd)
            OnPacketRecvd(this);
        if (Timed)
            TimerOn();
        return true;
    }
    if (Timed) {
        FLastErrorNo = ws::GetLastError();
        if (FLastErrorNo == ws::WSAENOTCONN)
            return false;
    }
    ErrorManager(ws::WSAEWOULDBLOCK);
    return true;
}

bool TPowersock::SendChunk(const char* Data, int Length, bool Pump)
{
    int remaining = Length;
    do {
        int n = ws::Send(SocketHandle, Data + (Length - remaining), remaining);
        if (n == 0)
            return false;
        if (n < 0) {
            ErrorManager(ws::WSAEWOULDBLOCK);
            // The peer is not reading: wait until the socket takes data again instead of
            // offering the same bytes in a busy loop.
            if (Pump) {
                ws::AsyncNotifyWritable(SocketHandle);
                WaitPass([this] { return CancelRequested.load(); });
            } else {
                ws::WaitWritable(SocketHandle, 100);
            }
        } else {
            remaining -= n;
            if (Pump) {
                BytesSent += n;
                if (OnPacketSent)
                    OnPacketSent(this);
                WaitPass([] { return true; });
            }
        }
    } while (remaining > 0 && !CancelRequested);
    return true;
}

void TPowersock::SendBuffer(const char* Buffer, std::uint16_t Length)
{
    StatusMessage(4, "Sending Buffer");
    // Sending does not pump, so no tick can come before the TimerOff below: when the timer
    // is off now, what TimerOn and TimerOff leave behind (TimeoutFired cleared, the timer
    // off) is had without setting the window timer.
    StartTimeout(FTimer->Enabled());
    TimerScope timer(*this);
    if (!CancelRequested) {
        std::size_t length = Length;
        if (length == 0) {
            length = strnlen(Buffer, TransferBufferSize);
            if (length > 65535)
                throw ESockError("Send buffer too long: 65536 bytes or more before the end of the text");
        }
        SendChunk(Buffer, static_cast<int>(length), false);
    }
    timer.Off();
    ThrowIfCanceled("Socket send aborted");
}

void TPowersock::Write(const std::string& Text)
{
    StatusMessage(8, "Write");
    std::size_t n = std::min(Text.size(), static_cast<std::size_t>(TransferBufferSize));
    std::memcpy(TransferBuffer, Text.data(), n);
    TransferBuffer[n] = '\0';
    SendBuffer(TransferBuffer, 0);
}

void TPowersock::Writeln(const std::string& Text)
{
    StatusMessage(8, "Writeln");
    Write(Text + "\r\n");
}

std::string TPowersock::Read(std::uint16_t Count)
{
    StatusMessage(8, "Read( " + std::to_string(Count) + " )");
    int count = Count;
    if (count == 0) {
        int n = ws::Recv(SocketHandle, TransferBuffer, TransferBufferSize, ws::MsgPeek);
        if (n < 0) {
            ErrorManager(ws::WSAEWOULDBLOCK);
            return "";
        }
        count = std::min(n, 65535);
    }
    if (count > 0) {
        do {
            int n = ws::Recv(SocketHandle, TransferBuffer, TransferBufferSize, ws::MsgPeek);
            if (n >= count)
                break;
            if (n == 0)
                return "";
            if (n < 0)
                ErrorManager(ws::WSAEWOULDBLOCK);
            WaitPass([this] { return CancelRequested.load(); });
        } while (!CancelRequested);
    }
    ThrowIfCanceled("Socket send aborted");
    std::string result(static_cast<std::size_t>(count), '\0');
    int n = ws::Recv(SocketHandle, result.data(), count, 0);
    result.resize(static_cast<std::size_t>(std::max(n, 0)));
    return result;
}

std::string TPowersock::ReadLn()
{
    StatusMessage(8, "ReadLn");
    std::string result;
    int consumed = 0;
    TimerOn();
    TimerScope timer(*this);
    enum { Canceled, AtLineEnd, NotConnected } how;
    int k = 0;
    for (;;) {
        int room = TransferBufferSize - consumed;
        if (room == 0)
            throw ESockError("Line too long: no line end within " + std::to_string(TransferBufferSize) + " bytes");
        int n = ws::Recv(SocketHandle, TransferBuffer + consumed, room, ws::MsgPeek);
        if (n == 0)
            return "";
        if (n < 0) {
            FLastErrorNo = ws::GetLastError();
            if (FLastErrorNo == ws::WSAENOTCONN) {
                how = NotConnected;
                break;
            }
            ErrorManager(ws::WSAEWOULDBLOCK);
        } else {
            const void* lf = std::memchr(TransferBuffer + consumed, '\n', static_cast<std::size_t>(n));
            if (lf) {
                k = static_cast<int>(static_cast<const char*>(lf) - (TransferBuffer + consumed));
                how = AtLineEnd;
                break;
            }
            result.resize(static_cast<std::size_t>(consumed + n));
            int got = ws::Recv(SocketHandle, result.data() + consumed, n, 0);
            if (got < 0)
                ErrorManager(ws::WSAEWOULDBLOCK);
            consumed += std::max(got, 0);
            result.resize(static_cast<std::size_t>(consumed));
        }
        WaitPass([this] { return CancelRequested.load(); });
        if (CancelRequested) {
            how = Canceled;
            break;
        }
    }
    if (how == Canceled) {
        CancelRequested = false;
        throw EAbortError("Socket readln aborted");
    }
    if (how == NotConnected)
        return "";   // the close notification replaced the socket: the peer has closed
    result.resize(static_cast<std::size_t>(consumed + k + 1));
    int got = ws::Recv(SocketHandle, result.data() + consumed, k + 1, 0);
    if (got < 0)
        ErrorManager(ws::WSAEWOULDBLOCK);
    result.resize(static_cast<std::size_t>(consumed + std::max(got, 0)));
    return result;
}

std::string TPowersock::Transaction(const std::string& Command)
{
    StatusMessage(8, "Transaction");
    LastReplyCode = 0;
    Writeln(Command);
    LastReply = ReadLn();
    if (!LastReply.empty()) {
        StatusMessage(1, LastReply);
        std::size_t digits = 0;
        while (digits < 10 && digits < LastReply.size() && LastReply[digits] >= '0' && LastReply[digits] <= '9')
            ++digits;
        if (digits > 0) {
            long long value = std::stoll(LastReply.substr(0, digits));
            if (value > 2147483647LL)
                value = 0;   // not a 32-bit number
            LastReplyCode = static_cast<std::int16_t>(std::min(value, 32767LL));
        }
    }
    return LastReply;
}

void TPowersock::SendFile(const std::string& FileName)
{
    StatusMessage(8, "SendFile");
    TFileStream file(FileName, fmOpenRead);
    do {
        if (!CancelRequested) {
            long long got = file.Read(TransferBuffer, TransferBufferSize);
            SendChunk(TransferBuffer, static_cast<int>(std::max(got, 0LL)), true);
        }
    } while (file.Position() != file.Size() && !CancelRequested);
    ThrowIfCanceled("Socket send aborted");
}

void TPowersock::SendStream(TStream& Stream)
{
    StatusMessage(8, "SendStream");
    Stream.SetPosition(0);
    if (!CancelRequested) {
        BytesSent = 0;
        FBytesTotal = static_cast<int>(Stream.Size());
        do {
            long long chunk = std::min(Stream.Size() - Stream.Position(), static_cast<long long>(TransferBufferSize));
            Stream.ReadBuffer(TransferBuffer, chunk);
            if (!SendChunk(TransferBuffer, static_cast<int>(chunk), true))
                return;
        } while (Stream.Size() != Stream.Position() && !CancelRequested);
    }
    ThrowIfCanceled("Socket send aborted");
}

void TPowersock::AppendFile(const std::string& FileName)
{
    StatusMessage(8, "Append File");
    FBytesRecvd = 0;
    {
        TFileStream file(FileName, fmOpenWrite);
        file.Seek(0, soEnd);
        auto leave = [this] { return !Connected || CancelRequested; };
        auto sink = [&file](const char* data, int n) { file.WriteBuffer(data, n); };
        // Also ends when the peer closed: unread data may have kept Connected set.
        while (!leave() && ReceiveChunk(sink, false))
            WaitPass(leave);
    }
    ThrowIfCanceled("Socket send aborted");
}

void TPowersock::CaptureFile(const std::string& FileName)
{
    StatusMessage(8, "CaptureFile");
    FBytesRecvd = 0;
    TimerOn();
    TimerScope timer(*this);
    {
        TFileStream file(FileName, fmCreate);
        auto sink = [&file](const char* data, int n) { file.WriteBuffer(data, n); };
        while (!CancelRequested && ReceiveChunk(sink, true))
            WaitPass([this] { return CancelRequested.load(); });
    }
    timer.Off();
    ThrowIfCanceled("Socket send aborted");
}

void TPowersock::CaptureStream(TStream& Stream, int Size)
{
    StatusMessage(8, "Capture Stream");
    FBytesRecvd = 0;
    TimerOn();
    TimerScope timer(*this);
    auto wanted = [&] { return Size == -1 || Size > Stream.Size(); };
    auto sink = [&Stream](const char* data, int n) { Stream.WriteBuffer(data, n); };
    while (!CancelRequested && wanted()) {
        if (!ReceiveChunk(sink, true))
            break;
        WaitPass([&] { return CancelRequested || Size == -1 || !wanted(); });
        if (Size == -1)
            break;
    }
    timer.Off();
    ThrowIfCanceled("Socket capture aborted");
}

void TPowersock::CaptureString(std::string& Text, int Size)
{
    StatusMessage(8, "Capture String");
    Text.clear();
    FBytesRecvd = 0;
    TimerOn();
    TimerScope timer(*this);
    auto wanted = [&] { return Size == -1 || static_cast<long long>(Text.size()) < Size; };
    auto sink = [&Text](const char* data, int n) { Text.append(data, static_cast<std::size_t>(n)); };
    while (!CancelRequested && wanted() && ReceiveChunk(sink, true))
        WaitPass([&] { return CancelRequested || !wanted(); });
    timer.Off();
    ThrowIfCanceled("Socket capture aborted");
}

void TPowersock::FilterHeader(TStream& Stream)
{
    StatusMessage(8, "FilterHeader");
    std::string line;
    do {
        line = ReadLn();
        if (!line.empty())
            Stream.WriteBuffer(line.data(), static_cast<long long>(line.size()));
    } while (!(line == "\n" || line == "\r\n" || line.empty()));
}

bool TPowersock::DataAvailable()
{
    StatusMessage(8, "Data Available");
    char c;
    return ws::Recv(SocketHandle, &c, 1, ws::MsgPeek) > 0;
}

void TPowersock::ClearInput()
{
    StatusMessage(8, "Clearing Input");
    ws::Recv(SocketHandle, TransferBuffer, TransferBufferSize, 0);
}

// ---- time-out and errors ----

void TPowersock::TimerOn()
{
    StartTimeout(true);
}

void TPowersock::StartTimeout(bool Arm)
{
    StatusMessage(8, "Timer On");
    TimeoutFired = false;
    if (TimeOut < 0)
        throw ESockError("Invalid TimeOut: " + std::to_string(TimeOut) + " (milliseconds, 0 for no limit)");
    FTimer->SetInterval(static_cast<std::uint32_t>(TimeOut));
    if (!Arm)
        return;
    if (FTimer->Enabled())
        FTimer->UpdateTimer();
    else
        FTimer->SetEnabled(true);
}

void TPowersock::TimerOff()
{
    StatusMessage(8, "Timer Off");
    FTimer->SetEnabled(false);
}

void TPowersock::TimerFired(TObject*)
{
    StatusMessage(8, "Timer Triggered");
    TimerOff();
    TimeoutFired = true;
    AsyncDone = true;
    NotifyWaiters();
    Abort();
}

std::string TPowersock::SocketErrorStr(std::uint16_t ErrorNo)
{
    StatusMessage(8, "Looking Up Error Message");
    if (ErrorNo == 0)
        return "";
    for (const TWinsockMessage& m : WinsockMessage) {
        if (m.ErrorNo == ErrorNo)
            return std::to_string(ErrorNo) + ":" + m.Text;
    }
    return "Unknown Error No. " + std::to_string(ErrorNo);
}

std::string TPowersock::ErrorManager(std::uint16_t Ignored)
{
    FLastErrorNo = ws::GetLastError();
    int error = FLastErrorNo;
    if (error != Ignored && error > 10000) {
        std::string text = SocketErrorStr(static_cast<std::uint16_t>(error));
        if (OnError)
            OnError(this, static_cast<std::uint16_t>(error), text);
        throw ESockError(text);
    }
    return "";
}

void TPowersock::SetWSAError(std::uint16_t ErrorNo, const std::string& Message)
{
    StatusMessage(8, "Setting Winsock Error");
    FLastErrorNo = ErrorNo;
    std::string text = Message.empty() ? SocketErrorStr(ErrorNo) : Message;
    ws::SetLastError(ErrorNo);
    if (OnError)
        OnError(this, ErrorNo, text);
}

int TPowersock::GetLastErrorNo()
{
    StatusMessage(8, "Getting LastError Number");
    return FLastErrorNo;
}

void TPowersock::SetLastErrorNo(int Value)
{
    StatusMessage(8, "Setting LastError Number");
    FLastErrorNo = Value;
}

std::string TPowersock::GetRemoteIP()
{
    StatusMessage(8, "Getting Remote IP");
    return ws::InetNtoa(RemoteAddr.sin_addr);
}

std::string TPowersock::GetLocalIP()
{
    StatusMessage(8, "Getting Local IP");
    char name[200];
    std::uint32_t addr = 0;
    if (ws::GetHostName(name, sizeof name) != 0 || ws::GetHostByName(name, addr) != 0)
        return "";
    const auto* b = reinterpret_cast<const unsigned char*>(&addr);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return text;
}

std::string TPowersock::GetLocalAddress()
{
    ws::SockAddrIn local;
    if (ws::GetSockName(SocketHandle, local) != 0)
        return "0,0,0,0";
    std::string text = ws::InetNtoa(local.sin_addr);
    std::replace(text.begin(), text.end(), '.', ',');
    return text;
}

std::string TPowersock::GetPortString()
{
    ws::SockAddrIn local;
    if (ws::GetSockName(SocketHandle, local) != 0)
        return ",0,0";
    std::uint16_t port = ws::NtoHs(local.sin_port);
    return "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
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

// ---- free functions ----

std::string NthWord(const std::string& Text, char Delimiter, int N)
{
    return std::string(NthWordView(Text, Delimiter, N));
}

std::string_view NthWordView(std::string_view Text, char Delimiter, int N)
{
    if (N <= 0)
        return {};
    for (; N > 1; --N) {
        const std::size_t at = Text.find(Delimiter);
        if (at == std::string_view::npos)
            return {};
        Text.remove_prefix(at + 1);
    }
    return Text.substr(0, Text.find(Delimiter));
}

int NthPos(const std::string& Text, char Delimiter, int N)
{
    int count = 0;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == Delimiter && ++count == N)
            return static_cast<int>(i) + 1;
    }
    return static_cast<int>(Text.size()) + 1;
}

void StreamLn(TStream& Stream, const std::string& Text)
{
    std::string line = Text + "\r\n";
    Stream.WriteBuffer(line.data(), static_cast<long long>(line.size()));
}

// ---- TNMGeneralServer ----

namespace {
// Serialises accepting with the teardown of connection instances, for all servers.
std::recursive_mutex ServerLock;
}

void TNMGeneralServer::TClientList::Add(TNMGeneralServer* Server)
{
    std::lock_guard lock(FLock);
    FItems.push_back(Server);
}

void TNMGeneralServer::TClientList::Remove(TNMGeneralServer* Server)
{
    std::lock_guard lock(FLock);
    FItems.erase(std::remove(FItems.begin(), FItems.end(), Server), FItems.end());
}

std::vector<TNMGeneralServer*> TNMGeneralServer::TClientList::Snapshot() const
{
    std::lock_guard lock(FLock);
    return FItems;
}

int TNMGeneralServer::TClientList::Count() const
{
    std::lock_guard lock(FLock);
    return static_cast<int>(FItems.size());
}

TNMGeneralServer::TNMGeneralServer(TComponent* AOwner) : TPowersock(AOwner)
{
    if (!dynamic_cast<TNMGeneralServer*>(AOwner))
        ClientList = std::make_unique<TClientList>();
}

TNMGeneralServer::~TNMGeneralServer()
{
    try {
        Abort();
    } catch (...) {
    }
    // The connection threads use their instances: wait for them (their waits were just
    // canceled) before the instances go.
    std::lock_guard lock(ServerLock);
    for (InstantiateServethread* t : FThreads)
        delete t;
    FThreads.clear();
    ClientList.reset();
}

TNMGeneralServer* TNMGeneralServer::NewConnectionServer()
{
    return new TNMGeneralServer(this);
}

void TNMGeneralServer::Loaded()
{
    TPowersock::Loaded();
    OnAcceptReady = [this](TObject* Sender) { ServerAccept(Sender); };
    Listen(false);
}

void TNMGeneralServer::Abort()
{
    if (!ClientList) {
        // A connection instance: its own wait ends (the time-out calls this too).
        TPowersock::Abort();
        return;
    }
    for (TNMGeneralServer* client : ClientList->Snapshot()) {
        try {
            client->Cancel();
        } catch (...) {
        }
    }
}

void TNMGeneralServer::ServerAccept(TObject*)
{
    {
        std::lock_guard lock(ServerLock);
        try {
            AsyncDone = true;
            ws::SocketHandle s = Accept();
            FThreads.insert(new InstantiateServethread(this, s));
        } catch (...) {
            // The server keeps listening; OnClientContact still reports the attempt.
        }
    }
    if (OnClientContact)
        OnClientContact(this);
}

void TNMGeneralServer::ServeThreadEnded(InstantiateServethread* Thread)
{
    std::lock_guard lock(ServerLock);
    if (!FThreads.erase(Thread))
        return;
    delete Thread;
}

// ---- InstantiateServethread ----

InstantiateServethread::InstantiateServethread(TNMGeneralServer* Owner, ws::SocketHandle Socket)
    : FListener(Owner), FListenerWindow(Owner->NotifyWindow)
{
    bool handedOver = false;
    try {
        ConnectionServer = Owner->NewConnectionServer();
        ConnectionServer->Connected = true;
        ConnectionServer->RemoteAddr = Owner->RemoteAddr;
        ConnectionServer->ServeThread = this;
        ConnectionServer->OnConnect = Owner->OnConnect;
        ConnectionServer->OnDisconnect = Owner->OnDisconnect;
        ConnectionServer->Close(ConnectionServer->SocketHandle);
        ConnectionServer->SocketHandle = Socket;
        handedOver = true;
        if (Owner->ClientList)
            Owner->ClientList->Add(ConnectionServer);
        ws::AsyncSelect(Socket, ConnectionServer->NotifyWindow, SocketEventMessage, SocketEventMask);
        ConnectionServer->ListenerServer = Owner;
    } catch (...) {
        if (!handedOver)
            ws::CloseSocket(Socket);
    }
    FThread = std::thread([this] { Execute(); });
}

void InstantiateServethread::Execute()
{
    try {
        if (ConnectionServer)
            ConnectionServer->Serve();
    } catch (...) {
        // A failing dialogue ends its connection silently.
    }
    // The instance's window and timer belong to the listening server's thread: it is
    // destroyed there.
    TNMGeneralServer* listener = FListener;
    platform::PostCall(FListenerWindow, [listener, self = this] { listener->ServeThreadEnded(self); });
}

InstantiateServethread::~InstantiateServethread()
{
    if (FThread.joinable())
        FThread.join();
    std::lock_guard lock(ServerLock);
    try {
        if (ConnectionServer) {
            if (FListener->ClientList)
                FListener->ClientList->Remove(ConnectionServer);
            delete ConnectionServer;
        }
    } catch (...) {
    }
    ConnectionServer = nullptr;
}
