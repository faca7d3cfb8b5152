#include "tests/support/ScriptServer.h"

#include "tests/support/TlsPeer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace testsupport {

namespace {

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void MakeStopPipe(int (&fds)[2])
{
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
}

// Waits for `fd` to become readable or the stop pipe to fire: 1 readable, 0 time-out,
// -1 stop. `ms` < 0 waits without limit.
int WaitReadable(int fd, int stop, int ms)
{
    pollfd p[2] = {{fd, POLLIN, 0}, {stop, POLLIN, 0}};
    for (;;) {
        int n = ::poll(p, 2, ms);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        if (p[1].revents)
            return -1;
        return 1;
    }
}

std::string Visible(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + static_cast<char>(c);
        else if (c < 32 || c >= 127) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else
            out += static_cast<char>(c);
    }
    return out + "\"";
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void ResetFd(int& fd)
{
    if (fd < 0)
        return;
    linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    CloseFd(fd);
}

} // namespace

// ---- ServerCore ----

namespace detail {

void ServerCore::Start(int backlog, std::function<void()> run)
{
    MakeStopPipe(FStop);
    FListener = ListenLoopback(backlog, FPort);
    FThread = std::thread(std::move(run));
}

int ServerCore::NextClient()
{
    while (WaitReadable(FListener, FStop[0], -1) > 0) {
        int fd = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return fd;
    }
    return -1;
}

ServerCore::~ServerCore()
{
    CloseFd(FStop[0]);
    CloseFd(FStop[1]);
}

void ServerCore::Stop()
{
    char c = 0;
    (void)!::write(FStop[1], &c, 1);
    if (FThread.joinable())
        FThread.join();
    CloseFd(FListener);
}

} // namespace detail

// ---- Script ----

Script& Script::Send(std::string bytes)
{
    FSteps.push_back({Step::SendBytes, std::move(bytes), Millis(0), nullptr});
    return *this;
}

Script& Script::SendRaw(std::string bytes)
{
    FSteps.push_back({Step::SendRawBytes, std::move(bytes), Millis(0), nullptr});
    return *this;
}

Script& Script::SendLine(const std::string& text)
{
    return Send(text + "\r\n");
}

Script& Script::SendPieces(std::vector<std::string> pieces, Millis gap)
{
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            Pause(gap);
        Send(std::move(pieces[i]));
    }
    return *this;
}

Script& Script::Expect(const std::string& text)
{
    return ExpectRaw(text + "\r\n");
}

Script& Script::Pop3Login(const std::string& greeting, const std::string& user, const std::string& password,
                          const std::string& stat, const std::vector<std::string>& capabilities)
{
    Greet(greeting, capabilities).Expect("USER " + user).SendLine("+OK").Expect("PASS " + password).SendLine("+OK");
    return Expect("STAT").SendLine(stat);
}

Script& Script::Pop3Listing(const std::string& user, const std::string& password, int count)
{
    Pop3Login("+OK ready", user, password, "+OK " + std::to_string(count) + " 9999");
    if (count == 0)
        return *this;
    std::string sizes = "+OK\r\n";
    for (int m = 1; m <= count; ++m)
        sizes += std::to_string(m) + " " + std::to_string(100 * m) + "\r\n";
    return Expect("UIDL").SendLine("-ERR no ids").Expect("LIST").Send(sizes + ".\r\n");
}

Script& Script::Summaries(int from, int to)
{
    for (int n = from; n <= to; ++n)
        Expect("TOP " + std::to_string(n) + " 0").Send(Wire(TopReply(n)));
    return *this;
}

Script& Script::Pop3Quit() { return Expect("QUIT").SendLine("+OK bye").WaitForClose(); }

Script& Script::Greet(const std::string& greeting, const std::vector<std::string>& capabilities)
{
    SendLine(greeting).Expect("CAPA");
    return capabilities.empty() ? SendLine("-ERR") : Send("+OK\r\n" + Wire(capabilities) + ".\r\n");
}

Script& Script::ExpectTogether(const std::vector<std::string>& lines)
{
    FSteps.push_back({Step::ExpectBatch, Wire(lines), Millis(0), nullptr});
    return *this;
}

Script& Script::ExpectRaw(std::string line)
{
    FSteps.push_back({Step::ExpectLine, std::move(line), Millis(0), nullptr});
    return *this;
}

Script& Script::ExpectStart(std::string prefix)
{
    FSteps.push_back({Step::ExpectStartOf, std::move(prefix), Millis(0), nullptr});
    return *this;
}

