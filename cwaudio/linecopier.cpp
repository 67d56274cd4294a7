#include "cwaudio/linecopier.h"

#include "cwaudio/morse.h"
#include "decoder/symbolalphabet.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <type_traits>

// A transmission is copied on a lattice of ticks, a sixth of a dot each
// (with a quarter, the key edges falling between ticks cost about 1 dB).
// Every tick gets the log-likelihood ratio of key down against key up, from
// its baseband sum projected on the carrier phase of its neighbourhood, so
// the evidence of a whole element adds up coherently. A segmental Viterbi
// pass over the ticks (marks of about 1 or 3 dots, gaps of 1, 3, 7 or more)
// gives the speed, the timing and the generic text; a forward-backward pass
// restricted to the beacon's 16 symbols gives each symbol's posterior.

namespace {

using Complex = std::complex<double>;
constexpr double Impossible = -1e300;
constexpr int TicksPerDot = 6;
// The share of the assumed amplitude a slot's reading must also hold at.
constexpr double WeakerSignal = 0.4;
// The amplitude through fading: ticks either side it is taken from, and the
// rounds of its soft key-down weights.
constexpr double AmplitudeSpanSeconds = 0.25;
constexpr int AmplitudeRounds = 6;
// The amplitude's spread through a transmission, over its mean, above
// which the amplitude is followed.
constexpr double FadingVariation = 0.15;
// The phase reference: the ticks either side it is averaged over. The first
// pass knows neither the key's timing nor the residual pitch, so it keeps
// the reference short; once the marks are known and the reference is taken
// from the key-down ticks alone, the tone is steady enough over a longer
// span that the reference loses less to phase drift than it gains against
// its own noise (0.1 s to 0.3 s: -12 dB frames copied whole 34 % to 41 %).
constexpr double FirstPhaseReachSeconds = 0.1;
constexpr double PhaseReachSeconds = 0.3;

// log(e^a + e^b). A term 37.5 or more under the other adds less than
// e^-37.5 < 2^-54 to the larger: to one of magnitude 1 or more, less than
// half its last bit, so the sum is the larger term exactly, without the
// exp and the log.
double logAdd(double a, double b) {
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

double gauss(double x, double mean, double sd) {
    const double u = (x - mean) / sd;
    return std::exp(-0.5 * u * u) / (sd * 2.5066282746310002);
}

struct Ticks {
    std::vector<Complex> sum; // baseband summed over each tick
    std::vector<int> samples; // samples in each tick
    std::vector<int> first;   // first sample of each tick
    std::vector<double> inPhase, quadrature;
    std::vector<double> cumulative; // running sum of the log-likelihood ratios, size + 1
    // The running sum of the ratios were the signal WeakerSignal times the
    // amplitude assumed, size + 1.
    std::vector<double> cumulativeWeak;
    double amplitude = 0; // key-down amplitude of one baseband sample
    double noise = 0;     // variance of one sample's real part
    int size() const { return int(sum.size()); }
};

Ticks makeTicks(const std::vector<std::complex<float>> &z, double tick) {
    Ticks ticks;
    const int count = int(double(z.size()) / tick);
    ticks.sum.resize(size_t(count));
    ticks.samples.resize(size_t(count));
    ticks.first.resize(size_t(count));
    for (int t = 0; t < count; ++t) {
        const int begin = int(std::lround(t * tick));
        const int end = std::min(int(z.size()), int(std::lround((t + 1) * tick)));
        Complex s;
        for (int i = begin; i < end; ++i)
            s += Complex(z[size_t(i)]);
        ticks.sum[size_t(t)] = s;
        ticks.samples[size_t(t)] = std::max(1, end - begin);
        ticks.first[size_t(t)] = begin;
    }
    return ticks;
}

// Projects each tick on the carrier phase of the ticks around it (itself
// left out, so its noise does not bias the reference), weighted by how
// likely each neighbour is key down.
void project(Ticks &ticks, int reach, const std::vector<double> *weight) {
    const int n = ticks.size();
    std::vector<Complex> running(static_cast<size_t>(n) + 1);
    for (int t = 0; t < n; ++t)
        running[size_t(t) + 1] =
            running[size_t(t)] + ticks.sum[size_t(t)] * (weight ? (*weight)[size_t(t)] : 1.0);
    ticks.inPhase.assign(size_t(n), 0);
    ticks.quadrature.assign(size_t(n), 0);
    for (int t = 0; t < n; ++t) {
        const int lo = std::max(0, t - reach), hi = std::min(n, t + reach + 1);
        const Complex own = ticks.sum[size_t(t)] * (weight ? (*weight)[size_t(t)] : 1.0);
        const Complex reference = running[size_t(hi)] - running[size_t(lo)] - own;
        const double magnitude = std::abs(reference);
        if (magnitude <= 0)
            continue;
        const Complex projected = ticks.sum[size_t(t)] * std::conj(reference) / magnitude;
        ticks.inPhase[size_t(t)] = projected.real();
        ticks.quadrature[size_t(t)] = projected.imag();
    }
}

// At least 60 dB under the line's mean power: audio with no noise at all
// (made, not received) must not make every tick infinitely sure.
double noiseFloor(const Ticks &ticks) {
    double power = 0;
    for (int t = 0; t < ticks.size(); ++t)
        power += std::norm(ticks.sum[size_t(t)]) / ticks.samples[size_t(t)];
    return std::max(1e-6 * power / std::max(1, ticks.size()), 1e-30);
}

// Noise from the quadrature part (no signal there) unless it is known,
// amplitude from a two-component mixture of the in-phase part.
void estimateLevels(Ticks &ticks, double knownNoise = 0) {
    const int n = ticks.size();
    if (n == 0)
        return;
    if (knownNoise > 0) {
        ticks.noise = knownNoise;
    } else {
        std::vector<double> q(static_cast<size_t>(n));
        for (int t = 0; t < n; ++t)
            q[size_t(t)] = std::abs(ticks.quadrature[size_t(t)]) / std::sqrt(ticks.samples[size_t(t)]);
        std::nth_element(q.begin(), q.begin() + n / 2, q.end());
        const double sd = q[size_t(n / 2)] / 0.6745;
        ticks.noise = std::max(sd * sd, noiseFloor(ticks));
    }

    std::vector<double> normalized(static_cast<size_t>(n));
    for (int t = 0; t < n; ++t)
        normalized[size_t(t)] = ticks.inPhase[size_t(t)] / ticks.samples[size_t(t)];
    std::vector<double> sorted = normalized;
    std::nth_element(sorted.begin(), sorted.begin() + n * 9 / 10, sorted.end());
    double amplitude = std::max(sorted[size_t(n * 9 / 10)], 1e-12);
    double share = 0.4;
    for (int round = 0; round < 12; ++round) {
        double weighted = 0, weights = 0, total = 0;
        for (int t = 0; t < n; ++t) {
            const double c = ticks.inPhase[size_t(t)];
            const double m = ticks.samples[size_t(t)];
            const double variance = ticks.noise * m;
            const double on = share * std::exp(-(c - amplitude * m) * (c - amplitude * m) /
                                               (2 * variance));
            const double off = (1 - share) * std::exp(-c * c / (2 * variance));
            const double r = on + off > 0 ? on / (on + off) : (c > amplitude * m / 2 ? 1 : 0);
            weighted += r * c;
            weights += r * m;
            total += r;
        }
        if (weights <= 0)
            break;
        amplitude = std::max(weighted / weights, 1e-12);
        share = std::clamp(total / n, 0.02, 0.98);
    }
    ticks.amplitude = amplitude;
}

// Log-likelihood ratios of key down, with the amplitude at each tick when
// given (fading), else the line's; the noise is the line's, or more where
// the quadrature part says a burst of noise came (span ticks either side).
void likelihoods(Ticks &ticks, const std::vector<double> *localAmplitude, int span) {
    const int n = ticks.size();
    ticks.cumulative.assign(size_t(n) + 1, 0);
    ticks.cumulativeWeak.assign(size_t(n) + 1, 0);
    std::vector<double> quadrature(static_cast<size_t>(n) + 1), weight(static_cast<size_t>(n) + 1);
    for (int t = 0; t < n; ++t) {
        const double q = ticks.quadrature[size_t(t)];
        quadrature[size_t(t) + 1] = quadrature[size_t(t)] + q * q;
        weight[size_t(t) + 1] = weight[size_t(t)] + (q != 0 ? ticks.samples[size_t(t)] : 0);
    }
    auto ratio = [&](double a, int t, double noise) {
        const double m = ticks.samples[size_t(t)];
        return (2 * a * ticks.inPhase[size_t(t)] - a * a * m) / (2 * noise);
    };
    for (int t = 0; t < n; ++t) {
        const double a = localAmplitude ? (*localAmplitude)[size_t(t)] : ticks.amplitude;
        const int lo = std::max(0, t - span), hi = std::min(n, t + span + 1);
        const double w = weight[size_t(hi)] - weight[size_t(lo)];
        const double near = w > 0 ? (quadrature[size_t(hi)] - quadrature[size_t(lo)]) / w : 0.0;
        const double noise = near > 2.5 * ticks.noise ? near : ticks.noise;
        ticks.cumulative[size_t(t) + 1] = ticks.cumulative[size_t(t)] + ratio(a, t, noise);
        ticks.cumulativeWeak[size_t(t) + 1] =
            ticks.cumulativeWeak[size_t(t)] + ratio(WeakerSignal * a, t, noise);
    }
}

// The key-down amplitude near each tick (span ticks either side), from
// soft key-down weights found again with each round's estimate.
std::vector<double> trackAmplitude(const Ticks &ticks, int span) {
    const int n = ticks.size();
    std::vector<double> local(static_cast<size_t>(n), ticks.amplitude);
    std::vector<double> sumC(static_cast<size_t>(n) + 1), sumM(static_cast<size_t>(n) + 1);
    const double prior = std::log(0.45 / 0.55); // the share of time the key is down
    const double floor = 0.02 * ticks.amplitude;
    for (int round = 0; round < AmplitudeRounds; ++round) {
        for (int t = 0; t < n; ++t) {
            const double a = local[size_t(t)];
            const double c = ticks.inPhase[size_t(t)];
            const double m = ticks.samples[size_t(t)];
            const double llr = (2 * a * c - a * a * m) / (2 * ticks.noise) + prior;
            const double r = 1 / (1 + std::exp(-std::clamp(llr, -50.0, 50.0)));
            sumC[size_t(t) + 1] = sumC[size_t(t)] + r * c;
            sumM[size_t(t) + 1] = sumM[size_t(t)] + r * m;
        }
        // A little of the line's amplitude keeps a stretch without key down
        // from dividing by nothing.
        const double weight = 0.5 * ticks.samples[0];
        for (int t = 0; t < n; ++t) {
            const int lo = std::max(0, t - span), hi = std::min(n, t + span + 1);
            const double c = sumC[size_t(hi)] - sumC[size_t(lo)];
            const double m = sumM[size_t(hi)] - sumM[size_t(lo)];
            local[size_t(t)] = std::max((c + ticks.amplitude * weight) / (m + weight), floor);
        }
    }
    return local;
}

struct Mark {
    int start = 0; // ticks
    int end = 0;
};

struct Segmentation {
    double score = Impossible;
    std::vector<Mark> marks;
};

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
            mark[d] = std::log(u * (0.55 * gauss(d, u, u / 4) + 0.45 * gauss(d, 3 * u, u / 2)) + 1e-4);
        for (int d = GapMin; d <= GapMax; ++d)
            gap[d] = std::log(u * (0.5 * gauss(d, u, u / 4) + 0.3 * gauss(d, 3 * u, u / 2) +
                                   0.15 * gauss(d, 7 * u, u)) + 1e-4);
        longGap = std::log(0.05 / 100);
    }
};

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

