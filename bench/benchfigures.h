#pragma once

// Figures the benchmarks print: peak memory of the process, medians, and
// one row of the table make bench prints.

#include <QString>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
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

inline void row(const QString &what, double ms, const QString &detail, double peakMiB) {
    std::printf("| %-56s | %10.2f ms | %-52s | %8.1f MiB |\n", qPrintable(what), ms,
                qPrintable(detail), peakMiB);
    std::fflush(stdout);
}

} // namespace benchfigures
