// Connecting, resolving, refusing, cancelling, closing.

#include "NetTestUtil.h"

using namespace nettest;

using ConnectTest = SockTest;

TEST_F(ConnectTest, DottedAddressConnectsWithoutLookUpAndRaisesOnConnectInsideTheWait)
{
    ScriptServer server(Script().WaitForClose());
    ConnectTo(server.Port());
    EXPECT_TRUE(Sock->Connected);
    EXPECT_EQ(Events, (std::vector<std::string>{"connect"})) << "no OnHostResolved for a dotted address";
    EXPECT_EQ(Sock->GetRemoteIP(), "127.0.0.1");
}

TEST_F(ConnectTest, NameIsLookedUpAsynchronously)
{
    ScriptServer server(Script().WaitForClose());
    ConnectTo(server.Port(), "localhost");
    EXPECT_EQ(Events, (std::vector<std::string>{"resolved", "connect"}));
}

TEST_F(ConnectTest, AllOnesAddressGoesToTheLookUp)
{
    // It parses to the no-address value, so the (numeric, offline) look-up answers it.
    Sock->Host = "255.255.255.255";
    Sock->ResolveRemoteHost();
    EXPECT_EQ(Events, (std::vector<std::string>{"resolved"}));
    EXPECT_EQ(Sock->GetRemoteIP(), "255.255.255.255");
}

TEST_F(ConnectTest, ALateLookUpReplyIsNotTakenForALaterLookUp)
{
    // A reply for a look-up that already ended (timed out, say) carries another task number.
    platform::PostMessage(Sock->NotifyWindow, HostReplyMessage, 4242, platform::MakeLong(328, 11001));
    testsupport::Settle();
    EXPECT_FALSE(Sock->AsyncDone);
    ScriptServer server(Script().WaitForClose());
    ConnectTo(server.Port(), "localhost");
    EXPECT_TRUE(Sock->Connected);
}

TEST_F(ConnectTest, RefusedConnectionRaisesOnConnectionFailedThenConnectionFailed)
{
    try {
        ConnectTo(testsupport::UnusedPort());
        FAIL() << "no exception";
    } catch (const ESockError& e) {
        EXPECT_EQ(e.Message, "Connection Failed");
        EXPECT_EQ(Events, (std::vector<std::string>{"failed"})) << "the event comes before the exception";
    }
    EXPECT_EQ(Sock->ConnectFault, TConnectFault::Refused);
    EXPECT_FALSE(Sock->Connected);
    EXPECT_FALSE(Sock->TimeoutFired);
}

TEST_F(ConnectTest, AlreadyConnectedChangesNothing)
{
    ScriptServer server(Script().WaitForClose());
    ConnectTo(server.Port());
    ws::SocketHandle before = Sock->SocketHandle;
    EXPECT_THROW(
        try { Sock->Connect(); } catch (const ESockError& e) {
            EXPECT_EQ(e.Message, "Already connected");
            throw;
        },
        ESockError);
    EXPECT_TRUE(Sock->Connected);
    EXPECT_EQ(Sock->SocketHandle, before);
}

TEST_F(ConnectTest, CancelDuringTheConnectWaitThenAFreshConnectWorks)
{
    testsupport::StalledListener stalled;
    Sock->TimeOut = static_cast<int>(Generous(10s).count());   // a cancel that is not seen ends as a time-out
    Later cancel(150, [this] { Sock->Abort(); });
    try {
        ConnectTo(stalled.Port());
        FAIL() << "no exception";
    } catch (const ESockError& e) {
        EXPECT_EQ(e.Message, "Connection Canceled");
    }
    EXPECT_EQ(Sock->ConnectFault, TConnectFault::Canceled);
    EXPECT_FALSE(Sock->TimeoutFired);
    EXPECT_EQ(Events, (std::vector<std::string>{"failed"}));
    EXPECT_TRUE(Sock->CancelRequested) << "a failed connect leaves the request set";
    // The half-open attempt was dropped, so retrying is not refused as "already in progress".
    ScriptServer server(Script().WaitForClose());
    ConnectTo(server.Port());
    EXPECT_TRUE(Sock->Connected);
    EXPECT_EQ(Sock->ConnectFault, TConnectFault::None);
}

TEST_F(ConnectTest, ConnectTimesOut)
{
    testsupport::StalledListener stalled;
    Sock->TimeOut = 300;
    auto start = Clock::now();
    try {
        ConnectTo(stalled.Port());
        FAIL() << "no exception";
    } catch (const ESockError& e) {
        EXPECT_EQ(e.Message, "Connection Timed out");
    }
    EXPECT_EQ(Sock->ConnectFault, TConnectFault::TimedOut);
    EXPECT_GE(MsSince(start), 280) << "not before the time-out";
    EXPECT_LT(MsSince(start), Generous(2s).count());
    EXPECT_TRUE(Sock->TimeoutFired);
}

