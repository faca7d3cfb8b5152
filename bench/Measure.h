#pragma once
// What the benchmarks time with: wall-clock spans, the calling thread's processor time, and
// the median that each figure is taken as, with its spread (the machine is shared, so single
// runs drift).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

// Processor time of the calling thread (the client's own work; waits excluded).
inline double ThreadCpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A figure's samples as printed: the median and the range it was taken from.
struct Spread {
    double median = 0, low = 0, high = 0;
};

inline Spread SpreadOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.front(), v.back()};
}

// "median (low-high)" of the samples times `scale`, with `decimals` places.
inline std::string SpreadText(const std::vector<double>& samples, double scale = 1, int decimals = 2)
{
    const Spread s = SpreadOf(samples);
    char text[128];
    std::snprintf(text, sizeof text, "%.*f (%.*f-%.*f)", decimals, s.median * scale, decimals, s.low * scale, decimals,
                  s.high * scale);
    return text;
}

} // namespace bench
