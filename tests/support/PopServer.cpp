#include "tests/support/PopServer.h"

#include "tests/support/DemoServer.h"
#include "tests/support/Dovecot.h"

namespace {
class DovecotPopServer : public PopServer {
public:
    void Start(const std::string& user, const std::string& password) override { FServer.Start(user, password); }
    void Stop() override { FServer.Stop(); }
    int Port() const override { return FServer.Port(); }
    std::string AddMessage(const std::string& raw) override { return FServer.AddMessage(raw); }
    int CountMessages() const override { return FServer.CountMessages(); }
    void ClearMessages() override { FServer.ClearMessages(); }

private:
    DovecotServer FServer;
};
}

std::unique_ptr<PopServer> MakeDovecotPopServer() { return std::make_unique<DovecotPopServer>(); }

std::vector<PopServerKind> PopServerKinds()
{
    return {{"Dovecot", MakeDovecotPopServer},
            {"Demo", MakeDemoPopServer}};
}
