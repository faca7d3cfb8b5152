#include "tools/DemoServer.h"

#include <algorithm>

namespace {
constexpr std::size_t kSendPiece = 65535;  // the largest length SendBuffer takes
constexpr int kCloseGrace = 500;           // milliseconds the client gets to close after QUIT
}

TDemoPop3Server::TDemoPop3Server(TComponent* AOwner) : TNMGeneralServer(AOwner)
{
}

int TDemoPop3Server::ListenOnLoopback(int port)
{
    ErrorNo = 0;
    if (port < 0 || port > 65535)
        throw ESockError("Invalid Port: " + std::to_string(port));
    // Listen binds to every address, and ignores a failed bind: bound here first, the socket
    // stays on the loopback address.
    ws::SockAddrIn loopback;
    loopback.sin_family = ws::AfInet;
    loopback.sin_addr = ws::InetAddr("127.0.0.1");
    loopback.sin_port = ws::HtoNs(static_cast<std::uint16_t>(port));
    if (ws::Bind(SocketHandle, loopback) != 0) {
        ErrorNo = ws::GetLastError();
        if (ErrorNo == ws::WSAEADDRINUSE)
            throw ESockError("Port " + std::to_string(port) + " is in use");
        throw ESockError("Cannot bind 127.0.0.1:" + std::to_string(port) + ": " + SocketErrorStr(static_cast<std::uint16_t>(ErrorNo)));
    }
    Port = port;
    Loaded();
    ws::SockAddrIn bound;
    if (ws::GetSockName(SocketHandle, bound) != 0 || bound.sin_addr != loopback.sin_addr)
        throw ESockError("The listening socket is not on 127.0.0.1");
    Port = ws::NtoHs(bound.sin_port);
    return Port;
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
    for (std::size_t at = 0; at < bytes.size(); at += kSendPiece) {
        const std::size_t n = std::min(kSendPiece, bytes.size() - at);
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
    TimeOut = kCloseGrace;
    try {
        while (!ReadLn().empty()) {
        }
    } catch (const ESockError&) {
        // Time-out: the server closes first after all.
    }
}
