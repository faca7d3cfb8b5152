#pragma once
// TDemoPop3Server: the demo POP3 server, a TNMGeneralServer whose connection instances run
// a Pop3Session on their worker threads with the component's own ReadLn, Writeln and
// SendBuffer. The thread that calls ListenOnLoopback must run an event loop (the
// connections' waits depend on it), and must be the one that destroys the server.
//
// It listens on 127.0.0.1 only, so the demo mailbox is never reachable from the network.
// A connection that stays silent for ten minutes is dropped without deleting anything.

#include "net/Psock.h"
#include "tools/MessageStore.h"
#include "tools/Pop3Session.h"

#include <memory>

class TDemoPop3Server : public TNMGeneralServer {
public:
    explicit TDemoPop3Server(TComponent* AOwner);

    // Binds to 127.0.0.1:port (0: a free port) and listens; returns the port. Raises
    // ESockError "Port <n> is in use" (ErrorNo 10048) when the port is taken, ESockError
    // otherwise.
    int ListenOnLoopback(int port);

    TNMGeneralServer* NewConnectionServer() override;
    void Serve() override;

    std::shared_ptr<demo::MessageStore> Store;
    demo::Credentials Credentials;
    int IdleTimeOut = 10 * 60 * 1000;  // milliseconds per wait for a command
    int ErrorNo = 0;                   // Winsock number of the last ListenOnLoopback failure

private:
    // Sends bytes of any length and content (Write stops at a NUL and at 64 KiB).
    void SendAll(const std::string& bytes);
    // After the QUIT reply: gives the client half a second to close first (a client closes
    // at once), so that the connection does not wait out its time on the server's port,
    // which would keep the next run from binding the same port again.
    void AwaitClientClose();
};
