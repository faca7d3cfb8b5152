#pragma once
// Helpers of the demo server's tests.

#include <filesystem>
#include <string>

namespace demotest {

// An empty folder below the temporary folder, named after the process and the running
// test; removed (with what it holds) when destroyed.
class FreshFolder {
public:
    explicit FreshFolder(const std::string& prefix);
    ~FreshFolder();
    FreshFolder(const FreshFolder&) = delete;
    FreshFolder& operator=(const FreshFolder&) = delete;
    const std::filesystem::path& Path() const { return FPath; }

private:
    std::filesystem::path FPath;
};

// A blocking POP3 client that shows the wire as it is: reply lines with their line ends,
// multi-line replies with their dot-stuffing and terminator. Every read gives up after
// ten seconds (then returns what it has).
class RawClient {
public:
    // Connects to address:port; Connected() tells whether that worked.
    explicit RawClient(int port, const char* address = "127.0.0.1");
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return FSocket >= 0; }
    // The next line with its line end; "" when the server has closed.
    std::string Line();
    // Sends the text and CR LF; returns the first reply line.
    std::string Command(const std::string& text);
    // The rest of a multi-line reply, the terminating ".\r\n" included.
    std::string UpToDot();
    // Command, then UpToDot when the reply is "+OK": the whole reply as sent.
    std::string Multi(const std::string& text);
    // USER and PASS; true when both were answered "+OK".
    bool Login(const std::string& user = "demo", const std::string& password = "demo");
    // True when the server closes the connection within ten seconds.
    bool ClosedByServer();
    void Close();

private:
    int FSocket = -1;
    std::string FBuffer;
};

}  // namespace demotest
