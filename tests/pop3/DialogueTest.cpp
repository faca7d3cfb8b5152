// The POP3 dialogue against scripted servers: the replies real servers rarely give, login
// and its handlers, the busy flag, dropped connections and time-outs.

#include "Pop3TestUtil.h"

#include "jconv/Jconvert.h"
#include "runtime/Exception.h"
#include "tests/support/TestCerts.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <ostream>
#include <string_view>

using namespace pop3test;

namespace {

using DialogueTest = Pop3Test;

// ---- connect and disconnect ----

TEST_F(DialogueTest, ConnectLogsInTakesTheCountAndDisconnectQuits)
{
    ScriptServer server(Login("+OK 3 1200").Expect("QUIT").SendLine("+OK bye").WaitForClose());
    ConnectTo(server);
    EXPECT_EQ(Pop->MessageCount, 3);
    EXPECT_TRUE(Pop->Connected);
    EXPECT_FALSE(Pop->Busy());
    Pop->Disconnect();
    EXPECT_FALSE(Pop->Connected);
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "disconnect"}));
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(DialogueTest, BareOkPassesEveryContainsTestButNotUidlsExactOne)
{
    ScriptServer server(Script()
                            .Pop3Login("+OK", "bob", "pw", "+OK 1 50")
                            .Expect("TOP 1 0")
                            .Send(Listing({"Subject: x", ""}))
                            .Expect("LIST 1")
                            .SendLine("+OK 1 50")
                            .Expect("UIDL 1")
                            .SendLine("+OK")
                            .Expect("QUIT")
                            .SendLine("+OK")
                            .WaitForClose());
    ConnectTo(server);
    Pop->GetSummary(1);
    EXPECT_EQ(Pop->Summary.Bytes, 50);
    EXPECT_EQ(Failure([&] { Pop->UniqueID(1); }), "+OK\r\n");
    EXPECT_EQ(Events.back(), "failure");
    EXPECT_NO_THROW(Pop->Disconnect());
}

TEST_F(DialogueTest, StatCountsOnlyAPlainNumberFollowedByMore)
{
    ScriptServer server(Login("+OK 5").WaitForClose());
    ConnectTo(server);
    EXPECT_EQ(Pop->MessageCount, 0) << "the count ends in the line end, so it is no plain number";
}

TEST_F(DialogueTest, RefusedStatQuitsThenFiresOnConnectThenRaisesTheReply)
{
    ScriptServer server(Login("-ERR mailbox locked").Expect("QUIT").SendLine("+OK").WaitForClose());
    EXPECT_EQ(Failure([&] { ConnectTo(server); }), "-ERR mailbox locked\r\n");
    EXPECT_EQ(Events, (std::vector<std::string>{"disconnect", "connect"}));
    EXPECT_FALSE(Pop->Connected);
    EXPECT_FALSE(Pop->Busy());
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(DialogueTest, RefusedGreetingIsRaisedWithoutOnConnect)
{
    ScriptServer server(Script().SendLine("-ERR too busy").Expect("QUIT").SendLine("+OK").WaitForClose());
    EXPECT_EQ(Failure([&] { ConnectTo(server); }), "-ERR too busy\r\n");
    EXPECT_EQ(Events, (std::vector<std::string>{"disconnect"}));
}

TEST_F(DialogueTest, GreetingCutOffByTheServerGivesAClearText)
{
    ScriptServer server(Script().Close());
    Pop->TimeOut = 0;
    EXPECT_EQ(Failure([&] { ConnectTo(server); }), ConnectionClosedText);
    EXPECT_FALSE(Pop->Connected);
    EXPECT_FALSE(Pop->Busy());
}

TEST_F(DialogueTest, RefusedQuitIsRaisedAfterTheSocketIsClosed)
{
    ScriptServer server(Login().Expect("QUIT").SendLine("-ERR not now").WaitForClose());
    ConnectTo(server);
    EXPECT_EQ(Failure([&] { Pop->Disconnect(); }), "-ERR not now\r\n");
    EXPECT_FALSE(Pop->Connected);
    EXPECT_EQ(Events.back(), "disconnect");
}

TEST_F(DialogueTest, DisconnectWithoutConnectionDoesNothing)
{
    EXPECT_NO_THROW(Pop->Disconnect());
    EXPECT_TRUE(Events.empty());
}

TEST_F(DialogueTest, DestroyingTheComponentDropsTheConnectionWithoutQuit)
{
    ScriptServer server(Login().WaitForClose());
    ConnectTo(server);
    Pop.reset();
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(server.TimesSent(0, "QUIT"), 0u);
    EXPECT_TRUE(server.ClientClosed(0));
}

// ---- authentication ----

TEST_F(DialogueTest, MissingCredentialsWithoutHandlerFailBeforeAnyConnection)
{
    ScriptServer server(Script{});
    Pop->Password = "";
    EXPECT_EQ(Failure([&] { ConnectTo(server); }), "Authentication failed");
    EXPECT_EQ(server.Accepted(), 0u);
}

TEST_F(DialogueTest, NeededHandlerIsAskedOnceAndMaySupplyTheCredentials)
{
    ScriptServer server(Login().WaitForClose());
    Pop->UserID = "";
    int asked = 0;
    Pop->OnAuthenticationNeeded = [&](bool& Handled) {
        ++asked;
        Pop->UserID = "bob";
        Handled = true;
    };
    ConnectTo(server);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(Pop->Connected);
}

TEST_F(DialogueTest, NeededHandlerThatDeclinesFails)
{
    ScriptServer server(Script{});
    Pop->UserID = "";
    Pop->OnAuthenticationNeeded = [](bool&) {};
    EXPECT_EQ(Failure([&] { ConnectTo(server); }), "Authentication failed");
    EXPECT_EQ(server.Accepted(), 0u);
}

TEST_F(DialogueTest, NeededHandlerThatLeavesThemEmptyIsNotAskedAgain)
{
    ScriptServer server(Script()
                            .Pop3Login("+OK", "bob", "", "+OK 0 0")
                            .WaitForClose());
    Pop->Password = "";
    int asked = 0;
    Pop->OnAuthenticationNeeded = [&](bool& Handled) {
        ++asked;
        Handled = true;
    };
    ConnectTo(server);
    EXPECT_EQ(asked, 1);
}

Script Rejected(const char* reply)
{
    return Script().Greet("+OK").Expect("USER bob").SendLine("+OK").Expect("PASS pw").SendLine(reply);
}

TEST_F(DialogueTest, RejectedPasswordWithoutHandlerFailsAndQuits)
{
    ScriptServer server(Rejected("-ERR wrong").Expect("QUIT").SendLine("+OK").WaitForClose());
    EXPECT_EQ(Failure([&] { ConnectTo(server); }), "Authentication failed");
    EXPECT_EQ(Events, (std::vector<std::string>{"disconnect"}));
    EXPECT_EQ(Pop->LoginRefusal, "-ERR wrong");   // the refusal, not the QUIT's reply
}

TEST_F(DialogueTest, FailedHandlerGetsExactlyOneMoreAttempt)
{
    ScriptServer server(Rejected("-ERR wrong")
                            .Expect("USER bob")
                            .SendLine("+OK")
                            .Expect("PASS pw2")
                            .SendLine("-ERR wrong again")
                            .Expect("QUIT")
                            .SendLine("+OK")
                            .WaitForClose());
    int asked = 0;
    Pop->OnAuthenticationFailed = [&](bool& Handled) {
        ++asked;
        Pop->Password = "pw2";
        Handled = true;
    };
    EXPECT_EQ(Failure([&] { ConnectTo(server); }), "Authentication failed");
    EXPECT_EQ(asked, 1);
}

TEST_F(DialogueTest, FailedHandlerCanLeadToASuccessfulSecondAttempt)
{
    ScriptServer server(Script()
                            .Greet("+OK")
                            .Expect("USER bob")
                            .SendLine("-ERR who?")   // a refused USER: no PASS in this attempt
                            .Expect("USER bob")
                            .SendLine("+OK")
                            .Expect("PASS pw")
                            .SendLine("+OK")
                            .Expect("STAT")
                            .SendLine("+OK 4 400")
                            .WaitForClose());
    std::string refusal;
    Pop->OnAuthenticationFailed = [&](bool& Handled) {
        refusal = Pop->LoginRefusal;
        Handled = true;
    };
    ConnectTo(server);
    EXPECT_EQ(Pop->MessageCount, 4);
    EXPECT_EQ(Events, (std::vector<std::string>{"connect"}));
    EXPECT_EQ(refusal, "-ERR who?");
    EXPECT_EQ(Pop->LoginRefusal, "");   // the retry was accepted
}

// ---- deletion, ids, reset, listing ----

TEST_F(DialogueTest, DeleIsRefusedOnlyByTheExactWordMinusErr)
{
    ScriptServer server(Login()
                            .Expect("DELE 1")
                            .SendLine("-ERR")   // the first word is "-ERR" plus the line end
                            .Expect("DELE 2")
                            .SendLine("-ERR no such message")
                            .Expect("DELE 3")
                            .SendLine("+OK deleted")
                            .WaitForClose());
    ConnectTo(server);
    Pop->DeleteMailMessage(1);
    EXPECT_EQ(Events.back(), "success");
    EXPECT_EQ(Failure([&] { Pop->DeleteMailMessage(2); }), "-ERR no such message\r\n");
    EXPECT_EQ(Events.back(), "failure");
    EXPECT_FALSE(Pop->Busy());
    Pop->DeleteMailMessage(3);
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "success", "failure", "success"}));
}

