#include "carrierfinder.h"

#include "fftwlock.h"

#include <algorithm>
#include <cmath>

namespace cwcopier {

namespace {

constexpr double ToneLowHz = 200, ToneHighHz = 3000;
constexpr int SpectraSummed = 8;
constexpr double AcquireRatio = 3.0, KeepRatio = 2.2;
constexpr double DriftStep = 10; // Hz/s between the tracks the spectra are summed along
constexpr int MaxCarriers = 8;
constexpr double LostSeconds = 8;   // a carrier not heard this long is dropped
constexpr double MergeHz = 8;       // two carriers this near are one
constexpr double RecentSeconds = 3; // the estimates its drift is fitted to
constexpr double HoldSeconds = 2;   // a carrier not heard is moved by its drift this long
constexpr double MaxReachHz = 20;   // how far from there it is looked for
// The variance of one sample under which audio is digital silence: the
// quantisation noise of 16-bit samples is 2^-30 / 12, about 8e-11.
constexpr double SilenceVariance = 1e-11;
// A steady carrier: its power in each spectrum of the last SteadySeconds
// stays within this share of its highest (keying goes to nothing between
// words; a dash is 0.45 s at most).
constexpr double SteadySeconds = 3;
constexpr double SteadyShare = 0.35;
constexpr double LocalFloorHz = 100;
// How far a carrier's keying sidebands are looked for.
constexpr double SidebandReachHz = 400;
// A weaker peak whose power rises and falls with a stronger carrier's this
// closely (correlation over the spectra summed) is its keying.
constexpr double KeyedAlike = 0.7;
// The weakest carrier taken beside the strongest peak: 35 dB under it.
constexpr double DynamicRange = 3e-4;
// A carrier followed fewer spectra than this (two seconds) is young.
constexpr int YoungHops = 16;
constexpr double YoungReachHz = 15;
constexpr double YoungClearHz = MaxDriftHzPerSecond;
// How much higher the sum along a neighbouring drift must be to be taken.
constexpr double OtherDriftMargin = 1.1;

// How far under a stronger carrier Hz away a new one must be before it is
// taken for that carrier's keying sidebands (and the splatter of its first
// and last elements in a spectrum): -7 dB within 100 Hz, further falling
// with the square of the distance, as the keying's spectrum does.
double sidebandShare(double hz) {
    return 0.2 * std::min(1.0, (100 / hz) * (100 / hz));
}

double correlation(const std::vector<double> &a, const std::vector<double> &b) {
    const size_t n = a.size();
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i)
        ma += a[i], mb += b[i];
    ma /= double(n), mb /= double(n);
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < n; ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : 0;
}

} // namespace

CarrierFinder::CarrierFinder(double rate) : rate_(rate) {
    fftSize_ = 1;
    while (fftSize_ < rate / 4)
        fftSize_ *= 2;
    hop_ = fftSize_ / 2;
    lowBin_ = int(std::floor(ToneLowHz * fftSize_ / rate));
    highBin_ = int(std::ceil(ToneHighHz * fftSize_ / rate));
    window_.resize(size_t(fftSize_));
    for (int i = 0; i < fftSize_; ++i) {
        window_[size_t(i)] = float(0.5 - 0.5 * std::cos(2 * M_PI * i / fftSize_));
        windowPower_ += double(window_[size_t(i)]) * window_[size_t(i)];
    }
    in_ = fftwf_alloc_real(size_t(fftSize_));
    out_ = fftwf_alloc_complex(size_t(fftSize_ / 2 + 1));
    const std::lock_guard<std::mutex> planning(fftwPlannerLock());
    plan_ = fftwf_plan_dft_r2c_1d(fftSize_, in_, out_, FFTW_ESTIMATE);
}

CarrierFinder::~CarrierFinder() {
    const std::lock_guard<std::mutex> planning(fftwPlannerLock());
    fftwf_destroy_plan(plan_);
    fftwf_free(in_);
    fftwf_free(out_);
}

