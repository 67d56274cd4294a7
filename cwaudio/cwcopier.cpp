#include "cwaudio/cwcopier.h"

#include "cwaudio/linecopier.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <deque>
#include <vector>

// The front end, all streaming:
// 1. a polyphase FIR low-pass decimates the input by an integer to a working
//    rate of 8 to 16 kHz (everything from 200 to 3,000 Hz kept);
// 2. power spectra of 1/4 s, half overlapping, are summed over about a second
//    and give the tone (its peak above the median floor) and the noise floor;
//    the tone is followed from one spectrum to the next within the distance a
//    drift of 10 Hz/s allows, and the estimate belongs to the middle of the
//    spectra summed, so the mixer runs that far behind;
// 3. the mixer brings the tone to 0 Hz and sums it to about 400 samples a
//    second (complex baseband);
// 4. key-down is detected on 80 ms sums of the baseband; a pause of more
//    than two word gaps ends a transmission, whose samples go to copyLine().

namespace {

constexpr double WorkingRateMin = 8000;
constexpr double BasebandRate = 400;
constexpr double ToneLowHz = 200, ToneHighHz = 3000;
constexpr int SpectraSummed = 8;
constexpr double AcquireRatio = 3.0, KeepRatio = 2.2;
constexpr double PreRollSeconds = 3.0;     // audio kept before the tone is found
constexpr double LinePreRollSeconds = 1.0; // baseband kept before a key-down
constexpr double LinePauseSeconds = 1.5;   // at least, ends a transmission
constexpr double ActivityWindowSeconds = 0.08;
constexpr double ActivityThreshold = 14; // sum power over its noise mean
constexpr double KeepThreshold = 14;      // the same over a dash, once a transmission began
constexpr double DashWindowSeconds = 0.45; // the longest dash summed (8 WPM)
constexpr double LongestLineSeconds = 360;
constexpr double AfterMarginSeconds = 0.1; // kept before words after a frame copied again
constexpr double SteadySeconds = 5;   // tone estimates a steady tone is fitted to, either side
constexpr double SteadyOutlierHz = 2; // off the line's fit: a noise peak
// How far the tone can have gone from its last sure estimate: FarOffHz
// plus the drift followed over the time between. The tracker looks for it
// no further; in a transmission, an estimate further off belongs to
// something else (another station's carrier or a noise peak). The
// tracker's estimates of a tone drifting 10 Hz/s lag and catch up by up to
// 6 Hz.
constexpr double FarOffHz = 8;
constexpr double DriftHzPerSecond = 10;

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

struct Knot {
    qint64 at = 0; // working sample
    double hz = 0;
};

} // namespace

struct CwCopier::State {
    double inputRate = 0;
    qint64 inputSamples = 0;
    std::function<void(const CopiedLine &)> onLine;
    LineCopierSettings lineSettings;

    // Decimation.
    int factor = 1;
    double rate = 0; // working rate
    std::vector<float> taps;
    std::vector<float> history;
    size_t next = 0;
    double delaySeconds = 0; // of the FIR

    // Spectra.
    int fftSize = 0, hop = 0;
    int lowBin = 0, highBin = 0;
    std::vector<float> window;
    double windowPower = 0;
    float *fftIn = nullptr;
    fftwf_complex *fftOut = nullptr;
    fftwf_plan plan = nullptr;
    std::deque<std::vector<float>> spectra;
    std::vector<float> work; // working-rate samples from workBase on
    qint64 workBase = 0;
    qint64 fftAt = 0;

    // The tone.
    bool tone = false;
    double toneHz = 0;
    double lastSure = 0; // seconds
    Knot before, after;
    double noiseVariance = 0; // per working sample
    std::deque<double> floors;

    // Mixer.
    qint64 mixAt = 0;
    double phase = 0;
    int basebandFactor = 1;
    double basebandRate = 0;