TEST_F(DialogueTest, ADeletionWhoseReplyNeverComesIsNoSuccess)
{
    ScriptServer server(Login().Expect("DELE 1").Close());
    Pop->TimeOut = 0;
    ConnectTo(server);
    EXPECT_EQ(Failure([&] { Pop->DeleteMailMessage(1); }), ConnectionClosedText);
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "success"), 0);
    EXPECT_FALSE(Pop->Connected);
}

TEST_F(DialogueTest, UniqueIdIsTheThirdFieldWithoutTheLineEnd)
{
    ScriptServer server(Login().Expect("UIDL 2").SendLine("+OK 2 whqtswO00WBw418f9t5JxYwZ").WaitForClose());
    ConnectTo(server);
    EXPECT_EQ(Pop->UniqueID(2), "whqtswO00WBw418f9t5JxYwZ");
}

TEST_F(DialogueTest, ResetSendsRsetAndFiresOnResetOrRaisesTheRefusal)
{
    ScriptServer server(Login().Expect("RSET").SendLine("+OK").Expect("RSET").SendLine("-ERR no").WaitForClose());
    ConnectTo(server);
    Pop->Reset();
    EXPECT_EQ(Events.back(), "reset");
    Events.clear();
    EXPECT_EQ(Failure([&] { Pop->Reset(); }), "-ERR no\r\n");
    EXPECT_TRUE(Events.empty());
}

TEST_F(DialogueTest, ListHandsEveryLineToOnList)
{
    ScriptServer server(Login().Expect("LIST ").Send(Listing({"1 120", "2 3400"})).WaitForClose());
    std::vector<std::pair<int, int>> seen;
    Pop->OnList = [&](int Msg, int Size) { seen.emplace_back(Msg, Size); };
    ConnectTo(server);
    Pop->List();
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 120}, {2, 3400}}));
    EXPECT_FALSE(Pop->Busy());
}

TEST_F(DialogueTest, ListRefusedIsRaisedInsteadOfAwaitingAListing)
{
    ScriptServer server(Login().Expect("LIST ").SendLine("-ERR not now").Expect("RSET").SendLine("+OK").WaitForClose());
    Pop->TimeOut = 0;
    ConnectTo(server);
    EXPECT_EQ(Failure([&] { Pop->List(); }), "-ERR not now\r\n");
    Pop->Reset();
    EXPECT_EQ(Events.back(), "reset");
}

