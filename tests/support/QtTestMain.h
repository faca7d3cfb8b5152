#pragma once
// testsupport_qt: for test executables whose code needs an application object (hidden
// windows, timers, socket notifications). It provides main(), which makes a
// QCoreApplication and runs every test (link it instead of GTest::gtest_main; an executable
// with a main() of its own keeps its own), and a bounded pump for the tests themselves.

#include "tests/support/Timing.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

namespace testsupport {

// Pumps the calling thread's messages (blocking between events, no busy loop) until
// `done` holds or Generous(`limit`) has passed; returns `done()`. A heartbeat timer bounds
// each wait.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
// Pumps for `d` whatever comes.
void PumpFor(std::chrono::milliseconds d);
// Handles what is due now (socket events the system holds, posted messages and what they
// post) without waiting: after it, a missing notification means something under any load.
void Settle();
// How often HandleMessage returned while a window timer of `ms` ticked `ticks` times: about
// once a tick when the pump is idle, without end when it spins (bounded by Generous(2 s)).
int PumpReturnsFor(int ticks, unsigned ms);

// Window timers set now, one per period given (its identifier), each ticking once: due ticks
// come in the order they fall due however late the pump runs, so a test places an event
// against these marks instead of against the clock. `onTick` runs at each mark.
class TickMarks {
public:
    explicit TickMarks(std::initializer_list<unsigned> periods, std::function<void(unsigned)> onTick = nullptr);
    ~TickMarks();
    TickMarks(const TickMarks&) = delete;
    TickMarks& operator=(const TickMarks&) = delete;
    bool Seen(unsigned ms) const;

private:
    std::uint32_t FWindow = 0;
    std::vector<unsigned> FSeen;
    std::function<void(unsigned)> FOnTick;
};

} // namespace testsupport
