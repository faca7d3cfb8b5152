// Time-outs, cancels and the timer.

#include "NetTestUtil.h"

#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace nettest;

using TimeoutTest = SockTest;

TEST_F(TimeoutTest, ReadLnOnASilentServerTimesOut)
{
    ScriptServer server(Script().WaitForClose());
    ConnectTo(server.Port());
    Sock->TimeOut = 300;
    auto start = Clock::now();
    try {
        Sock->ReadLn();
        FAIL() << "no exception";
    } catch (const EAbortError& e) {
        EXPECT_EQ(e.Message, "Socket readln aborted");
    }
    EXPECT_GE(MsSince(start), 280) << "not before the time-out";
    EXPECT_LT(MsSince(start), Generous(2s).count());
    EXPECT_TRUE(Sock->TimeoutFired);
    EXPECT_FALSE(Sock->CancelRequested) << "the abort exception clears the request";
}

TEST_F(TimeoutTest, CancelDuringReadLnIsAnAbortNotATimeOutAndTheNextReadWorks)
{
    // The line comes only when asked for after the cancel, so the cancel always comes first.
    ScriptServer server(Script().Expect("go").SendLine("late").WaitForClose());
    ConnectTo(server.Port());
    Sock->TimeOut = static_cast<int>(Generous(10s).count());
    Later cancel(100, [this] { Sock->Abort(); });
    EXPECT_THROW(Sock->ReadLn(), EAbortError);
    EXPECT_FALSE(Sock->TimeoutFired);
    Sock->Writeln("go");
    EXPECT_EQ(Sock->ReadLn(), "late\r\n");
}

TEST_F(TimeoutTest, SendingToAPeerThatStopsReadingPumpsAndEndsAtTheTimeOutOrACancel)
{
    std::uint16_t port = 0;
    const int listener = testsupport::ListenLoopback(2, port);   // accepts nothing, reads nothing
    const std::string block(60000, 'b');
    // Writes until a send fails; the handler that runs meanwhile shows that the wait pumps.
    auto fillUntilFailure = [&](bool& pumped) {
        Later during(150, [&] { pumped = true; });
        for (int i = 0; i < 4000; ++i)
            Sock->Write(block);
    };
    for (bool cancel : {false, true}) {
        ConnectTo(port);
        Sock->TimeOut = cancel ? 0 : 300;
        std::unique_ptr<Later> abort;
        if (cancel)
            abort = std::make_unique<Later>(400, [this] { Sock->Cancel(); });
        bool pumped = false;
        const auto start = Clock::now();
        EXPECT_THROW(fillUntilFailure(pumped), EAbortError);
        EXPECT_LT(MsSince(start), Generous(5s).count());
        EXPECT_TRUE(pumped);
        EXPECT_EQ(Sock->TimeoutFired, !cancel);
        Sock->Disconnect();
    }
    ::close(listener);
}

TEST_F(TimeoutTest, TimeOutZeroNeverTimesOut)
{
    ScriptServer server(Script().Pause(400ms).SendLine("slow").WaitForClose());
    ConnectTo(server.Port());
    Sock->TimeOut = 0;
    EXPECT_EQ(Sock->ReadLn(), "slow\r\n");
    EXPECT_FALSE(Sock->TimeoutFired);
}

TEST_F(TimeoutTest, EveryChunkRestartsTheCaptureTimeOut)
{
    // A chunk every 300 ms keeps a 700 ms time-out from firing although the four take 900
    // ms; the silence after the last one ends the capture by time-out.
    ScriptServer server(Script().SendPieces({"one.", "two.", "three.", "four."}, 300ms).WaitForClose());
    ConnectTo(server.Port());
    Sock->TimeOut = 700;
    std::string text;
    int packets = 0;
    Sock->OnPacketRecvd = [&](TObject*) { ++packets; };
    EXPECT_THROW(Sock->CaptureString(text, -1), EAbortError);
    EXPECT_EQ(text, "one.two.three.four.");
    EXPECT_EQ(Sock->BytesRecvd(), 19);
    EXPECT_EQ(packets, 4);
    EXPECT_TRUE(Sock->TimeoutFired);
}

TEST_F(TimeoutTest, NegativeTimeOutFailsBeforeSending)
{
    ScriptServer server(Script().WaitForClose());
    ConnectTo(server.Port());
    Sock->TimeOut = -1;
    EXPECT_THROW(Sock->Writeln("NOOP"), ESockError);
    Sock->Disconnect();
    ASSERT_TRUE(server.WaitDone(2s));
    EXPECT_EQ(server.ReceivedBytes(0), "");
}

TEST(ThreadTimer, IntervalWriterRestartsOnlyOnChangeAndUpdateTimerAlways)
{
    // At the mark of 100 ms the 200 ms timer is set to the same interval, restarted or
    // disabled; its tick is placed against the mark of 250 ms.
    for (const std::string change : {"same interval", "UpdateTimer", "disabled"}) {
        SCOPED_TRACE(change);
        TThreadTimer timer(nullptr);
        std::vector<std::string> order;
        timer.SetInterval(200);
        timer.SetOnTimer([&](TObject*) { order.push_back("timer"); });
        testsupport::TickMarks marks({100, 250}, [&](unsigned ms) {
            order.push_back(std::to_string(ms));
            if (ms == 100 && change == "same interval")
                timer.SetInterval(200);   // no restart
            else if (ms == 100 && change == "UpdateTimer")
                timer.UpdateTimer();      // restart: due 200 ms from now
            else if (ms == 100)
                timer.SetEnabled(false);
        });
        const bool ticks = change != "disabled";
        testsupport::PumpUntil([&] { return marks.Seen(250) && (!ticks || std::count(order.begin(), order.end(), "timer")); }, 2s);
        if (change == "same interval")
            EXPECT_EQ(order, (std::vector<std::string>{"100", "timer", "250"}));
        else if (change == "UpdateTimer")
            EXPECT_EQ(order, (std::vector<std::string>{"100", "250", "timer"}));
        else
            EXPECT_EQ(order, (std::vector<std::string>{"100", "250"}));
    }
}

TEST(ThreadTimer, AnExceptionFromTheHandlerGoesToTheApplication)
{
    std::string seen;
    TObject* sender = nullptr;
    platform::SetExceptionHandler([&](const std::exception* e, TObject* s) {
        seen = e ? e->what() : "?";
        sender = s;
    });
    TThreadTimer timer(nullptr);
    timer.SetInterval(20);
    timer.SetOnTimer([&](TObject*) {
        timer.SetEnabled(false);
        throw Exception("tick failed");
    });
    testsupport::PumpUntil([&] { return !seen.empty(); }, 2s);
    platform::SetExceptionHandler(nullptr);
    EXPECT_EQ(seen, "tick failed");
    EXPECT_EQ(sender, &timer);
}