TEST_F(DialogueTest, AListingLineThatIsNoNumberEndsTheListingButNotTheSession)
{
    ScriptServer server(
        Login().Expect("LIST ").Send(Listing({"1 100", "x 200", "3 300"})).Expect("RSET").SendLine("+OK").WaitForClose());
    std::vector<int> seen;
    Pop->OnList = [&](int Msg, int) { seen.push_back(Msg); };
    ConnectTo(server);
    EXPECT_THROW(Pop->List(), EConvertError);
    EXPECT_EQ(seen, (std::vector<int>{1}));
    EXPECT_FALSE(Pop->Busy());
    Pop->Reset();   // the rest of the listing was taken: RSET gets its own reply
    EXPECT_EQ(Events.back(), "reset");
}

TEST_F(DialogueTest, OperationsWithoutConnectionRaiseNotConnected)
{
    EXPECT_EQ(Failure([&] { Pop->GetSummary(1); }), "Not Connected");
    EXPECT_EQ(Failure([&] { Pop->GetMailMessage(1); }), "Not Connected");
    EXPECT_EQ(Failure([&] { Pop->DeleteMailMessage(1); }), "Not Connected");
    EXPECT_EQ(Failure([&] { Pop->UniqueID(1); }), "Not Connected");
    EXPECT_EQ(Failure([&] { Pop->List(); }), "Not Connected");
    EXPECT_EQ(Failure([&] { Pop->Reset(); }), "Not Connected");
    std::string value = "old";
    EXPECT_EQ(Failure([&] { Pop->Extract("Subject", value); }), "Not Connected");
    EXPECT_TRUE(Events.empty());
    EXPECT_FALSE(Pop->Busy());
}

// ---- summaries ----

using SummaryTest = Pop3Test;

TEST_F(SummaryTest, FieldsComeFromExactFieldNamesAndEveryLineIsKept)
{
    const std::vector<std::string> header = {
        "Return-Path: <taro@example.jp>",
        "subject: lower case is not the subject",
        "Subject: =?ISO-2022-JP?B?GyRCMnFEZCROJCpDTiRpJDsbKEI=?=",
        " =?ISO-2022-JP?B?GyRCJDMkcxsoQg==?=",
        "From: Taro <taro@example.jp>",
        "Message-ID: <20240101.1234@example.jp>",
        "..starts with a dot",
        "",
    };
    ScriptServer server(Login().Expect("TOP 1 0").Send(Listing(header)).Expect("LIST 1").SendLine("+OK 1 2345").WaitForClose());
    ConnectTo(server);
    Pop->GetSummary(1);
    EXPECT_EQ(Pop->Summary.Subject, " =?ISO-2022-JP?B?GyRCMnFEZCROJCpDTiRpJDsbKEI=?=") << "only the first physical line";
    EXPECT_EQ(Pop->Summary.From, " Taro <taro@example.jp>");
    EXPECT_EQ(Pop->Summary.MessageId, "<20240101.1234@example.jp>");
    EXPECT_EQ(Pop->Summary.Bytes, 2345);
    std::vector<std::string> expected = header;
    expected.push_back(".");
    EXPECT_EQ(Lines(Pop->Summary.Header), expected) << "folded and dot-stuffed lines as received, then \"\" and \".\"";
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "start", "end"}));
}

TEST_F(SummaryTest, TheLaterOfTwoSubjectLinesWins)
{
    ScriptServer server(Login()
                            .Expect("TOP 1 0")
                            .Send(Listing({"Subject: first", "Subject: second", ""}))
                            .Expect("LIST 1")
                            .SendLine("+OK 1 10")
                            .WaitForClose());
    ConnectTo(server);
    Pop->GetSummary(1);
    EXPECT_EQ(Pop->Summary.Subject, " second");
}

TEST_F(SummaryTest, RefusedTopSendsNoListAndKeepsThePreviousSummary)
{
    ScriptServer server(Login()
                            .Expect("TOP 1 0")
                            .Send(Listing({"Subject: one", ""}))
                            .Expect("LIST 1")
                            .SendLine("+OK 1 11")
                            .Expect("LIST")
                            .Send(Listing({"1 11", "2 22"}))
                            .Expect("TOP 2 0")
                            .SendLine("-ERR no such message")
                            .Expect("QUIT")
                            .SendLine("+OK")
                            .WaitForClose());
    ConnectTo(server);
    Pop->GetSummary(1);
    EXPECT_EQ(Failure([&] { Pop->GetSummary(2); }), "-ERR no such message\r\n");
    EXPECT_EQ(Pop->Summary.Subject, " one");
    EXPECT_EQ(Pop->Summary.Bytes, 11);
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "end"), 1);
    Pop->Disconnect();   // the script expects QUIT next: no LIST 2 was sent
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(SummaryTest, ASizeThatIsNoNumberRaisesTheIntegerParsersErrorWithoutOnRetrieveEnd)
{
    ScriptServer server(Login()
                            .Expect("TOP 1 0")
                            .Send(Listing({"Subject: x", ""}))
                            .Expect("LIST 1")
                            .SendLine("-ERR no such message")
                            .WaitForClose());
    ConnectTo(server);
    try {
        Pop->GetSummary(1);
        ADD_FAILURE() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message.substr(0, 7), "'such' ");
    }
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "start"}));
    EXPECT_FALSE(Pop->Busy());
}

