// Peers that end the connection at once: their close or reset races the component's view
// of the connect and of the data. Every test loops over many connections; a watchdog
// aborts the wait of a round that would hang, so a fault fails fast instead of blocking.

#include "NetTestUtil.h"
#include "tests/platform/QuickPeer.h"

using namespace nettest;
using racetest::QuickPeer;

namespace {

constexpr int Rounds = 150;
const char* const ResetText = "10054:Connection reset by peer";

class RaceTest : public SockTest {
protected:
    void SetUp() override
    {
        SockTest::SetUp();
        Sock->TimeOut = 0;   // no time-out: only the watchdog ends a hanging wait
        Watchdog = std::make_unique<Later>(5000, [this] {
            Hung = true;
            Sock->Abort();
        });
    }
    void TearDown() override
    {
        Watchdog.reset();
        SockTest::TearDown();
    }

    // Connects to the peer; false (with a failure) when the connect wait hung.
    bool ConnectRound(const QuickPeer& peer, int round)
    {
        Events.clear();
        try {
            ConnectTo(peer.Port());
            return true;
        } catch (const ESockError& e) {
            ADD_FAILURE() << "round " << round << ": " << e.Message << (Hung ? " (the connect wait hung)" : "");
            return false;
        }
    }

    // Ends the round's connection so that the next round can connect.
    void EndRound()
    {
        if (Sock->Connected)
            Sock->Disconnect();
    }

    std::unique_ptr<Later> Watchdog;
    bool Hung = false;
};

} // namespace

TEST_F(RaceTest, PeerClosingRightAfterAcceptGivesConnectThenDisconnect)
{
    for (QuickPeer::Ending ending : {QuickPeer::Close, QuickPeer::Reset}) {
        QuickPeer peer(ending);
        const char* how = ending == QuickPeer::Close ? "close" : "reset";
        for (int round = 0; round < Rounds; ++round) {
            ASSERT_TRUE(ConnectRound(peer, round)) << how;
            ASSERT_TRUE(testsupport::PumpUntil([&] { return !Sock->Connected; }, 2s)) << how << " round " << round;
            ASSERT_EQ(Events, (std::vector<std::string>{"connect", "disconnect"})) << how << " round " << round;
            EXPECT_EQ(Sock->ReadLn(), "") << "the closed connection reads as empty";
        }
    }
}

TEST_F(RaceTest, LineFollowedByACloseIsReadWholeThenTheEnd)
{
    QuickPeer peer(QuickPeer::Close, "+OK ready\r\n");
    for (int round = 0; round < Rounds; ++round) {
        ASSERT_TRUE(ConnectRound(peer, round));
        ASSERT_EQ(Sock->ReadLn(), "+OK ready\r\n") << "round " << round;
        ASSERT_EQ(Sock->ReadLn(), "") << "round " << round;
        EndRound();
    }
}

TEST_F(RaceTest, LineFollowedByAResetIsReadWholeThenTheResetShows)
{
    QuickPeer peer(QuickPeer::Reset, "+OK ready\r\n");
    for (int round = 0; round < Rounds; ++round) {
        ASSERT_TRUE(ConnectRound(peer, round));
        ASSERT_EQ(Sock->ReadLn(), "+OK ready\r\n") << "round " << round;
        // The reset reaches the reader as its error, or (when the close notification took
        // the error first) as the end of the stream.
        try {
            ASSERT_EQ(Sock->ReadLn(), "") << "round " << round;
        } catch (const ESockError& e) {
            ASSERT_EQ(e.Message, ResetText) << "round " << round;
        }
        ASSERT_FALSE(Hung);
        EndRound();
    }
}

TEST_F(RaceTest, ResetInTheMiddleOfALineEndsReadLn)
{
    QuickPeer peer(QuickPeer::Reset, "+OK rea");
    for (int round = 0; round < Rounds; ++round) {
        ASSERT_TRUE(ConnectRound(peer, round));
        try {
            ASSERT_EQ(Sock->ReadLn(), "") << "round " << round << ": no line without its end";
        } catch (const ESockError& e) {
            ASSERT_EQ(e.Message, ResetText) << "round " << round;
            ASSERT_FALSE(Hung);
        }
        EndRound();
    }
}
