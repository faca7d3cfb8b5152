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

BlockingPop3::~BlockingPop3()
{
    Close();
}

void BlockingPop3::Connect(std::uint16_t port, int timeoutMs)
{
    Close();
    FSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FSocket < 0)
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(FSocket, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
    FGreeting = ReadLine();
    if (FGreeting.rfind("+OK", 0) != 0)
        throw std::runtime_error("greeting refused: " + FGreeting);
}

void BlockingPop3::Close()
{
    if (FSocket >= 0)
        ::close(FSocket);
    FSocket = -1;
    FStart = FEnd = 0;
}

std::string BlockingPop3::ReadLine()
{
    std::string line;
    for (;;) {
        if (FStart == FEnd) {
            ssize_t n;
            do
                n = ::recv(FSocket, FBuffer.data(), FBuffer.size(), 0);
            while (n < 0 && errno == EINTR);
            if (n == 0)
                throw std::runtime_error("connection closed by the server");
            if (n < 0)
                throw std::runtime_error(std::string("recv: ") + std::strerror(errno));
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
        const std::size_t k = static_cast<std::size_t>(static_cast<const char*>(lf) - begin);
        line.append(begin, k);
        FStart += k + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }
}

std::string BlockingPop3::Command(const std::string& line)
{
    const std::string out = line + "\r\n";
    std::size_t sent = 0;
    while (sent < out.size()) {
        const ssize_t n = ::send(FSocket, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error(std::string("send: ") + std::strerror(errno));
        sent += static_cast<std::size_t>(n);
    }
    return ReadLine();
}

std::string BlockingPop3::Ok(const std::string& line)
{
    std::string reply = Command(line);
    if (reply.rfind("+OK", 0) != 0)
        throw std::runtime_error(line.substr(0, line.find(' ')) + " refused: " + reply);
    return reply;
}

std::vector<std::string> BlockingPop3::Lines()
{
    std::vector<std::string> lines;
    for (;;) {
        std::string line = ReadLine();
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
    try {
        Command("QUIT");
    } catch (const std::runtime_error&) {
    }
    Close();
}

} // namespace testsupport
