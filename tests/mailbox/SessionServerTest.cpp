// The session against servers made for one test. Scripted ones, for what no real server
// does on demand: a refused summary, DELE, RSET or count, a connection cut at RSET, an end
// while a reply is awaited; and the component set up from the account's fields. Dovecots
// over TLS, for what the session keeps in "Trusted.lst": a server the system vouches for
// connects without a question and is noted without a pin; a certificate it does not vouch
// for goes to the owner's hook and, trusted, is pinned for its server; any other certificate
// for that server then asks again as a change. The question's text and the failure texts
// are the window's (tests/app/MailboxTlsTest.cpp).
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <climits>
#include <filesystem>
#include <sys/stat.h>

#include "mailbox/Environment.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/TrustFile.h"
#include "pop3/Nmpop3.h"
#include "runtime/Exception.h"
#include "tests/support/Dovecot.h"
#include "tests/support/PopServer.h"
#include "tests/support/ScriptServer.h"
#include "tests/support/Store.h"
#include "tests/support/TestCerts.h"

using testsupport::Listed;
using testsupport::Script;
using testsupport::ScriptServer;

namespace {

class SessionServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Files.isValid());
        SetAppFolder(Files.path().toStdString());
        S.OnDisconnect = [this](bool kept) { Events.push_back(kept ? "lost, kept" : "closed"); };
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
    static TAccountFields Account(int port, const std::string& host = "127.0.0.1", const std::string& timeOut = "10",
                                  const std::string& security = "")
    {
        return {"test", "alice", "secret", host, timeOut, std::to_string(port), security};
    }
    void ConnectAndList(const ScriptServer& server)
    {
        ASSERT_TRUE(S.Connect(Account(server.Port())));
        S.List();
    }

    bool ConnectAndEnd(int port, const std::string& security = "tls")
    {
        const bool in = S.Connect(Account(port, "127.0.0.1", "10", security));
        S.End();
        return in;
    }
    static const testsupport::TestCerts& Certs() { return TrustedTestCerts(); }
    // Serves `cert` from the first byte on the same ports as before.
    static void Serve(DovecotServer& server, const testsupport::TestCert& cert)
    {
        server.Stop();
        server.EnableTls(cert.CertFile, cert.KeyFile);
        server.Restart();
    }

    QTemporaryDir Files;
    TPasswordLookup Passwords{nullptr};
    TMailboxSession S{Passwords};
    std::vector<std::string> Events;
    std::vector<TTrustQuestion> Questions;
    bool Trust = false;
};

