#pragma once
// TNMGeneralServer: the small listening server over TPowersock, and InstantiateServethread,
// the thread of one of its connections. The only code of the socket layer with threads of
// its own: accepting and the teardown of connection instances are serialised by one
// process-wide lock. A connection's Serve waits as the header of Psock.h describes for
// other threads. Failures of a dialogue end its connection silently; ListenOn raises
// ESockError.

#include "net/Psock.h"

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

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
    // Binds to Address (dotted IPv4) and APort (0: a free port), then listens there
    // (Loaded); returns the port. Raises ESockError "Port <n> is in use" (AddressInUse
    // true) when the port is taken, "Cannot bind <address>:<port>: <error>" when the bind
    // fails otherwise, "The listening socket is not on <address>" when it ended elsewhere,
    // "Invalid Port: <n>" outside 0..65535. GetLastErrorNo gives the bind's error number (0 when
    // the bind did not fail).
    int ListenOn(const std::string& Address, int APort);
    bool AddressInUse = false;   // the last ListenOn failed because the port was taken
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
