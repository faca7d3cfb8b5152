#pragma once
// A plain blocking POP3 client (RFC 1939) over a POSIX socket: the reference that the
// benchmarks of the program's own client measure themselves against, and a second opinion
// in tests. One command at a time, each reply awaited before the next command (no
// pipelining); replies are read through a 64 KiB buffer. Every failure (connect, time-out,
// closed connection, a reply that is not "+OK") throws std::runtime_error naming it.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class BlockingPop3 {
public:
    BlockingPop3() = default;
    ~BlockingPop3();
    BlockingPop3(const BlockingPop3&) = delete;
    BlockingPop3& operator=(const BlockingPop3&) = delete;

    // Connects to 127.0.0.1:port and reads the greeting; every read gives up after timeoutMs.
    void Connect(std::uint16_t port, int timeoutMs = 10000);
    // Sends the line and CR LF, returns the reply line without its line end.
    std::string Command(const std::string& line);
    // As Command, throwing unless the reply begins with "+OK".
    std::string Ok(const std::string& line);
    // The lines of a multi-line reply up to ".", line ends removed, dot-stuffing undone.
    std::vector<std::string> Lines();

    void Login(const std::string& user, const std::string& password);
    int Stat();   // the message count
    // TOP n 0 into `header`, then LIST n; returns the size.
    int Summary(int n, std::vector<std::string>& header);
    void Quit();  // QUIT and close
    void Close();

    const std::string& Greeting() const { return FGreeting; }

private:
    std::string ReadLine();

    int FSocket = -1;
    std::string FGreeting;
    std::vector<char> FBuffer = std::vector<char>(65536);
    std::size_t FStart = 0, FEnd = 0;   // unread bytes of FBuffer
};

} // namespace testsupport
