#include "tools/DemoServer.h"

#include <algorithm>

namespace {
constexpr std::size_t SendPiece = 65535;  // the largest length SendBuffer takes
constexpr int CloseGrace = 500;           // milliseconds the client gets to close after QUIT
}

TDemoPop3Server::TDemoPop3Server(TComponent* AOwner) : TNMGeneralServer(AOwner)
{
}

int TDemoPop3Server::ListenOnLoopback(int port)
{
    ErrorNo = 0;
    try {
        return ListenOn("127.0.0.1", port);
    } catch (const ESockError&) {
        ErrorNo = GetLastErrorNo();
        throw;
    }
}

TNMGeneralServer* TDemoPop3Server::NewConnectionServer()
{
    auto* connection = new TDemoPop3Server(this);
    connection->Store = Store;
    connection->Credentials = Credentials;
    connection->IdleTimeOut = IdleTimeOut;
    return connection;
}

void TDemoPop3Server::SendAll(const std::string& bytes)
{
    for (std::size_t at = 0; at < bytes.size(); at += SendPiece) {
        const std::size_t n = std::min(SendPiece, bytes.size() - at);
        SendBuffer(bytes.data() + at, static_cast<std::uint16_t>(n));
    }
}

void TDemoPop3Server::Serve()
{
    TimeOut = IdleTimeOut;
    demo::Pop3Session session(Store, Credentials);
    SendAll(demo::Pop3Session::Greeting());
    for (;;) {
        std::string line = ReadLn();
        if (line.empty())
            return;  // the client has gone: no QUIT, nothing is deleted
        line.pop_back();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const demo::Pop3Reply reply = session.Handle(line);
        SendAll(reply.Bytes);
        if (reply.Close) {
            AwaitClientClose();
            return;
        }
    }
}

void TDemoPop3Server::AwaitClientClose()
{
    TimeOut = CloseGrace;
    try {
        while (!ReadLn().empty()) {
        }
    } catch (const ESockError&) {
        // Time-out: the server closes first after all.
    }
}