TEST_F(SessionServerTest, ARefusedSummaryLeavesItsRecordWithoutHeaderAndTheOthersKeepTheirNumbers)
{
    Script s;
    s.Pop3Listing("alice", "secret", 5).Summaries(1, 2).Expect("TOP 3 0").SendLine("-ERR gone");
    s.Summaries(4, 5).Expect("RETR 4").Send("+OK\r\nSubject: four\r\n\r\nbody of four\r\n.\r\n").Pop3Quit();
    ScriptServer server(s);
    ConnectAndList(server);
    EXPECT_EQ(Listed(S.Store()), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_FALSE(S.Store().At(2).HeaderKnown);   // listed with its size, no header
    EXPECT_EQ(S.Store().At(2).Size, 300);
    EXPECT_EQ(S.Store().At(3).Subject, " message 4");
    const TFetchedText text = S.FetchText(4);
    EXPECT_EQ(text.Subject, " four");
    EXPECT_EQ(text.Text.substr(0, 12), "body of four");
    S.End();
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(SessionServerTest, ARefusedDeletionRaisesTheReplyAndAsksForNoFurtherMessage)
{
    Script s;
    s.Pop3Listing("alice", "secret", 3).Summaries(1, 3)
        .Expect("DELE 1").SendLine("+OK deleted")
        .Expect("DELE 2").SendLine("-ERR message 2 is locked")
        .Expect("DELE 2").SendLine("+OK deleted")
        .Expect("DELE 3").SendLine("+OK deleted")
        .Pop3Quit();
    ScriptServer server(s);
    ConnectAndList(server);
    try {
        S.Delete({1, 2, 3});
        ADD_FAILURE() << "the refusal was not raised";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "-ERR message 2 is locked\r\n");
    }
    EXPECT_EQ(server.ReceivedLines(0).back(), "DELE 2\r\n");
    EXPECT_EQ(Listed(S.Store()), (std::vector<int>{2, 3}));
    EXPECT_EQ(S.DeletedCount(), 1);
    EXPECT_EQ(S.Delete({2, 3}), 2);
    S.End();
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(SessionServerTest, ARefusedUndoKeepsTheDeletionsAndOneCutOffBringsTheRecordsBack)
{
    Script refused, cut;
    refused.Pop3Listing("alice", "secret", 2).Summaries(1, 2).Expect("DELE 1").SendLine("+OK deleted");
    refused.Expect("RSET").SendLine("-ERR no").Pop3Quit();
    cut.Pop3Listing("alice", "secret", 3).Summaries(1, 3).Expect("DELE 2").SendLine("+OK deleted").Expect("RSET").Close();
    ScriptServer server({refused, cut});
    ConnectAndList(server);
    ASSERT_EQ(S.Delete({1}), 1);
    EXPECT_THROW(S.Undo(), Exception);
    EXPECT_EQ(Listed(S.Store()), std::vector<int>{2});
    EXPECT_EQ(S.DeletedCount(), 1);
    S.End();

    ConnectAndList(server);
    ASSERT_EQ(S.Delete({2}), 1);
    EXPECT_THROW(S.Undo(), Exception);
    EXPECT_FALSE(S.Connected());
    EXPECT_EQ(Events, (std::vector<std::string>{"closed", "lost, kept"}));
    EXPECT_EQ(Listed(S.Store()), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(S.DeletedCount(), 0);
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(server.TimesSent(1, "QUIT"), 0u);
}

TEST_F(SessionServerTest, ARefusedCountFailsAndEndsIdleThoughTheLoginWasAccepted)
{
    ScriptServer server(Script().Pop3Login("+OK", "alice", "secret", "-ERR mailbox busy").Pop3Quit());
    EXPECT_FALSE(S.Connect(Account(server.Port())));
    EXPECT_EQ(S.Failure(), TConnectFailure::Other);
    EXPECT_EQ(S.State(), TSessionState::Idle);
    EXPECT_FALSE(S.Connected());
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(SessionServerTest, AnEndDuringAListingWithNothingToCommitDropsTheConnectionAtOnce)
{
    std::atomic<bool> waiting{false};
    Script s;
    s.Pop3Listing("alice", "secret", 5).Summaries(1, 2).Expect("TOP 3 0").Call([&waiting] { waiting = true; }).WaitForClose();
    ScriptServer server(s);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (waiting) {
            poll.stop();
            S.End();
        }
    });
    poll.start(2);
    ConnectAndList(server);
    EXPECT_FALSE(S.Pop3().TimeoutFired) << "the end ended the wait, not the time-out";
    EXPECT_EQ(S.Store().Count(), 5);
    EXPECT_EQ(testsupport::Headers(S.Store()), 2);
    EXPECT_FALSE(S.Connected());
    EXPECT_EQ(S.State(), TSessionState::Idle);
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(server.TimesSent(0, "QUIT"), 0u);
}

TEST_F(SessionServerTest, TimeOutAndPortComeFromTheAccount)
{
    const struct {
        const char* timeOut;
        const char* port;
        int ms;
        int expectedPort;
    } cases[] = {
        {"abc", "abc", 30000, 110},        // not numbers: the defaults
        {"45", "2110", 45000, 2110},
        {"-5", "110", 30000, 110},          // no negative time-out for the component
        {"9999999", "110", INT_MAX, 110},   // seconds beyond what milliseconds hold
    };
    for (const auto& c : cases) {
        TAccountFields account = Account(0, "bad..name", c.timeOut);
        account[afPort] = c.port;
        EXPECT_FALSE(S.Connect(account));
        EXPECT_EQ(S.Pop3().TimeOut, c.ms) << c.timeOut;
        EXPECT_EQ(S.Pop3().Port, c.expectedPort) << c.port;
        EXPECT_EQ(S.Pop3().Host, "bad..name");
        EXPECT_EQ(S.Pop3().UserID, "alice");
    }
}

// ---- TLS and "Trusted.lst" ----

TEST_F(SessionServerTest, AServerTheSystemTrustsIsNotedWithoutAPinAndAnotherCertificateAsksAsAChange)
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

TEST_F(SessionServerTest, ACertificateTrustedByItsOwnerIsPinnedForItsServerOnly)
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