    // Transmissions.
    struct Sample {
        std::complex<float> z;
        float hz; // the mixer's frequency for it
    };
    std::deque<Sample> preRoll;
    std::vector<Sample> line;
    qint64 lineFirst = 0;   // baseband index of line[0]
    qint64 basebandAt = 0;  // baseband index of the next sample
    bool inLine = false;
    qint64 lastActive = 0;
    std::deque<std::complex<float>> activity;
    std::deque<std::complex<float>> recent; // the last DashWindowSeconds of baseband
    std::complex<double> activitySum;
    std::vector<std::pair<double, double>> lineTones; // seconds, Hz
    // The last line's speed; before the first, 12 WPM, so that a pause of
    // 1.5 s ends the first line (at 8 WPM still 1.4 word gaps).
    double dotSeconds = 0.1;

    CopyFigures figures;
    std::vector<std::pair<double, double>> allTones;

    ~State() {
        if (plan) {
            fftwf_destroy_plan(plan);
            fftwf_free(fftIn);
            fftwf_free(fftOut);
        }
    }
    void setUp(double sampleRate);
    void decimate(const float *in, qsizetype count);
    void analyse();
    void spectrum(const float *samples);
    void mixTo(qint64 end, bool all);
    void basebandSample(std::complex<float> z, double hz);
    std::vector<std::complex<float>> steadied() const;
    void endLine(qint64 lastSample, bool audioEnds = false);
    void handOut(const CopiedLine &out);
    double workingSeconds(double index) const { return index / rate - delaySeconds; }
};

void CwCopier::State::setUp(double sampleRate) {
    inputRate = sampleRate;
    factor = std::max(1, int(sampleRate / WorkingRateMin));
    rate = sampleRate / factor;
    taps = lowPass(factor, sampleRate, 3100, rate - 3300);
    history.assign(taps.size() - 1, 0.0f);
    next = taps.size() - 1;
    delaySeconds = (taps.size() - 1) / 2.0 / sampleRate;

    fftSize = 1;
    while (fftSize < rate / 4)
        fftSize *= 2;
    hop = fftSize / 2;
    lowBin = int(std::floor(ToneLowHz * fftSize / rate));
    highBin = int(std::ceil(ToneHighHz * fftSize / rate));
    window.resize(size_t(fftSize));
    windowPower = 0;
    for (int i = 0; i < fftSize; ++i) {
        window[size_t(i)] = float(0.5 - 0.5 * std::cos(2 * M_PI * i / fftSize));
        windowPower += double(window[size_t(i)]) * window[size_t(i)];
    }
    fftIn = fftwf_alloc_real(size_t(fftSize));
    fftOut = fftwf_alloc_complex(size_t(fftSize / 2 + 1));
    plan = fftwf_plan_dft_r2c_1d(fftSize, fftIn, fftOut, FFTW_ESTIMATE);

    basebandFactor = std::max(1, int(std::lround(rate / BasebandRate)));
    basebandRate = rate / basebandFactor;
}

void CwCopier::State::decimate(const float *in, qsizetype count) {
    if (factor == 1) {
        work.insert(work.end(), in, in + count);
        return;
    }
    history.insert(history.end(), in, in + count);
    const size_t length = taps.size();
    const float *h = taps.data();
    while (next < history.size()) {
        const float *x = history.data() + next + 1 - length;
        float sum = 0;
        for (size_t k = 0; k < length; ++k)
            sum += h[k] * x[k];
        work.push_back(sum);
        next += size_t(factor);
    }
    const size_t drop = next + 1 - length;
    history.erase(history.begin(), history.begin() + qsizetype(drop));
    next -= drop;
}

void CwCopier::State::spectrum(const float *samples) {
    for (int i = 0; i < fftSize; ++i)
        fftIn[i] = samples[i] * window[size_t(i)];
    fftwf_execute(plan);
    std::vector<float> power(static_cast<size_t>(highBin - lowBin + 1));
    for (int b = lowBin; b <= highBin; ++b)
        power[size_t(b - lowBin)] =
            fftOut[b][0] * fftOut[b][0] + fftOut[b][1] * fftOut[b][1];
    // The noise floor: the median bin of this spectrum (a bin of white noise
    // is exponential, its median ln 2 of its mean).
    std::vector<float> sorted = power;
    std::nth_element(sorted.begin(), sorted.begin() + qsizetype(sorted.size() / 2), sorted.end());
    const double variance = sorted[sorted.size() / 2] / (std::log(2.0) * windowPower);
    // The lowest floor of the last second or so: a burst of noise does not
    // raise it for long.
    floors.push_back(variance);
    if (int(floors.size()) > SpectraSummed)
        floors.pop_front();
    noiseVariance = *std::min_element(floors.begin(), floors.end());
    spectra.push_back(std::move(power));
    if (int(spectra.size()) > SpectraSummed)
        spectra.pop_front();
}

