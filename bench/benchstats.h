#pragma once

// The figures both benchmarks give for a set of timed runs.

#include <algorithm>
#include <cmath>
#include <vector>

namespace BenchStats {

struct Stats {
    double median = 0;
    double p95 = -1; // -1: a single run, no percentile
    int runs = 0;
};

inline Stats summarise(std::vector<double> ms)
{
    Stats s;
    s.runs = int(ms.size());
    if (ms.empty())
        return s;
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    s.median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    if (n > 1)
        s.p95 = ms[std::min(n - 1, size_t(std::ceil(0.95 * double(n))) - 1)];
    return s;
}

} // namespace BenchStats
