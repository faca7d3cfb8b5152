#pragma once
// Time in the tests. The machine is shared and loaded: a test asserts what the code promises
// (a flag, an order, a count), never how fast it ran. What is left of the wall clock is a
// bound that only a hang reaches: at least 2 s, and scaled by PURGEL_TEST_TIME_SCALE (a
// number, 1 when unset) for slower machines and the sanitizer build. The fixtures' own
// limits (PumpUntil, ScriptServer) go through Generous too.

#include <chrono>
#include <cstdlib>

namespace testsupport {

using Clock = std::chrono::steady_clock;

inline long long MsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// The scale, read once from the environment.
inline double TimeScale()
{
    static const double scale = [] {
        const char* text = std::getenv("PURGEL_TEST_TIME_SCALE");
        const double v = text ? std::atof(text) : 0;
        return v >= 1 ? v : 1.0;
    }();
    return scale;
}

// A bound for a wait that ends at once when the code is right: `d` times the scale.
inline std::chrono::milliseconds Generous(std::chrono::milliseconds d)
{
    return std::chrono::milliseconds(static_cast<long long>(static_cast<double>(d.count()) * TimeScale()));
}

} // namespace testsupport
