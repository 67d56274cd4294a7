#include "segmentation.h"

#include "cwaudio/morse.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace linecopier {

namespace {
double gauss(double x, double mean, double sd) {
    const double u = (x - mean) / sd;
    return std::exp(-0.5 * u * u) / (sd * 2.5066282746310002);
}

// Durations in ticks, a dot being TicksPerDot: priors of marks and gaps.
struct TimingPriors {
    static constexpr int MarkMin = TicksPerDot / 2, MarkMax = TicksPerDot * 9 / 2;
    static constexpr int GapMin = TicksPerDot / 2, GapMax = TicksPerDot * 12;
    double mark[MarkMax + 1];
    double gap[GapMax + 1];
    double longGap;
    TimingPriors() {
        constexpr double u = TicksPerDot;
        for (int d = MarkMin; d <= MarkMax; ++d)
            mark[d] =
                std::log(u * (0.55 * gauss(d, u, u / 4) + 0.45 * gauss(d, 3 * u, u / 2)) + 1e-4);
        for (int d = GapMin; d <= GapMax; ++d)
            gap[d] = std::log(u * (0.5 * gauss(d, u, u / 4) + 0.3 * gauss(d, 3 * u, u / 2) +
                                   0.15 * gauss(d, 7 * u, u)) +
                              1e-4);
        longGap = std::log(0.05 / 100);
    }
};

bool isDash(const Mark &mark) {
    return mark.end - mark.start >= 2 * TicksPerDot;
}

// Nominal dots of a gap in ticks: 1, 3 or 7; 0 for a longer pause.
int gapDots(int ticks) {
    if (ticks < 2 * TicksPerDot)
        return 1;
    if (ticks < 5 * TicksPerDot)
        return 3;
    if (ticks <= 11 * TicksPerDot)
        return 7;
    return 0;
}
} // namespace

Segmentation segment(const std::vector<double> &cumulative) {
    static const TimingPriors priors;
    const int n = int(cumulative.size()) - 1;
    std::vector<double> markEnd(static_cast<size_t>(n) + 1, Impossible), gapEnd(size_t(n) + 1, 0);
    std::vector<int> markFrom(static_cast<size_t>(n) + 1, -1), gapFrom(size_t(n) + 1, -1);
    double longBest = Impossible;
    int longFrom = -1;
    for (int t = 0; t <= n; ++t) {
        const int old = t - TimingPriors::GapMax - 1;
        if (old >= 0 && markEnd[size_t(old)] > longBest) {
            longBest = markEnd[size_t(old)];
            longFrom = old;
        }
        // A gap ending here: after a mark, or the line's leading silence (0).
        double best = 0;
        int from = -1;
        for (int d = TimingPriors::GapMin; d <= TimingPriors::GapMax && d <= t; ++d) {
            const double v = markEnd[size_t(t - d)] + priors.gap[d];
            if (v > best) {
                best = v;
                from = t - d;
            }
        }
        if (longBest + priors.longGap > best) {
            best = longBest + priors.longGap;
            from = longFrom;
        }
        gapEnd[size_t(t)] = best;
        gapFrom[size_t(t)] = from;
        double mark = Impossible;
        int markStart = -1;
        for (int d = TimingPriors::MarkMin; d <= TimingPriors::MarkMax && d <= t; ++d) {
            const double v = gapEnd[size_t(t - d)] + cumulative[size_t(t)] -
                             cumulative[size_t(t - d)] + priors.mark[d];
            if (v > mark) {
                mark = v;
                markStart = t - d;
            }
        }
        markEnd[size_t(t)] = mark;
        markFrom[size_t(t)] = markStart;
    }
    Segmentation result;
    result.score = 0;
    int end = -1;
    for (int t = 0; t <= n; ++t) {
        if (markEnd[size_t(t)] > result.score) {
            result.score = markEnd[size_t(t)];
            end = t;
        }
    }
    while (end >= 0) {
        const int start = markFrom[size_t(end)];
        result.marks.push_back({start, end});
        end = gapFrom[size_t(start)];
    }
    std::reverse(result.marks.begin(), result.marks.end());
    return result;
}

void timingFit(const Segmentation &segmentation, double *ratio, double *spread) {
    double actual = 0, nominal = 0;
    std::vector<std::pair<double, double>> pairs;
    const auto &marks = segmentation.marks;
    for (size_t i = 0; i < marks.size(); ++i) {
        const int d = marks[i].end - marks[i].start;
        pairs.push_back({double(d), isDash(marks[i]) ? 3.0 : 1.0});
        if (i + 1 < marks.size()) {
            const int g = marks[i + 1].start - marks[i].end;
            if (const int dots = gapDots(g); dots == 1 || dots == 3)
                pairs.push_back({double(g), double(dots)});
        }
    }
    for (const auto &[a, b] : pairs) {
        actual += a;
        nominal += b * TicksPerDot;
    }
    *ratio = nominal > 0 ? actual / nominal : 1;
    // The spread from the dashes: long enough for the lattice's rounding
    // and the noise at the edges to matter little.
    double square = 0;
    int count = 0;
    for (const auto &[a, b] : pairs) {
        if (b == 3) {
            const double rel = a / (b * TicksPerDot * *ratio) - 1;
            square += rel * rel;
            ++count;
        }
    }
    *spread = count > 1 ? std::sqrt(square / count) : 0;
}

std::vector<Letter> letters(const Segmentation &segmentation) {
    std::vector<Letter> result;
    const auto &marks = segmentation.marks;
    QString pattern;
    int word = 0, start = 0;
    for (size_t i = 0; i < marks.size(); ++i) {
        if (pattern.isEmpty())
            start = marks[i].start;
        pattern += isDash(marks[i]) ? '-' : '.';
        const int gap = i + 1 < marks.size() ? marks[i + 1].start - marks[i].end : 1 << 30;
        if (gap >= 2 * TicksPerDot) {
            const QString text = morseText(pattern);
            result.push_back(
                {text.isEmpty() ? QStringLiteral("#") : text, start, marks[i].end, word});
            pattern.clear();
            if (gap >= 5 * TicksPerDot)
                ++word;
        }
    }
    return result;
}

QString wordsOf(const std::vector<Letter> &list, int from, int to) {
    QString text;
    for (int i = from; i < to; ++i) {
        if (i > from && list[size_t(i)].word != list[size_t(i) - 1].word)
            text += ' ';
        text += list[size_t(i)].text;
    }
    return text;
}

int editDistance(const QString &a, const QString &b) {
    std::vector<int> row(size_t(b.size()) + 1);
    for (int j = 0; j <= b.size(); ++j)
        row[size_t(j)] = j;
    for (int i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const int up = row[size_t(j)];
            row[size_t(j)] = std::min(
                {up + 1, row[size_t(j) - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[size_t(b.size())];
}

} // namespace linecopier