void CwCopier::State::analyse() {
    while (fftAt + fftSize <= workBase + qint64(work.size())) {
        spectrum(work.data() + (fftAt - workBase));
        const int bins = highBin - lowBin + 1;
        std::vector<double> sum(size_t(bins), 0);
        for (const auto &s : spectra)
            for (int b = 0; b < bins; ++b)
                sum[size_t(b)] += s[size_t(b)];
        std::vector<double> smooth(static_cast<size_t>(bins));
        for (int b = 0; b < bins; ++b)
            smooth[size_t(b)] = (sum[size_t(std::max(0, b - 1))] + sum[size_t(b)] +
                                 sum[size_t(std::min(bins - 1, b + 1))]) / 3;
        std::vector<double> sorted = smooth;
        std::nth_element(sorted.begin(), sorted.begin() + bins / 2, sorted.end());
        const double floor = std::max(sorted[size_t(bins / 2)], 1e-30);

        const qint64 centre =
            fftAt - qint64(spectra.size() - 1) * hop / 2 + fftSize / 2;
        const double now = centre / rate;
        const double binHz = rate / fftSize;
        int lo = 1, hi = bins - 2;
        if (tone) {
            const double reach = std::min(100.0, FarOffHz + DriftHzPerSecond * (now - lastSure));
            lo = std::max(lo, int(std::floor((toneHz - reach) / binHz)) - lowBin);
            hi = std::min(hi, int(std::ceil((toneHz + reach) / binHz)) - lowBin);
        }
        int peak = lo;
        for (int b = lo; b <= hi; ++b)
            if (smooth[size_t(b)] > smooth[size_t(peak)])
                peak = b;
        double ratio = lo <= hi ? smooth[size_t(peak)] / floor : 0;
        bool sure = tone ? ratio >= KeepRatio
                         : ratio >= AcquireRatio && int(spectra.size()) == SpectraSummed;
        if (tone && !sure) {
            // Lost where it was: a tone clearly present elsewhere (the
            // receiver retuned, a drift that started again) is taken up.
            int far = 1;
            for (int b = 1; b <= bins - 2; ++b)
                if (smooth[size_t(b)] > smooth[size_t(far)])
                    far = b;
            if (smooth[size_t(far)] / floor >= AcquireRatio) {
                peak = far;
                sure = true;
            }
        }
        if (sure) {
            int b = peak;
            for (int d = -1; d <= 1; d += 2)
                if (b + d > 0 && b + d < bins - 1 && sum[size_t(b + d)] > sum[size_t(b)])
                    b += d;
            b = std::clamp(b, 1, bins - 2);
            const double l = std::log(sum[size_t(b - 1)] + 1e-30), c = std::log(sum[size_t(b)] + 1e-30),
                         r = std::log(sum[size_t(b + 1)] + 1e-30);
            const double curvature = l - 2 * c + r;
            const double offset = curvature < 0 ? std::clamp(0.5 * (l - r) / curvature, -0.5, 0.5) : 0;
            const double hz = (lowBin + b + offset) * binHz;
            if (!tone) {
                tone = true;
                before = after = {mixAt, hz};
            }
            toneHz = hz;
            lastSure = now;
            if (inLine)
                lineTones.push_back({workingSeconds(double(centre)), hz});
        } else if (tone && now - lastSure > 8) {
            tone = false;
        }
        if (tone) {
            before = after;
            after = {std::max(centre, before.at + 1), toneHz};
            mixTo(centre, false);
        } else {
            // Nothing to copy: keep a few seconds in case a tone is found.
            const qint64 keep = centre - qint64(PreRollSeconds * rate);
            if (keep > mixAt) {
                if (inLine)
                    endLine(basebandAt - 1);
                const qint64 skipped = (keep - mixAt) / basebandFactor;
                mixAt += skipped * basebandFactor;
                basebandAt += skipped;
                preRoll.clear();
                activity.clear();
                recent.clear();
                activitySum = 0;
            }
        }
        fftAt += hop;
    }
    const qint64 keepFrom = std::min(mixAt, fftAt);
    if (keepFrom > workBase) {
        work.erase(work.begin(), work.begin() + (keepFrom - workBase));
        workBase = keepFrom;
    }
}