TEST_F(SummaryTest, RepliesInPiecesGiveTheSameFieldsStatusTextsAndLastReply)
{
    // Lines cut across receives (a field name, the "." before its LF, the size reply), and
    // a second summary over the first: the reply reading is taken apart here, not the texts.
    ScriptServer server(Login()
                            .Expect("TOP 1 0")
                            .SendPieces({"+OK top\r\nSubject: one\r\nFro", "m: two\r\nMessage-ID: <a@b>\r\n\r\n.\r", "\n"}, 100ms)
                            .Expect("LIST 1")
                            .SendPieces({"+OK 1 ", "77 \r\n"}, 100ms)
                            .Expect("LIST")
                            .SendLine("-ERR not now")   // each size is asked for then
                            .Expect("TOP 2 0")
                            .Send(Listing({"X-Long: " + std::string(300, 'x'), ""}))
                            .Expect("LIST 2")
                            .SendLine("+OK 2 5")
                            .WaitForClose());
    ConnectTo(server);
    std::vector<std::string> trail;
    Pop->ReportLevel = 8;
    Pop->OnStatus = [&](TComponent*, const std::string& text) { trail.push_back(text); };
    Pop->GetSummary(1);
    EXPECT_EQ(Pop->Summary.Subject, " one");
    EXPECT_EQ(Pop->Summary.From, " two");
    EXPECT_EQ(Pop->Summary.MessageId, "<a@b>");
    EXPECT_EQ(Pop->Summary.Bytes, 77);
    EXPECT_EQ(Lines(Pop->Summary.Header), (std::vector<std::string>{"Subject: one", "From: two", "Message-ID: <a@b>", "", "."}));
    EXPECT_EQ(Pop->LastReply, "+OK 1 77 \r\n");
    const std::vector<std::string> send = {"Transaction", "Writeln", "Write", "Sending Buffer", "Timer On", "Timer Off"};
    std::vector<std::string> expected = {"Checking Connection"};
    expected.insert(expected.end(), send.begin(), send.end());
    // Three pieces of TOP: the time-out restarts after each piece that did not end it.
    for (const char* s : {"Timer On", "Timer On", "Timer On", "Timer Off"})
        expected.push_back(s);
    expected.insert(expected.end(), send.begin(), send.end());
    expected.push_back("+OK top\r\n");
    for (const char* s : {"Timer On", "Timer On", "Timer Off", "+OK 1 77 \r\n", "Summary Retrieved"})
        expected.push_back(s);
    EXPECT_EQ(trail, expected);

    Pop->ReportLevel = 0;
    Pop->GetSummary(2);
    EXPECT_EQ(Pop->Summary.Subject, "") << "emptied by the next summary";
    EXPECT_EQ(Pop->Summary.From, "");
    EXPECT_EQ(Pop->Summary.MessageId, "");
    EXPECT_EQ(Pop->Summary.Bytes, 5);
    EXPECT_EQ(Lines(Pop->Summary.Header), (std::vector<std::string>{"X-Long: " + std::string(300, 'x'), "", "."}));
    EXPECT_EQ(Pop->LastReply, "+OK 2 5\r\n");
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "start", "end", "start", "end"}));
}

TEST_F(SummaryTest, AHeaderLargerThanTheTransferBufferKeepsEveryLine)
{
    std::vector<std::string> header;
    for (int i = 0; i < 3000; ++i)
        header.push_back("X-Trace-" + std::to_string(i) + ": " + std::string(40 + i % 23, 'a' + i % 26));
    header.push_back("Subject: after many receives");
    header.push_back("");
    ScriptServer server(Login().Expect("TOP 7 0").Send(Listing(header)).Expect("LIST 7").SendLine("+OK 7 190000").WaitForClose());
    ConnectTo(server);
    Pop->GetSummary(7);
    header.push_back(".");
    EXPECT_EQ(Lines(Pop->Summary.Header), header);
    EXPECT_EQ(Pop->Summary.Subject, " after many receives");
    EXPECT_EQ(Pop->Summary.Bytes, 190000);
}

// ---- the busy flag ----

// ---- summaries sent ahead (PIPELINING) ----

// TOP n 0 and LIST n of the messages, and the replies to them (message 2's refused when
// `refuseSecond`).
std::vector<std::string> Ahead(int from, int to)
{
    std::vector<std::string> lines;
    for (int n = from; n <= to; ++n) {
        lines.push_back("TOP " + std::to_string(n) + " 0");
        lines.push_back("LIST " + std::to_string(n));
    }
    return lines;
}

std::string Answers(int from, int to, bool refuseSecond = false)
{
    std::string out;
    for (int n = from; n <= to; ++n) {
        if (refuseSecond && n == 2)
            out += "-ERR no such message\r\n-ERR no such message\r\n";
        else
            out += Listing({"Subject: s" + std::to_string(n), ""}) + "+OK " + std::to_string(n) + " " + std::to_string(100 * n) + "\r\n";
    }
    return out;
}

Script PipelinedLogin()
{
    return Script().Pop3Login("+OK POP3 ready", "bob", "pw", "+OK 5 1500", {"USER", "PIPELINING"});
}

