#include "cwaudio/cwcopier.h"

#include "blanker.h"
#include "carrierfinder.h"
#include "segmentation.h"
#include "tonechannel.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <vector>

// The front end, all streaming:
// 1. a polyphase FIR low-pass decimates the input by an integer to a working
//    rate of 8 to 16 kHz (everything from 200 to 3,000 Hz kept);
// 2. static crashes are blanked (blanker.h);
// 3. the carriers are found and followed in power spectra (carrierfinder.h),
//    each estimate belonging to the middle of the spectra summed, so the
//    mixers run that far behind;
// 4. each carrier has a channel of its own (tonechannel.h) that mixes it
//    down, finds its transmissions and copies them;
// 5. the lines of all channels are handed on in the order they started.

using namespace cwcopier;

namespace {

constexpr double WorkingRateMin = 8000;
constexpr double BasebandRate = 400;
constexpr double PreRollSeconds = 4.0; // audio kept before a carrier is found
constexpr int ChannelHops = 8;         // spectra a carrier is heard in before it is copied
// The mixer's low-pass: flat to 100 Hz, 60 dB down from 300 Hz (the
// baseband's Nyquist frequency is 200 Hz; what lies beyond folds to more
// than 100 Hz off the carrier).
constexpr double MixerPassHz = 150, MixerStopHz = 250;
// Two lines from different channels with the same text this near in time
// are one transmission found twice (a carrier's keying sideband taken for
// a carrier): the stronger is kept.
constexpr double SameLineSeconds = 1.0;
// Frames' lines starting that near with at most this many symbols
// different, and at least this many alike besides the name's 9
// characters, are one transmission (two frames' symbols are alike about
// one in sixteen).
constexpr int TwinSymbolsApart = 6, TwinSymbolsAlike = 9 + 10;
// A steady carrier is taken out of the audio the carriers are mixed from:
// its amplitude and phase followed over this time (a notch of about 1.6 Hz).
constexpr double CancelSeconds = 0.1;
// A keyed carrier heard this many spectra (about a second) narrows its
// neighbours' baseband; a noise peak taken for one is rarely heard so long.
constexpr int HeardHops = 8;

// One steady carrier (a receiver's birdie) taken out.
struct Canceller {
    int id = 0;
    std::complex<double> rotor = 1, turn = 1;
    std::complex<double> amplitude; // of the carrier, followed
};

// A line weaker than this is the noise's, unless it reads nearly the
// beacon's name (a frame too damaged to read).
constexpr double WeakestTextSnrDb = -10;

// The sum of h[k] x[k]: eight sums side by side in two vectors of four
// (one float sum is a chain the compiler may not reorder into lanes).
float dot(const float *h, const float *x, size_t length) {
    typedef float Four __attribute__((vector_size(16)));
    Four a = {}, b = {};
    size_t k = 0;
    for (; k + 8 <= length; k += 8) {
        Four h0, h1, x0, x1;
        std::memcpy(&h0, h + k, sizeof h0);
        std::memcpy(&h1, h + k + 4, sizeof h1);
        std::memcpy(&x0, x + k, sizeof x0);
        std::memcpy(&x1, x + k + 4, sizeof x1);
        a += h0 * x0;
        b += h1 * x1;
    }
    float sum = ((a[0] + a[1]) + (a[2] + a[3])) + ((b[0] + b[1]) + (b[2] + b[3]));
    for (; k < length; ++k)
        sum += h[k] * x[k];
    return sum;
}

// Two frames' lines are one transmission's where they hold at most
// TwinSymbolsApart symbols differently and at least TwinSymbolsAlike alike
// ('#' is neither).
bool twinFrames(const QString &a, const QString &b) {
    if (a.size() != b.size())
        return false;
    int apart = 0, alike = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i] == QLatin1Char('#') || b[i] == QLatin1Char('#'))
            continue;
        apart += a[i] != b[i];
        alike += a[i] == b[i];
    }
    return apart <= TwinSymbolsApart && alike >= TwinSymbolsAlike;
}

