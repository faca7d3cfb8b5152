#pragma once
// Time in the tests. The machine is shared and loaded: a test asserts what the code promises
// (a flag, an order, a count), never how fast it ran. What is left of the wall clock bounds a
// hang: at least 2 s, times PURGEL_TEST_TIME_SCALE (1 when unset), the fixtures' limits too.

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace testsupport {

using Clock = std::chrono::steady_clock;

inline long long MsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// `d` times the scale, which is read once.
inline std::chrono::milliseconds Generous(std::chrono::milliseconds d)
{
    static const char* text = std::getenv("PURGEL_TEST_TIME_SCALE");
    static const double scale = std::max(1.0, text ? std::atof(text) : 1.0);
    return std::chrono::milliseconds(static_cast<long long>(static_cast<double>(d.count()) * scale));
}

} // namespace testsupport
