#pragma once

// Figures the benchmarks print: peak memory of the process and medians.

#include <sys/resource.h>

#include <algorithm>
#include <vector>

namespace benchfigures {

inline double peakMemoryMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

inline double medianMs(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace benchfigures
