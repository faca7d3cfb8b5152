#include "tests/support/QtTestMain.h"

#include "platform/Window.h"

#include <algorithm>

namespace testsupport {

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    auto deadline = Clock::now() + Generous(limit);
    platform::WindowHandle heartbeat = platform::AllocateHWnd(platform::DefWindowProc);
    platform::SetTimer(heartbeat, 1, 25);
    while (!done() && Clock::now() < deadline)
        platform::HandleMessage();
    platform::DeallocateHWnd(heartbeat);
    return done();
}

void PumpFor(std::chrono::milliseconds d)
{
    auto deadline = Clock::now() + d;
    PumpUntil([deadline] { return Clock::now() >= deadline; }, d + std::chrono::seconds(1));
}

void Settle()
{
    // Each round hands out what the last one posted; a marker posted after a round has run
    // once everything posted before it has.
    for (int round = 0; round < 3; ++round) {
        platform::ProcessMessages();
        bool marked = false;
        platform::WindowHandle w = platform::AllocateHWnd(platform::DefWindowProc);
        platform::PostCall(w, [&marked] { marked = true; });
        while (!marked)
            platform::ProcessMessages();
        platform::DeallocateHWnd(w);
    }
}

int PumpReturnsFor(int ticks, unsigned ms)
{
    int ticked = 0, returns = 0;
    platform::WindowHandle w = platform::AllocateHWnd([&ticked](unsigned msg, platform::WPARAM, platform::LPARAM) {
        ticked += msg == platform::WM_TIMER;
        return platform::LPARAM(0);
    });
    platform::SetTimer(w, 1, ms);
    const auto deadline = Clock::now() + Generous(std::chrono::seconds(2));
    while (ticked < ticks && Clock::now() < deadline) {
        platform::HandleMessage();
        ++returns;
    }
    platform::DeallocateHWnd(w);
    return returns;
}

TickMarks::TickMarks(std::initializer_list<unsigned> periods, std::function<void(unsigned)> onTick) : FOnTick(std::move(onTick))
{
    FWindow = platform::AllocateHWnd([this](unsigned msg, platform::WPARAM id, platform::LPARAM) {
        if (msg == platform::WM_TIMER) {
            platform::KillTimer(FWindow, id);
            FSeen.push_back(static_cast<unsigned>(id));
            if (FOnTick)
                FOnTick(static_cast<unsigned>(id));
        }
        return platform::LPARAM(0);
    });
    for (unsigned ms : periods)
        platform::SetTimer(FWindow, ms, ms);
}

TickMarks::~TickMarks()
{
    platform::DeallocateHWnd(FWindow);
}

bool TickMarks::Seen(unsigned ms) const
{
    return std::find(FSeen.begin(), FSeen.end(), ms) != FSeen.end();
}

} // namespace testsupport
