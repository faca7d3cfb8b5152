#pragma once
// Fixture TCP servers for the socket and POP3 tests.
//
// Every server here runs on a thread of its own with blocking POSIX sockets, never on the
// Qt event loop, so the client under test may block or pump as it likes. Servers listen on
// 127.0.0.1 at a port the system picks (Port()), and stop when destroyed: the listener and
// every connection are closed and the thread is joined.
//
// ScriptServer replays one Script per accepted connection, serving connections one after
// the other in the order they arrive:
//
//     testsupport::ScriptServer server(testsupport::Script()
//         .SendLine("+OK ready")
//         .Expect("USER bob")            // the client must send "USER bob\r\n"
//         .SendLine("+OK")
//         .SendPieces({"+OK 2 ", "320\r\n"}, 100ms)
//         .WaitForClose());
//     ... point the client at "127.0.0.1", server.Port() ...
//     EXPECT_TRUE(server.WaitDone());
//
// A mismatch fails the running test at once (ADD_FAILURE, from the server thread, naming the
// connection, the step, the expected and the received text) and ends that connection with a
// close, so the client never hangs on a reply that will not come. Everything the client
// sends is recorded (ReceivedBytes / ReceivedLines), also during pauses. Every limit below
// (Expect's, WaitForClose's, WaitDone's) is a bound for a hang, taken Generous (Timing.h).

#include "tests/support/TestCerts.h"
#include "tests/support/Timing.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

using Millis = std::chrono::milliseconds;

constexpr const char* LoopbackHost = "127.0.0.1";

// What one connection does, step by step. After the last step the server closes the
// connection normally, unless a step ended it already. Sends with no other step between
// them go out in one write.
class Script {
public:
    // Sends the bytes as they stand.
    Script& Send(std::string bytes);
    // Sends the bytes as they stand also after StartTls, past the TLS layer (a forged or
    // broken record).
    Script& SendRaw(std::string bytes);
    // Sends text followed by CR LF.
    Script& SendLine(const std::string& text);
    // Sends the pieces one by one with a pause of `gap` before every piece after the first.
    Script& SendPieces(std::vector<std::string> pieces, Millis gap);
    // Reads the client's next line (up to and including LF) and compares it with text + CR LF.
    Script& Expect(const std::string& text);
    // As Expect, comparing the whole raw line (terminator included) with `line`.
    Script& ExpectRaw(std::string line);
    // As Expect, comparing only the line's beginning with `prefix`.
    Script& ExpectStart(std::string prefix);
    // Expects the lines (each + CR LF) in one piece: what has arrived once the first is
    // complete must be exactly these lines (commands sent ahead in one write; a single
    // line shows that nothing was sent ahead of its reply).
    Script& ExpectTogether(const std::vector<std::string>& lines);
    // Stays silent for `d`.
    Script& Pause(Millis d);
    // Stays silent until the client closes (or resets) the connection; failing when it has
    // not done so within `limit`.
    Script& WaitForClose(Millis limit = Millis(10000));
    // Ends the connection with a normal close (FIN), or with a reset (RST).
    Script& Close();
    Script& Reset();
    // Speaks TLS from here on as a server with `cert` (TlsPeer): the handshake is made at
    // this step (failing the test when it fails), later steps send and expect plaintext,
    // and ReceivedBytes records plaintext. Close and Reset send no close_notify.
    Script& StartTls(const TestCert& cert);
    // Runs `fn` on the server thread at this point (for instance to tell the test that a
    // step was reached).
    Script& Call(std::function<void()> fn);
    // Holds the server here until `flag` is set (by the test, typically from a handler
    // inside the client's wait), so what it sends next comes after that, however late the
    // pump runs the handler; gives up after Generous(5 s). The flag must outlive the server.
    Script& WaitFor(const std::atomic<bool>& flag);
    // How long Expect waits for a line (default 5 s); applies to the Expect steps after it.
    Script& ExpectTimeout(Millis d);
    // A POP3 greeting: sends `greeting`, expects "CAPA" and refuses it, or answers it with
    // `capabilities` when there are any (e.g. {"PIPELINING"}).
    Script& Greet(const std::string& greeting, const std::vector<std::string>& capabilities = {});
    // The opening that POP3 scripts share: Greet(greeting), expects "USER <user>" and
    // "PASS <password>" and answers each "+OK", then expects "STAT" and answers `stat`.
    Script& Pop3Login(const std::string& greeting, const std::string& user, const std::string& password,
                      const std::string& stat, const std::vector<std::string>& capabilities = {});