TEST_F(SummaryTest, WithPipeliningAWindowIsSentAheadInOnePieceAndRepliesAreReadInOrder)
{
    ScriptServer server(std::vector<Script>{
        // Topped up once a quarter of the window is read.
        PipelinedLogin().ExpectTogether(Ahead(1, 4)).Send(Answers(1, 4, true)).ExpectTogether(Ahead(5, 5)).Send(Answers(5, 5)).Expect("QUIT").SendLine("+OK").WaitForClose(),
        // Without PIPELINING one command at a time.
        Login("+OK 2 300").ExpectTogether({"TOP 1 0"}).Send(Listing({"Subject: s1", ""})).ExpectTogether({"LIST 1"}).SendLine("+OK 1 100").WaitForClose()});
    Pop->Depth = 4;
    ConnectTo(server);
    for (int n = 1; n <= 5; ++n) {
        const std::string failure = Failure([&] { Pop->GetSummary(n); });
        EXPECT_EQ(failure, n == 2 ? "-ERR no such message\r\n" : "") << n;
        if (n != 2) {
            EXPECT_EQ(Pop->Summary.Subject, " s" + std::to_string(n));
            EXPECT_EQ(Pop->Summary.Bytes, 100 * n);
        }
    }
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "start"), 5);
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "end"), 4);
    EXPECT_NO_THROW(Pop->Disconnect());

    ConnectTo(server);
    EXPECT_NO_THROW(Pop->GetSummary(1));
    EXPECT_EQ(Pop->Summary.Bytes, 100);
    Pop->Abort();
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(SummaryTest, OnALongRoundTripTheWindowOpensWiderThanOnLoopback)
{
    // 20 ms to every login reply: two round trips' worth is far more than 64 messages.
    const testsupport::Millis trip(20);
    ScriptServer server(std::vector<Script>{
        Script().SendLine("+OK ready").Expect("CAPA").Pause(trip).Send("+OK\r\nPIPELINING\r\n.\r\n")
            .Expect("USER bob").Pause(trip).SendLine("+OK").Expect("PASS pw").Pause(trip).SendLine("+OK")
            .Expect("STAT").Pause(trip).SendLine("+OK 100 1500")
            .ExpectTogether(Ahead(1, 100)).Send(Answers(1, 1)).WaitForClose()});
    ConnectTo(server);
    EXPECT_NO_THROW(Pop->GetSummary(1));
    Pop->Abort();
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(SummaryTest, WithoutPipeliningOneListingOfTheMailboxGivesTheSizesFromTheSecondSummaryOn)
{
    const std::string top = Listing({"Subject: s", ""});
    ScriptServer server(std::vector<Script>{
        // Kept through DELE and RSET, which renumber nothing.
        Login("+OK 3 600").Expect("TOP 1 0").Send(top).Expect("LIST 1").SendLine("+OK 1 100")
            .Expect("LIST").Send(Listing({"1 100", "2 200", "3 300"})).Expect("TOP 2 0").Send(top)
            .Expect("DELE 2").SendLine("+OK").Expect("RSET").SendLine("+OK").Expect("TOP 3 0").Send(top)
            .Expect("QUIT").SendLine("+OK").WaitForClose(),
        // A new session asks again; a listing with a line that is no "number size" is trusted for none.
        Login("+OK 3 600").Expect("TOP 1 0").Send(top).Expect("LIST 1").SendLine("+OK 1 100")
            .Expect("LIST").Send(Listing({"1 100", "2 2x0", "3 300"})).Expect("TOP 3 0").Send(top)
            .Expect("LIST 3").SendLine("+OK 3 301").WaitForClose()});
    ConnectTo(server);
    for (int n = 1; n <= 2; ++n) {
        Pop->GetSummary(n);
        EXPECT_EQ(Pop->Summary.Bytes, 100 * n);
    }
    Pop->DeleteMailMessage(2);
    Pop->Reset();
    Pop->GetSummary(3);
    EXPECT_EQ(Pop->Summary.Bytes, 300);
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "end"), 3);
    Pop->Disconnect();
    ConnectTo(server);
    Pop->GetSummary(1);
    Pop->GetSummary(3);
    EXPECT_EQ(Pop->Summary.Bytes, 301);
    Pop->Abort();
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(SummaryTest, AListingStoppedWithCommandsInFlightLetsTheNextCommandsSeeTheirOwnReplies)
{
    const std::string message = Listing({"Subject: m", "", "body"});
    ScriptServer server(std::vector<Script>{
        PipelinedLogin().ExpectTogether(Ahead(1, 4)).Send(Answers(1, 4)).Expect("DELE 3").SendLine("+OK deleted").Expect("RETR 1").Send(message).WaitForClose(),
        // A time-out, and a close, with commands in flight: no QUIT into what is left.
        PipelinedLogin().ExpectTogether(Ahead(1, 4)).Send(Answers(1, 1)).WaitForClose(),
        PipelinedLogin().ExpectTogether(Ahead(1, 4)).Send(Answers(1, 2)).Close()});
    Pop->Depth = 4;
    ConnectTo(server);
    Pop->GetSummary(1);   // the stop button: no GetSummary(2) follows
    EXPECT_NO_THROW(Pop->DeleteMailMessage(3));
    EXPECT_EQ(Events.back(), "success");
    EXPECT_NO_THROW(Pop->GetMailMessage(1));
    EXPECT_EQ(Lines(Pop->MailMessage.Body), (std::vector<std::string>{"body"}));
    Pop->Abort();

    Pop->TimeOut = 300;
    ConnectTo(server);
    Pop->GetSummary(1);
    EXPECT_THROW(Pop->GetSummary(2), EAbortError);
    EXPECT_TRUE(Pop->TimeoutFired);
    EXPECT_FALSE(Pop->Connected);

    ConnectTo(server);
    Pop->GetSummary(1);
    Pop->GetSummary(2);
    EXPECT_EQ(Failure([&] { Pop->GetSummary(3); }), ConnectionClosedText);
    EXPECT_FALSE(Pop->Connected);
    EXPECT_NO_THROW(Pop->Disconnect());
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(server.ReceivedLines(1).back(), "LIST 5\r\n") << "no QUIT";
}

TEST_F(SummaryTest, ConnectWhileConnectedIsRefusedAndTheListingGoesOnWithTheCommandsInFlight)
{
    ScriptServer server(PipelinedLogin().ExpectTogether(Ahead(1, 4)).Send(Answers(1, 4)).ExpectTogether(Ahead(5, 5)).Send(Answers(5, 5))
                            .Expect("QUIT").SendLine("+OK").WaitForClose());
    Pop->Depth = 4;
    ConnectTo(server);
    Pop->GetSummary(1);
    EXPECT_EQ(Failure([&] { Pop->Connect(); }), "Already connected");
    EXPECT_TRUE(Pop->Connected);
    for (int n = 2; n <= 5; ++n) {
        EXPECT_EQ(Failure([&] { Pop->GetSummary(n); }), "") << n;
        EXPECT_EQ(Pop->Summary.Bytes, 100 * n);
    }
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "connect"), 1);
    EXPECT_NO_THROW(Pop->Disconnect());
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(SummaryTest, CommandsAheadThatCannotBeSentDropTheConnectionWithoutQuit)
{
    // The reset is in the system before the commands go, and no pump has told of it.
    ScriptServer server(std::vector<Script>{PipelinedLogin().Reset(), PipelinedLogin().ExpectTogether(Ahead(1, 4)).Send(Answers(1, 1)).WaitForClose()});
    Pop->Depth = 4;
    ConnectTo(server);
    ASSERT_TRUE(server.WaitScripts(1));
    const std::string failure = Failure([&] { Pop->GetSummary(1); });
    EXPECT_TRUE(failure == "10054:Connection reset by peer" || failure == "10058:Can't send after socket shutdown") << failure;
    EXPECT_FALSE(Pop->Connected) << "the batch may be partly out: no later reply could be told whose it is";
    EXPECT_FALSE(Pop->Busy());
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "start", "disconnect"}));
    ConnectTo(server);
    EXPECT_EQ(Failure([&] { Pop->GetSummary(1); }), "");
    Pop->Abort();
}

