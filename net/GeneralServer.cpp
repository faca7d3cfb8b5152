#include "net/GeneralServer.h"

#include <algorithm>

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

int TNMGeneralServer::ListenOn(const std::string& Address, int APort)
{
    AddressInUse = false;
    FLastErrorNo = 0;
    if (APort < 0 || APort > 65535)
        throw ESockError("Invalid Port: " + std::to_string(APort));
    // Listen binds to every address, and ignores a failed bind: bound here first, the socket
    // stays on the address.
    ws::SockAddrIn wanted;
    wanted.sin_family = ws::AfInet;
    wanted.sin_addr = ws::InetAddr(Address.c_str());
    wanted.sin_port = ws::HtoNs(static_cast<std::uint16_t>(APort));
    if (ws::Bind(SocketHandle, wanted) != 0) {
        FLastErrorNo = ws::GetLastError();
        AddressInUse = FLastErrorNo == ws::WSAEADDRINUSE;
        if (AddressInUse)
            throw ESockError("Port " + std::to_string(APort) + " is in use");
        throw ESockError("Cannot bind " + Address + ":" + std::to_string(APort) + ": " + SocketErrorStr(static_cast<std::uint16_t>(FLastErrorNo.load())));
    }
    Port = APort;
    Loaded();
    ws::SockAddrIn bound;
    if (ws::GetSockName(SocketHandle, bound) != 0 || bound.sin_addr != wanted.sin_addr)
        throw ESockError("The listening socket is not on " + Address);
    Port = ws::NtoHs(bound.sin_port);
    return Port;
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