bool isDash(const Mark &mark) { return mark.end - mark.start >= 2 * TicksPerDot; }

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

// How much longer the elements are than the lattice says, and their spread.
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

struct Letter {
    QString text;
    int start = 0, end = 0; // ticks of its first key down and last key up
    int word = 0;
};

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
            result.push_back({text.isEmpty() ? QStringLiteral("#") : text, start, marks[i].end, word});
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
            row[size_t(j)] = std::min({up + 1, row[size_t(j) - 1] + 1,
                                       diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[size_t(b.size())];
}

// The 20 symbols after the name: a forward-backward pass over symbol slots.
// A slot holds one of the 16 symbols and its letter gap (none after the
// last), stretched or shrunk as a whole by the timing's uncertainty.
struct SymbolTemplate {
    std::vector<std::pair<int, int>> marks; // in dots from the symbol's start
    int keyed = 0;                          // dots to its last key up
};

// Letters keyed one after another with letter gaps.
SymbolTemplate templateOf(const QStringList &patterns) {
    SymbolTemplate t;
    int at = 0;
    for (const QString &pattern : patterns) {
        for (QChar element : pattern) {
            const int length = element == '-' ? 3 : 1;
            t.marks.push_back({at, at + length});
            at += length + 1;
        }
        at += 2;
    }
    t.keyed = at - 3;
    return t;
}

// The characters a slot may hold: the 16 symbols first, then the other ITU
// letters and digits, which only the free slots take.
const QString &slotCharacters() {
    static const QString characters = [] {
        QString list;
        for (char symbol : SymbolAlphabet)
            list += QChar::fromLatin1(symbol);
        for (char c : "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789")
            if (c != 0 && !list.contains(QChar::fromLatin1(c)))
                list += QChar::fromLatin1(c);
        return list;
    }();
    return characters;
}

const std::vector<SymbolTemplate> &symbolTemplates() {
    static const std::vector<SymbolTemplate> templates = [] {
        std::vector<SymbolTemplate> list;
        for (QChar c : slotCharacters())
            list.push_back(templateOf({morsePattern(c)}));
        return list;
    }();
    return templates;
}

// A template stretched or shrunk as a whole, with the prior of each length.
struct Stretch {
    int length;
    double prior;
    std::vector<std::pair<int, int>> edges;
};

std::vector<Stretch> stretchesOf(const SymbolTemplate &t, int trailingDots, double spread) {
    const double nominal = (t.keyed + trailingDots) * TicksPerDot;
    // A keyed symbol's length varies by about a third of its elements' spread.
    const double sd = 0.6 + nominal * (0.005 + 0.36 * std::max(0.0, spread - 0.04));
    const int reach = int(std::ceil(2.5 * sd));
    std::vector<Stretch> list;
    double norm = Impossible;
    for (int delta = -reach; delta <= reach; ++delta) {
        Stretch s;
        s.length = int(nominal) + delta;
        s.prior = -0.5 * (delta / sd) * (delta / sd);
        norm = logAdd(norm, s.prior);
        const double scale = s.length / nominal;
        for (const auto &[a, b] : t.marks)
            s.edges.push_back({int(std::lround(a * TicksPerDot * scale)),
                               int(std::lround(b * TicksPerDot * scale))});
        list.push_back(std::move(s));
    }
    for (Stretch &s : list)
        s.prior -= norm;
    return list;
}

// A template's elements (marks, the gaps between them, the trailing gap
// last), each lasting its own time around its nominal length: hand keying.
struct ElementTiming {
    std::vector<bool> mark;
    std::vector<int> low;
    std::vector<std::vector<double>> prior; // log, durations from low on
    std::vector<std::vector<double>> chance; // the same, not log
    int longest = 0;
};

ElementTiming timingOf(const SymbolTemplate &t, int trailingDots, double jitter) {
    std::vector<std::pair<int, bool>> units;
    for (size_t i = 0; i < t.marks.size(); ++i) {
        units.push_back({t.marks[i].second - t.marks[i].first, true});
        if (i + 1 < t.marks.size())
            units.push_back({t.marks[i + 1].first - t.marks[i].second, false});
    }
    if (trailingDots > 0)
        units.push_back({trailingDots, false});
    ElementTiming e;
    for (const auto &[dots, isMark] : units) {
        const int nominal = dots * TicksPerDot;
        const double sd = std::max(0.5, jitter * nominal);
        const int reach = int(std::ceil(2.5 * sd));
        const int low = std::max(1, nominal - reach);
        std::vector<double> prior;
        double norm = Impossible;
        for (int d = low; d <= nominal + reach; ++d) {
            prior.push_back(-0.5 * ((d - nominal) / sd) * ((d - nominal) / sd));
            norm = logAdd(norm, prior.back());
        }
        for (double &v : prior)
            v -= norm;
        e.mark.push_back(isMark);
        e.low.push_back(low);
        e.longest += nominal + reach;
        e.chance.emplace_back();
        for (double v : prior)
            e.chance.back().push_back(std::exp(v));
        e.prior.push_back(std::move(prior));
    }
    return e;
}

// Element i of a template after those before it: from the log-sums over
// their timings of ending p ticks after t0 (current, p from lo to hi), those
// of ending element i there (next), with the evidence of its marks. lo and
// hi move on to the new range. Summed as chances scaled to the largest
// start (one exp a start, not one a start and a duration); an end whose
// terms all fall out of a double's range that way is summed as logs.
void timeElement(const ElementTiming &e, size_t i, const std::vector<double> &cumulative, int t0,
                 bool evidence, const std::vector<double> &current, std::vector<double> &next, int &lo,
                 int &hi, std::vector<double> &scaled) {
    const int n = int(cumulative.size()) - 1;
    const int low = e.low[i], high = low + int(e.prior[i].size()) - 1;
    const int newLo = lo + low, newHi = std::min(e.longest, hi + high);
    // A mark's evidence from a start to an end: taken out at the start,
    // put back at the end.
    const double *at = cumulative.data() + t0;
    auto start = [&](int p) { return evidence && e.mark[i] ? current[size_t(p)] - at[p] : current[size_t(p)]; };
    double top = Impossible;
    for (int p = lo; p <= hi; ++p)
        if (current[size_t(p)] > Impossible)
            top = std::max(top, start(p));
    for (int p = lo; p <= hi; ++p)
        scaled[size_t(p)] = current[size_t(p)] > Impossible && start(p) - top > -700 ? std::exp(start(p) - top) : 0;
    const double *prior = e.prior[i].data(), *chance = e.chance[i].data();
    for (int q = newLo; q <= newHi; ++q) {
        const int from = std::max(lo, q - high), to = std::min(hi, q - low);
        double sum = 0;
        bool reached = false;
        for (int p = from; p <= to && t0 + q <= n; ++p) {
            reached = reached || current[size_t(p)] > Impossible;
            sum += scaled[size_t(p)] * chance[q - p - low];
        }
        if (!reached) {
            next[size_t(q)] = Impossible;
            continue;
        }
        const double end = evidence && e.mark[i] ? at[q] : 0;
        if (sum > 1e-290) {
            next[size_t(q)] = top + std::log(sum) + end;
        } else {
            LogSum terms;
            for (int p = from; p <= to; ++p)
                if (current[size_t(p)] > Impossible)
                    terms.add(start(p) + prior[q - p - low]);
            next[size_t(q)] = terms.value() + end;
        }
    }
    lo = newLo;
    hi = newHi;
}

// Sums over every timing of the elements from t0 the evidence of its marks
// and its prior, for each tick the template may end at.
void elementOutcomes(const ElementTiming &e, const std::vector<double> &cumulative, int t0,
                     bool evidence, std::vector<std::pair<int, double>> &out) {
    std::vector<double> current(static_cast<size_t>(e.longest) + 1, Impossible), next = current;
    std::vector<double> scaled(current.size());
    current[0] = 0;
    int lo = 0, hi = 0;
    for (size_t i = 0; i < e.mark.size(); ++i) {
        timeElement(e, i, cumulative, t0, evidence, current, next, lo, hi, scaled);
        std::swap(current, next);
    }
    out.clear();
    for (int p = lo; p <= hi; ++p)
        if (current[size_t(p)] > Impossible)
            out.push_back({t0 + p, current[size_t(p)]});
}

// The ticks a slot may end at, from `first` on, with the log-sum of each
// (Impossible where it cannot end).
struct Ends {
    int first = -1; // -1: not made yet
    std::vector<double> value;
};

// The same for many templates at once: those whose first elements are
// timed alike (the same marks and gaps, "-.-" and "-.." and "-" share "-")
// share the work of timing those. A tree of the templates' elements.
class TimingTree {
public:
    explicit TimingTree(const std::vector<ElementTiming> &timings) : timings_(timings) {
        nodes_.push_back({});
        for (size_t s = 0; s < timings.size(); ++s) {
            const ElementTiming &e = timings[s];
            int at = 0;
            longest_ = std::max(longest_, e.longest);
            depth_ = std::max(depth_, e.mark.size());
            for (size_t i = 0; i < e.mark.size(); ++i) {
                nodes_[size_t(at)].below |= quint64(1) << s;
                int next = -1;
                for (int child : nodes_[size_t(at)].children) {
                    const Node &c = nodes_[size_t(child)];
                    const ElementTiming &o = timings[size_t(c.timing)];
                    if (o.mark[c.element] == e.mark[i] && o.low[c.element] == e.low[i] &&
                        o.prior[c.element] == e.prior[i])
                        next = child;
                }
                if (next < 0) {
                    next = int(nodes_.size());
                    nodes_[size_t(at)].children.push_back(next);
                    nodes_.push_back({int(s), i, {}, {}, 0});
                }
                at = next;
            }
            nodes_[size_t(at)].below |= quint64(1) << s;
            nodes_[size_t(at)].ending.push_back(int(s));
        }
    }
    // The ends from t0 of the templates in `wanted` (a bit each), put into
    // the Ends found(template) gives.
    template <typename Found>
    void outcomes(const std::vector<double> &cumulative, int t0, quint64 wanted, const Found &found) {
        if (sums_.empty()) {
            sums_.assign(depth_ + 1, std::vector<double>(size_t(longest_) + 1, Impossible));
            scaled_.resize(size_t(longest_) + 1);
        }
        sums_[0][0] = 0;
        walk(0, 0, 0, 0, cumulative, t0, wanted, found);
    }

private:
    struct Node {
        int timing = -1;  // the template whose element this is
        size_t element = 0;
        std::vector<int> children;
        std::vector<int> ending; // templates whose last element this is
        quint64 below = 0;       // templates through this node
    };
    template <typename Found>
    void walk(int at, size_t level, int lo, int hi, const std::vector<double> &cumulative, int t0,
              quint64 wanted, const Found &found) {
        for (int child : nodes_[size_t(at)].children) {
            const Node &c = nodes_[size_t(child)];
            if (!(c.below & wanted))
                continue;
            int l = lo, h = hi;
            timeElement(timings_[size_t(c.timing)], c.element, cumulative, t0, true, sums_[level],
                        sums_[level + 1], l, h, scaled_);
            for (int s : c.ending) {
                if (wanted & (quint64(1) << s)) {
                    Ends &ends = found(s);
                    ends.first = t0 + l;
                    ends.value.assign(sums_[level + 1].begin() + l, sums_[level + 1].begin() + h + 1);
                }
            }
            walk(child, level + 1, l, h, cumulative, t0, wanted, found);
        }
    }
    const std::vector<ElementTiming> &timings_;
    std::vector<Node> nodes_;
    int longest_ = 0;
    size_t depth_ = 0;
    std::vector<std::vector<double>> sums_; // one for each level of the tree
    std::vector<double> scaled_;
};

constexpr int SymbolSlots = 20;
// Slots 10 to 12 of a frame are not decoded and carry any letter or digit.
constexpr int FreeSlotsFrom = 9, FreeSlotsTo = 11;
// From this many unsure symbols on, the others are written only when at
// least this sure.
constexpr int ManyUnsure = 3;
constexpr double SlipConfidence = 0.99999;
constexpr int TooManyUnsure = 8;
// How far the name's template may fall behind the free segmentation, in
// the evidence of a dot, where the letters do not spell the name.
constexpr double NameDeficitDots = 5;
// The spread of the dashes the lattice's rounding alone gives, and what
// the noise adds to the measured spread, over the evidence of a dot.
constexpr double LatticeSpread = 0.04;
constexpr double SpreadNoise = 0.03;
// The symbols placed after the letters that follow the name rather than
// after its template pay this many dots' evidence: a name keyed wrong still
// places them, noise that made a letter of a weak name's last dash does not.
constexpr double SlipPenaltyDots = 3;

struct SlotResult {
    bool ok = false;
    QString symbols;
    int unsure = 0;
    std::vector<double> probability; // of each slot's written symbol
    std::vector<double> lost;        // that nothing was heard in the slot
};

const SymbolTemplate &nameTemplate() {
    static const SymbolTemplate name = templateOf({QStringLiteral("-.-"), QStringLiteral(".-"),
                                                   QStringLiteral("-.."), QStringLiteral(".-."),
                                                   QStringLiteral(".."), QStringLiteral("-.")});
    return name;
}

// Where the name fits the key-down evidence best: the tick its first
// element starts at, and how far its evidence falls behind what the free
// segmentation claimed over the same stretch (nats).
struct NameFit {
    int at = -1;
    int end = -1;  // its last key up
    double deficit = 1e300;
};

NameFit fitName(const std::vector<double> &cumulative, const std::vector<double> &bound, double spread) {
    const int n = int(cumulative.size()) - 1;
    const std::vector<Stretch> stretches = stretchesOf(nameTemplate(), 0, spread);
    NameFit best;
    for (int t = 0; t < n; ++t) {
        for (const Stretch &st : stretches) {
            if (t + st.length > n)
                break;
            double sum = 0;
            for (const auto &[a, b] : st.edges)
                sum += cumulative[size_t(t + b)] - cumulative[size_t(t + a)];
            const double deficit = bound[size_t(t + st.length)] - bound[size_t(t)] - sum - st.prior;
            if (deficit < best.deficit) {
                best.deficit = deficit;
                best.at = t;
                best.end = t + st.length;
            }
        }
    }
    return best;
}

SlotResult beaconSymbols(const std::vector<double> &cumulative, const std::vector<bool> &keyDown,
                         int nameTick, int nameEnd, int symbolTick, double spread,
                         double confidence) {
    const int n = int(cumulative.size()) - 1;
    const auto &templates = symbolTemplates();
    // Each slot holds one of the 16 symbols or, rarely, nothing heard for
    // the length of one (a symbol lost in a fade or a burst of noise): that
    // keeps a lost symbol from being read as the noise's best guess. The
    // slots 10 to 12 hold any of the `real` characters, the others one of
    // the first `restricted` (the 16 symbols come first).
    const int real = int(templates.size());
    constexpr double Lost = 1e-4;
    const int restricted = int(SymbolAlphabet.size());
    const int choices[2] = {restricted, real};
    const double heardPrior[2] = {std::log((1 - Lost) / restricted), std::log((1 - Lost) / real)};
    auto isFree = [](int k) { return k >= FreeSlotsFrom && k <= FreeSlotsTo; };

    // What a slot (with or without its letter gap) holding a symbol starting
    // at a tick may end at, with the evidence and the prior of each end.
    // Machine keying: each symbol stretched or shrunk as a whole; hand
    // keying (a wide spread of the dashes): every element on its own.
    const bool hand = spread > 0.08;
    std::vector<std::vector<Stretch>> stretches[2];
    std::vector<ElementTiming> timings[2];
    for (int last = 0; last < 2; ++last) {
        for (const SymbolTemplate &t : templates) {
            stretches[last].push_back(stretchesOf(t, last ? 0 : 3, spread));
            timings[last].push_back(timingOf(t, last ? 0 : 3, spread));
        }
    }
    auto evidence = [&](const Stretch &st, int t0) {
        double sum = 0;
        for (const auto &[a, b] : st.edges)
            sum += cumulative[size_t(t0 + b)] - cumulative[size_t(t0 + a)];
        return sum;
    };
    // A symbol heard: its ends from each start it is asked for, kept for the
    // backward pass. Nothing heard: the ends depend on the start only by
    // where the line ends, and only the chance that the slot was lost is
    // asked for, not which symbol was, so the ends of all the symbols lost
    // are summed once from tick 0 (with their priors) and shifted.
    std::vector<std::unique_ptr<Ends[]>> heardEnds(size_t(n) + 1); // made for a start when first asked
    std::vector<quint64> timed(size_t(n + 1) * 2, 0); // hand keying: the symbols timed from each start
    std::vector<std::pair<int, double>> silentEnds[2][2]; // [last][free]: ticks from the start, log-sum
    std::optional<TimingTree> trees[2];
    for (int last = 0; last < 2; ++last) {
        if (hand)
            trees[last].emplace(timings[last]);
        for (int free = 0; free < 2; ++free) {
            std::vector<LogSum> sums;
            std::vector<std::pair<int, double>> ends;
            for (int symbol = 0; symbol < choices[free]; ++symbol) {
                ends.clear();
                if (hand) {
                    // Without evidence the ticks only bound how far it reaches.
                    const ElementTiming &timing = timings[last][size_t(symbol)];
                    elementOutcomes(timing, std::vector<double>(size_t(timing.longest) + 1), 0, false, ends);
                } else {
                    for (const Stretch &st : stretches[last][size_t(symbol)])
                        ends.push_back({st.length, st.prior});
                }
                for (const auto &[p, v] : ends) {
                    sums.resize(std::max(sums.size(), size_t(p) + 1));
                    sums[size_t(p)].add(v + std::log(Lost / choices[free]));
                }
            }
            for (size_t p = 0; p < sums.size(); ++p)
                if (sums[p].top > Impossible)
                    silentEnds[last][free].push_back({int(p), sums[p].value()});
        }
    }
    const quint64 slotMask[2] = {(quint64(1) << restricted) - 1, (quint64(1) << real) - 1};
    auto forEachHeardEnd = [&](int symbol, bool last, bool free, int t0, const auto &visit) {
        auto &fromT0 = heardEnds[size_t(t0)];
        if (!fromT0)
            fromT0 = std::make_unique<Ends[]>(2 * size_t(real));
        Ends *const list = fromT0.get() + (last ? real : 0);
        if (hand) {
            quint64 &done = timed[size_t(t0) * 2 + last];
            if (!(done & (quint64(1) << symbol))) {
                trees[last]->outcomes(cumulative, t0, slotMask[free] & ~done, [&](int timedSymbol) -> Ends & {
                    return list[timedSymbol];
                });
                done |= slotMask[free];
            }
        } else if (list[symbol].first < 0) {
            const auto &lengths = stretches[last][size_t(symbol)];
            list[symbol].first = t0 + lengths.front().length; // the lengths follow one another
            for (const Stretch &st : lengths)
                if (t0 + st.length <= n)
                    list[symbol].value.push_back(st.prior + evidence(st, t0));
        }
        const Ends &ends = list[symbol];
        for (size_t i = 0; i < ends.value.size(); ++i)
            if (ends.value[i] > Impossible)
                visit(ends.first + int(i), ends.value[i]);
    };

    // Slot starts are pruned by how far they fall behind the best; paths
    // that end later have claimed more key-down, so each is measured against
    // what the free segmentation claimed up to its end.
    std::vector<double> bound(static_cast<size_t>(n) + 1, 0);
    for (int t = 0; t < n; ++t)
        bound[size_t(t) + 1] = bound[size_t(t)] +
                               (keyDown[size_t(t)] ? cumulative[size_t(t) + 1] - cumulative[size_t(t)] : 0);
    double dotEvidence = 0;
    int downTicks = 0;
    for (int t = 0; t < n; ++t) {
        if (keyDown[size_t(t)]) {
            dotEvidence += cumulative[size_t(t) + 1] - cumulative[size_t(t)];
            ++downTicks;
        }
    }
    dotEvidence = downTicks > 0 ? std::max(0.0, dotEvidence / downTicks) * TicksPerDot : 0;
    // The name and its word gap, starting near where the letters put it,
    // give where the first symbol may start. Each placement carries the
    // evidence the free segmentation claimed before it, as the other way
    // in (below) carries it up to the name's end: else that way, which
    // also counts the S, wins by the S's evidence and leaves the first
    // symbol's start spread over six dots.
    const SymbolTemplate &name = nameTemplate();
    const int window = 10 * TicksPerDot;
    std::vector<std::vector<double>> forward(SymbolSlots + 1,
                                             std::vector<double>(static_cast<size_t>(n) + 1, Impossible));
    const std::vector<Stretch> nameStretches = stretchesOf(name, 7, spread);
    const ElementTiming nameTiming = timingOf(name, 7, spread);
    std::vector<std::pair<int, double>> nameEnds;
    for (int t = std::max(0, nameTick - window); t <= std::min(n, nameTick + window); ++t) {
        nameEnds.clear();
        if (hand) {
            elementOutcomes(nameTiming, cumulative, t, true, nameEnds);
        } else {
            for (const Stretch &st : nameStretches)
                if (t + st.length <= n)
                    nameEnds.push_back({t + st.length, st.prior + evidence(st, t)});
        }
        for (const auto &[end, v] : nameEnds) {
            double &to = forward[0][size_t(end)];
            to = logAdd(to, v + bound[size_t(t)] - std::log(2.0 * window + 1) - std::log(2.0));
        }
    }
    // Or where the letters after the name begin, with the evidence the free
    // segmentation claimed for the name: a name keyed wrong (a letter longer
    // or shorter) shifts the symbols against the template.
    const int near = 3 * TicksPerDot;
    for (int t = std::max(0, symbolTick - near); t <= std::min(n, symbolTick + near); ++t)
        forward[0][size_t(t)] = logAdd(forward[0][size_t(t)],
                                       bound[size_t(std::min(t, nameEnd))] - SlipPenaltyDots * dotEvidence -
                                           std::log(2.0 * near + 1) - std::log(2.0));
    std::vector<std::vector<int>> active(SymbolSlots);
    // The beam grows with the evidence of a dot: where the key seems up for
    // a whole symbol, the right path falls behind by many dots' worth until
    // the symbols after it pull it back.
    const double Beam = 40 + 6 * dotEvidence;
    std::vector<LogSum> into(size_t(n) + 1);
    for (int k = 0; k < SymbolSlots; ++k) {
        const auto &from = forward[size_t(k)];
        double best = Impossible;
        for (int t0 = 0; t0 <= n; ++t0)
            if (from[size_t(t0)] > Impossible)
                best = std::max(best, from[size_t(t0)] - bound[size_t(t0)]);
        if (best <= Impossible)
            return {};
        const bool last = k == SymbolSlots - 1;
        for (int t0 = 0; t0 <= n; ++t0) {
            if (from[size_t(t0)] <= Impossible || from[size_t(t0)] - bound[size_t(t0)] < best - Beam)
                continue;
            active[size_t(k)].push_back(t0);
            const int free = isFree(k);
            for (int symbol = 0; symbol < choices[free]; ++symbol) {
                forEachHeardEnd(symbol, last, free, t0, [&](int t1, double v) {
                    into[size_t(t1)].add(from[size_t(t0)] + v + heardPrior[free]);
                });
            }
            for (const auto &[p, v] : silentEnds[last][free]) {
                if (t0 + p > n)
                    break;
                into[size_t(t0 + p)].add(from[size_t(t0)] + v);
            }
        }
        for (int t = 0; t <= n; ++t) {
            forward[size_t(k) + 1][size_t(t)] = into[size_t(t)].value();
            into[size_t(t)] = LogSum();
        }
    }
    double total = Impossible;
    for (double v : forward[SymbolSlots])
        total = logAdd(total, v);
    if (total <= Impossible)
        return {};

    SlotResult result;
    result.ok = true;
    result.symbols.fill(QChar('#'), SymbolSlots);
    result.probability.assign(SymbolSlots, 0);
    result.lost.assign(SymbolSlots, 0);
    std::vector<double> backward(static_cast<size_t>(n) + 1, 0), before(size_t(n) + 1);
    for (int k = SymbolSlots - 1; k >= 0; --k) {
        const bool last = k == SymbolSlots - 1;
        std::fill(before.begin(), before.end(), Impossible);
        std::vector<LogSum> sums(static_cast<size_t>(real));
        LogSum lost;
        const int free = isFree(k);
        for (int t0 : active[size_t(k)]) {
            LogSum acc;
            const double f = forward[size_t(k)][size_t(t0)];
            for (int symbol = 0; symbol < choices[free]; ++symbol) {
                forEachHeardEnd(symbol, last, free, t0, [&](int t1, double value) {
                    if (backward[size_t(t1)] <= Impossible)
                        return;
                    const double v = value + heardPrior[free] + backward[size_t(t1)];
                    acc.add(v);
                    sums[size_t(symbol)].add(f + v);
                });
            }
            for (const auto &[p, value] : silentEnds[last][free]) {
                if (t0 + p > n)
                    break;
                if (backward[size_t(t0 + p)] <= Impossible)
                    continue;
                const double v = value + backward[size_t(t0 + p)];
                acc.add(v);
                lost.add(f + v);
            }
            before[size_t(t0)] = acc.value();
        }
        std::swap(backward, before);
        std::vector<double> posterior(static_cast<size_t>(real));
        for (int symbol = 0; symbol < real; ++symbol)
            posterior[size_t(symbol)] = sums[size_t(symbol)].value();
        const int bestSymbol = int(std::max_element(posterior.begin(), posterior.end()) - posterior.begin());
        result.probability[size_t(k)] = std::exp(posterior[size_t(bestSymbol)] - total);
        result.lost[size_t(k)] = std::exp(lost.value() - total);
        if (result.probability[size_t(k)] >= confidence)
            result.symbols[k] = slotCharacters()[bestSymbol];
        else
            ++result.unsure;
    }
    return result;
}

struct Pass {
    Ticks ticks;
    Segmentation segmentation;
    double tick = 0; // samples
};

Pass runPass(const std::vector<std::complex<float>> &z, double rate, double tick) {
    Pass pass;
    pass.tick = tick;
    pass.ticks = makeTicks(z, tick);
    const int reach = std::max(2, int(std::lround(FirstPhaseReachSeconds * rate / tick)));
    project(pass.ticks, reach, nullptr);
    estimateLevels(pass.ticks);
    likelihoods(pass.ticks, nullptr, std::max(2, int(std::lround(0.08 * rate / tick))));
    pass.segmentation = segment(pass.ticks.cumulative);
    return pass;
}

// Key down and key up on a fine lattice (5 ms), a switch costing a few nats.
double speedFromDurations(const std::vector<std::complex<float>> &z, double rate) {
    const double tick = std::max(1.0, 0.005 * rate);
    Ticks ticks = makeTicks(z, tick);
    const int reach = std::max(2, int(std::lround(0.08 * rate / tick)));
    project(ticks, reach, nullptr);
    estimateLevels(ticks);
    likelihoods(ticks, nullptr, std::max(2, int(std::lround(0.08 * rate / tick))));
    const int n = ticks.size();
    constexpr double SwitchCost = 4;
    std::vector<unsigned char> fromOn(static_cast<size_t>(n)), fromOff(static_cast<size_t>(n));
    double on = Impossible, off = 0;
    for (int t = 0; t < n; ++t) {
        const double llr = ticks.cumulative[size_t(t) + 1] - ticks.cumulative[size_t(t)];
        const double onStay = on, onEnter = off - SwitchCost;
        const double offStay = off, offEnter = on - SwitchCost;
        fromOn[size_t(t)] = onStay >= onEnter;   // was on before
        fromOff[size_t(t)] = offEnter > offStay; // was on before
        on = std::max(onStay, onEnter) + llr;
        off = std::max(offStay, offEnter);
    }
    std::vector<unsigned char> down(static_cast<size_t>(n));
    bool state = on > off;
    for (int t = n - 1; t >= 0; --t) {
        down[size_t(t)] = state;
        state = state ? fromOn[size_t(t)] : fromOff[size_t(t)];
    }
    // Runs, with the evidence of each mark.
    std::vector<std::pair<double, bool>> runs; // seconds, key down; only between sure marks
    std::vector<double> evidence;
    int start = 0;
    for (int t = 1; t <= n; ++t) {
        if (t == n || down[size_t(t)] != down[size_t(start)]) {
            runs.push_back({(t - start) * tick / rate, bool(down[size_t(start)])});
            evidence.push_back(ticks.cumulative[size_t(t)] - ticks.cumulative[size_t(start)]);
            start = t;
        }
    }
    std::vector<std::pair<double, bool>> sure;
    for (size_t i = 1; i + 1 < runs.size(); ++i) {
        if (runs[i].second ? evidence[i] > 8
                           : evidence[i - 1] > 8 && evidence[i + 1] > 8 && runs[i].first < 1.2)
            sure.push_back(runs[i]);
    }
    double bestDot = 0.06, bestCost = 1e300;
    for (double dot = 1.2 / 42; dot <= 1.2 / 7.5; dot *= 1.01) {
        double cost = 0;
        for (const auto &[seconds, isMark] : sure) {
            double e = std::min(std::abs(std::log(seconds / dot)), std::abs(std::log(seconds / (3 * dot))));
            if (!isMark)
                e = std::min(e, std::abs(std::log(seconds / (7 * dot))));
            cost += std::min(e * e, 0.3);
        }
        if (cost < bestCost) {
            bestCost = cost;
            bestDot = dot;
        }
    }
    return bestDot;
}

} // namespace

