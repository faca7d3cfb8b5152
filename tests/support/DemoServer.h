#pragma once
// The demo POP3 server of tools/ (purgel-demo-server) as a child process of a test, and
// behind the PopServer interface ("Demo" in PopServerKinds): there it serves the message
// files of a temporary folder, so AddMessage writes a file and CountMessages counts them.
//
// Start returns once the server listens (it prints its port); it throws std::runtime_error
// with the server's error output when the server does not come up. The child gets SIGTERM
// when the test process dies. Not thread-safe.

#include "tests/support/PopServer.h"

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

class DemoServerProcess {
public:
    DemoServerProcess();
    ~DemoServerProcess();
    DemoServerProcess(const DemoServerProcess&) = delete;
    DemoServerProcess& operator=(const DemoServerProcess&) = delete;

    // The path of the purgel-demo-server program that was built with the tests.
    static std::string Program();

    // Runs the program with "--port 0 --print-port" and `args`.
    void Start(const std::vector<std::string>& args);
    // SIGTERM, then waits (SIGKILL after five seconds); returns the exit status as
    // waitpid reports it, or -1 when nothing was running.
    int Stop();
    bool Running() const { return FPid > 0; }
    int Port() const { return FPort; }
    // What the program wrote to standard error so far.
    std::string ErrorOutput() const;

private:
    std::string FFolder;  // holds the error output
    pid_t FPid = -1;
    int FPort = 0;
};

}  // namespace testsupport

// The demo server behind the PopServer interface.
std::unique_ptr<PopServer> MakeDemoPopServer();
