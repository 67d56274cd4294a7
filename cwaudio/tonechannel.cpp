#include "tonechannel.h"

#include <algorithm>
#include <cmath>

namespace cwcopier {

namespace {

constexpr double LinePreRollSeconds = 1.0; // baseband kept before a key-down
constexpr double LinePauseSeconds = 1.5;   // at least, ends a transmission
constexpr double ActivityWindowSeconds = 0.08;
constexpr double ActivityThreshold = 14;   // sum power over its noise mean
constexpr double KeepThreshold = 14;       // the same over a dash, once a transmission began
constexpr double DashWindowSeconds = 0.45; // the longest dash summed (8 WPM)
constexpr double LongestLineSeconds = 360;
// The noise beside the carrier: the share of the last NoiseSeconds'
// baseband samples (key-down takes under half of them) at most as strong.
constexpr double NoiseSeconds = 6;
constexpr double NoiseQuantile = 0.25;
constexpr double NoiseEvery = 0.25; // seconds between its estimates
// A baseband sample this weak is digital silence (the audio scaled to a
// noise of 1 gives samples of about 1).
constexpr double SilentPower = 1e-12;
constexpr double AfterMarginSeconds = 0.1; // kept before words after a frame copied again
// The tone a line is mixed again with: fits to the tracker's estimates
// within SteadySeconds either side, or FastSeconds where the tone moves
// faster than FastHzPerSecond (the middle of a pass: a straight line
// through ten seconds of it misses the curve by hertz).
constexpr double SteadySeconds = 5;
constexpr double FastSeconds = 2;
constexpr double FastHzPerSecond = 12;
// The carrier's phase of a line whose tone moves that fast is taken from
// this either side: the fit misses the curve by a hertz or so.
constexpr double FastPhaseReachSeconds = 0.1;
constexpr double SteadyOutlierHz = 4;
constexpr int OutlierRounds = 3;
// A baseband sample whose low-pass weighed blanked samples this much (a
// static crash) carries too little of the signal to tell key down.
constexpr double UnheardShare = 0.25;
// Another keyed carrier nearer than this narrows the baseband.
constexpr double NarrowBelowHz = 200;

// z filtered with h (odd length), its delay taken out.
std::vector<std::complex<float>> zeroPhase(const std::vector<std::complex<float>> &z,
                                           const std::vector<float> &h) {
    const int half = int(h.size()) / 2, n = int(z.size());
    std::vector<std::complex<float>> out(z.size());
    for (int i = 0; i < n; ++i) {
        std::complex<float> sum;
        for (int k = std::max(0, i + half - n + 1); k < int(h.size()) && i + half - k >= 0; ++k)
            sum += h[size_t(k)] * z[size_t(i + half - k)];
        out[size_t(i)] = sum;
    }
    return out;
} // at least, off the fit around it: a noise peak

} // namespace

std::vector<float> lowPass(int factor, double rate, double passHz, double stopHz) {
    if (factor == 1)
        return {1.0f};
    const double transition = (stopHz - passHz) / rate;
    const double attenuation = 60;
    int taps = int(std::ceil((attenuation - 8) / (2.285 * 2 * M_PI * transition))) | 1;
    taps = std::max(taps, factor | 1);
    const double beta = 0.1102 * (attenuation - 8.7);
    const double cutoff = (passHz + stopHz) / 2 / rate;
    std::vector<float> h(static_cast<size_t>(taps));
    const double middle = (taps - 1) / 2.0;
    const double norm = std::cyl_bessel_i(0.0, beta);
    double sum = 0;
    for (int i = 0; i < taps; ++i) {
        const double x = i - middle;
        const double sinc = x == 0 ? 2 * cutoff : std::sin(2 * M_PI * cutoff * x) / (M_PI * x);
        const double r = x / middle;
        const double window = std::cyl_bessel_i(0.0, beta * std::sqrt(std::max(0.0, 1 - r * r))) / norm;
        h[size_t(i)] = float(sinc * window);
        sum += sinc * window;
    }
    for (float &v : h)
        v = float(v / sum);
    return h;
}

ToneChannel::ToneChannel(const ChannelSetup &setup, const WorkBuffer &work, int id, qint64 from,
                         double hz)
    : setup_(setup), work_(work), id_(id) {
    beforeAt_ = afterAt_ = mixAt_ = from - from % setup.basebandFactor;
    beforeHz_ = afterHz_ = toneHz_ = hz;
    basebandAt_ = mixAt_ / setup.basebandFactor;
    mixed_.assign(setup_.taps.size() - 1, 0.0f);
    tapSums_.assign(setup_.taps.size() + 1, 0.0);
    for (size_t j = 0; j < setup_.taps.size(); ++j)
        tapSums_[j + 1] = tapSums_[j] + setup_.taps[j];
}

void WorkBuffer::addBlanked(const std::vector<std::pair<long long, long long>> &stretches) {
    for (const auto &[first, end] : stretches) {
        if (!blanked.empty() && blanked.back().second == first)
            blanked.back().second = end;
        else
            blanked.push_back({first, end});
    }
}

double ToneChannel::blankedShare(qint64 end) const {
    const qint64 length = qint64(setup_.taps.size()), from = end - length;
    double missing = 0;
    for (const auto &[first, last] : work_.blanked) {
        if (first >= end)
            break;
        const qint64 lo = std::max(first, from) - from, hi = std::min(last, end) - from;
        if (hi > lo) // working sample from + k is weighted by taps[length - 1 - k]
            missing += tapSums_[size_t(length - lo)] - tapSums_[size_t(length - hi)];
    }
    return missing / tapSums_.back();
}

double ToneChannel::basebandSeconds(double index) const {
    const double centre = (index + 1) * setup_.basebandFactor - 1 - (double(setup_.taps.size()) - 1) / 2;
    return centre / setup_.rate - setup_.delaySeconds;
}

double ToneChannel::earliestLine() const {
    if (inLine_)
        return basebandSeconds(double(lineFirst_));
    return basebandSeconds(double(basebandAt_) - LinePreRollSeconds * setup_.basebandRate());
}

void ToneChannel::follow(qint64 at, double hz, bool sure, bool steady, double noiseVariance,
                         const std::vector<double> &keyed) {
    noiseVariance_ = noiseVariance;
    nearest_ = 1e9;
    for (double other : keyed)
        nearest_ = std::min(nearest_, std::abs(other - hz));
    lineNearest_ = std::min(lineNearest_, nearest_);
    if (steady && !steady_ && inLine_) {
        // What was taken for a transmission is a carrier nobody keys.
        inLine_ = false;
        line_.clear();
    }
    steady_ = steady;
    if (sure) {
        toneHz_ = hz;
        if (inLine_)
            lineTones_.push_back({double(at) / setup_.rate - setup_.delaySeconds, hz});
    }
    beforeAt_ = afterAt_;
    beforeHz_ = afterHz_;
    afterAt_ = std::max(at, beforeAt_ + 1);
    afterHz_ = hz;
    mixTo(at, false);
}

void ToneChannel::finish() {
    mixTo(work_.end(), true);
    if (inLine_)
        endLine(basebandAt_ - 1, true);
}

void ToneChannel::stop() {
    if (inLine_)
        endLine(basebandAt_ - 1);
}

void ToneChannel::mixTo(qint64 end, bool all) {
    end = std::min(end, work_.end());
    const int factor = setup_.basebandFactor;
    const std::vector<float> &h = setup_.taps;
    const size_t length = h.size();
    while (mixAt_ + factor <= end || (all && mixAt_ < end)) {
        double hz = beforeHz_;
        if (afterAt_ > beforeAt_ && mixAt_ > beforeAt_)
            hz = beforeHz_ + (afterHz_ - beforeHz_) * double(std::min(mixAt_, afterAt_) - beforeAt_) /
                                 double(afterAt_ - beforeAt_);
        const double step = 2 * M_PI * hz / setup_.rate;
        const std::complex<double> turn(std::cos(step), -std::sin(step));
        const int count = int(std::min<qint64>(factor, end - mixAt_));
        const float *x = work_.clean.data() + (mixAt_ - work_.base);
        for (int i = 0; i < count; ++i) {
            mixed_.push_back(std::complex<float>(double(x[i]) * rotor_));
            rotor_ *= turn;
        }
        rotor_ /= std::abs(rotor_);
        mixAt_ += count;
        // The low-pass at the last of these samples.
        std::complex<float> sum;
        const std::complex<float> *m = mixed_.data() + (mixed_.size() - length);
        for (size_t k = 0; k < length; ++k)
            sum += h[length - 1 - k] * m[k];
        if (mixed_.size() > 4 * length)
            mixed_.erase(mixed_.begin(), mixed_.end() - qsizetype(length - 1));
        basebandSample(sum, hz, !work_.blanked.empty() && blankedShare(mixAt_) > UnheardShare);
        if (count < factor)
            break;
    }
}

void ToneChannel::basebandSample(std::complex<float> z, double hz, bool unheard) {
    const qint64 index = basebandAt_++;
    const double rate = setup_.basebandRate();
    const int windowSamples = std::max(4, int(std::lround(ActivityWindowSeconds * rate)));
    recent_.push_back(z);
    if (recent_.size() > size_t(DashWindowSeconds * rate))
        recent_.pop_front();
    activity_.push_back(z);
    activitySum_ += std::complex<double>(z);
    if (int(activity_.size()) > windowSamples) {
        activitySum_ -= std::complex<double>(activity_.front());
        activity_.pop_front();
    }
    // The noise of one baseband sample: its own, from the quietest of the
    // last seconds' samples (the noise beside this carrier: a receiver's
    // passband, a codec or an AGC colour it), the whole band's until then.
    // Digital silence is no noise.
    if (std::norm(z) > SilentPower)
        samplePowers_.push_back(std::norm(z));
    if (samplePowers_.size() > size_t(NoiseSeconds * rate))
        samplePowers_.pop_front();
    if (index % qint64(NoiseEvery * rate) == 0 && samplePowers_.size() >= size_t(NoiseSeconds * rate) / 2) {
        std::vector<float> sorted(samplePowers_.begin(), samplePowers_.end());
        const auto at = sorted.begin() + qsizetype(double(sorted.size()) * NoiseQuantile);
        std::nth_element(sorted.begin(), at, sorted.end());
        // The power of a sample of noise alone is exponential: its quantile
        // q is -ln(1 - q) of its mean.
        sampleNoise_ = *at / -std::log(1 - NoiseQuantile);
    }
    const double perSample = sampleNoise_ > 0 ? sampleNoise_ : noiseVariance_ * setup_.basebandFactor;
    const double noise = perSample * windowSamples;
    const double power =
        int(activity_.size()) == windowSamples && noise > 0 ? std::norm(activitySum_) / noise : 0;
    const bool begins = power > ActivityThreshold && !steady_;
    if (inLine_) {
        line_.push_back({z, float(hz), unheard});
        // Within a transmission, also a dash's worth of signal summed:
        // twice the evidence of the short window at 20 WPM.
        const int dash = std::clamp(int(std::lround(3 * dotSeconds_ * rate)), windowSamples,
                                    int(recent_.size()));
        std::complex<double> sum;
        for (int i = int(recent_.size()) - dash; i < int(recent_.size()); ++i)
            sum += std::complex<double>(recent_[size_t(i)]);
        const double dashNoise = perSample * dash;
        // The pause is counted from the window's start: the dash window
        // holds the last element for a while after it ended.
        if (begins)
            lastActive_ = index;
        else if (dashNoise > 0 && std::norm(sum) > KeepThreshold * dashNoise)
            lastActive_ = std::max(lastActive_, index - (dash - windowSamples));
        // A pause of clearly more than a word gap ends the line; elements
        // too weak to stand out of the noise on their own (dots in weak
        // signals) may follow the last that did, so the pause is long.
        const double pause = double(index - lastActive_) / rate;
        if (pause > std::max(LinePauseSeconds, 14 * dotSeconds_ + ActivityWindowSeconds) ||
            double(index - lineFirst_) / rate > LongestLineSeconds)
            endLine(index);
        return;
    }
    preRoll_.push_back({z, float(hz), unheard});
    if (int(preRoll_.size()) > int(LinePreRollSeconds * rate))
        preRoll_.pop_front();
    if (begins) {
        inLine_ = true;
        lastActive_ = index;
        lineFirst_ = index + 1 - qint64(preRoll_.size());
        line_.assign(preRoll_.begin(), preRoll_.end());
        preRoll_.clear();
        lineNearest_ = nearest_;
        lineTones_.clear();
        lineTones_.push_back({basebandSeconds(double(index)), hz});
    }
}

// The line's baseband mixed again with a steady tone: the tracker's
// estimates wander by half a hertz from one second to the next, which turns
// the carrier's phase by a radian or more within a few elements. Each
// sample's tone is a line (a parabola where the tone moves fast) fitted to
// the tracker's estimates around it, those far off the fit around them
// (noise peaks) left out.
std::vector<std::complex<float>> ToneChannel::steadied(double *fastest) const {
    *fastest = 0;
    std::vector<std::complex<float>> z(line_.size());
    for (size_t i = 0; i < line_.size(); ++i)
        z[i] = line_[i].z;
    const size_t count = lineTones_.size();
    if (count < 3)
        return z;
    // Least squares of the estimates within reach of `at`: the tone there
    // and its slope; a parabola when `curved`. -1 when none are near.
    auto fit = [this](double at, double reach, const std::vector<bool> &use, bool curved,
                      double *slope) {
        double m[3][4] = {};
        int n = 0;
        for (size_t k = 0; k < lineTones_.size(); ++k) {
            const double t = lineTones_[k].first - at, f = lineTones_[k].second;
            if (!use[k] || std::abs(t) > reach)
                continue;
            ++n;
            const double p[3] = {1, t, t * t};
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c)
                    m[r][c] += p[r] * p[c];
                m[r][3] += p[r] * f;
            }
        }
        *slope = 0;
        if (n == 0)
            return -1.0;
        const int order = n < 3 ? 1 : curved && n >= 6 ? 3 : 2;
        // Gaussian elimination on the normal equations.
        for (int c = 0; c < order; ++c) {
            if (std::abs(m[c][c]) < 1e-12)
                return m[0][3] / m[0][0];
            for (int r = c + 1; r < order; ++r) {
                const double q = m[r][c] / m[c][c];
                for (int k = c; k < 4; ++k)
                    m[r][k] -= q * m[c][k];
            }
        }
        double x[3] = {};
        for (int r = order - 1; r >= 0; --r) {
            double s = m[r][3];
            for (int c = r + 1; c < order; ++c)
                s -= m[r][c] * x[c];
            x[r] = s / m[r][r];
        }
        *slope = order > 1 ? x[1] : 0;
        return x[0];
    };
    std::vector<bool> use(count, true);
    double slope = 0;
    // Each estimate against the fit of the others around it; off by more
    // than the estimates scatter (a robust four sigma) is a noise peak.
    // Again against the fits of those kept, until none changes: a few
    // estimates pulled together at a line's end (another station's skirt
    // after the last element) bend the fits of their neighbours towards
    // them, and pass the first round.
    std::vector<double> residual(count, 0), slopes(count, 0);
    std::vector<bool> keep(count, true);
    for (int round = 0; round < OutlierRounds; ++round) {
        use = keep;
        for (size_t k = 0; k < count; ++k) {
            use[k] = false;
            double local = fit(lineTones_[k].first, SteadySeconds, use, false, &slope);
            if (std::abs(slope) > FastHzPerSecond)
                local = fit(lineTones_[k].first, FastSeconds, use, true, &slope);
            use[k] = keep[k];
            residual[k] = local < 0 ? 0 : std::abs(lineTones_[k].second - local);
            slopes[k] = std::abs(slope);
        }
        std::vector<double> sorted = residual;
        std::nth_element(sorted.begin(), sorted.begin() + qsizetype(count / 2), sorted.end());
        const double scatter = 1.4826 * sorted[count / 2];
        bool changed = false;
        for (size_t k = 0; k < count; ++k) {
            const bool kept = residual[k] < std::max(SteadyOutlierHz, 4 * scatter) + 0.2 * slopes[k];
            changed = changed || kept != keep[k];
            keep[k] = kept;
        }
        if (!changed)
            break;
    }
    // The fits at knots a fifth of a second apart, interpolated between.
    std::vector<std::pair<double, double>> knots; // seconds, Hz
    const double first = basebandSeconds(double(lineFirst_));
    const double last = first + double(line_.size()) / setup_.basebandRate();
    for (double t = first;; t += 0.2) {
        double f = fit(t, SteadySeconds, keep, false, &slope);
        if (std::abs(slope) > FastHzPerSecond)
            f = fit(t, FastSeconds, keep, true, &slope);
        if (f > 0)
            knots.push_back({t, f});
        *fastest = std::max(*fastest, std::abs(slope));
        if (t >= last)
            break;
    }
    if (knots.empty())
        return z;
    double phase = 0;
    size_t k = 0;
    const double rate = setup_.basebandRate();
    for (size_t i = 0; i < line_.size(); ++i) {
        const double t = first + double(i) / rate;
        while (k + 1 < knots.size() && knots[k + 1].first <= t)
            ++k;
        double f = knots[k].second;
        if (k + 1 < knots.size())
            f += (knots[k + 1].second - f) * (t - knots[k].first) / (knots[k + 1].first - knots[k].first);
        z[i] *= std::complex<float>(std::polar(1.0, -phase));
        phase = std::fmod(phase + 2 * M_PI * (f - line_[i].hz) / rate, 2 * M_PI);
    }
    return z;
}

