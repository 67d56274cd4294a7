#pragma once

#include <cmath>
#include <utility>

// What the parts of the line copier (linecopier.cpp) share: the lattice of
// ticks a line is copied on and the sums of log-likelihoods taken on it.

namespace linecopier {

// The log of a chance of nothing: a path that cannot be.
constexpr double Impossible = -1e300;
// Ticks a dot: the lattice a line is copied on (see linecopier.cpp).
constexpr int TicksPerDot = 6;

// log(e^a + e^b). A term 37.5 or more under the other adds less than
// e^-37.5 < 2^-54 to the larger: to one of magnitude 1 or more, less than
// half its last bit, so the sum is the larger term exactly, without the
// exp and the log.
inline double logAdd(double a, double b) {
    if (a < b)
        std::swap(a, b);
    if (b <= Impossible || (b - a < -37.5 && std::abs(a) >= 1))
        return a;
    return a + std::log1p(std::exp(b - a));
}

// A log-sum of many terms: the largest term so far and the sum of e to the
// others' distance under it, 1 for itself. A term costs one exp, or none
// where it is 40 or more under the largest (it adds less than half the
// last bit of a sum of 1 or more), against an exp and a log for logAdd.
struct LogSum {
    double top = Impossible;
    double sum = 0;
    void add(double v) {
        if (v <= top) {
            if (v - top > -40)
                sum += std::exp(v - top);
        } else if (v > Impossible) {
            sum = (v - top < 40 ? sum * std::exp(top - v) : 0) + 1;
            top = v;
        }
    }
    double value() const { return top > Impossible ? top + std::log(sum) : Impossible; }
};

} // namespace linecopier
