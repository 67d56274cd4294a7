#pragma once

#include "cwaudio/cwcopier.h"
#include "cwaudio/linecopier.h"

#include <QtGlobal>

#include <complex>
#include <deque>
#include <functional>
#include <vector>

// One carrier's transmissions: the audio mixed down with the carrier's
// followed tone and filtered to a complex baseband of about 400 samples a
// second; key-down found on short sums of it; a pause of more than two word
// gaps ends a transmission, whose baseband, mixed again with a steady fit
// of the tone, goes to copyLine() and comes out as lines.

namespace cwcopier {

// The working-rate audio the carriers are mixed from, from `base` on.
struct WorkBuffer {
    std::vector<float> samples; // as received (the carriers are found in them)
    std::vector<float> clean;   // steady carriers taken out (the carriers are mixed from them)
    qint64 base = 0;
    // Stretches a static crash was blanked in, [first, end), in order.
    std::deque<std::pair<qint64, qint64>> blanked;
    qint64 end() const { return base + qint64(samples.size()); }
    void addBlanked(const std::vector<std::pair<long long, long long>> &stretches);
};

struct ChannelSetup {
    double rate = 0;          // working rate
    int basebandFactor = 1;   // working samples a baseband sample
    double delaySeconds = 0;  // of the decimator in front
    LineCopierSettings lineSettings;
    std::vector<float> taps;  // the mixer's low-pass, basebandFactor times decimating
    double basebandRate() const { return rate / basebandFactor; }
};

// A line copied, with what the copier's summary shows of it.
struct ChannelLine {
    CopiedLine line;
    int channel = 0; // the carrier's
    double wpm = 0;
    double driftHzPerSecond = 0;
};

class ToneChannel {
public:
    ToneChannel(const ChannelSetup &setup, const WorkBuffer &work, int id, qint64 from, double hz);

    int id() const { return id_; }
    void setLineHandler(std::function<void(const ChannelLine &)> handler) { onLine_ = std::move(handler); }
    // The tracker's estimate of the tone at working sample `at` (sure: it
    // was heard there); mixes the audio up to it. A steady carrier (unkeyed)
    // copies nothing. `keyed`: the other keyed carriers' tones; one near
    // narrows the baseband a transmission is copied from.
    void follow(qint64 at, double hz, bool sure, bool steady, double noiseVariance,
                const std::vector<double> &keyed);
    // The end of the audio: the rest is mixed and the transmission under
    // way handed on as far as it was keyed.
    void finish();
    // The carrier is gone: the transmission under way ends.
    void stop();
    qint64 mixAt() const { return mixAt_; }
    // The earliest second a line not yet handed on can start at.
    double earliestLine() const;

private:
    struct Sample {
        std::complex<float> z;
        float hz;             // the mixer's frequency for it
        bool unheard = false; // much of it blanked
    };
    void mixTo(qint64 end, bool all);
    // The share of the low-pass's weight that fell on blanked samples, for
    // the baseband sample ending at working sample `end`.
    double blankedShare(qint64 end) const;
    void basebandSample(std::complex<float> z, double hz, bool unheard);
    // The line mixed again with a steady fit of its tone; *fastest: the
    // fastest the fit moves, Hz/s.
    std::vector<std::complex<float>> steadied(double *fastest) const;
    void endLine(qint64 lastSample, bool audioEnds = false);
    void handOut(CopiedLine out, const LineCopy &copy);
    double basebandSeconds(double index) const; // the centre of a baseband sample

    ChannelSetup setup_;
    const WorkBuffer &work_;
    int id_ = 0;
    std::function<void(const ChannelLine &)> onLine_;

    // The tone the mixer follows: straight between the last two estimates.
    qint64 beforeAt_ = 0, afterAt_ = 0;
    double beforeHz_ = 0, afterHz_ = 0;
    double toneHz_ = 0;
    bool steady_ = false;
    double noiseVariance_ = 0;
    double nearest_ = 1e9;     // Hz to the nearest other keyed carrier now
    double lineNearest_ = 1e9; // the least of it through the transmission under way

    // Mixer.
    qint64 mixAt_ = 0;
    std::complex<double> rotor_ = 1;
    std::vector<std::complex<float>> mixed_; // the last taps' worth of mixed samples
    std::vector<double> tapSums_;            // running sum of the low-pass's taps, size + 1
    qint64 basebandAt_ = 0;                  // baseband index of the next sample

    // Transmissions.
    std::deque<Sample> preRoll_;
    std::vector<Sample> line_;
    qint64 lineFirst_ = 0; // baseband index of line_[0]
    bool inLine_ = false;
    qint64 lastActive_ = 0;
    std::deque<std::complex<float>> activity_;
    std::deque<std::complex<float>> recent_; // the last DashWindowSeconds of baseband
    std::complex<double> activitySum_;
    std::deque<float> samplePowers_; // of the last seconds' baseband samples
    double sampleNoise_ = 0;          // of a baseband sample, from them; 0: not yet
    std::vector<std::pair<double, double>> lineTones_; // seconds, Hz
    // The last line's speed; before the first, 12 WPM, so that a pause of
    // 1.5 s ends the first line (at 8 WPM still 1.4 word gaps).
    double dotSeconds_ = 0.1;
};

// A windowed-sinc low-pass for decimating by `factor` at `rate`: flat to
// passHz, 60 dB down from stopHz; unit gain at 0 Hz.
std::vector<float> lowPass(int factor, double rate, double passHz, double stopHz);

} // namespace cwcopier
