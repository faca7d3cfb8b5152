// The listening server: accepting, connection threads, cancelling, teardown.

#include "NetTestUtil.h"

#include <atomic>

using namespace nettest;

namespace {

std::uint16_t LocalPort(TPowersock& s)
{
    int hi = 0, lo = 0;
    std::sscanf(s.GetPortString().c_str(), ",%d,%d", &hi, &lo);
    return static_cast<std::uint16_t>(hi * 256 + lo);
}

// Echoes one line per connection with the thread it ran on, then waits for the client to
// close; counts the Serve calls that ended.
class EchoLineServer : public TNMGeneralServer {
public:
    using TNMGeneralServer::TNMGeneralServer;
    static std::atomic<int> Ended;
    static std::atomic<int> Aborted;
    TNMGeneralServer* NewConnectionServer() override { return new EchoLineServer(this); }
    void Serve() override
    {
        struct Count {
            ~Count() { ++Ended; }
        } count;
        try {
            std::string line = ReadLn();
            Writeln("echo " + line.substr(0, line.size() - 2));
            ReadLn();   // until the client closes (or a cancel)
        } catch (const EAbortError&) {
            ++Aborted;
        }
    }
};
std::atomic<int> EchoLineServer::Ended{0};
std::atomic<int> EchoLineServer::Aborted{0};

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EchoLineServer::Ended = 0;
        EchoLineServer::Aborted = 0;
    }
};

} // namespace

TEST_F(ServerTest, ListensOnlyOnceLoadedAndConnectDoesNothing)
{
    EchoLineServer server(nullptr);
    EXPECT_EQ(server.GetPortString(), ",0,0") << "not bound before Loaded";
    server.Host = "bad..name";
    server.Connect();   // nothing: no look-up, no exception
    EXPECT_FALSE(server.Connected);
    server.Loaded();
    EXPECT_NE(LocalPort(server), 0);
    ASSERT_NE(server.ClientList, nullptr);
}

TEST_F(ServerTest, TwoClientsGetTwoInstancesThatLeaveWhenServeReturns)
{
    EchoLineServer server(nullptr);
    int contacts = 0;
    server.OnClientContact = [&](TObject*) { ++contacts; };
    server.Loaded();
    std::uint16_t port = LocalPort(server);

    Probe a(nullptr), b(nullptr);
    for (Probe* c : {&a, &b}) {
        c->Host = testsupport::LoopbackHost;
        c->Port = port;
        c->TimeOut = 3000;
        c->Connect();
    }
    EXPECT_EQ(a.Transaction("one"), "echo one\r\n");
    EXPECT_EQ(b.Transaction("two"), "echo two\r\n");
    EXPECT_EQ(contacts, 2);
    ASSERT_EQ(server.ClientList->Count(), 2);
    auto clients = server.ClientList->Snapshot();
    EXPECT_NE(clients[0]->ServeThread, clients[1]->ServeThread);
    EXPECT_EQ(clients[0]->ListenerServer, &server);
    EXPECT_EQ(clients[0]->GetRemoteIP(), "127.0.0.1");

    a.Disconnect();
    ASSERT_TRUE(testsupport::PumpUntil([&] { return server.ClientList->Count() == 1; }, 3s));
    b.Disconnect();
    ASSERT_TRUE(testsupport::PumpUntil([&] { return server.ClientList->Count() == 0; }, 3s));
    EXPECT_EQ(EchoLineServer::Ended, 2);
    int instances = 0;
    for (TComponent* c : server.Components())
        instances += dynamic_cast<TNMGeneralServer*>(c) != nullptr;
    EXPECT_EQ(instances, 0) << "the instances are destroyed, not just unlisted";
}

TEST_F(ServerTest, AbortOnTheListeningServerCancelsTheConnectionWaits)
{
    EchoLineServer server(nullptr);
    server.Loaded();
    Probe client(nullptr);
    client.Host = testsupport::LoopbackHost;
    client.Port = LocalPort(server);
    client.Connect();
    EXPECT_EQ(client.Transaction("x"), "echo x\r\n");
    server.Abort();
    ASSERT_TRUE(testsupport::PumpUntil([&] { return server.ClientList->Count() == 0; }, 3s));
    EXPECT_EQ(EchoLineServer::Aborted, 1);
}

TEST_F(ServerTest, ATimeOutEndsAConnectionsWait)
{
    // A connection instance's Abort cancels its own wait, so its time-out ends the dialogue.
    class SlowServer : public TNMGeneralServer {
    public:
        using TNMGeneralServer::TNMGeneralServer;
        TNMGeneralServer* NewConnectionServer() override { return new SlowServer(this); }
        void Serve() override
        {
            TimeOut = 200;
            try {
                ReadLn();
            } catch (const EAbortError&) {
                if (TimeoutFired)
                    ++EchoLineServer::Aborted;
            }
        }
    } server(nullptr);
    server.Loaded();
    Probe client(nullptr);
    client.Host = testsupport::LoopbackHost;
    client.Port = LocalPort(server);
    client.Connect();
    ASSERT_TRUE(testsupport::PumpUntil([&] { return EchoLineServer::Aborted == 1; }, 3s));
    EXPECT_TRUE(testsupport::PumpUntil([&] { return server.ClientList->Count() == 0; }, 3s));
}

TEST_F(ServerTest, DestroyingTheListenerWaitsForItsConnections)
{
    Probe client(nullptr);
    {
        EchoLineServer server(nullptr);
        server.Loaded();
        client.Host = testsupport::LoopbackHost;
        client.Port = LocalPort(server);
        client.Connect();
        EXPECT_EQ(client.Transaction("x"), "echo x\r\n");
        ASSERT_EQ(server.ClientList->Count(), 1);
    }   // under ASan: no instance is used after it was freed
    EXPECT_EQ(EchoLineServer::Ended, 1);
}

TEST_F(ServerTest, ListenWithTheSecondMessageThenAccept)
{
    Probe listener(nullptr);
    listener.Listen(true);
    Probe c1(nullptr), c2(nullptr);
    c1.Host = c2.Host = testsupport::LoopbackHost;
    c1.Port = c2.Port = LocalPort(listener);
    c1.Connect();
    ws::SocketHandle s1 = listener.Accept();
    EXPECT_NE(s1, ws::INVALID_SOCKET);
    // The accepted socket reports to the listener's window: its data and its close are not
    // the listener's.
    int dataReady = 0;
    listener.OnDataReady = [&](TObject*) { ++dataReady; };
    c1.Write("hello");
    c1.Disconnect();
    testsupport::Settle();
    EXPECT_EQ(dataReady, 0);
    EXPECT_TRUE(listener.Connected);
    EXPECT_EQ(listener.GetRemoteIP(), "127.0.0.1");
    // A second Accept waits for the next connection instead of failing on a stale readiness.
    Later second(150, [&] { c2.Connect(); });
    ws::SocketHandle s2 = listener.Accept();
    EXPECT_NE(s2, s1);
    listener.Close(s1);
    listener.Close(s2);

    Later cancel(100, [&] { listener.Cancel(); });
    try {
        listener.Accept();
        FAIL() << "no exception";
    } catch (const ESockError& e) {
        EXPECT_EQ(e.Message, "Accepting Canceled");
    }
}