TEST_F(DialogueTest, RequestsMadeWhileOneWaitsAreRefusedSilently)
{
    // The replies wait for the requests made inside the waits, however late the pump runs them.
    std::atomic<bool> asked[2] = {false, false};
    ScriptServer server(Login()
                            .Expect("TOP 1 0")
                            .WaitFor(asked[0])
                            .Send(Listing({"Subject: x", ""}))
                            .Expect("LIST 1")
                            .SendLine("+OK 1 10")
                            .Expect("QUIT")
                            .WaitFor(asked[1])
                            .SendLine("+OK")
                            .WaitForClose());
    ConnectTo(server);
    std::string id = "unset";
    int ran = 0;
    auto requests = [&] {
        Pop->GetSummary(2);
        Pop->GetMailMessage(2);
        Pop->DeleteMailMessage(2);
        id = Pop->UniqueID(2);
        Pop->List();
        asked[ran++] = true;
    };
    {
        Later nested(100, requests);
        Pop->GetSummary(1);
    }
    {
        Later nested(100, requests);   // inside QUIT's wait, which is no busy operation
        Pop->Disconnect();
    }
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(id, "");
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "start", "end", "disconnect"}));
    EXPECT_EQ(server.ReceivedLines(0), (std::vector<std::string>{"CAPA\r\n", "USER bob\r\n", "PASS pw\r\n", "STAT\r\n",
                                                                 "TOP 1 0\r\n", "LIST 1\r\n", "QUIT\r\n"}));
}

// ---- dropped connections, time-outs, Abort ----

struct Drop {
    const char* Name;
    const char* Command;
    std::string Sent;   // what the server sends before it closes
    std::function<void(TNMPOP3&)> call;
};

void PrintTo(const Drop& d, std::ostream* os)
{
    *os << d.Name;
}

class DropTest : public Pop3Test, public ::testing::WithParamInterface<Drop> {};

TEST_P(DropTest, AConnectionClosedInsideAReplyEndsTheOperationWithAClearText)
{
    const Drop& d = GetParam();
    ScriptServer server(Login().Expect(d.Command).Send(d.Sent).Close());
    Pop->TimeOut = 0;   // nothing but the close itself may end the wait
    ConnectTo(server);
    Later guard(static_cast<int>(Generous(5s).count()), [&] { Pop->Abort(); });   // (its text would differ)
    EXPECT_EQ(Failure([&] { d.call(*Pop); }), ConnectionClosedText);
    EXPECT_FALSE(Pop->Busy());
    EXPECT_FALSE(Pop->Connected);
    EXPECT_EQ(Events.back() == "end" ? Events[Events.size() - 2] : Events.back(), "disconnect");
}

INSTANTIATE_TEST_SUITE_P(
    EveryReply, DropTest,
    ::testing::Values(Drop{"TopHeader", "TOP 1 0", "+OK\r\nSubject: x\r\nFrom: y\r\n", [](TNMPOP3& p) { p.GetSummary(1); }},
                      Drop{"TopHalfLine", "TOP 1 0", "+OK\r\nSubject: no line end", [](TNMPOP3& p) { p.GetSummary(1); }},
                      Drop{"SizeReply", "TOP 1 0", "+OK\r\n\r\n.\r\n", [](TNMPOP3& p) { p.GetSummary(1); }},
                      Drop{"Listing", "LIST ", "+OK\r\n1 100\r\n", [](TNMPOP3& p) { p.List(); }},
                      Drop{"RetrHeader", "RETR 1", "+OK\r\nSubject: x\r\n", [](TNMPOP3& p) { p.GetMailMessage(1); }},
                      Drop{"RetrBody", "RETR 1", "+OK\r\nSubject: x\r\n\r\nline\r\n", [](TNMPOP3& p) { p.GetMailMessage(1); }},
                      Drop{"Uidl", "UIDL 1", "", [](TNMPOP3& p) { p.UniqueID(1); }},
                      Drop{"Rset", "RSET", "", [](TNMPOP3& p) { p.Reset(); }}),
    [](const ::testing::TestParamInfo<Drop>& info) { return std::string(info.param.Name); });

TEST_F(DialogueTest, ATimeOutDuringAWaitClosesTheConnectionWithoutQuit)
{
    ScriptServer server(Login().Expect("TOP 1 0").WaitForClose());
    ConnectTo(server);
    Pop->TimeOut = 300;
    const auto start = Clock::now();
    EXPECT_THROW(Pop->GetSummary(1), EAbortError);
    EXPECT_GE(MsSince(start), 250) << "not before the time-out";
    EXPECT_LT(MsSince(start), Generous(3s).count());
    EXPECT_TRUE(Pop->TimeoutFired);
    EXPECT_FALSE(Pop->Connected);
    EXPECT_FALSE(Pop->Busy());
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(server.TimesSent(0, "QUIT"), 0u);
}

TEST_F(DialogueTest, AbortFromAHandlerEndsTheWaitAtOnce)
{
    ScriptServer server(Login().Expect("RETR 1").WaitForClose());
    ConnectTo(server);
    Later abort(100, [&] { Pop->Abort(); });
    EXPECT_EQ(Failure([&] { Pop->GetMailMessage(1); }), "Socket readln aborted");
    EXPECT_FALSE(Pop->TimeoutFired);
    EXPECT_FALSE(Pop->Connected);
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "start", "disconnect", "end"}));
    EXPECT_TRUE(server.WaitDone());
}

// ---- small parts ----

TEST(AttachFilePathTest, GetsOneTrailingSeparatorUnlessEmpty)
{
    TNMPOP3 pop(nullptr);
    EXPECT_EQ(pop.AttachFilePath(), "");
    pop.SetAttachFilePath("mail");
    EXPECT_EQ(pop.AttachFilePath(), "mail/");
    pop.SetAttachFilePath("/tmp/mail/");
    EXPECT_EQ(pop.AttachFilePath(), "/tmp/mail/");
    pop.SetAttachFilePath("");
    EXPECT_EQ(pop.AttachFilePath(), "") << "empty is the current directory, not the root";
    EXPECT_EQ(pop.Port, 110);
}