LineCopy copyLine(const std::vector<std::complex<float>> &z, double rate,
                  const LineCopierSettings &settings, bool audioEnds) {
    LineCopy copy;
    if (z.size() < size_t(rate))
        return copy;

    // The speed: from the durations of the marks and gaps a fine two-state
    // pass finds, the dot length that puts them nearest 1, 3 and 7 dots;
    // then fitted to the elements the dot lattice finds.
    Pass best = runPass(z, rate, speedFromDurations(z, rate) * rate / TicksPerDot);
    double spread = 0;
    for (int round = 0; round < 2; ++round) {
        double ratio = 1;
        timingFit(best.segmentation, &ratio, &spread);
        if (std::abs(ratio - 1) < 0.002)
            break;
        best = runPass(z, rate, best.tick * ratio);
    }
    if (best.segmentation.marks.empty())
        return copy;

    // Second look: the phase reference from the key-down ticks only, and the
    // amplitude followed through fading.
    Ticks &ticks = best.ticks;
    const int n = ticks.size();
    std::vector<double> down(static_cast<size_t>(n), 0.25); // weights of the phase reference
    for (const Mark &m : best.segmentation.marks)
        std::fill(down.begin() + m.start, down.begin() + m.end, 1.0);
    const int reach = std::max(2, int(std::lround(PhaseReachSeconds * rate / best.tick)));
    project(ticks, reach, &down);
    // The noise from the ticks well inside the gaps, whose whole sum is
    // noise whatever the phase: the quadrature part holds some signal where
    // the phase reference is off, which made the noise seem about a quarter
    // too strong below -6 dB and every symbol less sure than it is.
    double noise = ticks.noise;
    {
        std::vector<double> up;
        for (int t = 1; t + 1 < n; ++t)
            if (down[size_t(t - 1)] != 1.0 && down[size_t(t)] != 1.0 && down[size_t(t + 1)] != 1.0)
                up.push_back(std::norm(ticks.sum[size_t(t)]) / ticks.samples[size_t(t)]);
        if (up.size() > 20) {
            std::nth_element(up.begin(), up.begin() + qsizetype(up.size() / 2), up.end());
            // |sum|^2 / samples is exponential with mean twice the
            // variance of one part; its median is ln 2 of the mean.
            noise = std::max(up[up.size() / 2] / (2 * std::log(2.0)), noiseFloor(ticks));
        }
    }
    estimateLevels(ticks, noise);
    ticks.noise = noise;
    // The amplitude through fading, tracked through the line: the mean
    // in-phase part of the ticks near each tick, each weighted by how likely
    // it is key down at the amplitude found there so far. Soft weights let
    // the estimate follow a fade down (a tick at half the assumed amplitude
    // still counts half as key down), where one from the decided key-down
    // stretches keeps the amplitude before the fade and loses its marks.
    const std::vector<double> local =
        trackAmplitude(ticks, std::max(3, int(std::lround(AmplitudeSpanSeconds * rate / best.tick))));
    // Below 0 dB the local estimate is too noisy to help (and fading is not
    // what limits copy there); above, it is used where it varies through
    // the transmission clearly more than the noise alone makes it (a steady
    // signal at 0 dB: about 0.04 of its mean; fading: 0.3 and more).
    const double snrDb = 10 * std::log10(ticks.amplitude * ticks.amplitude * rate / (5000 * noise));
    bool fading = false;
    if (snrDb > 0 && !best.segmentation.marks.empty()) {
        const int from = best.segmentation.marks.front().start, to = best.segmentation.marks.back().end;
        double sum = 0, squares = 0;
        for (int t = from; t < to; ++t) {
            sum += local[size_t(t)];
            squares += local[size_t(t)] * local[size_t(t)];
        }
        const double mean = sum / std::max(1, to - from);
        const double variance = std::max(0.0, squares / std::max(1, to - from) - mean * mean);
        fading = mean > 0 && std::sqrt(variance) > FadingVariation * mean;
    }
    likelihoods(ticks, fading ? &local : nullptr, std::max(2, int(std::lround(0.08 * rate / best.tick))));
    best.segmentation = segment(ticks.cumulative);
    if (best.segmentation.marks.empty())
        return copy;

    const double dot = best.tick * TicksPerDot / rate;
    copy.dotSeconds = dot;
    copy.snrDb = snrDb;
    copy.firstElement = ticks.first[size_t(best.segmentation.marks.front().start)] / rate;

    std::vector<Letter> all = letters(best.segmentation);
    // The audio ending before a letter gap after the last element could show
    // the character complete (the key down, or up for less than two dots):
    // what was keyed of that character is no letter.
    const bool cutOff = audioEnds && n - best.segmentation.marks.back().end < 2 * TicksPerDot;
    if (cutOff)
        all.back().text = QStringLiteral("#");
    std::vector<bool> keyDown(static_cast<size_t>(n), false);
    for (const Mark &m : best.segmentation.marks)
        std::fill(keyDown.begin() + m.start, keyDown.begin() + m.end, true);
    const int count = int(all.size());
    copy.text = wordsOf(all, 0, count);

    // The beacon: letters that read nearly "KADRIN" (word gaps in the noise
    // or lost do not matter), with letters after them.
    int nameAt = -1, nameLength = 0, nameDistance = 3;
    for (int i = 0; i < count; ++i) {
        QString joined;
        for (int length = 1; length <= 8 && i + length + 4 < count; ++length) {
            joined += all[size_t(i + length - 1)].text;
            if (length < 4)
                continue;
            const int d = editDistance(joined, QStringLiteral("KADRIN"));
            if (d < nameDistance ||
                (d == nameDistance && i == nameAt && std::abs(length - 6) < std::abs(nameLength - 6))) {
                nameAt = i;
                nameLength = length;
                nameDistance = d;
            }
        }
    }
    // The evidence of one dot keyed, and the spread of the keying itself:
    // in weak signals the noise moves the edges the segmentation finds,
    // which is no sign of hand keying.
    double dotEvidence = 0;
    {
        int downTicks = 0;
        for (int t = 0; t < n; ++t) {
            if (keyDown[size_t(t)]) {
                dotEvidence += ticks.cumulative[size_t(t) + 1] - ticks.cumulative[size_t(t)];
                ++downTicks;
            }
        }
        dotEvidence = downTicks > 0 ? std::max(1e-9, dotEvidence / downTicks) * TicksPerDot : 1e-9;
        spread = std::sqrt(std::max(LatticeSpread * LatticeSpread,
                                    spread * spread - SpreadNoise / dotEvidence));
    }
    int nameTick = -1, nameEnd = -1, symbolTick = -1;
    if (nameAt >= 0) {
        nameTick = all[size_t(nameAt)].start;
        nameEnd = all[size_t(nameAt + nameLength - 1)].end;
        symbolTick = all[size_t(nameAt + nameLength)].start;
    } else {
        // Too weak for the letters to spell it: where the name's template
        // fits the evidence nearly as well as the free segmentation does
        // (noise and other text fall ten dots' evidence or more behind).
        std::vector<double> bound(static_cast<size_t>(n) + 1, 0);
        for (int t = 0; t < n; ++t)
            bound[size_t(t) + 1] = bound[size_t(t)] + (keyDown[size_t(t)] ? ticks.cumulative[size_t(t) + 1] - ticks.cumulative[size_t(t)] : 0);
        const NameFit fit = fitName(ticks.cumulative, bound, spread);
        if (fit.at < 0 || fit.deficit > NameDeficitDots * dotEvidence)
            return copy;
        nameTick = fit.at;
        nameEnd = fit.end;
        symbolTick = nameEnd + 7 * TicksPerDot;
        nameAt = count;
        for (int i = 0; i < count; ++i) {
            if (all[size_t(i)].end > nameEnd + 2 * TicksPerDot) {
                symbolTick = all[size_t(i)].start;
                break;
            }
        }
        for (int i = 0; i < count; ++i) {
            if (all[size_t(i)].end > nameTick) {
                nameAt = i;
                break;
            }
        }
    }
    // The letters read freely where the symbols are, and whether whole words
    // follow them (a call keyed right after the frame).
    int first = 0;
    while (first < count && all[size_t(first)].end <= symbolTick)
        ++first;
    const int rest = first + SymbolSlots;
    const bool wordsAfter =
        rest < count && all[size_t(rest)].start - all[size_t(rest) - 1].end >= 5 * TicksPerDot;
    auto agrees = [&](const SlotResult &r) {
        for (int k = 0; r.ok && k < SymbolSlots; ++k)
            if (r.symbols[k] != '#' && all[size_t(first + k)].text != QString(r.symbols[k]))
                return false;
        return r.ok;
    };
    // A character cut off: the symbols are read as if ticks of no evidence
    // followed for the longest symbol, so that the last slot is placed
    // without a guess at what was not heard. It is written '#' below.
    if (cutOff) {
        const int unheard = 24 * TicksPerDot;
        ticks.cumulative.resize(size_t(n + unheard) + 1, ticks.cumulative.back());
        ticks.cumulativeWeak.resize(size_t(n + unheard) + 1, ticks.cumulativeWeak.back());
        keyDown.resize(size_t(n + unheard), false);
    }
    // The symbols are read from the ticks up to `limit`.
    int limit = int(keyDown.size());
    auto upTo = [&limit](const auto &v, int extra) {
        return std::decay_t<decltype(v)>(v.begin(), v.begin() + limit + extra);
    };
    SlotResult found = beaconSymbols(ticks.cumulative, keyDown, nameTick, nameEnd, symbolTick, spread,
                                     settings.symbolConfidence);
    // Words right after the symbols pull the last symbols over their first
    // letters (key-down there reads better than key up). Read again with
    // the line ending before them, and kept where that reading agrees with
    // the letters: in a clear signal those are right.
    if (wordsAfter && !agrees(found)) {
        limit = all[size_t(rest)].start - TicksPerDot;
        const SlotResult cut = beaconSymbols(upTo(ticks.cumulative, 1), upTo(keyDown, 0), nameTick,
                                             nameEnd, symbolTick, spread, settings.symbolConfidence);
        if (agrees(cut))
            found = cut;
        else
            limit = int(keyDown.size());
    }
    // Where the amplitude follows fading, a symbol is written only when the
    // signal being weaker than assumed (a fade the estimate lags: the end of
    // a dash fading out reads as key up) gives the same reading.
    if (fading && found.ok) {
        const SlotResult weaker = beaconSymbols(upTo(ticks.cumulativeWeak, 1), upTo(keyDown, 0),
                                                nameTick, nameEnd, symbolTick, spread, 0);
        for (int k = 0; k < SymbolSlots; ++k) {
            if (found.symbols[k] != '#' && (!weaker.ok || weaker.symbols[k] != found.symbols[k])) {
                found.symbols[k] = '#';
                ++found.unsure;
            }
        }
    }
    // Several unsure symbols in a frame say its slots may have slipped (a
    // symbol lost or one too many found): the others must be surer then.
    if (found.ok && found.unsure >= ManyUnsure) {
        for (int k = 0; k < SymbolSlots; ++k) {
            if (found.symbols[k] != '#' && found.probability[size_t(k)] < SlipConfidence) {
                found.symbols[k] = '#';
                ++found.unsure;
            }
        }
    }
    // Nothing heard in the first or the last slot leaves it open where the
    // symbols stand: the same audio reads nearly as well with every symbol
    // moved by one and the empty slot at the other end. Where the amplitude
    // follows fading (a fade takes a symbol whole) such a line is no frame;
    // a symbol lost between others is held in place by both sides.
    if (fading && found.ok && found.lost.front() + found.lost.back() > 0.5)
        return copy;
    // So is one with this many unsure symbols or more: the slots of such a line
    // have most likely slipped, and the symbols left would be misplaced.
    if (!found.ok || found.unsure > SymbolSlots / 2 || (fading && found.unsure >= TooManyUnsure))
        return copy;
    // Whole words before the name, but for the S in front of it, are handed
    // on as a line of their own.
    int frontEnd = nameAt;
    while (frontEnd > 0 && all[size_t(frontEnd) - 1].word == all[size_t(nameAt)].word)
        --frontEnd;
    if (frontEnd == nameAt && frontEnd > 0) {
        int s = frontEnd - 1;
        while (s > 0 && all[size_t(s) - 1].word == all[size_t(frontEnd) - 1].word)
            --s;
        if (frontEnd - s <= 2)
            frontEnd = s;
    }
    copy.before = wordsOf(all, 0, frontEnd);
    copy.beaconElement = frontEnd < count ? ticks.first[size_t(all[size_t(frontEnd)].start)] / rate
                                          : copy.firstElement;
    // Words keyed after the symbols (a call sent right after the frame), as
    // a line of their own: only where the letters read freely agree with
    // every symbol written and a word gap follows the last, so that no
    // symbol read apart in the noise is taken for other text.
    if (wordsAfter && agrees(found)) {
        copy.after = wordsOf(all, rest, count);
        copy.afterElement = ticks.first[size_t(all[size_t(rest)].start)] / rate;
    }
    // The last symbol cut off by the end of the audio (no words followed it).
    if (cutOff && !wordsAfter && found.symbols.back() != '#') {
        found.symbols.back() = '#';
        ++found.unsure;
    }
    copy.text = QStringLiteral("S KADRIN ") + found.symbols;
    copy.beacon = true;
    copy.unsure = found.unsure;
    return copy;
}