bool nearName(const QString &text) {
    QString letters = text;
    letters.remove(QLatin1Char(' '));
    for (int i = 0; i + 4 <= letters.size(); ++i)
        for (int length = 4; length <= 8 && i + length <= letters.size(); ++length)
            if (linecopier::editDistance(letters.mid(i, length), QStringLiteral("KADRIN")) <= 2)
                return true;
    return false;
}

} // namespace

struct CwCopier::State {
    double inputRate = 0;
    qint64 inputSamples = 0;
    std::function<void(const CopiedLine &)> onLine;

    // Decimation.
    int factor = 1;
    double rate = 0; // working rate
    std::vector<float> taps;
    std::vector<float> history;
    size_t next = 0;
    std::vector<float> decimated;
    std::unique_ptr<Blanker> blanker;

    WorkBuffer work;
    qint64 fftAt = 0;
    std::unique_ptr<CarrierFinder> finder;
    ChannelSetup setup;
    std::map<int, std::unique_ptr<ToneChannel>> channels;
    std::vector<Canceller> cancellers;
    // The noise level: the audio the carriers are mixed from is scaled to a
    // noise of 1 from spectrum to spectrum (a receiver's AGC undone).
    qint64 normalisedTo = 0; // clean samples before this are scaled
    double lastGain = 0;
    std::deque<double> variances; // of the last spectra

    // Lines not yet handed on, in the order they started.
    std::vector<ChannelLine> pending;
    std::vector<ChannelLine> released; // the last few handed on

    CopyFigures figures;
    bool beaconSeen = false;
    int lastBeaconChannel = 0;

    void setUp(double sampleRate);
    void decimate(const float *in, qsizetype count);
    void analyse();
    void cancel(qint64 end);
    void normalise(qint64 centre, double variance);
    void followCancellers();
    void channelLine(const ChannelLine &line);
    void release(double before);
};

void CwCopier::State::setUp(double sampleRate) {
    inputRate = sampleRate;
    factor = std::max(1, int(sampleRate / WorkingRateMin));
    rate = sampleRate / factor;
    taps = lowPass(factor, sampleRate, 3100, rate - 3300);
    history.assign(taps.size() - 1, 0.0f);
    next = taps.size() - 1;
    blanker = std::make_unique<Blanker>(rate);
    finder = std::make_unique<CarrierFinder>(rate);

    setup.rate = rate;
    setup.delaySeconds = (taps.size() - 1) / 2.0 / sampleRate;
    setup.basebandFactor = std::max(1, int(std::lround(rate / BasebandRate)));
    // Scaled so that the noise of a baseband sample is that of basebandFactor
    // working samples summed, as the line copier's figures assume.
    std::vector<float> h = lowPass(setup.basebandFactor, rate, MixerPassHz, MixerStopHz);
    double squares = 0;
    for (float v : h)
        squares += double(v) * v;
    const double scale = std::sqrt(setup.basebandFactor / squares);
    for (float &v : h)
        v = float(v * scale);
    setup.taps = std::move(h);
}

void CwCopier::State::decimate(const float *in, qsizetype count) {
    decimated.clear();
    if (factor == 1) {
        decimated.assign(in, in + count);
    } else {
        history.insert(history.end(), in, in + count);
        const size_t length = taps.size();
        const float *h = taps.data();
        while (next < history.size()) {
            const float *x = history.data() + next + 1 - length;
            decimated.push_back(dot(h, x, length));
            next += size_t(factor);
        }
        const size_t drop = next + 1 - length;
        history.erase(history.begin(), history.begin() + qsizetype(drop));
        next -= drop;
    }
    blanker->process(decimated.data(), decimated.size(), work.samples);
    work.addBlanked(blanker->takeStretches());
}

// The audio up to `end` with the steady carriers taken out, as the finder
// knows them from the spectra up to there (so that the copy does not
// depend on how the audio was handed in).
void CwCopier::State::cancel(qint64 end) {
    const double alpha = 1 / (CancelSeconds * rate);
    const size_t to = size_t(std::min(end, work.end()) - work.base);
    for (size_t i = work.clean.size(); i < to; ++i) {
        double y = work.samples[i];
        for (Canceller &c : cancellers) {
            c.amplitude += alpha * (2.0 * double(work.samples[i]) * std::conj(c.rotor) - c.amplitude);
            y -= (c.amplitude * c.rotor).real();
            c.rotor *= c.turn;
        }
        work.clean.push_back(float(y));
    }
    for (Canceller &c : cancellers)
        c.rotor /= std::abs(c.rotor);
}

