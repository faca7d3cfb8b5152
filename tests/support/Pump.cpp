#include "tests/support/QtTestMain.h"

#include "platform/Window.h"

namespace testsupport {

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + limit;
    platform::WindowHandle heartbeat = platform::AllocateHWnd(platform::DefWindowProc);
    platform::SetTimer(heartbeat, 1, 25);
    while (!done() && Clock::now() < deadline)
        platform::HandleMessage();
    platform::DeallocateHWnd(heartbeat);
    return done();
}

void PumpFor(std::chrono::milliseconds d)
{
    PumpUntil([] { return false; }, d);
}

} // namespace testsupport

