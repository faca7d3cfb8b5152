// Hidden windows, posted messages, window timers and the pump.

#include "platform/Window.h"
#include "tests/support/QtTestMain.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using testsupport::Clock;
using testsupport::Generous;
using testsupport::MsSince;
using testsupport::PumpUntil;
using testsupport::Settle;

namespace {

struct Recorder {
    std::vector<unsigned> Msgs;
    std::vector<platform::WPARAM> WParams;
    platform::WindowHandle Handle = 0;

    Recorder()
    {
        Handle = platform::AllocateHWnd([this](unsigned msg, platform::WPARAM w, platform::LPARAM) {
            Msgs.push_back(msg);
            WParams.push_back(w);
            return platform::LPARAM(0);
        });
    }
    ~Recorder() { platform::DeallocateHWnd(Handle); }
    std::size_t Count(unsigned msg) const
    {
        std::size_t n = 0;
        for (unsigned m : Msgs)
            n += m == msg;
        return n;
    }
};

} // namespace

TEST(PostedMessages, ArriveInOrderOnlyInsideThePump)
{
    Recorder r;
    ASSERT_NE(r.Handle, 0u);
    for (unsigned m = 1100; m < 1105; ++m)
        ASSERT_TRUE(platform::PostMessage(r.Handle, m, m, 0));
    EXPECT_TRUE(r.Msgs.empty()) << "posting must not call the procedure";
    platform::ProcessMessages();
    EXPECT_EQ(r.Msgs, (std::vector<unsigned>{1100, 1101, 1102, 1103, 1104}));
}

TEST(PostedMessages, ToADestroyedWindowAreDroppedNotDeliveredToFreedMemory)
{
    // The procedure is bound to a heap object that is freed with the window: under ASan a
    // delivery would be a use after free.
    auto* hits = new int(0);
    platform::WindowHandle h = platform::AllocateHWnd([hits](unsigned, platform::WPARAM, platform::LPARAM) {
        ++*hits;
        return platform::LPARAM(0);
    });
    ASSERT_TRUE(platform::PostMessage(h, 1200, 0, 0));
    bool ran = false;
    ASSERT_TRUE(platform::PostCall(h, [&ran] { ran = true; }));
    platform::DeallocateHWnd(h);
    delete hits;
    EXPECT_FALSE(platform::IsWindow(h));
    EXPECT_FALSE(platform::PostMessage(h, 1200, 0, 0));
    EXPECT_FALSE(platform::PostCall(h, [] {}));
    Settle();
    EXPECT_FALSE(ran);
}

TEST(PostedMessages, AWindowMayDestroyItselfInsideItsProcedure)
{
    int calls = 0;
    platform::WindowHandle h = 0;
    h = platform::AllocateHWnd([&](unsigned, platform::WPARAM, platform::LPARAM) {
        ++calls;
        platform::DeallocateHWnd(h);
        return platform::LPARAM(0);
    });
    platform::PostMessage(h, 1300, 0, 0);
    platform::PostMessage(h, 1301, 0, 0);
    platform::ProcessMessages();
    EXPECT_EQ(calls, 1);
}

TEST(PostedMessages, PostingFromAnotherThreadWakesABlockedPump)
{
    Recorder r;
    auto start = Clock::now();
    std::thread poster([h = r.Handle] {
        std::this_thread::sleep_for(100ms);
        platform::PostMessage(h, 1400, 7, 0);
    });
    while (r.Msgs.empty())
        platform::HandleMessage();   // blocks: nothing else would wake it
    poster.join();
    EXPECT_GE(MsSince(start), 90);
    EXPECT_EQ(r.WParams.at(0), 7u);
}

TEST(PostedMessages, NestedPumpInsideAProcedureDeliversLaterMessages)
{
    // The components wait inside handlers; a wait inside a procedure must see later messages.
    std::vector<unsigned> order;
    platform::WindowHandle h = 0;
    h = platform::AllocateHWnd([&](unsigned msg, platform::WPARAM, platform::LPARAM) {
        order.push_back(msg);
        if (msg == 1500) {
            std::thread([h] { platform::PostMessage(h, 1501, 0, 0); }).detach();
            PumpUntil([&] { return order.size() == 2; }, 2s);
            order.push_back(1599);
        }
        return platform::LPARAM(0);
    });
    platform::PostMessage(h, 1500, 0, 0);
    PumpUntil([&] { return order.size() == 3; }, 2s);
    platform::DeallocateHWnd(h);
    EXPECT_EQ(order, (std::vector<unsigned>{1500, 1501, 1599}));
}