TEST(PlainFileNameTest, KeepsOnlyAPlainNameInsideTheFolder)
{
    using namespace std::string_view_literals;
    struct Case {
        std::string_view Name;
        const char* Plain;
        const char* Rule;
    };
    const Case cases[] = {
        {"report.pdf"sv, "report.pdf", "a plain name stays"},
        {"../../x"sv, "x", "parent steps go"},
        {"/etc/passwd"sv, "passwd", "an absolute path goes"},
        {"a/../../b.txt"sv, "b.txt", "the last part only"},
        {"..\\..\\evil.exe"sv, "evil.exe", "the other platform's separator too"},
        {"C:\\Windows\\x.dll"sv, "x.dll", "a drive path"},
        {".."sv, "", "a parent step alone names nothing"},
        {"."sv, "", "nor does the folder itself"},
        {"dir/"sv, "", "nor an empty last part"},
        {"\x01" "ctl\ttab\x7f.txt"sv, "ctltab.txt", "control characters go"},
        {"a\0b"sv, "ab", "a NUL goes"},
        {"\x95\x5c.txt"sv, "\x95\x5c.txt", "a Shift-JIS trail byte 0x5C is no separator"},
        {"..hidden"sv, "hidden", "leading dots go: they would hide the file"},
        {"a..b"sv, "a..b", "dots inside a name are harmless"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TNMPOP3::PlainFileName(c.Name), c.Plain) << c.Rule;
}

// ---- STLS: every way the upgrade can go wrong ends before USER and PASS ----

// A server that offers STLS (or not) and answers it with `after`.
Script StlsOffer(bool offered, const std::string& after)
{
    Script s;
    s.SendLine("+OK ready").Expect("CAPA").Send(Listing(offered ? std::vector<std::string>{"TOP", "STLS", "USER"}
                                                                : std::vector<std::string>{"TOP", "USER"}));
    if (offered)
        s.Expect("STLS").Send(after);
    return s;
}

struct StlsCase {
    const char* Name;
    Script Server;
    TTlsProblem Problem;
    const char* Text;
    bool Cancel = false;     // the user cancels during the handshake
    bool TimesOut = false;   // the server is silent: a short time-out ends the wait
    TTlsMode Mode = TTlsMode::StartTls;
};

void PrintTo(const StlsCase& c, std::ostream* os)
{
    *os << c.Name;
}

class StlsTest : public Pop3Test, public ::testing::WithParamInterface<StlsCase> {};

TEST_P(StlsTest, EndsTheConnectionBeforeTheCredentials)
{
    const StlsCase& c = GetParam();
    Script script = c.Server;
    ScriptServer server(script.WaitForClose());
    Pop->TlsMode = c.Mode;
    Pop->TimeOut = c.TimesOut ? 300 : static_cast<int>(Generous(20s).count());
    Later cancel(c.Cancel ? 200 : 600000, [&] { Pop->Abort(); });
    const std::string failure = Failure([&] { ConnectTo(server); });
    // A plain greeting to implicit TLS may come before the handshake starts (refused unread)
    // or during it, as the machine schedules the two threads: both end before the credentials.
    const bool early = c.Mode == TTlsMode::Implicit && Pop->TlsProblem() == TTlsProblem::StlsInjected;
    EXPECT_EQ(failure, early ? "TLS handshake failed: data arrived before the handshake" : c.Text);
    EXPECT_EQ(Pop->TimeoutFired, c.TimesOut);
    EXPECT_EQ(Pop->TlsProblem(), early ? TTlsProblem::StlsInjected : c.Problem);
    EXPECT_FALSE(Pop->Connected);
    EXPECT_FALSE(Pop->Busy());
    EXPECT_TRUE(server.WaitDone());
    for (const std::string& line : server.ReceivedLines(0))
        EXPECT_TRUE(line.rfind("USER", 0) != 0 && line.rfind("PASS", 0) != 0 && line.rfind("QUIT", 0) != 0) << line;
}

INSTANTIATE_TEST_SUITE_P(
    EveryFault, StlsTest,
    ::testing::Values(StlsCase{"NotOffered", StlsOffer(false, ""), TTlsProblem::StlsNotOffered, "Server does not offer STLS"},
                      StlsCase{"Refused", StlsOffer(true, "-ERR not now\r\n"), TTlsProblem::StlsRefused, "Server refused STLS"},
                      StlsCase{"InjectedLine", StlsOffer(true, "+OK begin\r\n+OK injected\r\n"), TTlsProblem::StlsInjected,
                               "TLS handshake failed: data arrived before the handshake"},
                      StlsCase{"DropMidHandshake", StlsOffer(true, "+OK begin\r\n").Pause(100ms).Close(),
                               TTlsProblem::HandshakeFailed, "TLS handshake failed: the server closed the connection"},
                      StlsCase{"SilentHandshake", StlsOffer(true, "+OK begin\r\n"), TTlsProblem::HandshakeFailed,
                               "TLS handshake failed: timed out", false, true},
                      StlsCase{"CanceledHandshake", StlsOffer(true, "+OK begin\r\n"), TTlsProblem::HandshakeFailed,
                               "TLS handshake failed: canceled", true},
                      // Implicit TLS to a server that greets in plain text.
                      StlsCase{"PlainGreetingToImplicitTls", Script().SendLine("+OK POP3 ready"), TTlsProblem::HandshakeFailed,
                               "TLS handshake failed", false, false, TTlsMode::Implicit}),
    [](const ::testing::TestParamInfo<StlsCase>& info) { return std::string(info.param.Name); });

TEST_F(DialogueTest, StlsForgetsTheCapabilitiesSaidInClearAndLogsInOverTls)
{
    testsupport::TestCerts certs;
    ScriptServer server(StlsOffer(true, "+OK begin\r\n")
                            .StartTls(certs.SelfSigned)
                            .Expect("CAPA")
                            .Send(Listing({"TOP", "X-AFTER"}))
                            .Expect("USER bob").SendLine("+OK")
                            .Expect("PASS pw").SendLine("+OK")
                            .Expect("STAT").SendLine("+OK 0 0")
                            .WaitForClose());
    Pop->TlsMode = TTlsMode::StartTls;
    Pop->TrustedFingerprints = {certs.SelfSigned.Sha256};
    ConnectTo(server);
    EXPECT_EQ(Pop->Capabilities, (std::vector<std::string>{"TOP", "X-AFTER"}));
    EXPECT_FALSE(Pop->HasCapability("STLS"));
    EXPECT_EQ(Pop->PeerCertificate(), certs.SelfSigned.Der);
    Pop->Abort();
    EXPECT_TRUE(server.WaitDone());
}

// ---- OAuth 2.0 (SASL AUTH) ----

TEST(SaslKnownAnswers, GooglesXoauth2ExampleAndTheErrorChallengesStatus)
{
    const std::string raw = TNMPOP3::SaslResponse(TNMPOP3::TSaslMechanism::XOAuth2, "someuser@example.com",
                                                  "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg", "", 0);
    EXPECT_EQ(Jconvert::EncodeBase64(raw), "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52"
                                           "YjNSbGNrQmhkSFJoZG1semRHRXVZMjl0Q2cBAQ==");
    EXPECT_EQ(TNMPOP3::SaslResponse(TNMPOP3::TSaslMechanism::OAuthBearer, "a,b=c", "T", "pop.example.jp", 995),
              "n,a=a=2Cb=3Dc,\x01host=pop.example.jp\x01port=995\x01" "auth=Bearer T\x01\x01");
    EXPECT_EQ(TNMPOP3::ChallengeStatus(R"({"status":"400","schemes":"Bearer","scope":"https://mail.google.com/"})"), "400");
    EXPECT_EQ(TNMPOP3::ChallengeStatus(R"({ "scope" : "x", "status" : 401 })"), "401");
    EXPECT_EQ(TNMPOP3::ChallengeStatus("not json"), "");
}

// A server with TLS from the first byte that offers `sasl` and expects the AUTH exchange.
Script TokenServer(const testsupport::TestCert& cert, const std::string& sasl)
{
    return Script().StartTls(cert).Greet("+OK ready", {"USER", sasl});
}

std::string Base64(const std::string& raw) { return Jconvert::EncodeBase64(raw); }

TEST_F(DialogueTest, ATokenSignsInWithAuthInTwoStepsAndARefusalIsItsOwnKind)
{
    testsupport::TestCerts certs;
    const std::string xoauth2 = Base64("user=bob\x01" "auth=Bearer tok\x01\x01");
    // 24 bytes: their base64 is the start of the whole response's.
    const std::string bearer = Base64("n,a=bob,\x01host=127.0.0.1\x01");
    const struct {
        const char* name;
        Script script;
        TNMPOP3::TSaslMechanism mechanism;
        bool refused;
        std::string status;
    } cases[] = {
        {"XOAUTH2, the only one offered",
         TokenServer(certs.SelfSigned, "SASL PLAIN XOAUTH2").Expect("AUTH XOAUTH2").SendLine("+ ").Expect(xoauth2)
             .SendLine("+OK welcome").Expect("STAT").SendLine("+OK 0 0").WaitForClose(),
         TNMPOP3::TSaslMechanism::XOAuth2, false, ""},
        {"no SASL line: XOAUTH2 all the same, refused outright",
         TokenServer(certs.SelfSigned, "TOP").Expect("AUTH XOAUTH2").SendLine("-ERR Protocol error")
             .Expect("QUIT").SendLine("+OK").WaitForClose(),
         TNMPOP3::TSaslMechanism::XOAuth2, true, ""},
        {"XOAUTH2's error challenge is answered with an empty line",
         TokenServer(certs.SelfSigned, "SASL XOAUTH2").Expect("AUTH XOAUTH2").SendLine("+").Expect(xoauth2)
             .SendLine("+ " + Base64(R"({"status":"400","schemes":"Bearer"})")).Expect("").SendLine("-ERR invalid")
             .Expect("QUIT").SendLine("+OK").WaitForClose(),
         TNMPOP3::TSaslMechanism::XOAuth2, true, "400"},
        {"OAUTHBEARER's with AQ==",
         TokenServer(certs.SelfSigned, "SASL PLAIN XOAUTH2 OAUTHBEARER").Expect("AUTH OAUTHBEARER").SendLine("+ ")
             .ExpectStart(bearer)
             .SendLine("+ " + Base64(R"({"status":"invalid_token"})")).Expect("AQ==").SendLine("-ERR no")
             .Expect("QUIT").SendLine("+OK").WaitForClose(),
         TNMPOP3::TSaslMechanism::OAuthBearer, true, "invalid_token"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptServer server(c.script);
        Pop->Password = "";
        Pop->AccessToken = "tok";
        Pop->TlsMode = TTlsMode::Implicit;
        Pop->TrustedFingerprints = {certs.SelfSigned.Sha256};
        if (c.refused)
            EXPECT_EQ(Failure([&] { ConnectTo(server); }), "Token refused");
        else
            ConnectTo(server);
        EXPECT_EQ(Pop->SaslMechanism, c.mechanism);
        EXPECT_EQ(Pop->TokenRefusal.Refused, c.refused);
        EXPECT_EQ(Pop->TokenRefusal.Status, c.status);
        EXPECT_TRUE(Pop->LoginRefusal.empty());
        Pop->Abort();
        EXPECT_TRUE(Pop->AccessToken.empty()) << "the token goes with the connection";
        EXPECT_TRUE(server.WaitDone());
    }
    // Never on a connection without TLS: not even connected.
    ScriptServer plain(Script{});
    Pop->AccessToken = "tok";
    Pop->TlsMode = TTlsMode::None;
    EXPECT_EQ(Failure([&] { ConnectTo(plain); }), "Token needs TLS");
    EXPECT_TRUE(Pop->TokenNeedsTls);
    EXPECT_EQ(plain.Accepted(), 0u);
}

} // namespace