void CwCopier::State::mixTo(qint64 end, bool all) {
    const qint64 available = workBase + qint64(work.size());
    end = std::min(end, available);
    while (mixAt + basebandFactor <= end || (all && mixAt < end)) {
        double hz = before.hz;
        if (after.at > before.at && mixAt > before.at)
            hz = before.hz + (after.hz - before.hz) * double(std::min(mixAt, after.at) - before.at) /
                                 double(after.at - before.at);
        const double step = 2 * M_PI * hz / rate;
        std::complex<double> rotor(std::cos(phase), -std::sin(phase));
        const std::complex<double> turn(std::cos(step), -std::sin(step));
        std::complex<double> sum;
        const float *x = work.data() + (mixAt - workBase);
        const int count = int(std::min<qint64>(basebandFactor, available - mixAt));
        for (int i = 0; i < count; ++i) {
            sum += double(x[i]) * rotor;
            rotor *= turn;
        }
        phase = std::fmod(phase + step * count, 2 * M_PI);
        mixAt += count;
        basebandSample(std::complex<float>(sum), hz);
        if (count < basebandFactor)
            break;
    }
}

void CwCopier::State::basebandSample(std::complex<float> z, double hz) {
    const qint64 index = basebandAt++;
    const int windowSamples = std::max(4, int(std::lround(ActivityWindowSeconds * basebandRate)));
    recent.push_back(z);
    if (recent.size() > size_t(DashWindowSeconds * basebandRate))
        recent.pop_front();
    activity.push_back(z);
    activitySum += std::complex<double>(z);
    if (int(activity.size()) > windowSamples) {
        activitySum -= std::complex<double>(activity.front());
        activity.pop_front();
    }
    const double noise = noiseVariance * basebandFactor * windowSamples;
    const double power = int(activity.size()) == windowSamples && noise > 0 ? std::norm(activitySum) / noise : 0;
    const bool begins = power > ActivityThreshold;
    if (inLine) {
        line.push_back({z, float(hz)});
        // Within a transmission, also a dash's worth of signal summed:
        // twice the evidence of the short window at 20 WPM.
        const int dash = std::clamp(int(std::lround(3 * dotSeconds * basebandRate)), windowSamples,
                                    int(recent.size()));
        std::complex<double> sum;
        for (int i = int(recent.size()) - dash; i < int(recent.size()); ++i)
            sum += std::complex<double>(recent[size_t(i)]);
        const double dashNoise = noiseVariance * basebandFactor * dash;
        // The pause is counted from the window's start: the dash window
        // holds the last element for a while after it ended.
        if (begins)
            lastActive = index;
        else if (dashNoise > 0 && std::norm(sum) > KeepThreshold * dashNoise)
            lastActive = std::max(lastActive, index - (dash - windowSamples));
        // A pause of clearly more than a word gap ends the line; elements
        // too weak to stand out of the noise on their own (dots in weak
        // signals) may follow the last that did, so the pause is long.
        const double pause = (index - lastActive) / basebandRate;
        if (pause > std::max(LinePauseSeconds, 14 * dotSeconds + ActivityWindowSeconds) ||
            (index - lineFirst) / basebandRate > LongestLineSeconds)
            endLine(index);
        return;
    }
    preRoll.push_back({z, float(hz)});
    if (int(preRoll.size()) > int(LinePreRollSeconds * basebandRate))
        preRoll.pop_front();
    if (begins) {
        inLine = true;
        lastActive = index;
        lineFirst = index + 1 - qint64(preRoll.size());
        line.assign(preRoll.begin(), preRoll.end());
        preRoll.clear();
        lineTones.clear();
        lineTones.push_back({workingSeconds(double(mixAt)), toneHz});
    }
}