Script& Script::Pause(Millis d)
{
    FSteps.push_back({Step::PauseFor, {}, d, nullptr});
    return *this;
}

Script& Script::WaitForClose(Millis limit)
{
    FSteps.push_back({Step::UntilClosed, {}, limit, nullptr});
    return *this;
}

Script& Script::Close()
{
    FSteps.push_back({Step::CloseNow, {}, Millis(0), nullptr});
    return *this;
}

Script& Script::Reset()
{
    FSteps.push_back({Step::ResetNow, {}, Millis(0), nullptr});
    return *this;
}

Script& Script::Call(std::function<void()> fn)
{
    FSteps.push_back({Step::Callback, {}, Millis(0), std::move(fn)});
    return *this;
}

Script& Script::WaitFor(const std::atomic<bool>& flag)
{
    return Call([&flag] {
        const auto deadline = Clock::now() + Generous(Millis(5000));
        while (!flag && Clock::now() < deadline)
            std::this_thread::sleep_for(Millis(1));
    });
}

Script& Script::StartTls(const TestCert& cert)
{
    FSteps.push_back({Step::TlsBegin, {}, Millis(0), nullptr, std::make_shared<const TestCert>(cert)});
    return *this;
}

Script& Script::ExpectTimeout(Millis d)
{
    FSteps.push_back({Step::SetTimeout, {}, d, nullptr});
    return *this;
}

std::string Wire(const std::vector<std::string>& lines, std::size_t from, std::size_t to)
{
    std::string out;
    for (std::size_t i = from; i < to && i < lines.size(); ++i)
        out += lines[i] + "\r\n";
    return out;
}

std::vector<std::string> TopReply(int n)
{
    const std::string k = std::to_string(n);
    return {"+OK", "Subject: message " + k, "From: a@example.jp", "Message-ID: <" + k + "@example.jp>", "", "."};
}

Script GoodSession(const std::string& user, const std::string& password, Script opening)
{
    return opening.Pop3Login("+OK again", user, password, "+OK 1 99")
        .Expect("TOP 1 0")
        .Send("+OK\r\nSubject: fresh\r\nFrom: b@example.jp\r\n\r\n.\r\n")
        .Expect("LIST 1")
        .SendLine("+OK 1 99")
        .Expect("QUIT")
        .SendLine("+OK bye")
        .WaitForClose();
}

// ---- ScriptServer ----

struct ScriptServer::Conn {
    std::string Bytes;        // everything received
    std::size_t Consumed = 0; // bytes of Bytes matched by Expect steps
    bool Closed = false;      // the client closed or reset
};

ScriptServer::ScriptServer(Script script) : ScriptServer(std::vector<Script>{std::move(script)}) {}

ScriptServer::ScriptServer(std::vector<Script> scripts) : FScripts(std::move(scripts))
{
    Start(8, [this] { Run(); });
}

ScriptServer::~ScriptServer()
{
    Stop();
}

void ScriptServer::Fail(const std::string& message)
{
    {
        std::lock_guard lock(FLock);
        FFailures.push_back(message);
    }
    ADD_FAILURE() << message;
}

void ScriptServer::Run()
{
    for (std::size_t index = 0;; ++index) {
        int fd = NextClient();
        if (fd < 0)
            return;
        {
            std::lock_guard lock(FLock);
            FConns.push_back(std::make_shared<Conn>());
        }
        if (index >= FScripts.size()) {
            Fail("ScriptServer: unexpected connection #" + std::to_string(index + 1) + " (only "
                 + std::to_string(FScripts.size()) + " scripted)");
            CloseFd(fd);
            continue;
        }
        Serve(index, fd);
        std::lock_guard lock(FLock);
        ++FFinished;
        FChanged.notify_all();
    }
}

