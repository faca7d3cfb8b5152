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

#include "net/TlsMode.h"

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
    // The port that speaks TLS from the first byte; 0 without TLS.
    virtual int TlsPort() const { return 0; }
    virtual std::string AddMessage(const std::string& raw) = 0;
    virtual int CountMessages() const = 0;
    virtual void ClearMessages() = 0;
};

struct PopServerKind {
    std::string Name;  // a test-name suffix: letters and digits only
    std::function<std::unique_ptr<PopServer>()> Make;
    TTlsMode Mode = TTlsMode::None;   // how the client connects
    // The port the client connects to in that mode.
    int ClientPort(const PopServer& server) const { return Mode == TTlsMode::Implicit ? server.TlsPort() : server.Port(); }
};

// Every kind of server built into the tests.
std::vector<PopServerKind> PopServerKinds();
// Dovecot over TLS, once from the first byte and once after STLS. Its certificate comes from
// a test CA that the process trusts through SSL_CERT_FILE (set when the server starts).
std::vector<PopServerKind> TlsPopServerKinds();
// The test certificates of the process, whose CA SSL_CERT_FILE names from the first call on.
namespace testsupport { class TestCerts; }
const testsupport::TestCerts& TrustedTestCerts();
// Names the kind in the output of tests that run once per kind.
void PrintTo(const PopServerKind& kind, std::ostream* os);
// The server of this kind that the tests of one process share, started with this user and
// password at the first call and emptied at every call; the servers live until
// ReleaseSharedPopServers.
PopServer& SharedPopServer(const PopServerKind& kind, const std::string& user, const std::string& password);
void ReleaseSharedPopServers();
// The Dovecot fixture behind the PopServer interface.
std::unique_ptr<PopServer> MakeDovecotPopServer();
