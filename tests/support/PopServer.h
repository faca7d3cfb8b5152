#pragma once
// A POP3 server that the workflow tests run against, whatever implements it: the private
// Dovecot fixture, or the demo server of tools/. Test bodies that hold for every real
// server take a PopServer and run once per entry of PopServerKinds().
//
// Messages are raw RFC 822 bytes, numbered by POP3 in the order they were added. AddMessage
// works before Start and between sessions (the next session sees the message).
// CountMessages counts what the server keeps on its side; a completed QUIT has committed its
// deletions by the time it returns. Start throws std::runtime_error when the server does not
// come up. Not thread-safe.

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class PopServer {
public:
    virtual ~PopServer() = default;
    virtual void Start(const std::string& user, const std::string& password) = 0;
    virtual void Stop() = 0;
    virtual int Port() const = 0;
    virtual std::string AddMessage(const std::string& raw) = 0;
    virtual int CountMessages() const = 0;
    virtual void ClearMessages() = 0;
};

struct PopServerKind {
    std::string Name;  // a test-name suffix: letters and digits only
    std::function<std::unique_ptr<PopServer>()> Make;
};

// Every kind of server built into the tests.
std::vector<PopServerKind> PopServerKinds();
// Names the kind in the output of tests that run once per kind.
void PrintTo(const PopServerKind& kind, std::ostream* os);
// The server of this kind that the tests of one process share, started with this user and
// password at the first call and emptied at every call; the servers live until
// ReleaseSharedPopServers.
PopServer& SharedPopServer(const PopServerKind& kind, const std::string& user, const std::string& password);
void ReleaseSharedPopServers();
// The Dovecot fixture behind the PopServer interface.
std::unique_ptr<PopServer> MakeDovecotPopServer();