void ScriptServer::Serve(std::size_t index, int fd)
{
    std::shared_ptr<Conn> conn;
    {
        std::lock_guard lock(FLock);
        conn = FConns[index];
    }
    const std::string where = "ScriptServer connection " + std::to_string(index + 1);
    int expectMs = static_cast<int>(Generous(Millis(5000)).count());
    std::unique_ptr<TlsPeer> tls;   // after a TlsBegin step

    auto sendAll = [&](const std::string& bytes) {
        std::size_t sent = 0;
        while (fd >= 0 && sent < bytes.size()) {
            ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;   // the client is gone; a later step will tell if that matters
            sent += static_cast<std::size_t>(n);
        }
    };
    // Reads what is there (waiting up to `ms`); false when the client is gone or stop.
    auto pull = [&](int ms) -> int {
        int w = WaitReadable(fd, FStop[0], ms);
        if (w <= 0)
            return w;
        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        std::lock_guard lock(FLock);
        if (n <= 0) {
            conn->Closed = true;
            return 2;
        }
        if (!tls) {
            conn->Bytes.append(buf, static_cast<std::size_t>(n));
            return 1;
        }
        tls->Feed(std::string(buf, static_cast<std::size_t>(n)));
        tls->Step();
        sendAll(tls->TakeOutput());
        conn->Bytes += tls->Received;
        tls->Received.clear();
        return 1;
    };
    // Reading while waiting, so that a client's sends never block on a silent server.
    auto quietFor = [&](Millis d) -> bool {
        auto end = Clock::now() + d;
        for (;;) {
            auto left = std::chrono::duration_cast<Millis>(end - Clock::now()).count();
            if (left <= 0)
                return true;
            bool closed;
            {
                std::lock_guard lock(FLock);
                closed = conn->Closed;
            }
            if (closed) {
                if (WaitReadable(FStop[0], FStop[0], static_cast<int>(left)) != 0)
                    return false;
                return true;
            }
            if (pull(static_cast<int>(left)) < 0)
                return false;
        }
    };

    // What steps send one after the other goes out in one write, so it arrives together.
    std::string out;
    const auto& steps = FScripts[index].Steps();
    for (std::size_t i = 0; i < steps.size() && fd >= 0; ++i) {
        const Script::Step& step = steps[i];
        const std::string at = where + ", step " + std::to_string(i + 1) + ": ";
        if (step.What == Script::Step::SendBytes || step.What == Script::Step::SendRawBytes) {
            if (tls && step.What == Script::Step::SendBytes) {
                tls->Write(step.Text);
                out += tls->TakeOutput();
            } else {
                out += step.Text;
            }
            continue;
        }
        sendAll(out);
        out.clear();
        switch (step.What) {
        case Script::Step::SendBytes:
        case Script::Step::SendRawBytes:
            break;
        case Script::Step::TlsBegin: {
            tls = std::make_unique<TlsPeer>(step.Cert.get());
            const auto deadline = Clock::now() + Millis(expectMs);
            while (tls->Step() && !tls->Established()) {
                sendAll(tls->TakeOutput());
                const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
                if (left <= 0 || pull(static_cast<int>(left)) != 1)
                    break;
            }
            sendAll(tls->TakeOutput());
            if (!tls->Established()) {
                Fail(at + "the TLS handshake did not complete");
                CloseFd(fd);
            }
            break;
        }
        case Script::Step::ExpectBatch:
        case Script::Step::ExpectStartOf:
        case Script::Step::ExpectLine: {
            auto deadline = Clock::now() + Millis(expectMs);
            std::string line;
            bool gotLine = false;
            for (;;) {
                {
                    std::lock_guard lock(FLock);
                    std::size_t lf = conn->Bytes.find('\n', conn->Consumed);
                    if (lf != std::string::npos) {
                        line = conn->Bytes.substr(conn->Consumed, lf + 1 - conn->Consumed);
                        conn->Consumed = lf + 1;
                        gotLine = true;
                    } else if (conn->Closed) {
                        line = conn->Bytes.substr(conn->Consumed);
                    }
                    if (gotLine || conn->Closed)
                        break;
                }
                auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
                if (left <= 0 || pull(static_cast<int>(left)) <= 0) {
                    std::lock_guard lock(FLock);
                    line = conn->Bytes.substr(conn->Consumed);
                    break;
                }
            }
            if (!gotLine) {
                bool closed;
                {
                    std::lock_guard lock(FLock);
                    closed = conn->Closed;
                }
                Fail(at + "expected " + Visible(step.Text) + ", but the client "
                     + (closed ? "closed the connection" : "sent no complete line in time")
                     + (line.empty() ? std::string() : " after " + Visible(line)));
                CloseFd(fd);
            } else if (step.What == Script::Step::ExpectBatch) {
                // What came with the first line is all there is of the piece.
                while (pull(0) == 1) {
                }
                std::string got;
                {
                    std::lock_guard lock(FLock);   // not held across Fail, which takes it too
                    got = line + conn->Bytes.substr(conn->Consumed);
                    conn->Consumed = conn->Bytes.size();
                }
                if (got != step.Text) {
                    Fail(at + "expected in one piece " + Visible(step.Text) + ", client sent " + Visible(got));
                    CloseFd(fd);
                }
            } else if (step.What == Script::Step::ExpectStartOf ? line.rfind(step.Text, 0) != 0 : line != step.Text) {
                Fail(at + "expected " + Visible(step.Text) + ", client sent " + Visible(line));
                CloseFd(fd);
            }
            break;
        }
        case Script::Step::PauseFor:
            if (!quietFor(step.Delay))
                CloseFd(fd);
            break;
        case Script::Step::UntilClosed: {
            auto deadline = Clock::now() + Generous(step.Delay);
            for (;;) {
                {
                    std::lock_guard lock(FLock);
                    if (conn->Closed)
                        break;
                }
                auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
                int r = left > 0 ? pull(static_cast<int>(left)) : 0;
                if (r < 0) {
                    CloseFd(fd);
                    break;
                }
                if (r == 0) {
                    Fail(at + "the client did not close the connection within "
                         + std::to_string(step.Delay.count()) + " ms");
                    CloseFd(fd);
                    break;
                }
            }
            break;
        }
        case Script::Step::CloseNow:
            CloseFd(fd);
            break;
        case Script::Step::ResetNow:
            ResetFd(fd);
            break;
        case Script::Step::Callback:
            step.Fn();
            break;
        case Script::Step::SetTimeout:
            expectMs = static_cast<int>(Generous(step.Delay).count());
            break;
        }
    }
    sendAll(out);
    CloseFd(fd);
}

