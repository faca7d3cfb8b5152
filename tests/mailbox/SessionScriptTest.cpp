// The session against scripted servers, for what no real server does on demand: a refused
// summary, DELE, RSET or count, a connection cut at RSET, an end while a reply is awaited;
// and the component set up from the account's fields.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <climits>

#include "mailbox/Environment.h"
#include "mailbox/MailboxSession.h"
#include "pop3/Nmpop3.h"
#include "runtime/Exception.h"
#include "tests/support/ScriptServer.h"
#include "tests/support/Store.h"

using testsupport::Listed;
using testsupport::Script;
using testsupport::ScriptServer;

namespace {

class SessionScriptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Files.isValid());
        SetAppFolder(Files.path().toStdString());
        S.OnDisconnect = [this](bool kept) { Events.push_back(kept ? "lost, kept" : "closed"); };
    }
    void TearDown() override
    {
        S.End();
        SetAppFolder("");
    }
    static TAccountFields Account(int port, const std::string& host = "127.0.0.1", const std::string& timeOut = "10")
    {
        return {"test", "alice", "secret", host, timeOut, std::to_string(port)};
    }
    void ConnectAndList(const ScriptServer& server)
    {
        ASSERT_TRUE(S.Connect(Account(server.Port())));
        S.List();
    }

    QTemporaryDir Files;
    TPasswordLookup Passwords{nullptr};
    TMailboxSession S{Passwords};
    std::vector<std::string> Events;
};

TEST_F(SessionScriptTest, ARefusedSummaryLeavesItsRecordWithoutHeaderAndTheOthersKeepTheirNumbers)
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

TEST_F(SessionScriptTest, ARefusedDeletionRaisesTheReplyAndAsksForNoFurtherMessage)
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

TEST_F(SessionScriptTest, ARefusedUndoKeepsTheDeletionsAndOneCutOffBringsTheRecordsBack)
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

TEST_F(SessionScriptTest, ARefusedCountFailsAndEndsIdleThoughTheLoginWasAccepted)
{
    ScriptServer server(Script().Pop3Login("+OK", "alice", "secret", "-ERR mailbox busy").Pop3Quit());
    EXPECT_FALSE(S.Connect(Account(server.Port())));
    EXPECT_EQ(S.Failure(), TConnectFailure::Other);
    EXPECT_EQ(S.State(), TSessionState::Idle);
    EXPECT_FALSE(S.Connected());
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(SessionScriptTest, AnEndDuringAListingWithNothingToCommitDropsTheConnectionAtOnce)
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

TEST_F(SessionScriptTest, TimeOutAndPortComeFromTheAccount)
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

} // namespace
