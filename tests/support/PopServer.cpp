#include "tests/support/PopServer.h"

#include <map>
#include <ostream>

#include "tests/support/DemoServer.h"
#include "tests/support/Dovecot.h"
#include "tests/support/TestCerts.h"

#include <cstdlib>

namespace {
class DovecotPopServer : public PopServer {
public:
    void Start(const std::string& user, const std::string& password) override { FServer.Start(user, password); }
    void Stop() override { FServer.Stop(); }
    int Port() const override { return FServer.Port(); }
    std::string AddMessage(const std::string& raw) override { return FServer.AddMessage(raw); }
    int CountMessages() const override { return FServer.CountMessages(); }
    void ClearMessages() override { FServer.ClearMessages(); }

protected:
    DovecotServer FServer;
};

class DovecotTlsPopServer : public DovecotPopServer {
public:
    void Start(const std::string& user, const std::string& password) override
    {
        const testsupport::TestCerts& certs = TrustedTestCerts();
        FServer.EnableTls(certs.Server.CertFile, certs.Server.KeyFile);
        DovecotPopServer::Start(user, password);
    }
    int TlsPort() const override { return FServer.TlsPort(); }
};
}

std::unique_ptr<PopServer> MakeDovecotPopServer() { return std::make_unique<DovecotPopServer>(); }

std::vector<PopServerKind> PopServerKinds()
{
    return {{"Dovecot", MakeDovecotPopServer},
            {"Demo", MakeDemoPopServer}};
}

// One CA for the process: SSL_CERT_FILE can name only one.
const testsupport::TestCerts& TrustedTestCerts()
{
    static const testsupport::TestCerts certs;
    static const bool named = ::setenv("SSL_CERT_FILE", certs.Ca.CertFile.c_str(), 1) == 0;
    (void)named;
    return certs;
}

std::vector<PopServerKind> TlsPopServerKinds()
{
    auto make = [] { return std::unique_ptr<PopServer>(new DovecotTlsPopServer); };
    return {{"DovecotTls", make, TTlsMode::Implicit}, {"DovecotStls", make, TTlsMode::StartTls}};
}

void PrintTo(const PopServerKind& kind, std::ostream* os)
{
    *os << kind.Name;
}

namespace {
std::map<std::string, std::unique_ptr<PopServer>>& SharedServers()
{
    static std::map<std::string, std::unique_ptr<PopServer>> servers;
    return servers;
}
} // namespace

PopServer& SharedPopServer(const PopServerKind& kind, const std::string& user, const std::string& password)
{
    std::unique_ptr<PopServer>& slot = SharedServers()[kind.Name];
    if (!slot) {
        slot = kind.Make();
        slot->Start(user, password);
    }
    slot->ClearMessages();
    return *slot;
}

void ReleaseSharedPopServers()
{
    SharedServers().clear();
}