bool ScriptServer::WaitDone(Millis limit)
{
    return WaitScripts(FScripts.size(), limit);
}

bool ScriptServer::WaitScripts(std::size_t count, Millis limit)
{
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, Generous(limit), [this, count] { return FFinished >= count; });
}

std::size_t ScriptServer::Accepted() const
{
    std::lock_guard lock(FLock);
    return FConns.size();
}

std::string ScriptServer::ReceivedBytes(std::size_t i) const
{
    std::lock_guard lock(FLock);
    return i < FConns.size() ? FConns[i]->Bytes : std::string();
}

std::size_t ScriptServer::TimesSent(std::size_t i, const std::string& line) const
{
    const std::vector<std::string> lines = ReceivedLines(i);
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line + "\r\n"));
}

std::vector<std::string> ScriptServer::ReceivedLines(std::size_t i) const
{
    std::string bytes = ReceivedBytes(i);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t lf = bytes.find('\n', start);
        std::size_t end = lf == std::string::npos ? bytes.size() : lf + 1;
        lines.push_back(bytes.substr(start, end - start));
        start = end;
    }
    return lines;
}

bool ScriptServer::ClientClosed(std::size_t i) const
{
    std::lock_guard lock(FLock);
    return i < FConns.size() && FConns[i]->Closed;
}

std::vector<std::string> ScriptServer::Failures() const
{
    std::lock_guard lock(FLock);
    return FFailures;
}

// ---- EchoServer ----

EchoServer::EchoServer()
{
    Start(16, [this] { Run(); });
}

EchoServer::~EchoServer()
{
    Stop();   // the connection threads see the stop pipe too
    for (auto& t : FThreads)
        t.join();
}

void EchoServer::Run()
{
    for (int fd; (fd = NextClient()) >= 0;) {
        std::lock_guard lock(FLock);
        FThreads.emplace_back([this, fd] { Echo(fd); });
    }
}

void EchoServer::Echo(int fd)
{
    char buf[65536];
    while (WaitReadable(fd, FStop[0], -1) > 0) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        ssize_t sent = 0;
        while (sent < n) {
            ssize_t m = ::send(fd, buf + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
            if (m <= 0)
                break;
            sent += m;
        }
        if (sent < n)
            break;
    }
    ::close(fd);
}

// ---- StalledListener ----

StalledListener::StalledListener()
{
    FListener = ListenLoopback(0, FPort);
    // Fill the accept queue: connect until an attempt is left unanswered.
    for (int i = 0; i < 8; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a = Loopback(FPort);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        FFillers.push_back(fd);
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 200) == 0)
            return;
    }
    throw std::runtime_error("StalledListener: the accept queue does not fill");
}

StalledListener::~StalledListener()
{
    for (int& fd : FFillers)
        CloseFd(fd);
    CloseFd(FListener);
}

int ListenLoopback(int backlog, std::uint16_t& port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0
        || getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("listen: " + std::string(std::strerror(errno)));
    }
    port = ntohs(a.sin_port);
    return fd;
}

int DialLoopback(std::uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        CloseFd(fd);
    return fd;
}

std::uint16_t UnusedPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);   // bound but never listening: nothing answers on this port now
    return ntohs(a.sin_port);
}

} // namespace testsupport
