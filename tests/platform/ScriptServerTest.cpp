// The scripted fixture server itself, driven by a plain blocking client.

#include "tests/support/ScriptServer.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

using namespace std::chrono_literals;
using testsupport::Script;
using testsupport::ScriptServer;

namespace {

int Dial(std::uint16_t port)
{
    int fd = testsupport::DialLoopback(port);
    EXPECT_GE(fd, 0);
    return fd;
}

void SendText(int fd, const std::string& s)
{
    ::send(fd, s.data(), s.size(), MSG_NOSIGNAL);
}

// Everything until the server closes; `reset` tells how it closed.
std::string ReadAll(int fd, bool* reset = nullptr)
{
    std::string out;
    char buf[256];
    for (;;) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            if (reset)
                *reset = n < 0 && errno == ECONNRESET;
            return out;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
}

} // namespace

TEST(ScriptServer, ReplaysTheScriptAndRecordsWhatTheClientSent)
{
    ScriptServer server(Script().SendLine("+OK hi").Expect("USER bob").SendPieces({"+O", "K\r\n"}, 50ms).WaitForClose());
    int fd = Dial(server.Port());
    SendText(fd, "USER bob\r\nextra");
    auto start = std::chrono::steady_clock::now();
    char buf[64];
    std::string got;
    while (got.size() < 13) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        ASSERT_GT(n, 0);
        got.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms) << "the pieces come with their pause";
    ::close(fd);
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(got, "+OK hi\r\n+OK\r\n");
    EXPECT_EQ(server.ReceivedLines(0), (std::vector<std::string>{"USER bob\r\n", "extra"}));
    EXPECT_TRUE(server.ClientClosed(0));
    EXPECT_TRUE(server.Failures().empty());
}

TEST(ScriptServer, AMismatchFailsTheTestReadablyAndEndsTheConnection)
{
    EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(
        {
            ScriptServer server(Script().Expect("USER bob").SendLine("+OK"));
            int fd = Dial(server.Port());
            SendText(fd, "USER bib\r\n");
            EXPECT_EQ(ReadAll(fd), "") << "no reply after a mismatch, the connection is closed";
            ::close(fd);
            server.WaitDone();
        },
        "step 1: expected \"USER bob\\r\\n\", client sent \"USER bib\\r\\n\"");
}

TEST(ScriptServer, ServesConnectionsInTurnAndEndsThemByCloseOrReset)
{
    ScriptServer server({Script().Send("a").Close(), Script().Send("b").Pause(50ms).Reset()});
    bool reset = true;
    int fd = Dial(server.Port());
    EXPECT_EQ(ReadAll(fd, &reset), "a");
    EXPECT_FALSE(reset);
    ::close(fd);
    fd = Dial(server.Port());
    EXPECT_EQ(ReadAll(fd, &reset), "b");
    EXPECT_TRUE(reset);
    ::close(fd);
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Accepted(), 2u);
}

TEST(ScriptServer, AClientThatDoesNotCloseInTimeFails)
{
    EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(
        {
            ScriptServer server(Script().WaitForClose(100ms));
            int fd = Dial(server.Port());
            server.WaitDone();
            ::close(fd);
        },
        "did not close the connection within 100 ms");
}
