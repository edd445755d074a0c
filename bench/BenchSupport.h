#pragma once

// Measuring helpers shared by the benchmarks.

#include <algorithm>
#include <sys/resource.h>
#include <vector>

namespace mirsalex::bench {

// Processor time (user and system) of this process (RUSAGE_SELF) or of its
// finished child processes (RUSAGE_CHILDREN) so far, in milliseconds.
inline double cpuMs(int who)
{
    rusage u{};
    getrusage(who, &u);
    return (double(u.ru_utime.tv_sec) + double(u.ru_stime.tv_sec)) * 1e3 +
           (double(u.ru_utime.tv_usec) + double(u.ru_stime.tv_usec)) / 1e3;
}

// Peak resident memory of this process so far, in KB.
inline long peakKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace mirsalex::bench