TEST_F(ConnectTest, TimeOutZeroWaitsUntilCancelled)
{
    testsupport::StalledListener stalled;
    Sock->TimeOut = 0;
    Later cancel(500, [this] { Sock->Cancel(); });
    auto start = Clock::now();
    EXPECT_THROW(ConnectTo(stalled.Port()), ESockError);
    EXPECT_GE(MsSince(start), 480);
    EXPECT_FALSE(Sock->TimeoutFired);
}

TEST_F(ConnectTest, UnknownHostWithoutHandlerIsNullRemoteAddress)
{
    try {
        ConnectTo(1, "bad..name");
        FAIL() << "no exception";
    } catch (const ESockError& e) {
        EXPECT_EQ(e.Message, "Null Remote Address") << "Host Lookup Failed is dropped by Connect";
    }
    EXPECT_EQ(Sock->ConnectFault, TConnectFault::HostNotFound);
    EXPECT_TRUE(Events.empty()) << "no OnConnectionFailed: no connection was tried";
}

TEST_F(ConnectTest, InvalidHostHandlerGetsExactlyOneChance)
{
    ScriptServer server(Script().WaitForClose());
    int asked = 0;
    Sock->OnInvalidHost = [&](bool& Handled) {
        ++asked;
        Sock->Host = "localhost";
        Handled = true;
    };
    ConnectTo(server.Port(), "bad..name");
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(Sock->Connected);

    auto other = std::make_unique<Probe>(nullptr);
    int asked2 = 0;
    other->OnInvalidHost = [&](bool& Handled) {
        ++asked2;
        Handled = true;   // but leaves the bad name
    };
    other->Host = "bad..name";
    EXPECT_THROW(other->Connect(), ESockError);
    EXPECT_EQ(asked2, 1);

    other->OnInvalidHost = [](bool&) {};   // declines
    EXPECT_THROW(other->Connect(), ESockError);
}

TEST_F(ConnectTest, CertifyConnectRaisesTheBaseExceptionOrLetsTheHandlerConnect)
{
    try {
        Sock->CertifyConnect();
        FAIL() << "no exception";
    } catch (const ESockError&) {
        FAIL() << "must not be an ESockError";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "Not Connected");
    }
    ScriptServer server(Script().WaitForClose());
    Sock->OnConnectionRequired = [&](bool& Handled) {
        ConnectTo(server.Port());
        Handled = true;
    };
    Sock->CertifyConnect();
    EXPECT_TRUE(Sock->Connected);
}

TEST_F(ConnectTest, DisconnectClosesRaisesOnDisconnectAndLeavesAFreshSocket)
{
    ScriptServer server({Script().WaitForClose(), Script().WaitForClose()});
    ConnectTo(server.Port());
    ws::SocketHandle before = Sock->SocketHandle;
    Sock->Disconnect();
    EXPECT_FALSE(Sock->Connected);
    EXPECT_NE(Sock->SocketHandle, before);
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "disconnect"}));
    ConnectTo(server.Port());
    EXPECT_TRUE(Sock->Connected);
    Sock->Disconnect();
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(ConnectTest, PeerCloseWithoutDataClosesTheConnection)
{
    ScriptServer server(Script().Close());
    ConnectTo(server.Port());
    ASSERT_TRUE(testsupport::PumpUntil([&] { return !Sock->Connected; }, 2s));
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "disconnect"}));
    testsupport::Settle();
    EXPECT_EQ(Events.size(), 2u) << "one close notification";
}

TEST_F(ConnectTest, PeerCloseWithUnreadDataKeepsTheConnectionUntilRead)
{
    ScriptServer server(Script().SendLine("+OK bye").Close());
    ConnectTo(server.Port());
    ASSERT_TRUE(server.WaitDone());
    testsupport::Settle();
    EXPECT_TRUE(Sock->Connected) << "unread data keeps the connection open";
    EXPECT_EQ(Sock->ReadLn(), "+OK bye\r\n");
    EXPECT_EQ(Sock->ReadLn(), "") << "then the closed connection reads as empty";
}

TEST_F(ConnectTest, StatusTextsFollowReportLevel)
{
    ScriptServer server(Script().Expect("NOOP").SendLine("250 ok").WaitForClose());
    std::vector<std::string> seen;
    Sock->OnStatus = [&](TComponent*, const std::string& s) { seen.push_back(s); };
    ConnectTo(server.Port());
    EXPECT_TRUE(seen.empty()) << "ReportLevel 0 reports nothing";
    Sock->ReportLevel = 1;
    Sock->Transaction("NOOP");
    EXPECT_EQ(seen, (std::vector<std::string>{"250 ok\r\n"}));
    seen.clear();
    Sock->ReportLevel = 4;
    Sock->Disconnect();
    EXPECT_EQ(seen, (std::vector<std::string>{"Request Close Socket"}));
    seen.clear();
    Sock->ReportLevel = 8;
    Sock->Cancel();
    EXPECT_EQ(seen, (std::vector<std::string>{"Canceling"}));
    EXPECT_EQ(Sock->Status, "Canceling");
}
