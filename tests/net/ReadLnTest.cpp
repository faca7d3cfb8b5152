// Line framing of ReadLn and the command/reply exchange of Transaction.

#include "NetTestUtil.h"

using namespace nettest;

using ReadLnTest = SockTest;

TEST_F(ReadLnTest, ReturnsTheLineWithItsCrLf)
{
    ScriptServer server(Script().Send("+OK ready\r\n").WaitForClose());
    ConnectTo(server.Port());
    EXPECT_EQ(Sock->ReadLn(), "+OK ready\r\n");
}

TEST_F(ReadLnTest, SeveralLinesArrivingAtOnceAreReadOneByOne)
{
    ScriptServer server(Script().Send("a\nb\n").WaitForClose());
    ConnectTo(server.Port());
    EXPECT_EQ(Sock->ReadLn(), "a\n");
    EXPECT_EQ(Sock->ReadLn(), "b\n");
}

TEST_F(ReadLnTest, ALineInPiecesIsJoined)
{
    ScriptServer server(Script().SendPieces({"+OK ", "2 3", "20\r", "\n"}, 60ms).WaitForClose());
    ConnectTo(server.Port());
    EXPECT_EQ(Sock->ReadLn(), "+OK 2 320\r\n");
}

TEST_F(ReadLnTest, BytesAfterTheLineEndStayInTheSocket)
{
    ScriptServer server(Script().Send("line\r\nrest").WaitForClose());
    ConnectTo(server.Port());
    EXPECT_EQ(Sock->ReadLn(), "line\r\n");
    EXPECT_EQ(Sock->Read(4), "rest");
}

TEST_F(ReadLnTest, PeerClosingBeforeAnyByteGivesEmpty)
{
    ScriptServer server(Script().Pause(100ms).Close());
    ConnectTo(server.Port());
    EXPECT_EQ(Sock->ReadLn(), "");
}

TEST_F(ReadLnTest, PeerClosingWhileWaitingGivesEmptyAfterTheCloseReplacedTheSocket)
{
    // The close notification arrives inside the wait, closes and replaces the socket; the
    // next peek meets the fresh socket's not-connected error, which also reads as "".
    ScriptServer server(Script().Pause(150ms).Close());
    ConnectTo(server.Port());
    EXPECT_EQ(Sock->ReadLn(), "");
    EXPECT_FALSE(Sock->Connected);
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "disconnect"}));
    EXPECT_EQ(Sock->ReadLn(), "") << "reading the fresh, unconnected socket";
}

TEST_F(ReadLnTest, APartialLastLineWithTheCloseAlreadyNotifiedEndsTheWait)
{
    // Data and close arrive together and are notified before the read (the close finds
    // unread data and keeps the connection): consuming the rest must not leave the wait
    // hanging until the time-out.
    ScriptServer server(Script().Send("no line end").Close());
    ConnectTo(server.Port());
    ASSERT_TRUE(server.WaitDone());
    testsupport::Settle();
    Sock->TimeOut = static_cast<int>(Generous(10s).count());
    EXPECT_EQ(Sock->ReadLn(), "");
    EXPECT_FALSE(Sock->TimeoutFired);
}

TEST_F(ReadLnTest, ALineOfExactlyTheBufferSizeIsRead)
{
    std::string line(65534, 'x');
    line += "\r\n";
    ScriptServer server(Script().Send(line).WaitForClose());
    ConnectTo(server.Port());
    EXPECT_EQ(Sock->ReadLn(), line);
}

TEST_F(ReadLnTest, ALongerLineRaisesAndNeverOverrunsTheBuffer)
{
    std::string line(70000, 'y');
    line += "\r\n";
    // At once, and with the line end in a later piece than the first 65536 bytes (which
    // once returned the whole line).
    for (const auto& pieces : {std::vector<std::string>{line}, std::vector<std::string>{line.substr(0, 40000), line.substr(40000)}}) {
        ScriptServer server(Script().SendPieces(pieces, testsupport::Millis(50)).WaitForClose());
        ConnectTo(server.Port());
        try {
            Sock->ReadLn();
            ADD_FAILURE() << "no exception, " << pieces.size() << " piece(s)";
        } catch (const EAbortError&) {
            ADD_FAILURE() << "not an abort";
        } catch (const ESockError& e) {
            EXPECT_EQ(e.Message, "Line too long: no line end within 65536 bytes");
        }
        Sock->Disconnect();
    }
}

using TransactionTest = SockTest;

TEST_F(TransactionTest, SendsTheCommandWithCrLfAndTakesTheReplyCode)
{
    ScriptServer server(Script().Expect("NOOP").SendLine("250 ok").Expect("STAT").SendLine("+OK").WaitForClose());
    ConnectTo(server.Port());
    EXPECT_EQ(Sock->Transaction("NOOP"), "250 ok\r\n");
    EXPECT_EQ(Sock->LastReply, "250 ok\r\n");
    EXPECT_EQ(Sock->LastReplyCode, 250);
    EXPECT_EQ(Sock->Transaction("STAT"), "+OK\r\n");
    EXPECT_EQ(Sock->LastReplyCode, 0);
}

TEST_F(TransactionTest, ReplyCodesOutsideTheRangeAreClippedOrZero)
{
    struct {
        const char* Reply;
        int Code;
        const char* Rule;
    } cases[] = {
        {"99999 big", 32767, "above the 16-bit range: clipped"},
        {"99999999999 x", 0, "ten digits taken, not a 32-bit number: 0"},
        {"12345678901 x", 32767, "ten digits taken, a 32-bit number: clipped"},
        {"007 bond", 7, "leading zeros"},
        {"42", 42, "digits up to the line end"},
    };
    Script script;
    for (const auto& c : cases)
        script.Expect("X").SendLine(c.Reply);
    ScriptServer server(script.WaitForClose());
    ConnectTo(server.Port());
    for (const auto& c : cases) {
        Sock->Transaction("X");
        EXPECT_EQ(Sock->LastReplyCode, c.Code) << c.Reply << ": " << c.Rule;
    }
}

TEST_F(TransactionTest, EmbeddedNulCutsTheSentText)
{
    ScriptServer server(Script().WaitForClose());
    ConnectTo(server.Port());
    Sock->Write(std::string("USER a\0secret\r\n", 15));
    Sock->Disconnect();
    ASSERT_TRUE(server.WaitDone(2s));
    EXPECT_EQ(server.ReceivedBytes(0), "USER a");
}
