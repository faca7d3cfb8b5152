#pragma once
// Waiting in the thread's message pump (platform::HandleMessage) for something that a Qt
// object's signal or a handler will bring, as every wait of the program does: the windows
// stay alive meanwhile, and handlers run nested inside the wait.

#include <algorithm>
#include <chrono>
#include <limits>

#include "platform/Window.h"

namespace mailbox {

using Clock = std::chrono::steady_clock;

// What is left of the time until `deadline`, in whole milliseconds (at least 1), as D-Bus
// and network calls take it.
inline int MillisecondsLeft(Clock::time_point deadline)
{
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 1, std::numeric_limits<int>::max()));
}

// Pumps the thread's messages until `done` holds or `deadline` has passed; true when done.
// One window timer, due at the deadline, wakes a pump that nothing else wakes.
template <typename Done>
bool WaitInPump(const Done& done, Clock::time_point deadline)
{
    if (done())
        return true;
    if (Clock::now() >= deadline)
        return false;
    platform::WindowHandle alarm = platform::AllocateHWnd(platform::DefWindowProc);
    platform::SetTimer(alarm, 1, static_cast<unsigned>(MillisecondsLeft(deadline)));
    while (!done() && Clock::now() < deadline)
        platform::HandleMessage();
    platform::DeallocateHWnd(alarm);
    return done();
}

} // namespace mailbox
