// Time-outs, cancels and the timer.

#include "NetTestUtil.h"

#include <unistd.h>

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
    EXPECT_GE(MsSince(start), 280);
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_TRUE(Sock->TimeoutFired);
    EXPECT_FALSE(Sock->CancelRequested) << "the abort exception clears the request";
}

TEST_F(TimeoutTest, CancelDuringReadLnIsAnAbortNotATimeOutAndTheNextReadWorks)
{
    ScriptServer server(Script().Pause(400ms).SendLine("late").WaitForClose());
    ConnectTo(server.Port());
    Sock->TimeOut = 5000;
    Later cancel(100, [this] { Sock->Abort(); });
    auto start = Clock::now();
    EXPECT_THROW(Sock->ReadLn(), EAbortError);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_FALSE(Sock->TimeoutFired);
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
        EXPECT_LT(MsSince(start), 5000);
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
    // A chunk every 300 ms keeps a 500 ms time-out from firing; the silence after the last
    // one ends the capture by time-out.
    ScriptServer server(Script().SendPieces({"one.", "two.", "three.", "four."}, 300ms).WaitForClose());
    ConnectTo(server.Port());
    Sock->TimeOut = 500;
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
    TThreadTimer timer(nullptr);
    int ticks = 0;
    auto start = Clock::now();
    Clock::time_point first;
    timer.SetInterval(200);
    timer.SetOnTimer([&](TObject*) {
        if (ticks++ == 0)
            first = Clock::now();
    });
    testsupport::PumpFor(120ms);
    timer.SetInterval(200);   // same value: no restart
    testsupport::PumpUntil([&] { return ticks > 0; }, 2s);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(first - start).count(), 290);

    ticks = 0;
    start = Clock::now();
    testsupport::PumpFor(120ms);
    timer.UpdateTimer();   // restart
    testsupport::PumpUntil([&] { return ticks > 0; }, 2s);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(first - start).count(), 300);

    timer.SetEnabled(false);
    ticks = 0;
    testsupport::PumpFor(250ms);
    EXPECT_EQ(ticks, 0);
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