TEST(PostedMessages, AnExceptionInAProcedureGoesToTheHandlerAndThePumpGoesOn)
{
    std::string seen;
    platform::SetExceptionHandler([&](const std::exception* e, TObject*) { seen = e ? e->what() : "?"; });
    int after = 0;
    platform::WindowHandle h = platform::AllocateHWnd([&](unsigned msg, platform::WPARAM, platform::LPARAM) -> platform::LPARAM {
        if (msg == 1600)
            throw std::runtime_error("boom");
        ++after;
        return 0;
    });
    platform::PostMessage(h, 1600, 0, 0);
    platform::PostMessage(h, 1601, 0, 0);
    platform::ProcessMessages();
    platform::SetExceptionHandler(nullptr);
    platform::DeallocateHWnd(h);
    EXPECT_EQ(seen, "boom");
    EXPECT_EQ(after, 1);
}

TEST(Pump, ProcessMessagesReturnsAtOnceWhenNothingIsPending)
{
    auto start = Clock::now();
    for (int i = 0; i < 100; ++i)
        platform::ProcessMessages();
    EXPECT_LT(MsSince(start), Generous(2s).count());
}

TEST(WindowTimers, TickWithTheirIdentifier)
{
    Recorder r;
    ASSERT_TRUE(platform::SetTimer(r.Handle, 1, 30));
    auto start = Clock::now();
    PumpUntil([&] { return r.Count(platform::WM_TIMER) >= 3; }, 2s);
    ASSERT_GE(r.Count(platform::WM_TIMER), 3u);
    EXPECT_GE(MsSince(start), 80);
    EXPECT_EQ(r.WParams.at(0), 1u);
    EXPECT_TRUE(platform::KillTimer(r.Handle, 1));
}

TEST(WindowTimers, SettingAgainRestartsTheCountdown)
{
    // Set again at the mark of 100 ms, the 200 ms timer ticks after the mark of 250 ms.
    Recorder r;
    platform::SetTimer(r.Handle, 1, 200);
    testsupport::TickMarks marks({100, 250}, [&](unsigned ms) {
        if (ms == 100)
            platform::SetTimer(r.Handle, 1, 200);
    });
    PumpUntil([&] { return r.Count(platform::WM_TIMER) > 0; }, 2s);
    EXPECT_TRUE(marks.Seen(250)) << "the tick came before the mark of 250 ms";
    platform::KillTimer(r.Handle, 1);
}

TEST(WindowTimers, NoTickAfterKillEvenWhenTheTimeWasDue)
{
    Recorder r;
    platform::SetTimer(r.Handle, 1, 10);
    std::this_thread::sleep_for(60ms);   // due, but not yet seen by the pump
    EXPECT_TRUE(platform::KillTimer(r.Handle, 1));
    Settle();
    EXPECT_EQ(r.Count(platform::WM_TIMER), 0u);
    EXPECT_FALSE(platform::KillTimer(r.Handle, 1)) << "killing a dead timer reports false";
}

TEST(WindowTimers, CanBeSetAndKilledFromAnotherThread)
{
    Recorder r;
    std::thread([h = r.Handle] { platform::SetTimer(h, 1, 20); }).join();
    PumpUntil([&] { return r.Count(platform::WM_TIMER) > 0; }, 2s);
    EXPECT_GT(r.Count(platform::WM_TIMER), 0u);
    std::thread([h = r.Handle] { platform::KillTimer(h, 1); }).join();
    std::size_t n = r.Count(platform::WM_TIMER);
    testsupport::TickMarks later({60});   // three periods of the killed timer
    PumpUntil([&] { return later.Seen(60); }, 2s);
    EXPECT_EQ(r.Count(platform::WM_TIMER), n);
}

TEST(WindowTimers, DestroyingTheWindowStopsItsTimers)
{
    int ticks = 0;
    platform::WindowHandle h = platform::AllocateHWnd([&](unsigned msg, platform::WPARAM, platform::LPARAM) {
        ticks += msg == platform::WM_TIMER;
        return platform::LPARAM(0);
    });
    platform::SetTimer(h, 1, 10);
    std::this_thread::sleep_for(30ms);
    platform::DeallocateHWnd(h);
    Settle();
    EXPECT_EQ(ticks, 0);
    EXPECT_FALSE(platform::SetTimer(h, 1, 10));
}
