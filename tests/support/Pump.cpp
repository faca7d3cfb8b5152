#include "tests/support/QtTestMain.h"

#include "platform/Window.h"

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

} // namespace testsupport
