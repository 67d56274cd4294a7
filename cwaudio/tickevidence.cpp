#include "tickevidence.h"

#include "lattice.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <deque>

namespace linecopier {

namespace {
// The amplitude through fading: the rounds of its soft key-down weights.
constexpr int AmplitudeRounds = 6;
// The key down the amplitude at a tick is taken from, in dots: the nearest
// that much (within the span).
constexpr double AmplitudeDots = 2.0 / 3;
// Spin fading: the rates of its nulls looked for, Hz; how much further from
// the power the sinusoid may stay than the amplitude followed tick by tick;
// the least power it gives a null, a share of the mean.
constexpr double MinNullsPerSecond = 0.15, MaxNullsPerSecond = 4, PeriodogramStep = 0.01;
constexpr double PeriodicMargin = 1.2;
constexpr double NullFloor = 0.005;
// The pitch left over: measured over this many seconds either side of knots
// this far apart, on a grid of this step up to this far either way.
constexpr double PitchSpanSeconds = 1.5, PitchKnotSeconds = 0.5;
constexpr double PitchStepHz = 0.04, MaxPitchHz = 2;
// A key-down stretch shows its phase when its sum stands this many noise sd
// out (at 3, noise showed turns in -12 dB lines that kept their phase).
constexpr double PhaseShownSd = 4.5;
} // namespace

Ticks makeTicks(const std::vector<std::complex<float>> &z, double tick,
                const std::vector<bool> &unheard) {
    Ticks ticks;
    const bool anyUnheard = std::find(unheard.begin(), unheard.end(), true) != unheard.end();
    if (anyUnheard)
        ticks.unheard.assign(size_t(double(z.size()) / tick), false);
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
        for (int i = begin; anyUnheard && i < end && i < int(unheard.size()); ++i)
            if (unheard[size_t(i)])
                ticks.unheard[size_t(t)] = true;
        ticks.samples[size_t(t)] = std::max(1, end - begin);
        ticks.first[size_t(t)] = begin;
    }
    return ticks;
}

bool phaseTurns(const Ticks &ticks, const std::vector<std::pair<int, int>> &marks, double noise,
                int reach) {
    std::deque<std::pair<int, Complex>> before; // the strong marks before: end, sum
    for (const auto &[start, end] : marks) {
        Complex sum = 0;
        int samples = 0;
        for (int t = start; t < end; ++t) {
            sum += ticks.sum[size_t(t)];
            samples += ticks.samples[size_t(t)];
        }
        if (std::norm(sum) <= PhaseShownSd * PhaseShownSd * noise * samples)
            continue;
        while (before.size() > 1 && before.front().first < start - reach)
            before.pop_front();
        Complex reference = 0;
        for (const auto &[e, z] : before)
            reference += z;
        if (!before.empty() && (sum * std::conj(reference)).real() < 0)
            return true;
        before.push_back({end, sum});
    }
    return false;
}

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

void followPitch(Ticks &ticks, const std::vector<double> &weight, double tickSeconds) {
    const int n = ticks.size();
    const int half = std::max(2, int(std::lround(PitchSpanSeconds / tickSeconds)));
    const int step = std::max(1, int(std::lround(PitchKnotSeconds / tickSeconds)));
    const int steps = int(std::lround(MaxPitchHz / PitchStepHz));
    // The pitch at each knot: the one summing the ticks within reach most
    // coherently, between the grid's points from the parabola through the
    // best three.
    std::vector<std::pair<int, double>> knots;
    std::vector<double> power(size_t(2 * steps + 1));
    for (int c = 0;; c += step) {
        c = std::min(c, n - 1);
        const int lo = std::max(0, c - half), hi = std::min(n, c + half + 1);
        for (int g = -steps; g <= steps; ++g) {
            const Complex turn = std::polar(1.0, -2 * M_PI * g * PitchStepHz * tickSeconds);
            Complex rotor = 1, sum = 0;
            for (int t = lo; t < hi; ++t, rotor *= turn)
                sum += weight[size_t(t)] * ticks.sum[size_t(t)] * rotor;
            power[size_t(g + steps)] = std::norm(sum);
        }
        const int top = int(std::max_element(power.begin(), power.end()) - power.begin());
        double hz = (top - steps) * PitchStepHz;
        if (top > 0 && top < 2 * steps) {
            const double a = power[size_t(top - 1)], b = power[size_t(top)], d = power[size_t(top + 1)];
            const double curve = a - 2 * b + d;
            if (curve < 0)
                hz += PitchStepHz * 0.5 * (a - d) / curve;
        }
        // Measured over [lo, hi): the pitch at its middle. No key down
        // within reach: no knot.
        if (power[size_t(top)] > 0 && (knots.empty() || (lo + hi - 1) / 2 > knots.back().first))
            knots.push_back({(lo + hi - 1) / 2, hz});
        if (c == n - 1)
            break;
    }
    if (knots.empty())
        return;
    // A knot whose ticks held little key down can find a noise peak: each
    // knot takes the median of itself and its neighbours.
    std::vector<double> pitch(knots.size());
    for (size_t k = 0; k < knots.size(); ++k) {
        double three[3] = {knots[k > 0 ? k - 1 : k].second, knots[k].second,
                           knots[k + 1 < knots.size() ? k + 1 : k].second};
        std::sort(three, three + 3);
        pitch[k] = three[1];
    }
    double phase = 0;
    size_t k = 0;
    for (int t = 0; t < n; ++t) {
        while (k + 1 < knots.size() && knots[k + 1].first <= t)
            ++k;
        // Straight between the knots, and on from the first two and the
        // last two.
        double hz = pitch[k];
        const size_t j = std::min(k, knots.size() - std::min<size_t>(2, knots.size()));
        if (j + 1 < knots.size())
            hz = pitch[j] + (pitch[j + 1] - pitch[j]) * (t - knots[j].first)
                                / (knots[j + 1].first - knots[j].first);
        ticks.sum[size_t(t)] *= std::polar(1.0, -phase);
        phase = std::fmod(phase + 2 * M_PI * hz * tickSeconds, 2 * M_PI);
    }
}