// The refined frequency of a peak at `bin`: a parabola through the log
// power of it and its neighbours.
double CarrierFinder::refine(const std::vector<double> &sum, int b) const {
    const int bins = int(sum.size());
    for (int d = -1; d <= 1; d += 2)
        if (b + d > 0 && b + d < bins - 1 && sum[size_t(b + d)] > sum[size_t(b)])
            b += d;
    b = std::clamp(b, 1, bins - 2);
    const double l = std::log(sum[size_t(b - 1)] + 1e-30), c = std::log(sum[size_t(b)] + 1e-30),
                 r = std::log(sum[size_t(b + 1)] + 1e-30);
    const double curvature = l - 2 * c + r;
    const double offset = curvature < 0 ? std::clamp(0.5 * (l - r) / curvature, -0.5, 0.5) : 0;
    return (lowBin_ + b + offset) * rate_ / fftSize_;
}

void CarrierFinder::add(const float *samples, qint64 at) {
    dropped_.clear();
    for (int i = 0; i < fftSize_; ++i)
        in_[i] = samples[i] * window_[size_t(i)];
    fftwf_execute(plan_);
    const int bins = highBin_ - lowBin_ + 1;
    // The oldest spectrum's room is taken for this one.
    std::vector<float> power;
    if (int(spectra_.size()) >= SpectraSummed) {
        power = std::move(spectra_.front());
        spectra_.pop_front();
    }
    power.resize(static_cast<size_t>(bins));
    for (int b = lowBin_; b <= highBin_; ++b)
        power[size_t(b - lowBin_)] = out_[b][0] * out_[b][0] + out_[b][1] * out_[b][1];
    // The noise floor: the median bin of this spectrum (a bin of white noise
    // is exponential, its median ln 2 of its mean).
    std::vector<float> &sorted = sorted_;
    sorted.assign(power.begin(), power.end());
    std::nth_element(sorted.begin(), sorted.begin() + qsizetype(sorted.size() / 2), sorted.end());
    const double variance = sorted[sorted.size() / 2] / (std::log(2.0) * windowPower_);
    silent_ = variance < SilenceVariance;
    spectrumVariance_ = variance;
    heard_ = heard_ || !silent_;
    // Each spectrum over its own floor: one holding a burst of noise (what
    // is left of a crash) or taken while a receiver's AGC pumps the noise up
    // weighs in the sums as much as any other, never drowning them.
    const float level = sorted[sorted.size() / 2];
    for (float &p : power)
        p = silent_ || level <= 0 ? 0.0f : p / level;
    spectra_.push_back(std::move(power));
    const int n = int(spectra_.size());
    centre_ = at - qint64(n - 1) * hop_ / 2 + fftSize_ / 2;
    const double now = double(centre_) / rate_;
    const double binHz = rate_ / fftSize_;
    const double hopSeconds = hop_ / rate_;

    // The spectra summed along each drift, smoothed over three bins: each
    // drift's the first time it is asked for.
    const int drifts = 2 * int(MaxDriftHzPerSecond / DriftStep) + 1;
    std::vector<std::vector<double>> sums(static_cast<size_t>(drifts)), smooth(static_cast<size_t>(drifts));
    auto along = [&](int d) -> const std::vector<double> & {
        if (!sums[size_t(d)].empty())
            return smooth[size_t(d)];
        const double drift = (d - drifts / 2) * DriftStep;
        std::vector<double> &sum = sums[size_t(d)];
        sum.assign(size_t(bins), 0);
        double *const to = sum.data();
        for (int k = 0; k < n; ++k) {
            const int shift = int(std::lround(drift * (k - (n - 1) / 2.0) * hopSeconds / binHz));
            const float *const from = spectra_[size_t(k)].data() + shift;
            const int lo = std::max(0, -shift), hi = std::min(bins, bins - shift);
            for (int b = lo; b < hi; ++b)
                to[b] += double(from[b]);
        }
        std::vector<double> &out = smooth[size_t(d)];
        out.resize(size_t(bins));
        double *const smoothed = out.data();
        for (int b = 1; b + 1 < bins; ++b)
            smoothed[b] = (to[b - 1] + to[b] + to[b + 1]) / 3;
        smoothed[0] = (to[0] + to[0] + to[std::min(bins - 1, 1)]) / 3;
        smoothed[bins - 1] = (to[std::max(0, bins - 2)] + to[bins - 1] + to[bins - 1]) / 3;
        return out;
    };
    // The floor around each bin: the median within LocalFloorHz, so that
    // noise coloured by a receiver's passband or a codec makes no carrier.
    const std::vector<double> &middle = along(drifts / 2);
    std::vector<double> floorAt(static_cast<size_t>(bins));
    {
        // Taken every `step` bins and drawn straight between: it varies
        // slowly across the band.
        const int reach = std::max(4, int(std::lround(LocalFloorHz / binHz)));
        const int step = std::max(1, reach);
        std::vector<double> window;
        auto at = [&](int b) {
            const int lo = std::max(0, std::min(b - reach, bins - 1 - 2 * reach));
            const int hi = std::min(bins - 1, lo + 2 * reach);
            window.assign(middle.begin() + lo, middle.begin() + hi + 1);
            std::nth_element(window.begin(), window.begin() + qsizetype(window.size() / 2), window.end());
            return std::max(window[window.size() / 2], 1e-30);
        };
        double left = at(0);
        for (int b = 0; b < bins; b += step) {
            const int next = std::min(bins - 1, b + step);
            const double right = at(next);
            for (int k = b; k <= next; ++k)
                floorAt[size_t(k)] = left + (right - left) * (k - b) / std::max(1, next - b);
            left = right;
        }
    }
    auto binOf = [&](double hz) { return int(std::lround(hz / binHz)) - lowBin_; };
    auto driftIndex = [&](double drift) {
        return std::clamp(int(std::lround(drift / DriftStep)) + drifts / 2, 0, drifts - 1);
    };

    // The carriers followed: each its peak near where its drift takes it.
    for (Carrier &c : carriers_) {
        // Where its drift takes it, for a few seconds after it was last
        // heard; no further than a few tens of hertz from there (a tone
        // that turns up further off is a carrier of its own).
        const double predicted =
            c.hz + (now - c.lastSure < HoldSeconds ? c.driftHzPerSecond * hopSeconds : 0);
        // A carrier just found is looked for along every drift (its own is
        // not known yet), but for one near another carrier: along fast
        // drifts the sums carry the other's power over to it.
        bool young = c.sureCount < YoungHops;
        for (const Carrier &o : carriers_)
            young = young && (o.id == c.id || std::abs(o.hz - c.hz) > YoungClearHz);
        const double reach = std::min(MaxReachHz, (young ? YoungReachHz : 6) + 5 * (now - c.lastSure));
        // Never past the middle towards another carrier.
        double below = predicted - reach, above = predicted + reach;
        for (const Carrier &o : carriers_) {
            if (o.id == c.id)
                continue;
            if (o.hz < c.hz)
                below = std::max(below, (o.hz + c.hz) / 2);
            else
                above = std::min(above, (o.hz + c.hz) / 2);
        }
        const int lo = std::max(1, binOf(below)), hi = std::min(bins - 2, binOf(above));
        const int centreDrift = driftIndex(c.driftHzPerSecond);
        // Along its drift and the neighbouring ones (a drift that changes,
        // the middle of a pass, is followed); another drift only where its
        // sum is clearly higher, so that the noise does not wander it.
        int peak = -1, peakDrift = centreDrift;
        double peakValue = 0;
        const int spread = young ? drifts : 1;
        for (int d = std::max(0, centreDrift - spread); d <= std::min(drifts - 1, centreDrift + spread); ++d) {
            const double weight = d == centreDrift || young ? 1.0 : 1 / OtherDriftMargin;
            const std::vector<double> &sum = along(d);
            for (int b = lo; b <= hi; ++b) {
                if (peak < 0 || sum[size_t(b)] * weight > peakValue) {
                    peak = b;
                    peakDrift = d;
                    peakValue = sum[size_t(b)] * weight;
                }
            }
        }
        // A peak at the edge of where it is looked for, on a slope rising
        // beyond, is the side of something else (another carrier's keying
        // sidebands): not it.
        const std::vector<double> &chosen = along(peakDrift);
        const bool slope = peak >= 0 && ((peak == lo && chosen[size_t(peak - 1)] > chosen[size_t(peak)]) ||
                                         (peak == hi && chosen[size_t(peak + 1)] > chosen[size_t(peak)]));
        c.sure = !silent_ && peak >= 0 && !slope && chosen[size_t(peak)] >= KeepRatio * floorAt[size_t(peak)];
        if (!c.sure) {
            c.hz = std::clamp(predicted, ToneLowHz, ToneHighHz);
            continue;
        }
        c.hz = refine(sums[size_t(peakDrift)], peak);
        c.lastSure = now;
        ++c.sureCount;
        c.recent.push_back({now, c.hz});
        while (c.recent.front().first < now - RecentSeconds)
            c.recent.pop_front();
        // The drift: a straight line through the recent estimates once they
        // span a second, before that the track the spectra summed best along.
        c.driftHzPerSecond = (peakDrift - drifts / 2) * DriftStep;
        if (!young && c.recent.size() >= 5 && c.recent.back().first - c.recent.front().first >= 0.5) {
            double mt = 0, mf = 0;
            for (const auto &[t, f] : c.recent)
                mt += t, mf += f;
            mt /= double(c.recent.size()), mf /= double(c.recent.size());
            double stt = 0, stf = 0;
            for (const auto &[t, f] : c.recent)
                stt += (t - mt) * (t - mt), stf += (t - mt) * (f - mf);
            // Kept only where it stands out of the estimates' own scatter:
            // a drift read into the noise of a weak tone carries the
            // carrier away in the pauses.
            const double slope = stt > 0 ? stf / stt : 0.0;
            double squares = 0;
            for (const auto &[t, f] : c.recent)
                squares += std::pow(f - mf - slope * (t - mt), 2);
            const double error = std::sqrt(squares / double(c.recent.size() - 2) / stt);
            c.driftHzPerSecond = std::abs(slope) > 3 * error
                                     ? std::clamp(slope, -MaxDriftHzPerSecond, MaxDriftHzPerSecond)
                                     : 0.0;
        }
    }
    for (Carrier &c : carriers_) {
        const int b = std::clamp(binOf(c.hz), 0, bins - 1);
        c.levels.push_back(spectra_.back()[size_t(b)]);
        if (c.levels.size() > size_t(SteadySeconds / hopSeconds))
            c.levels.pop_front();
        const auto [lo, hi] = std::minmax_element(c.levels.begin(), c.levels.end());
        c.steady = c.levels.size() == size_t(SteadySeconds / hopSeconds) && *lo > SteadyShare * *hi &&
                   *hi > AcquireRatio * floorAt[size_t(b)] / n;
    }
    // Two carriers that met are one: the one heard last, or longest, stays.
    // One not heard for long is gone.
    std::sort(carriers_.begin(), carriers_.end(), [](const Carrier &a, const Carrier &b) {
        return a.lastSure != b.lastSure ? a.lastSure > b.lastSure : a.sureCount > b.sureCount;
    });
    for (size_t i = 0; i < carriers_.size(); ++i) {
        bool gone = now - carriers_[i].lastSure > LostSeconds;
        for (size_t j = 0; j < i && !gone; ++j)
            gone = std::abs(carriers_[j].hz - carriers_[i].hz) < MergeHz;
        if (gone) {
            dropped_.push_back(carriers_[i].id);
            carriers_.erase(carriers_.begin() + qsizetype(i--));
        }
    }
    if (n < SpectraSummed)
        return;

    // New carriers: peaks standing clear of the floor, strongest first, not
    // near one followed, nor one's keying sidebands (a weaker peak whose
    // power rises and falls with the stronger one's).
    // Only the sums along slow drifts: where a keyed tone stands in few of
    // the spectra (its first or last second), the sums along fast drifts
    // spread it over tens of hertz. A carrier found is then followed along
    // its own drift.
    std::vector<double> best(size_t(bins), 0);
    std::vector<int> bestDrift(size_t(bins), drifts / 2);
    for (int d = drifts / 2 - 1; d <= drifts / 2 + 1; ++d) {
        const std::vector<double> &sum = along(d);
        for (int b = 0; b < bins; ++b)
            if (sum[size_t(b)] > best[size_t(b)])
                best[size_t(b)] = sum[size_t(b)], bestDrift[size_t(b)] = d;
    }
    std::vector<int> peaks;
    const int apart = std::max(1, int(std::lround(MergeHz / binHz)));
    for (int b = 1; b < bins - 1; ++b) {
        if (best[size_t(b)] < AcquireRatio * floorAt[size_t(b)])
            continue;
        bool top = true;
        for (int o = std::max(0, b - apart); o <= std::min(bins - 1, b + apart) && top; ++o)
            top = o == b || best[size_t(o)] < best[size_t(b)] || (best[size_t(o)] == best[size_t(b)] && o > b);
        if (top)
            peaks.push_back(b);
    }
    std::sort(peaks.begin(), peaks.end(),
              [&](int a, int b) { return best[size_t(a)] > best[size_t(b)]; });
    auto levelsAt = [&](int b) {
        std::vector<double> v;
        for (const auto &s : spectra_)
            v.push_back(s[size_t(std::clamp(b, 0, bins - 1))]);
        return v;
    };
    // The strongest peak of all: what lies further under it than a receiver
    // holds between a signal and its noise is the audio's own distortion
    // (a recording made without noise, its quantisation's spurs).
    const double strongest = peaks.empty() ? 0.0 : best[size_t(peaks.front())];
    for (int b : peaks) {
        if (int(carriers_.size()) >= MaxCarriers || best[size_t(b)] < strongest * DynamicRange)
            break;
        const double hz = refine(sums[size_t(bestDrift[size_t(b)])], b);
        bool taken = false;
        for (const Carrier &c : carriers_) {
            const double apartHz = std::abs(c.hz - hz);
            // Where it has been and will be over the spectra summed: a tone
            // moving fast leaves its trail in the sums along slow drifts.
            const double ahead = c.hz + c.driftHzPerSecond * (n * hopSeconds / 2 + hopSeconds);
            double lowest = std::min(c.hz, ahead), highest = std::max(c.hz, ahead);
            for (const auto &[t, f] : c.recent) {
                if (t >= now - n * hopSeconds) {
                    lowest = std::min(lowest, f);
                    highest = std::max(highest, f);
                }
            }
            if (hz > lowest - 2 * MergeHz && hz < highest + 2 * MergeHz)
                taken = true;
            else if (apartHz < SidebandReachHz) {
                // Its strongest where it has been over the spectra summed.
                const double span = 10 + std::abs(c.driftHzPerSecond) * n * hopSeconds;
                int cb = std::clamp(binOf(c.hz), 0, bins - 1);
                for (int o = std::max(0, binOf(c.hz - span)); o <= std::min(bins - 1, binOf(c.hz + span)); ++o)
                    if (best[size_t(o)] > best[size_t(cb)])
                        cb = o;
                const double strong = best[size_t(cb)];
                taken = taken || best[size_t(b)] < sidebandShare(apartHz) * strong ||
                        (best[size_t(b)] < strong && correlation(levelsAt(b), levelsAt(cb)) > KeyedAlike);
            }
        }
        if (taken)
            continue;
        Carrier c;
        c.id = nextId_++;
        c.hz = hz;
        // Its drift is found from its estimates once they span a second:
        // where a tone stands in few of the spectra (it has just begun),
        // the sums along different drifts hardly differ.
        c.lastSure = now;
        c.sure = true;
        c.sureCount = 1;
        c.recent.push_back({now, hz});
        carriers_.push_back(std::move(c));
    }
}

} // namespace cwcopier
