// The session over TLS against Dovecot, and what it keeps in "Trusted.lst": a server the
// system vouches for connects without a question and is noted without a pin; a certificate
// it does not vouch for goes to the owner's hook and, trusted, is pinned for its server; any
// other certificate for that server then asks again as a change. The question's text and the
// failure texts are the window's (tests/app/MailboxTlsTest.cpp).
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <sys/stat.h>

#include "mailbox/Environment.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/TrustFile.h"
#include "tests/support/Dovecot.h"
#include "tests/support/PopServer.h"
#include "tests/support/TestCerts.h"

namespace {

class SessionTlsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Files.isValid());
        SetAppFolder(Files.path().toStdString());
        S.OnTrustCertificate = [this](const TTrustQuestion& q) {
            Questions.push_back(q);
            return Trust;
        };
    }
    void TearDown() override
    {
        S.End();
        SetAppFolder("");
    }
    static const testsupport::TestCerts& Certs() { return TrustedTestCerts(); }
    // Serves `cert` from the first byte on the same ports as before.
    static void Serve(DovecotServer& server, const testsupport::TestCert& cert)
    {
        server.Stop();
        server.EnableTls(cert.CertFile, cert.KeyFile);
        server.Restart();
    }
    bool ConnectAndEnd(int port, const std::string& security = "tls")
    {
        const bool in = S.Connect({"test", "alice", "secret", "127.0.0.1", "10", std::to_string(port), security});
        S.End();
        return in;
    }

    QTemporaryDir Files;
    TPasswordLookup Passwords{nullptr};
    TMailboxSession S{Passwords};
    std::vector<TTrustQuestion> Questions;
    bool Trust = false;
};

TEST_F(SessionTlsTest, AServerTheSystemTrustsIsNotedWithoutAPinAndAnotherCertificateAsksAsAChange)
{
    DovecotServer server;
    server.EnableTls(Certs().Server.CertFile, Certs().Server.KeyFile);
    server.Start();
    EXPECT_TRUE(ConnectAndEnd(server.TlsPort()));
    EXPECT_TRUE(ConnectAndEnd(server.Port(), "starttls"));
    EXPECT_TRUE(Questions.empty());
    const std::string tls = std::to_string(server.TlsPort()), plain = std::to_string(server.Port());
    EXPECT_EQ(LoadTrustFile(TrustFileName()), (std::vector<TTrustedCertificate>{{"127.0.0.1", tls, ""}, {"127.0.0.1", plain, ""}}));
    Serve(server, Certs().SelfSigned);
    EXPECT_FALSE(ConnectAndEnd(server.TlsPort()));
    EXPECT_EQ(S.Failure(), TConnectFailure::Untrusted);
    ASSERT_EQ(Questions.size(), 1u);
    EXPECT_TRUE(Questions[0].Changed);
}

TEST_F(SessionTlsTest, ACertificateTrustedByItsOwnerIsPinnedForItsServerOnly)
{
    DovecotServer server;
    const testsupport::TestCert& self = Certs().AllWrong;   // self-signed, expired, for another name
    server.EnableTls(self.CertFile, self.KeyFile);
    server.Start();
    const int port = server.TlsPort();
    EXPECT_FALSE(ConnectAndEnd(port));   // declined: nothing kept
    EXPECT_EQ(S.Failure(), TConnectFailure::Untrusted);
    ASSERT_EQ(Questions.size(), 1u);
    EXPECT_EQ(Questions[0].Fingerprint, self.Sha256);
    EXPECT_FALSE(Questions[0].Changed);
    EXPECT_FALSE(std::filesystem::exists(TrustFileName()));

    Trust = true;   // but "Trusted.lst" cannot be written (a folder in its place)
    ASSERT_TRUE(std::filesystem::create_directory(TrustFileName()));
    EXPECT_FALSE(ConnectAndEnd(port));
    EXPECT_EQ(S.Failure(), TConnectFailure::TrustNotSaved);
    ASSERT_TRUE(std::filesystem::remove(TrustFileName()));

    EXPECT_TRUE(ConnectAndEnd(port));   // trusted, then connected on the second try
    const std::vector<TTrustedCertificate> kept{{"127.0.0.1", std::to_string(port), self.Sha256}};
    EXPECT_EQ(LoadTrustFile(TrustFileName()), kept);
    struct stat st {};
    ASSERT_EQ(::stat(TrustFileName().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    Questions.clear();
    EXPECT_TRUE(ConnectAndEnd(port));
    EXPECT_TRUE(Questions.empty());

    Trust = false;
    Serve(server, Certs().UnknownIssuer);
    ASSERT_EQ(server.TlsPort(), port);
    EXPECT_FALSE(ConnectAndEnd(port));
    ASSERT_EQ(Questions.size(), 1u);
    EXPECT_TRUE(Questions[0].Changed);
    EXPECT_EQ(Questions[0].Problem, TTlsProblem::CertificateUntrusted);
    EXPECT_EQ(LoadTrustFile(TrustFileName()), kept);

    // A STARTTLS account at a server without STLS fails for that reason, with no question.
    DovecotServer plain;
    plain.Start();
    Questions.clear();
    EXPECT_FALSE(ConnectAndEnd(plain.Port(), "starttls"));
    EXPECT_EQ(S.Failure(), TConnectFailure::Tls);
    EXPECT_EQ(S.TlsProblem(), TTlsProblem::StlsNotOffered);
    EXPECT_TRUE(Questions.empty());
}

} // namespace
