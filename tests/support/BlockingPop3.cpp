#include "tests/support/BlockingPop3.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace testsupport {

namespace {

bool IsOk(const std::string& reply) { return reply.rfind("+OK", 0) == 0; }

} // namespace

BlockingPop3::BlockingPop3(int port, const char* address)
{
    Open(port, address);
}

BlockingPop3::~BlockingPop3()
{
    Close();
}

bool BlockingPop3::Open(int port, const char* address, int timeoutMs)
{
    Close();
    FSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FSocket < 0)
        return false;
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &a.sin_addr);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(FSocket, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        const int error = errno;
        Close();
        errno = error;
        return false;
    }
    return true;
}

void BlockingPop3::Close()
{
    if (FSocket >= 0)
        ::close(FSocket);
    FSocket = -1;
    FStart = FEnd = 0;
}

std::string BlockingPop3::Line()
{
    std::string line;
    for (;;) {
        if (FStart == FEnd) {
            ssize_t n = 0;
            if (FSocket >= 0) {
                do
                    n = ::recv(FSocket, FBuffer.data(), FBuffer.size(), 0);
                while (n < 0 && errno == EINTR);
            }
            if (n <= 0) {
                FLastErrno = n < 0 ? errno : 0;
                return line;
            }
            FStart = 0;
            FEnd = static_cast<std::size_t>(n);
        }
        const char* begin = FBuffer.data() + FStart;
        const void* lf = std::memchr(begin, '\n', FEnd - FStart);
        if (!lf) {
            line.append(begin, FEnd - FStart);
            FStart = FEnd;
            continue;
        }
        const std::size_t k = static_cast<std::size_t>(static_cast<const char*>(lf) - begin) + 1;
        line.append(begin, k);
        FStart += k;
        return line;
    }
}

void BlockingPop3::Send(const std::string& text)
{
    const std::string out = text + "\r\n";
    std::size_t sent = 0;
    while (FSocket >= 0 && sent < out.size()) {
        const ssize_t n = ::send(FSocket, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;   // the next read reports the end of the connection
        sent += static_cast<std::size_t>(n);
    }
}

std::string BlockingPop3::Command(const std::string& text)
{
    Send(text);
    return Line();
}

std::string BlockingPop3::UpToDot()
{
    std::string all;
    for (;;) {
        const std::string l = Line();
        all += l;
        if (l.empty() || l == ".\r\n")
            return all;
    }
}

std::string BlockingPop3::Multi(const std::string& text)
{
    const std::string first = Command(text);
    return IsOk(first) ? first + UpToDot() : first;
}

bool BlockingPop3::TryLogin(const std::string& user, const std::string& password)
{
    return IsOk(Command("USER " + user)) && IsOk(Command("PASS " + password));
}

bool BlockingPop3::ClosedByServer()
{
    return Line().empty() && FStart == FEnd;
}

std::string BlockingPop3::StrictLine()
{
    std::string line = Line();
    if (line.empty() || line.back() != '\n') {
        if (FLastErrno != 0)
            throw std::runtime_error(std::string("recv: ") + std::strerror(FLastErrno));
        throw std::runtime_error("connection closed by the server");
    }
    line.pop_back();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

void BlockingPop3::Connect(int port, int timeoutMs)
{
    if (!Open(port, "127.0.0.1", timeoutMs))
        throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
    FGreeting = StrictLine();
    if (!IsOk(FGreeting))
        throw std::runtime_error("greeting refused: " + FGreeting);
}

std::string BlockingPop3::Ok(const std::string& line)
{
    Send(line);
    std::string reply = StrictLine();
    if (!IsOk(reply))
        throw std::runtime_error(line.substr(0, line.find(' ')) + " refused: " + reply);
    return reply;
}

std::vector<std::string> BlockingPop3::Lines()
{
    std::vector<std::string> lines;
    for (;;) {
        std::string line = StrictLine();
        if (line == ".")
            return lines;
        if (line.rfind("..", 0) == 0)
            line.erase(0, 1);
        lines.push_back(std::move(line));
    }
}

void BlockingPop3::Login(const std::string& user, const std::string& password)
{
    Ok("USER " + user);
    Ok("PASS " + password);
}

int BlockingPop3::Stat()
{
    const std::string reply = Ok("STAT");
    return std::stoi(reply.substr(4));
}

int BlockingPop3::Summary(int n, std::vector<std::string>& header)
{
    Ok("TOP " + std::to_string(n) + " 0");
    header = Lines();
    const std::string reply = Ok("LIST " + std::to_string(n));
    return std::stoi(reply.substr(reply.rfind(' ') + 1));
}

void BlockingPop3::Quit()
{
    Command("QUIT");
    Close();
}

} // namespace testsupport
