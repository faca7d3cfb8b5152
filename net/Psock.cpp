#include "net/Psock.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Live components holding Windows Sockets started, and what the first start reported.
std::mutex WinsockLock;
int WinsockUsers = 0;

std::string VersionText(std::uint16_t v)
{
    return std::to_string(v >> 8) + "." + std::to_string(v & 0xFF);
}

} // namespace

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
        FCancelWait = [this] { return CancelRequested.load(); };
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

void TPowersock::operator delete(TPowersock* Object, std::destroying_delete_t)
{
    if (Object->InWait() && std::this_thread::get_id() == Object->FOwnerThread) {
        if (!Object->FDeletePending) {
            Object->FDeletePending = true;
            Object->DetachEvents();
            Object->Destroying();
            try {
                Object->Abort();
            } catch (...) {
            }
            platform::SetTimer(Object->NotifyWindow, DeferredDeleteTimer, 10);
        }
        return;
    }
    void* block = dynamic_cast<void*>(Object);
    Object->~TPowersock();
    ::operator delete(block);
}

void TPowersock::FinishDeferredDelete(TPowersock* Object)
{
    if (!Object->InWait())
        delete Object;   // else the timer ticks again
}

void TPowersock::DetachEvents()
{
    ParkEvent(OnConnect);
    ParkEvent(OnDisconnect);
    ParkEvent(OnConnectionFailed);
    ParkEvent(OnInvalidHost);
    ParkEvent(OnHostResolved);
    ParkEvent(OnStatus);
    ParkEvent(OnConnectionRequired);
    ParkEvent(OnPacketRecvd);
    ParkEvent(OnError);
    ParkEvent(OnPacketSent);
    ParkEvent(OnDataReady);
    ParkEvent(OnAcceptReady);
}

platform::WindowHandle TPowersock::PsockAllocateHWnd(TPowersock* Object)
{
    return platform::AllocateHWnd([Object](unsigned msg, platform::WPARAM w, platform::LPARAM l) -> platform::LPARAM {
        if (!Object)
            return platform::DefWindowProc(msg, w, l);
        if (msg == platform::WM_TIMER && w == DeferredDeleteTimer) {
            FinishDeferredDelete(Object);
            return 0;
        }
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
        if (FDeletePending) {
            CancelRequested = true;   // deleted: no more pumping, the wait unwinds
            return;
        }
        struct Depth {
            int& N;
            explicit Depth(int& n) : N(n) { ++N; }
            ~Depth() { --N; }
        } depth(FWaitDepth);
        if (leave())
            platform::ProcessMessages();
        else
            platform::HandleMessage();
        if (FDeletePending)
            CancelRequested = true;
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