    // A session's opening as the mailbox session lists: Pop3Login of `count` messages, message
    // m of 100 * m bytes, then UIDL refused (no header cache) and the LIST of them all.
    Script& Pop3Listing(const std::string& user, const std::string& password, int count);
    // TOP n 0 answered with TopReply(n), for n = from .. to.
    Script& Summaries(int from, int to);
    // QUIT answered "+OK bye", then the client's close.
    Script& Pop3Quit();

    struct Step {
        enum Kind { SendBytes, SendRawBytes, ExpectLine, ExpectStartOf, ExpectBatch, PauseFor, UntilClosed, CloseNow, ResetNow, Callback, SetTimeout, TlsBegin } What;
        std::string Text;
        Millis Delay{0};
        std::function<void()> Fn;
        std::shared_ptr<const TestCert> Cert;
    };
    const std::vector<Step>& Steps() const { return FSteps; }

private:
    std::vector<Step> FSteps;
};

namespace detail {
// A loopback listener served by a thread of its own, with a pipe that tells the thread to stop.
class ServerCore {
public:
    std::uint16_t Port() const { return FPort; }

protected:
    ServerCore() = default;
    ~ServerCore();   // closes the stop pipe (after the derived server joined its threads)
    void Start(int backlog, std::function<void()> run);
    // Tells the thread to stop and waits for it; the listener is closed.
    void Stop();
    // Waits for the next connection (TCP_NODELAY set); -1 once Stop() was called.
    int NextClient();

    std::uint16_t FPort = 0;
    int FListener = -1;
    int FStop[2] = {-1, -1};   // readable once Stop() was called
    std::thread FThread;
};
} // namespace detail

class ScriptServer : public detail::ServerCore {
public:
    explicit ScriptServer(Script script);
    explicit ScriptServer(std::vector<Script> scripts);
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    // Waits until every script has run to its end; false when `limit` passed first.
    bool WaitDone(Millis limit = Millis(5000));
    // The same for the first `count` scripts (the others may not have begun).
    bool WaitScripts(std::size_t count, Millis limit = Millis(5000));
    // Number of connections accepted so far.
    std::size_t Accepted() const;
    // What the client of connection `i` (0-based) sent so far: all bytes, and the same cut
    // into lines after every LF (a last line without LF included as it stands).
    std::string ReceivedBytes(std::size_t i) const;
    std::vector<std::string> ReceivedLines(std::size_t i) const;
    // How often the client of connection `i` sent `line` (given without its CR LF).
    std::size_t TimesSent(std::size_t i, const std::string& line) const;
    // True when the client of connection `i` closed or reset the connection.
    bool ClientClosed(std::size_t i) const;
    // The mismatches reported so far (each also failed the test).
    std::vector<std::string> Failures() const;

private:
    struct Conn;
    void Run();
    void Serve(std::size_t index, int fd);
    void Fail(const std::string& message);

    std::vector<Script> FScripts;
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<std::shared_ptr<Conn>> FConns;
    std::vector<std::string> FFailures;
    std::size_t FFinished = 0;
};

// The lines [from, to) of `lines`, each followed by CR LF.
std::string Wire(const std::vector<std::string>& lines, std::size_t from = 0, std::size_t to = SIZE_MAX);
// The reply lines (without CR LF) of TOP n 0 on the scripted mailboxes: "+OK", Subject
// "message <n>", From, Message-ID, the empty line, ".".
std::vector<std::string> TopReply(int n);
// A good session after a broken one (a client must connect again and list): `opening`
// (plain, or TLS begun), a login of `user` with one message of 99 bytes and the Subject
// "fresh", its TOP 1 0 and LIST 1, then QUIT.
Script GoodSession(const std::string& user, const std::string& password, Script opening = Script());

// Echoes every byte back, on any number of connections at once (a thread per connection).
class EchoServer : public detail::ServerCore {
public:
    EchoServer();
    ~EchoServer();
    EchoServer(const EchoServer&) = delete;
    EchoServer& operator=(const EchoServer&) = delete;

private:
    void Run();
    void Echo(int fd);

    std::mutex FLock;
    std::vector<std::thread> FThreads;
};

// A loopback listener whose accept queue is full: a connection attempt to it gets no answer
// and stays pending (for connect time-outs and cancels).
class StalledListener {
public:
    StalledListener();
    ~StalledListener();
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;
    std::uint16_t Port() const { return FPort; }

private:
    std::uint16_t FPort = 0;
    int FListener = -1;
    std::vector<int> FFillers;
};

// A loopback port on which nothing listens: connecting to it is refused.
std::uint16_t UnusedPort();
// A plain blocking listening socket on 127.0.0.1 at a port of the system's choice (written
// to `port`); raises std::runtime_error when that fails.
int ListenLoopback(int backlog, std::uint16_t& port);
// A plain blocking client socket connected to 127.0.0.1:port; -1 when that fails.
int DialLoopback(std::uint16_t port);

} // namespace testsupport