void ToneChannel::endLine(qint64 lastSample, bool audioEnds) {
    inLine_ = false;
    const qint64 keep = std::clamp<qint64>(lastSample + 1 - lineFirst_, 0, qint64(line_.size()));
    std::vector<Sample> rest(line_.begin() + keep, line_.end());
    line_.resize(size_t(keep));
    double offset = basebandSeconds(double(lineFirst_)); // of z's first sample
    double fastest = 0;
    std::vector<std::complex<float>> z = steadied(&fastest);
    // Digital silence at either end is left out: ticks of no noise at all
    // would make every other tick's noise seem a signal.
    size_t head = 0, tail = z.size();
    while (head < tail && std::norm(z[head]) <= SilentPower)
        ++head;
    while (tail > head && std::norm(z[tail - 1]) <= SilentPower)
        --tail;
    offset += double(head) / setup_.basebandRate();
    z = std::vector<std::complex<float>>(z.begin() + qsizetype(head), z.begin() + qsizetype(tail));
    std::vector<bool> unheard;
    if (std::any_of(line_.begin(), line_.end(), [](const Sample &s) { return s.unheard; })) {
        unheard.resize(z.size());
        for (size_t i = 0; i < z.size(); ++i)
            unheard[i] = line_[head + i].unheard;
    }
    const double rate = setup_.basebandRate();
    // Another keyed carrier near: the baseband narrowed to what this one's
    // keying needs, so that the other's elements make none here.
    LineCopierSettings settings = setup_.lineSettings;
    if (fastest > FastHzPerSecond)
        settings.phaseReachSeconds = FastPhaseReachSeconds;
    if (lineNearest_ < NarrowBelowHz) {
        const double pass = std::clamp(0.35 * lineNearest_, 20.0, 60.0);
        const double stop = std::clamp(0.7 * lineNearest_, pass + 15, 150.0);
        z = zeroPhase(z, lowPass(2, rate, pass, stop));
        settings.bandHz = (pass + stop) / 2;
    }
    LineCopy copy = copyLine(z, rate, settings, audioEnds, unheard);
    line_.clear();
    line_.shrink_to_fit();
    preRoll_.assign(rest.begin(), rest.end());
    while (int(preRoll_.size()) > int(LinePreRollSeconds * rate))
        preRoll_.pop_front();
    if (copy.text.isEmpty())
        return;
    dotSeconds_ = std::clamp(copy.dotSeconds, 0.03, 0.15);
    for (;;) {
        CopiedLine out;
        out.start = offset + std::max(0.0, copy.firstElement);
        if (copy.beacon && copy.before.size() >= 2) {
            CopiedLine front = out;
            front.text = copy.before;
            handOut(front, copy);
        }
        // A frame's line starts at its own first element, whatever came
        // before it (a letter of another station's leaking in is no line).
        if (copy.beacon && copy.beaconElement >= 0)
            out.start = offset + copy.beaconElement;
        out.text = copy.text;
        out.beacon = copy.beacon;
        out.unsure = copy.unsure;
        handOut(out, copy);
        if (copy.after.isEmpty())
            return;
        // The words after a frame are copied again on their own, so that
        // another frame among them is read as one.
        const auto from = size_t(std::max<qint64>(
            0, std::llround((copy.afterElement - AfterMarginSeconds) * rate)));
        LineCopy next;
        if (from < z.size()) {
            z.erase(z.begin(), z.begin() + qint64(from));
            if (!unheard.empty())
                unheard.erase(unheard.begin(), unheard.begin() + qint64(from));
            next = copyLine(z, rate, settings, audioEnds, unheard);
        }
        if (next.text.isEmpty()) {
            CopiedLine back;
            back.start = offset + copy.afterElement;
            back.text = copy.after;
            handOut(back, copy);
            return;
        }
        offset += double(from) / rate;
        copy = next;
    }
}

void ToneChannel::handOut(CopiedLine out, const LineCopy &copy) {
    out.snrDb = copy.snrDb;
    ChannelLine line;
    if (!lineTones_.empty()) {
        double t = 0, f = 0;
        for (const auto &[s, hz] : lineTones_)
            t += s, f += hz;
        t /= double(lineTones_.size());
        f /= double(lineTones_.size());
        double stt = 0, stf = 0;
        for (const auto &[s, hz] : lineTones_)
            stt += (s - t) * (s - t), stf += (s - t) * (hz - f);
        out.toneHz = f;
        line.driftHzPerSecond = stt > 0 ? stf / stt : 0;
    } else {
        out.toneHz = toneHz_;
    }
    line.line = out;
    line.channel = id_;
    line.wpm = 1.2 / copy.dotSeconds;
    if (onLine_)
        onLine_(line);
}

} // namespace cwcopier
