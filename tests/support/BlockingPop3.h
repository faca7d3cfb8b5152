#pragma once
// The one blocking POP3 client (RFC 1939) of the tests and benchmarks, over a POSIX socket:
// the reference the benchmarks measure the program's own client against, a second opinion
// in tests, and the probe that shows the fixture servers' wire as it is. One command at a
// time, each reply awaited before the next (no pipelining); replies are read through a
// 64 KiB buffer, and every read gives up after the time-out given at connecting.
//
// Two faces over the same connection:
//  - the wire as it is (Open, Line, Command, UpToDot, Multi, TryLogin, ClosedByServer): lines
//    keep their line ends, nothing throws; a closed connection or a time-out ends a read with
//    what has arrived ("" when nothing has);
//  - the strict client (Connect, Ok, Lines, Login, Stat, Summary): line ends removed, every
//    failure (connect, time-out, closed connection, a reply that is not "+OK") throws
//    std::runtime_error naming it.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class BlockingPop3 {
public:
    BlockingPop3() = default;
    // Open(port, address) at once; Connected() tells whether that worked.
    explicit BlockingPop3(int port, const char* address = "127.0.0.1");
    ~BlockingPop3();
    BlockingPop3(const BlockingPop3&) = delete;
    BlockingPop3& operator=(const BlockingPop3&) = delete;

    // ---- the wire as it is; nothing here throws
    // Connects to address:port without reading the greeting; false when that failed.
    bool Open(int port, const char* address = "127.0.0.1", int timeoutMs = 10000);
    bool Connected() const { return FSocket >= 0; }
    // The socket, for a test that takes over the connection (a TLS handshake after STLS).
    int Socket() const { return FSocket; }
    // The next line with its line end; at a close or time-out what has arrived of it.
    std::string Line();
    // Sends the text and CR LF; returns the first reply line, line end included.
    std::string Command(const std::string& text);
    // The rest of a multi-line reply, the terminating ".\r\n" included.
    std::string UpToDot();
    // Command, then UpToDot when the reply is "+OK": the whole reply as sent.
    std::string Multi(const std::string& text);
    // USER and PASS; true when both were answered "+OK".
    bool TryLogin(const std::string& user = "demo", const std::string& password = "demo");
    // True when the server closes the connection within the time-out.
    bool ClosedByServer();

    // ---- the strict client; throws std::runtime_error
    // Connects to 127.0.0.1:port and reads the greeting, which must be "+OK".
    void Connect(int port, int timeoutMs = 10000);
    // Sends the line and CR LF; returns the reply without its line end, which must be "+OK".
    std::string Ok(const std::string& line);
    // The lines of a multi-line reply up to ".", line ends removed, dot-stuffing undone.
    std::vector<std::string> Lines();
    void Login(const std::string& user, const std::string& password);
    int Stat();   // the message count
    // TOP n 0 into `header`, then LIST n; returns the size.
    int Summary(int n, std::vector<std::string>& header);
    void Quit();  // QUIT (its failure ignored) and close
    void Close();

    // The greeting that Connect read, without its line end.
    const std::string& Greeting() const { return FGreeting; }

private:
    // Sends the text and CR LF; a failure shows at the next read.
    void Send(const std::string& text);
    // The next whole line without its line end; throws when the connection ends first.
    std::string StrictLine();

    int FSocket = -1;
    int FLastErrno = 0;   // of the read that ended the stream, 0 for a close
    std::string FGreeting;
    std::vector<char> FBuffer = std::vector<char>(65536);
    std::size_t FStart = 0, FEnd = 0;   // unread bytes of FBuffer
};

} // namespace testsupport