// The clean audio up to `centre` scaled so that its noise is 1, the gain
// going straight from the last spectrum's to this one's (digital silence
// keeps the last).
void CwCopier::State::normalise(qint64 centre, double variance) {
    // The median of the last three spectra's: one holding what is left of
    // a crash does not move it, and the estimate's own scatter is less.
    if (variance > 0) {
        variances.push_back(variance);
        if (variances.size() > 3)
            variances.pop_front();
    }
    std::vector<double> sorted(variances.begin(), variances.end());
    std::sort(sorted.begin(), sorted.end());
    // A level falling by half or more at once (a receiver's AGC ducking
    // after a crash) is followed at once.
    const double median = sorted.empty() ? 0 : sorted[sorted.size() / 2];
    const double level = variance <= 0 ? 0 : variance < median / 2 ? variance : median;
    const double gain = level > 0 ? 1 / std::sqrt(level) : lastGain > 0 ? lastGain : 1.0;
    if (lastGain == 0)
        lastGain = gain;
    const qint64 from = std::max(normalisedTo, work.base), to = std::min(centre, qint64(work.clean.size()) + work.base);
    for (qint64 i = from; i < to; ++i) {
        const double g = lastGain + (gain - lastGain) * double(i - from) / double(std::max<qint64>(1, to - from));
        work.clean[size_t(i - work.base)] = float(work.clean[size_t(i - work.base)] * g);
    }
    normalisedTo = std::max(normalisedTo, to);
    lastGain = gain;
}

// The steady carriers the finder follows, each taken out from now on.
void CwCopier::State::followCancellers() {
    const std::vector<Carrier> &carriers = finder->carriers();
    auto steady = [&](int id) {
        return std::find_if(carriers.begin(), carriers.end(),
                            [id](const Carrier &c) { return c.id == id && c.steady; });
    };
    cancellers.erase(std::remove_if(cancellers.begin(), cancellers.end(),
                                    [&](const Canceller &c) { return steady(c.id) == carriers.end(); }),
                     cancellers.end());
    for (const Carrier &c : carriers) {
        if (!c.steady)
            continue;
        auto it = std::find_if(cancellers.begin(), cancellers.end(),
                               [&c](const Canceller &k) { return k.id == c.id; });
        if (it == cancellers.end())
            it = cancellers.insert(cancellers.end(), Canceller{c.id, 1, 1, 0});
        it->turn = std::polar(1.0, 2 * M_PI * c.hz / rate);
    }
}

void CwCopier::State::analyse() {
    const int size = finder->fftSize();
    while (fftAt + size <= work.end()) {
        finder->add(work.samples.data() + (fftAt - work.base), fftAt);
        normalise(fftAt + size / 2, finder->spectrumVariance());
        const qint64 centre = finder->centre();
        for (int id : finder->dropped()) {
            auto it = channels.find(id);
            if (it != channels.end()) {
                it->second->stop();
                channels.erase(it);
            }
        }
        followCancellers();
        cancel(fftAt + size);
        std::vector<double> keyed;
        for (const Carrier &c : finder->carriers())
            if (!c.steady && c.sure && c.sureCount >= HeardHops)
                keyed.push_back(c.hz);
        for (const Carrier &c : finder->carriers()) {
            std::vector<double> others;
            for (double hz : keyed)
                if (hz != c.hz)
                    others.push_back(hz);
            auto it = channels.find(c.id);
            if (it == channels.end()) {
                // A channel once the carrier was heard for a second (a peak
                // of the noise seldom is), its drift known: the audio before
                // is mixed along the drift back from here.
                if (c.sureCount < ChannelHops && !c.steady)
                    continue;
                const qint64 from = std::max(work.base, centre - qint64(PreRollSeconds * rate));
                const double fromHz = c.hz - c.driftHzPerSecond * double(centre - from) / rate;
                auto channel = std::make_unique<ToneChannel>(setup, work, c.id, from,
                                                             std::clamp(fromHz, 100.0, rate / 2));
                channel->setLineHandler([this](const ChannelLine &line) { channelLine(line); });
                it = channels.emplace(c.id, std::move(channel)).first;
            }
            it->second->follow(centre, c.hz, c.sure, c.steady, finder->heard() ? 1.0 : 0.0,
                               others);
        }
        fftAt += finder->hop();
        // Every line that starts before anything still to come is handed on.
        double before = double(centre) / rate - PreRollSeconds - setup.delaySeconds;
        for (const auto &[id, channel] : channels)
            before = std::min(before, channel->earliestLine());
        release(before);
    }
    qint64 keepFrom = std::min(fftAt, finder->centre() - qint64(PreRollSeconds * rate));
    for (const auto &[id, channel] : channels)
        keepFrom = std::min(keepFrom, channel->mixAt());
    // Dropped once as much is done with as is still kept, so that each
    // sample is moved about once rather than at every block.
    if (keepFrom > work.base && keepFrom - work.base >= work.end() - keepFrom) {
        work.samples.erase(work.samples.begin(), work.samples.begin() + (keepFrom - work.base));
        work.clean.erase(work.clean.begin(), work.clean.begin() + (keepFrom - work.base));
        work.base = keepFrom;
        while (!work.blanked.empty() && work.blanked.front().second <= work.base)
            work.blanked.pop_front();
    }
}