// The line's baseband mixed again with a steady tone: the tracker's
// estimates wander by half a hertz from one second to the next, which turns
// the carrier's phase by a radian or more within a few elements. Each
// sample's tone is a straight line fitted to the tracker's estimates within
// SteadySeconds either side (a drift is followed), those far off the line
// fitted to the whole transmission (noise peaks the tracker took at the
// ends) left out. The estimates are followed from those of the tone keyed
// longest, and those it cannot have drifted to (another station the
// tracker took up before, during or after the frame) are left out of every
// fit, because a least-squares line through two signals belongs to neither.
std::vector<std::complex<float>> CwCopier::State::steadied() const {
    std::vector<std::complex<float>> z(line.size());
    for (size_t i = 0; i < line.size(); ++i)
        z[i] = line[i].z;
    if (lineTones.size() < 3)
        return z;
    auto fit = [this](double at, double reach, const std::vector<bool> &use, double *slope) {
        double n = 0, st = 0, sf = 0, stt = 0, stf = 0;
        for (size_t k = 0; k < lineTones.size(); ++k) {
            const double t = lineTones[k].first - at, f = lineTones[k].second;
            if (!use[k] || std::abs(t) > reach)
                continue;
            n += 1;
            st += t;
            sf += f;
            stt += t * t;
            stf += t * f;
        }
        if (n < 3) {
            *slope = 0;
            return n > 0 ? sf / n : -1.0;
        }
        const double d = n * stt - st * st;
        *slope = d > 1e-9 ? (n * stf - st * sf) / d : 0;
        return (sf - *slope * st) / n;
    };
    const size_t count = lineTones.size();
    auto follows = [this](size_t from, size_t to) {
        return std::abs(lineTones[to].second - lineTones[from].second) <
               FarOffHz + DriftHzPerSecond * std::abs(lineTones[to].first - lineTones[from].first);
    };
    // The anchor: the estimate most others within SteadySeconds follow from,
    // the tone keyed longest (a noise peak has few, another carrier at the
    // start or the end of the transmission fewer than the frame).
    size_t anchor = 0, anchorVotes = 0;
    for (size_t k = 0, from = 0, to = 0; k < count; ++k) {
        while (lineTones[from].first < lineTones[k].first - SteadySeconds)
            ++from;
        while (to < count && lineTones[to].first <= lineTones[k].first + SteadySeconds)
            ++to;
        size_t votes = 0;
        for (size_t j = from; j < to; ++j)
            votes += follows(k, j);
        if (votes > anchorVotes) {
            anchor = k;
            anchorVotes = votes;
        }
    }
    std::vector<bool> use(count, false);
    use[anchor] = true;
    for (size_t k = anchor + 1, last = anchor; k < count; ++k)
        if (follows(last, k))
            use[k] = true, last = k;
    for (size_t k = anchor, last = anchor; k-- > 0;)
        if (follows(last, k))
            use[k] = true, last = k;
    double slope = 0;
    const double middle = (lineTones.front().first + lineTones.back().first) / 2;
    const double overall = fit(middle, 1e9, use, &slope);
    for (size_t k = 0; k < count; ++k)
        use[k] = use[k] &&
                 std::abs(lineTones[k].second - (overall + slope * (lineTones[k].first - middle))) <
                     SteadyOutlierHz;
    // The fits at knots a second apart, interpolated between.
    std::vector<std::pair<double, double>> knots; // seconds, Hz
    const double first = workingSeconds((lineFirst + 0.5) * basebandFactor - 0.5);
    const double last = first + double(line.size()) / basebandRate;
    for (double t = first; ; t += 1.0) {
        const double f = fit(t, SteadySeconds, use, &slope);
        if (f > 0)
            knots.push_back({t, f});
        if (t >= last)
            break;
    }
    if (knots.empty())
        return z;
    double phase = 0;
    size_t k = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const double t = first + double(i) / basebandRate;
        while (k + 1 < knots.size() && knots[k + 1].first <= t)
            ++k;
        double f = knots[k].second;
        if (k + 1 < knots.size())
            f += (knots[k + 1].second - f) * (t - knots[k].first) / (knots[k + 1].first - knots[k].first);
        z[i] *= std::complex<float>(std::polar(1.0, -phase));
        phase = std::fmod(phase + 2 * M_PI * (f - line[i].hz) / basebandRate, 2 * M_PI);
    }
    return z;
}

