#include "TestUtil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace demotest {

FreshFolder::FreshFolder(const std::string& prefix)
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    FPath = std::filesystem::temp_directory_path() /
            (prefix + "-" + std::to_string(::getpid()) + "-" + (test ? test->name() : "none"));
    std::filesystem::remove_all(FPath);
    std::filesystem::create_directories(FPath);
}

FreshFolder::~FreshFolder()
{
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
}

RawClient::RawClient(int port, const char* address)
{
    FSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{10, 0};
    ::setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &a.sin_addr);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(FSocket, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        Close();
}

RawClient::~RawClient() { Close(); }

void RawClient::Close()
{
    if (FSocket >= 0)
        ::close(FSocket);
    FSocket = -1;
}

std::string RawClient::Line()
{
    for (;;) {
        const std::size_t lf = FBuffer.find('\n');
        if (lf != std::string::npos) {
            std::string line = FBuffer.substr(0, lf + 1);
            FBuffer.erase(0, lf + 1);
            return line;
        }
        char buf[65536];
        const ssize_t n = FSocket < 0 ? 0 : ::recv(FSocket, buf, sizeof buf, 0);
        if (n <= 0) {
            std::string rest;
            rest.swap(FBuffer);
            return rest;
        }
        FBuffer.append(buf, static_cast<std::size_t>(n));
    }
}

std::string RawClient::Command(const std::string& text)
{
    const std::string out = text + "\r\n";
    if (FSocket >= 0)
        ::send(FSocket, out.data(), out.size(), MSG_NOSIGNAL);
    return Line();
}

std::string RawClient::UpToDot()
{
    std::string all;
    for (;;) {
        const std::string l = Line();
        all += l;
        if (l.empty() || l == ".\r\n")
            return all;
    }
}

std::string RawClient::Multi(const std::string& text)
{
    const std::string first = Command(text);
    return first.rfind("+OK", 0) == 0 ? first + UpToDot() : first;
}

bool RawClient::Login(const std::string& user, const std::string& password)
{
    return Command("USER " + user).rfind("+OK", 0) == 0 && Command("PASS " + password).rfind("+OK", 0) == 0;
}

bool RawClient::ClosedByServer()
{
    return Line().empty() && FBuffer.empty();
}

}  // namespace demotest