void CwCopier::State::channelLine(const ChannelLine &line) {
    if (!line.line.beacon && line.line.snrDb < WeakestTextSnrDb && !nearName(line.line.text))
        return;
    // The same transmission found on a keying sideband or a harmonic (the
    // audio clipped): the stronger stays. A weak copy of a frame may
    // differ from the strong one in a few symbols; two beacons that start
    // within a second of each other with nearly the same symbols are none.
    auto same = [&line](const ChannelLine &other) {
        return other.channel != line.channel &&
               std::abs(other.line.start - line.line.start) < SameLineSeconds &&
               (other.line.text == line.line.text ||
                (other.line.beacon && line.line.beacon &&
                 twinFrames(other.line.text, line.line.text)));
    };
    if (std::any_of(released.begin(), released.end(), same))
        return;
    const auto twin = std::find_if(pending.begin(), pending.end(), same);
    if (twin != pending.end()) {
        if (twin->line.snrDb >= line.line.snrDb)
            return;
        pending.erase(twin);
    }
    auto at = std::upper_bound(pending.begin(), pending.end(), line.line.start,
                               [](double start, const ChannelLine &l) { return start < l.line.start; });
    pending.insert(at, line);
}

void CwCopier::State::release(double before) {
    size_t count = 0;
    while (count < pending.size() && pending[count].line.start < before)
        ++count;
    for (size_t i = 0; i < count; ++i) {
        const ChannelLine &l = pending[i];
        ++figures.lines;
        if (l.line.beacon) {
            ++figures.frames;
            beaconSeen = true;
            lastBeaconChannel = l.channel;
        }
        // The summary tells the beacon's carrier once a frame was copied,
        // before that the last line's.
        if (l.line.beacon || !beaconSeen) {
            figures.toneHz = l.line.toneHz;
            figures.driftHzPerSecond = l.driftHzPerSecond;
            figures.wpm = l.wpm;
            figures.snrDb = l.line.snrDb;
        }
        released.push_back(l);
        if (released.size() > 16)
            released.erase(released.begin());
        if (onLine)
            onLine(l.line);
    }
    pending.erase(pending.begin(), pending.begin() + qsizetype(count));
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
    s.blanker->flush(s.work.samples);
    s.work.addBlanked(s.blanker->takeStretches());
    s.analyse();
    s.cancel(s.work.end());
    s.normalise(s.work.end(), 0);
    for (auto &[id, channel] : s.channels)
        channel->finish();
    s.release(std::numeric_limits<double>::infinity());
}

CopyFigures CwCopier::figures() const {
    CopyFigures figures = state_->figures;
    figures.seconds = double(state_->inputSamples) / state_->inputRate;
    // The carrier of the last frame while it is followed, else the one
    // followed longest.
    for (const Carrier &c : state_->finder->carriers()) {
        if (c.id == state_->lastBeaconChannel || figures.trackedHz == 0)
            figures.trackedHz = c.hz;
    }
    return figures;
}