void CwCopier::State::endLine(qint64 lastSample, bool audioEnds) {
    inLine = false;
    const qint64 keep = std::clamp<qint64>(lastSample + 1 - lineFirst, 0, qint64(line.size()));
    std::vector<Sample> rest(line.begin() + keep, line.end());
    line.resize(size_t(keep));
    const double firstSeconds = workingSeconds((lineFirst + 0.5) * basebandFactor - 0.5);
    std::vector<std::complex<float>> z = steadied();
    LineCopy copy = copyLine(z, basebandRate, lineSettings, audioEnds);
    line.clear();
    line.shrink_to_fit();
    preRoll.assign(rest.begin(), rest.end());
    while (int(preRoll.size()) > int(LinePreRollSeconds * basebandRate))
        preRoll.pop_front();
    if (copy.text.isEmpty())
        return;

    figures.wpm = 1.2 / copy.dotSeconds;
    figures.snrDb = copy.snrDb;
    dotSeconds = std::clamp(copy.dotSeconds, 0.03, 0.15);
    if (!lineTones.empty()) {
        double t = 0, f = 0;
        for (const auto &[s, hz] : lineTones) {
            t += s;
            f += hz;
        }
        t /= double(lineTones.size());
        f /= double(lineTones.size());
        double stt = 0, stf = 0;
        for (const auto &[s, hz] : lineTones) {
            stt += (s - t) * (s - t);
            stf += (s - t) * (hz - f);
        }
        figures.toneHz = f;
        figures.driftHzPerSecond = stt > 0 ? stf / stt : 0;
    }
    double offset = firstSeconds; // of z's first sample
    for (;;) {
        CopiedLine out;
        out.start = offset + std::max(0.0, copy.firstElement);
        out.snrDb = copy.snrDb;
        out.toneHz = figures.toneHz;
        if (copy.beacon && copy.before.size() >= 2) {
            CopiedLine front = out;
            front.text = copy.before;
            handOut(front);
            // The frame's own line starts at its own first element.
            out.start = offset + std::max(0.0, copy.beaconElement);
        }
        out.text = copy.text;
        out.beacon = copy.beacon;
        out.unsure = copy.unsure;
        handOut(out);
        if (copy.after.isEmpty())
            return;
        // The words after a frame are copied again on their own, so that
        // another frame among them is read as one.
        const auto from = size_t(std::max<qint64>(
            0, std::llround((copy.afterElement - AfterMarginSeconds) * basebandRate)));
        LineCopy next;
        if (from < z.size()) {
            z.erase(z.begin(), z.begin() + qint64(from));
            next = copyLine(z, basebandRate, lineSettings, audioEnds);
        }
        if (next.text.isEmpty()) {
            CopiedLine back;
            back.start = offset + copy.afterElement;
            back.snrDb = copy.snrDb;
            back.toneHz = figures.toneHz;
            back.text = copy.after;
            handOut(back);
            return;
        }
        offset += double(from) / basebandRate;
        copy = next;
    }
}

void CwCopier::State::handOut(const CopiedLine &out) {
    ++figures.lines;
    if (out.beacon)
        ++figures.frames;
    if (onLine)
        onLine(out);
}

CwCopier::CwCopier(double sampleRate) : state_(std::make_unique<State>()) {
    state_->setUp(sampleRate);
}

CwCopier::~CwCopier() = default;

void CwCopier::setLineHandler(std::function<void(const CopiedLine &)> handler) {
    state_->onLine = std::move(handler);
}

void CwCopier::feed(const float *samples, qsizetype count) {
    state_->inputSamples += count;
    state_->decimate(samples, count);
    state_->analyse();
}

void CwCopier::finish() {
    State &s = *state_;
    if (s.tone)
        s.mixTo(s.workBase + qint64(s.work.size()), true);
    if (s.inLine)
        s.endLine(s.basebandAt - 1, true);
}

CopyFigures CwCopier::figures() const {
    CopyFigures figures = state_->figures;
    figures.seconds = double(state_->inputSamples) / state_->inputRate;
    figures.trackedHz = state_->tone ? state_->toneHz : 0;
    return figures;
}