double noiseFloor(const Ticks &ticks) {
    double power = 0;
    for (int t = 0; t < ticks.size(); ++t)
        power += std::norm(ticks.sum[size_t(t)]) / ticks.samples[size_t(t)];
    return std::max(1e-6 * power / std::max(1, ticks.size()), 1e-30);
}

void estimateLevels(Ticks &ticks, double knownNoise) {
    const int n = ticks.size();
    if (n == 0)
        return;
    if (knownNoise > 0) {
        ticks.noise = knownNoise;
    } else {
        std::vector<double> q(static_cast<size_t>(n));
        for (int t = 0; t < n; ++t)
            q[size_t(t)] =
                std::abs(ticks.quadrature[size_t(t)]) / std::sqrt(ticks.samples[size_t(t)]);
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
            const double on =
                share * std::exp(-(c - amplitude * m) * (c - amplitude * m) / (2 * variance));
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
        return (2 * a * ticks.inPhase[size_t(t)] - a * a * m) / (2 * noise * ticks.correlation);
    };
    for (int t = 0; t < n; ++t) {
        if (!ticks.unheard.empty() && ticks.unheard[size_t(t)]) {
            ticks.cumulative[size_t(t) + 1] = ticks.cumulative[size_t(t)];
            ticks.cumulativeWeak[size_t(t) + 1] = ticks.cumulativeWeak[size_t(t)];
            continue;
        }
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

std::vector<double> periodicAmplitude(const Ticks &ticks, const std::vector<double> &local,
                                      double tickSeconds, int from, int to, double *depth,
                                      bool closer) {
    const int n = ticks.size();
    from = std::clamp(from, 0, n);
    to = std::clamp(to, from, n);
    // The key-down ticks, each with its power less the noise's share and
    // the weight of its samples.
    std::vector<double> time, power, weight, fit;
    const double prior = std::log(0.45 / 0.55);
    for (int t = from; t < to; ++t) {
        if (!ticks.unheard.empty() && ticks.unheard[size_t(t)])
            continue;
        const double a = local[size_t(t)], c = ticks.inPhase[size_t(t)];
        const double m = ticks.samples[size_t(t)];
        const double llr = (2 * a * c - a * a * m) / (2 * ticks.noise) + prior;
        if (llr < 0)
            continue;
        time.push_back(t * tickSeconds);
        power.push_back((c / m) * (c / m) - ticks.noise / m);
        weight.push_back(m);
        fit.push_back(a * a);
    }
    const size_t k = time.size();
    if (k < 50 || (to - from) * tickSeconds < 2 / MinNullsPerSecond)
        return {};
    double total = 0, mean = 0;
    for (size_t i = 0; i < k; ++i)
        total += weight[i], mean += weight[i] * power[i];
    mean /= total;
    // The steady part and the sinusoid at `hz`, weighted least squares:
    // power = p0 + p1 cos + p2 sin. Returns the residual.
    auto solve = [&](double hz, double *p) {
        double m[3][4] = {};
        for (size_t i = 0; i < k; ++i) {
            const double phase = 2 * M_PI * hz * time[i];
            const double x[3] = {1, std::cos(phase), std::sin(phase)};
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c)
                    m[r][c] += weight[i] * x[r] * x[c];
                m[r][3] += weight[i] * x[r] * power[i];
            }
        }
        for (int c = 0; c < 3; ++c) {
            if (std::abs(m[c][c]) < 1e-12)
                return 1e300;
            for (int r = c + 1; r < 3; ++r) {
                const double q = m[r][c] / m[c][c];
                for (int j = c; j < 4; ++j)
                    m[r][j] -= q * m[c][j];
            }
        }
        for (int r = 2; r >= 0; --r) {
            double s = m[r][3];
            for (int c = r + 1; c < 3; ++c)
                s -= m[r][c] * p[c];
            p[r] = s / m[r][r];
        }
        double residual = 0;
        for (size_t i = 0; i < k; ++i) {
            const double phase = 2 * M_PI * hz * time[i];
            const double e = power[i] - p[0] - p[1] * std::cos(phase) - p[2] * std::sin(phase);
            residual += weight[i] * e * e;
        }
        return residual;
    };
    // The rate of the nulls: the strongest line of the power's periodogram,
    // then refined where the fit is closest.
    // Each tick's term turned from one rate to the next by a rotor.
    const int rates = int((MaxNullsPerSecond - MinNullsPerSecond) / PeriodogramStep) + 1;
    std::vector<std::complex<double>> line(static_cast<size_t>(rates));
    for (size_t i = 0; i < k; ++i) {
        std::complex<double> term = weight[i] * (power[i] - mean) *
                                    std::polar(1.0, -2 * M_PI * MinNullsPerSecond * time[i]);
        const std::complex<double> turn = std::polar(1.0, -2 * M_PI * PeriodogramStep * time[i]);
        for (int j = 0; j < rates; ++j) {
            line[size_t(j)] += term;
            term *= turn;
        }
    }
    double bestHz = 0, bestLine = -1;
    for (int j = 0; j < rates; ++j)
        if (std::abs(line[size_t(j)]) > bestLine)
            bestLine = std::abs(line[size_t(j)]), bestHz = MinNullsPerSecond + j * PeriodogramStep;
    double p[3] = {}, residual = 1e300;
    for (double hz = bestHz - PeriodogramStep; hz <= bestHz + PeriodogramStep; hz += PeriodogramStep / 10) {
        double q[3] = {};
        const double r = solve(hz, q);
        if (r < residual)
            residual = r, bestHz = hz, std::copy(q, q + 3, p);
    }
    // Against the amplitude followed tick by tick: the sinusoid must follow
    // the power at least about as closely.
    double followed = 0;
    for (size_t i = 0; i < k; ++i)
        followed += weight[i] * (power[i] - fit[i]) * (power[i] - fit[i]);
    if ((closer && !(residual <= PeriodicMargin * followed)) || p[0] <= 0)
        return {};
    if (depth)
        *depth = std::hypot(p[1], p[2]) / p[0];
    std::vector<double> amplitude(static_cast<size_t>(n));
    for (int t = 0; t < n; ++t) {
        const double phase = 2 * M_PI * bestHz * t * tickSeconds;
        const double v = p[0] + p[1] * std::cos(phase) + p[2] * std::sin(phase);
        amplitude[size_t(t)] = std::sqrt(std::max(v, NullFloor * p[0]));
    }
    return amplitude;
}

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
        const double enough = AmplitudeDots * TicksPerDot * ticks.samples[0];
        for (int t = 0; t < n; ++t) {
            // The narrowest reach, from a quarter of the span on, that holds
            // enough key down: a fade's bottom is measured from its own
            // elements, not from the stronger ones either side.
            auto keyedWithin = [&](int r) {
                return sumM[size_t(std::min(n, t + r + 1))] - sumM[size_t(std::max(0, t - r))];
            };
            int tooShort = std::max(1, span / 4) - 1, reach = span;
            while (reach - tooShort > 1) {
                const int mid = (tooShort + reach) / 2;
                (keyedWithin(mid) >= enough ? reach : tooShort) = mid;
            }
            const int lo = std::max(0, t - reach), hi = std::min(n, t + reach + 1);
            const double c = sumC[size_t(hi)] - sumC[size_t(lo)];
            const double m = sumM[size_t(hi)] - sumM[size_t(lo)];
            const int wlo = std::max(0, t - 3 * span), whi = std::min(n, t + 3 * span + 1);
            const double wc = sumC[size_t(whi)] - sumC[size_t(wlo)];
            const double wm = sumM[size_t(whi)] - sumM[size_t(wlo)];
            const double wide = std::max((wc + ticks.amplitude * weight) / (wm + weight), floor);
            local[size_t(t)] = std::max((c + wide * weight) / (m + weight), floor);
        }
    }
    return local;
}

} // namespace linecopier
