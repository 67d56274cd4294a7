#include "cwgen/generator.h"

#include "cwgen/morse.h"

#include <QFile>
#include <QRegularExpression>

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace cwgen {

namespace {
constexpr double Pi = 3.14159265358979323846;
constexpr double NoiseBandHz = 2500;

// Separate random streams for timing, noise and fading, so that changing one
// setting leaves the others' numbers as they were.
std::mt19937_64 stream(std::uint64_t seed, std::uint64_t which) {
    std::seed_seq sequence{std::uint32_t(seed), std::uint32_t(seed >> 32), std::uint32_t(which)};
    return std::mt19937_64(sequence);
}

QString settingsError(const Settings &s) {
    if (!(s.sampleRate >= 4000 && s.sampleRate <= 384000))
        return QStringLiteral("the sample rate must be 4000 to 384000 Hz");
    if (s.channels < 1 || s.channels > 16)
        return QStringLiteral("the channel count must be 1 to 16");
    if (s.onlyChannel < -1 || s.onlyChannel >= s.channels)
        return QStringLiteral("the channel the recording is on must be one of the channels");
    if (!(s.wpm >= 1 && s.wpm <= 100))
        return QStringLiteral("the speed must be 1 to 100 WPM");
    if (!(s.toneHz > 0 && s.toneHz < s.sampleRate / 2))
        return QStringLiteral("the tone must lie between 0 Hz and half the sample rate");
    if (std::isnan(s.snrDb) || s.snrDb == -std::numeric_limits<double>::infinity())
        return QStringLiteral("the SNR must be a number of dB");
    if (!std::isfinite(s.driftHzPerSecond))
        return QStringLiteral("the drift must be a number of Hz/s");
    if (!(s.fadingSeconds >= 0 && std::isfinite(s.fadingSeconds)))
        return QStringLiteral("the fading period must be 0 (none) or more seconds");
    if (!(s.jitter >= 0 && s.jitter <= 0.5))
        return QStringLiteral("the jitter must be 0 to 0.5");
    if (!(s.gapSeconds >= 0 && s.gapSeconds <= 3600))
        return QStringLiteral("the gap must be 0 to 3600 seconds");
    if (!(s.edgeSeconds >= 0 && s.edgeSeconds <= 0.1))
        return QStringLiteral("the key edges must be 0 to 0.1 seconds");
    if (!(s.amplitude >= 0 && s.amplitude <= 1))
        return QStringLiteral("the amplitude must be 0 (automatic) to 1");
    if (!(std::abs(s.dopplerHz) <= 3000 && s.dopplerSeconds >= 0 && s.dopplerSeconds <= 36000))
        return QStringLiteral("the Doppler must be at most 3000 Hz, over 0 to 36000 seconds");
    if (!(std::abs(s.passDriftHzPerSecond) <= 1000))
        return QStringLiteral("the drift over the recording must be at most 1000 Hz/s");
    if (!(s.spinNullsPerSecond >= 0 && s.spinNullsPerSecond <= 50 && s.spinDepthDb > 0
          && s.spinDepthDb <= 60))
        return QStringLiteral("spin fading takes 0 to 50 nulls a second, 0 to 60 dB deep");
    if (!(s.crashesPerSecond >= 0 && s.crashesPerSecond <= 1000 && std::abs(s.crashDb) <= 80))
        return QStringLiteral("static crashes take 0 to 1000 a second, -80 to 80 dB");
    if (s.crashesPerSecond > 0 && !std::isfinite(s.snrDb))
        return QStringLiteral("static crashes are set against the noise: give an SNR");
    auto inAudio = [&s](double hz) { return hz > 0 && hz < s.sampleRate / 2; };
    if (!s.otherText.trimmed().isEmpty()
        && !(s.otherWpm >= 1 && s.otherWpm <= 100 && inAudio(s.toneHz + s.otherOffsetHz)
             && std::abs(s.otherDb) <= 60))
        return QStringLiteral("the other station needs 1 to 100 WPM, a tone between 0 Hz and "
                              "half the sample rate and -60 to 60 dB");
    if (s.carrier && !(inAudio(s.toneHz + s.carrierOffsetHz) && std::abs(s.carrierDb) <= 60))
        return QStringLiteral("the carrier needs a tone between 0 Hz and half the sample rate "
                              "and -60 to 60 dB");
    if ((s.passbandLowHz != 0 || s.passbandHighHz != 0)
        && !(s.passbandLowHz >= 0 && s.passbandLowHz < s.passbandHighHz
             && s.passbandHighHz <= 0.49 * s.sampleRate))
        return QStringLiteral("the passband must run from 0 Hz or more up to 0.49 times the "
                              "sample rate");
    if (!(s.agcAttackSeconds >= 0 && s.agcAttackSeconds <= 1 && s.agcDecaySeconds > 0
          && s.agcDecaySeconds <= 60))
        return QStringLiteral(
            "the AGC takes 0 (none) to 1 s to charge and up to 60 s to discharge");
    if (!(s.clipLevel >= 0 && s.clipLevel <= 1))
        return QStringLiteral("the clipping level must be 0 (none) to 1");
    if (!(s.silenceSeconds >= 0 && s.silenceSeconds <= 3600))
        return QStringLiteral("the digital silence must be 0 to 3600 seconds");
    return QString();
}

// The written units of a word: single characters and <prosigns>.
bool splitWord(const QString &word, QStringList *units, QString *error) {
    for (qsizetype i = 0; i < word.size(); ++i) {
        if (word.at(i) == QLatin1Char('<')) {
            const qsizetype close = word.indexOf(QLatin1Char('>'), i);
            if (close < 0) {
                *error = QStringLiteral("a prosign without its closing '>' in \"%1\"").arg(word);
                return false;
            }
            units->append(word.mid(i, close - i + 1));
            i = close;
        } else {
            units->append(word.mid(i, 1));
        }
    }
    return true;
}

double raisedCosine(double x) { // 0 at x = 0, 1 at x = 1
    return 0.5 - 0.5 * std::cos(Pi * x);
}

// A key-down stretch from start to end at a time: 0 to 1 with raised-cosine
// edges lasting `edge`, centred on start and end.
double keyShape(double t, double start, double end, double edge) {
    const double half = edge / 2;
    if (t <= start - half)
        return 0;
    if (half > 0 && t < start + half)
        return raisedCosine((t - start + half) / edge);
    if (half > 0 && t > end - half)
        return raisedCosine((end + half - t) / edge);
    return 1;
}

// One round of a station sending a text over and over: a word gap, then the
// text at its PARIS lengths. Its key-down stretches and the round's length.
bool keyRound(const QString &text, double dot, std::vector<Element> *on, double *length,
              QString *error) {
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList words = text.toUpper().split(blanks, Qt::SkipEmptyParts);
    double t = 0;
    for (const QString &word : words) {
        t += 7 * dot;
        QStringList units;
        if (!splitWord(word, &units, error))
            return false;
        for (qsizetype u = 0; u < units.size(); ++u) {
            const QString code = morseCodeOf(units.at(u));
            if (code.isEmpty()) {
                *error = QStringLiteral("no Morse code for \"%1\" in the other station's text")
                             .arg(units.at(u));
                return false;
            }
            if (u > 0)
                t += 3 * dot;
            for (qsizetype e = 0; e < code.size(); ++e) {
                if (e > 0)
                    t += dot;
                const double down = code.at(e) == QLatin1Char('-') ? 3 * dot : dot;
                on->push_back({t, t + down, true});
                t += down;
            }
        }
    }
    *length = t;
    return true;
}

// 4-pole Butterworth high-pass or low-pass sections at hz.
template <typename Biquad>
void addButterworth(std::vector<Biquad> *sections, double hz, double fs, bool highPass) {
    const double w = 2 * Pi * hz / fs;
    for (int k : {1, 3}) {
        const double q = 1 / (2 * std::cos(k * Pi / 8));
        const double alpha = std::sin(w) / (2 * q), a0 = 1 + alpha;
        const double gain = (highPass ? 1 + std::cos(w) : 1 - std::cos(w)) / 2 / a0;
        Biquad b;
        b.b0 = gain;
        b.b1 = highPass ? -2 * gain : 2 * gain;
        b.b2 = gain;
        b.a1 = -2 * std::cos(w) / a0;
        b.a2 = (1 - alpha) / a0;
        sections->push_back(b);
    }
}

constexpr double MaxAgcGain = 1e5; // 100 dB
} // namespace

double Generator::Biquad::filter(double x) {
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
}

bool Generator::plan(const Settings &settings, const QStringList &texts) {
    error_ = settingsError(settings);
    if (!error_.isEmpty())
        return false;
    settings_ = settings;
    transmissions_.clear();
    onElements_.clear();
    onTransmission_.clear();
    fading_.clear();

    const double dot = dotSeconds();
    std::mt19937_64 timing = stream(settings.seed, 1);
    std::normal_distribution<double> normal;
    auto length = [&](double dots) {
        if (settings.jitter == 0)
            return dots * dot;
        const double g = std::clamp(normal(timing), -2.0, 2.0);
        return dots * dot * std::max(0.25, 1 + settings.jitter * g);
    };

    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    double t = settings.silenceSeconds + settings.gapSeconds;
    double shortest = std::numeric_limits<double>::infinity();
    for (qsizetype textIndex = 0; textIndex < texts.size(); ++textIndex) {
        const QStringList words = texts.at(textIndex).toUpper().split(blanks, Qt::SkipEmptyParts);
        if (words.isEmpty()) {
            error_ = QStringLiteral("text %1 is empty").arg(textIndex + 1);
            return false;
        }
        Transmission tx;
        tx.text = words.join(QLatin1Char(' '));
        tx.start = t;
        auto add = [&](double duration, bool on) {
            tx.elements.push_back({t, t + duration, on});
            shortest = std::min(shortest, duration);
            t += duration;
        };
        for (qsizetype w = 0; w < words.size(); ++w) {
            QStringList units;
            if (!splitWord(words.at(w), &units, &error_))
                return false;
            for (qsizetype u = 0; u < units.size(); ++u) {
                Keyed keyed;
                keyed.text = units.at(u);
                keyed.code = morseCodeOf(keyed.text);
                if (keyed.code.isEmpty()) {
                    error_ = QStringLiteral("no Morse code for \"%1\" in text %2")
                                 .arg(keyed.text)
                                 .arg(textIndex + 1);
                    return false;
                }
                keyed.start = t;
                keyed.firstElement = int(tx.elements.size());
                for (qsizetype e = 0; e < keyed.code.size(); ++e) {
                    if (e > 0)
                        add(length(1), false);
                    add(length(keyed.code.at(e) == QLatin1Char('-') ? 3 : 1), true);
                }
                keyed.end = t;
                keyed.elementCount = int(tx.elements.size()) - keyed.firstElement;
                tx.characters.push_back(keyed);
                if (u + 1 < units.size())
                    add(length(3), false);
            }
            if (w + 1 < words.size())
                add(length(7), false);
        }
        tx.end = t;
        for (const Element &element : tx.elements) {
            if (element.on) {
                onElements_.push_back(element);
                onTransmission_.push_back(int(transmissions_.size()));
            }
        }
        transmissions_.push_back(std::move(tx));
        t += settings.gapSeconds;
    }
    contentStart_ = settings.silenceSeconds;
    contentEnd_ = t;
    firstFrame_ = std::llround(settings.silenceSeconds * settings.sampleRate);
    endFrame_ = std::int64_t(std::ceil(t * settings.sampleRate));
    frameCount_ = endFrame_ + firstFrame_;
    // The edges never overlap: each takes at most half the shortest stretch.
    edge_ = std::min(settings.edgeSeconds, shortest / 2);

    otherOn_.clear();
    if (!settings.otherText.trimmed().isEmpty()) {
        const double dot = 1.2 / settings.otherWpm;
        if (!keyRound(settings.otherText, dot, &otherOn_, &otherPeriod_, &error_))
            return false;
        otherEdge_ = std::min(settings.edgeSeconds, dot / 2);
    }
    passband_.clear();
    if (settings.passbandLowHz > 0)
        addButterworth(&passband_, settings.passbandLowHz, settings.sampleRate, true);
    if (settings.passbandHighHz > 0)
        addButterworth(&passband_, settings.passbandHighHz, settings.sampleRate, false);
    bandLow_ = std::max(200.0, settings.passbandLowHz);
    bandHigh_ = std::min(3000.0, 0.45 * settings.sampleRate);
    if (settings.passbandHighHz > 0)
        bandHigh_ = std::min(bandHigh_, settings.passbandHighHz);
    if ((settings.dopplerHz != 0 || settings.passDriftHzPerSecond != 0)
        && !(settings.toneHz >= bandLow_ && settings.toneHz <= bandHigh_)) {
        error_ = QStringLiteral("with Doppler the tone must lie in the band from %1 to %2 Hz")
                     .arg(bandLow_)
                     .arg(bandHigh_);
        return false;
    }
    spinFloor_ = std::pow(10.0, -settings.spinDepthDb / 10);
    spinMean_ = settings.spinNullsPerSecond > 0 ? (1 + spinFloor_) / 2 : 1;
    std::mt19937_64 spin = stream(settings.seed, 4);
    spinPhase_ = std::uniform_real_distribution<double>(0, Pi)(spin);
    receiver_ = !otherOn_.empty() || settings.carrier || settings.crashesPerSecond > 0
                || !passband_.empty() || settings.agcAttackSeconds > 0 || settings.clipLevel > 0
                || settings.silenceSeconds > 0;

    // SNR = (A^2 / 2) / (N0 * 2500) and sigma^2 = N0 * fs / 2.
    const bool noisy = std::isfinite(settings.snrDb);
    const double snr = std::pow(10.0, settings.snrDb / 10);
    const double sigmaPerA = noisy ? std::sqrt(settings.sampleRate / (4 * NoiseBandHz * snr)) : 0;
    if (settings.amplitude > 0) {
        amplitude_ = settings.amplitude;
    } else {
        // Room for fading peaks (3 times the average amplitude is reached a
        // ten-thousandth of the time) and for noise peaks of 5 sigma.
        // Spin fading's peaks are 1 / sqrt(its mean power); crashes add to
        // the noise, the other station and the carrier to the tone.
        double signalPeak = settings.fadingSeconds > 0 ? 3.0 : 1.0;
        double noisePeak = 5 * sigmaPerA;
        if (settings.spinNullsPerSecond > 0)
            signalPeak /= std::sqrt(spinMean_);
        if (settings.crashesPerSecond > 0)
            noisePeak *= std::sqrt(1 + std::pow(10.0, settings.crashDb / 10));
        double peak = signalPeak + noisePeak;
        if (!otherOn_.empty())
            peak += std::pow(10.0, settings.otherDb / 20);
        if (settings.carrier)
            peak += std::pow(10.0, settings.carrierDb / 20);
        amplitude_ = std::min(0.5, 0.95 / peak);
    }
    noiseSigma_ = sigmaPerA * amplitude_;
    otherAmplitude_ = amplitude_ * std::pow(10.0, settings.otherDb / 20);
    carrierAmplitude_ = amplitude_ * std::pow(10.0, settings.carrierDb / 20);
    crashSigma_ = noiseSigma_ * std::pow(10.0, settings.crashDb / 20);
    agcCharge_ = 0;
    agcKeep_ = 1;
    agcStart_ = 0;
    if (settings.agcAttackSeconds > 0) {
        agcCharge_ = 1 - std::exp(-1 / (settings.agcAttackSeconds * settings.sampleRate));
        agcKeep_ = std::exp(-1 / (settings.agcDecaySeconds * settings.sampleRate));
        // The receiver was on before the recording began: its detector
        // starts near where the noise in the passband holds it, or at the
        // tone's peak without noise.
        double bandSigma = noiseSigma_;
        if (!passband_.empty())
            bandSigma *= std::sqrt(
                ((settings.passbandHighHz > 0 ? settings.passbandHighHz : settings.sampleRate / 2)
                 - settings.passbandLowHz)
                / (settings.sampleRate / 2));
        agcStart_ = noisy ? 1.7 * bandSigma : amplitude_;
    }

    if (settings.fadingSeconds > 0) {
        // Complex white Gaussian noise through a Gaussian low-pass whose
        // spectrum has a standard deviation of 1 / period (the Gaussian
        // Doppler spectrum of ionospheric channel models); the magnitude is
        // Rayleigh distributed. The filter's taps have energy 1, so the
        // power averages 1 and the stated SNR is the average. It is made at
        // a slow rate, about 11 points per filter sigma, and interpolated.
        const double sigmaSeconds = settings.fadingSeconds / (2 * std::sqrt(2.0) * Pi);
        fadingRate_ = 100 / std::max(1.0, settings.fadingSeconds);
        const double sigmaPoints = sigmaSeconds * fadingRate_;
        const int reach = int(std::ceil(4 * sigmaPoints));
        std::vector<double> taps(std::size_t(2 * reach + 1));
        double energy = 0;
        for (int k = -reach; k <= reach; ++k) {
            const double h = std::exp(-0.5 * (k / sigmaPoints) * (k / sigmaPoints));
            taps[std::size_t(k + reach)] = h;
            energy += h * h;
        }
        for (double &h : taps)
            h /= std::sqrt(energy);
        std::mt19937_64 random = stream(settings.seed, 3);
        std::normal_distribution<double> half(0, std::sqrt(0.5));
        const std::size_t count = std::size_t(std::ceil(t * fadingRate_)) + 2;
        std::vector<std::complex<double>> white(count + taps.size());
        for (std::complex<double> &w : white)
            w = {half(random), half(random)};
        fading_.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            std::complex<double> y;
            for (std::size_t k = 0; k < taps.size(); ++k)
                y += taps[k] * white[i + k];
            fading_[i] = std::complex<float>(y);
        }
    }
    rewind();
    return true;
}

double Generator::frequencyAt(double seconds) const {
    auto tx = std::lower_bound(transmissions_.begin(), transmissions_.end(), seconds,
                               [](const Transmission &x, double s) { return x.end < s; });
    if (tx == transmissions_.end()) {
        if (transmissions_.empty())
            return toneAt(seconds, nullptr);
        --tx;
    }
    return toneAt(seconds, &*tx);
}

double Generator::toneAt(double t, const Transmission *tx) const {
    double f = settings_.toneHz;
    if (settings_.driftHzPerSecond != 0 && tx)
        f += settings_.driftHzPerSecond * std::max(0.0, t - tx->start);
    if (settings_.dopplerHz == 0 && settings_.passDriftHzPerSecond == 0)
        return f;
    f += settings_.passDriftHzPerSecond * (t - contentStart_);
    if (settings_.dopplerHz != 0) {
        double middle = (contentStart_ + contentEnd_) / 2, span = contentEnd_ - contentStart_;
        if (settings_.dopplerPerTransmission && tx) {
            middle = (tx->start + tx->end) / 2;
            span = tx->end - tx->start;
        }
        const double tau = settings_.dopplerSeconds > 0 ? settings_.dopplerSeconds : span / 4;
        const double u = (t - middle) / tau;
        f -= settings_.dopplerHz * u / std::sqrt(1 + u * u);
    }
    // Turned back at the band's edges, as often as it takes.
    const double width = bandHigh_ - bandLow_;
    double x = std::fmod(f - bandLow_, 2 * width);
    if (x < 0)
        x += 2 * width;
    return bandLow_ + (x > width ? 2 * width - x : x);
}

double Generator::gainAt(double seconds) const {
    double gain = 1;
    if (!fading_.empty()) {
        const double x = std::clamp(seconds * fadingRate_, 0.0, double(fading_.size() - 2));
        const std::size_t i = std::size_t(x);
        const float f = float(x - double(i));
        gain = std::abs(fading_[i] * (1 - f) + fading_[i + 1] * f);
    }
    if (settings_.spinNullsPerSecond > 0) {
        const double c = std::cos(Pi * settings_.spinNullsPerSecond * seconds + spinPhase_);
        gain *= std::sqrt((spinFloor_ + (1 - spinFloor_) * c * c) / spinMean_);
    }
    return gain;
}

double Generator::spinPhaseAt(double seconds) const {
    if (!settings_.spinTurnsPhase || settings_.spinNullsPerSecond <= 0)
        return 0;
    const double x = Pi * settings_.spinNullsPerSecond * seconds + spinPhase_;
    return std::atan2(std::sqrt(spinFloor_) * std::sin(x), std::cos(x));
}

void Generator::rewind() {
    position_ = 0;
    nextOn_ = 0;
    phase_ = 0;
    noiseRandom_ = stream(settings_.seed, 2);
    normal_.reset();
    otherNext_ = 0;
    otherRound_ = contentStart_;
    otherPhase_ = 0;
    carrierPhase_ = 0;
    // Their own streams: crashes leave the noise as it was.
    crashTiming_ = stream(settings_.seed, 5);
    crashNoise_ = stream(settings_.seed, 6);
    crashNormal_.reset();
    crashes_.clear();
    if (settings_.crashesPerSecond > 0)
        nextCrash_ = contentStart_ + std::exponential_distribution<double>(
                                         settings_.crashesPerSecond)(crashTiming_);
    for (Biquad &section : passband_)
        section.x1 = section.x2 = section.y1 = section.y2 = 0;
    agcEnvelope_ = agcStart_;
}

double Generator::envelopeAt(double t) {
    const double half = edge_ / 2;
    while (nextOn_ < onElements_.size() && onElements_[nextOn_].end + half <= t)
        ++nextOn_;
    if (nextOn_ == onElements_.size())
        return 0;
    return keyShape(t, onElements_[nextOn_].start, onElements_[nextOn_].end, edge_);
}

double Generator::otherEnvelopeAt(double t) {
    const double half = otherEdge_ / 2;
    while (otherRound_ + otherOn_[otherNext_].end + half <= t) {
        if (++otherNext_ == otherOn_.size()) {
            otherNext_ = 0;
            otherRound_ += otherPeriod_;
        }
    }
    const Element &on = otherOn_[otherNext_];
    return keyShape(t, otherRound_ + on.start, otherRound_ + on.end, otherEdge_);
}

double Generator::crashAt(double t) {
    std::uniform_real_distribution<double> decay(0.001, 0.004);
    std::exponential_distribution<double> wait(settings_.crashesPerSecond);
    while (nextCrash_ <= t) {
        crashes_.push_back({nextCrash_, decay(crashTiming_)});
        nextCrash_ += wait(crashTiming_);
    }
    // Independent bursts add their powers; one gone 10 time constants (-87
    // dB) is dropped.
    const auto gone = [t](const Crash &c) { return t - c.start > 10 * c.decaySeconds; };
    crashes_.erase(std::remove_if(crashes_.begin(), crashes_.end(), gone), crashes_.end());
    double power = 0;
    for (const Crash &c : crashes_)
        power += std::exp(-2 * (t - c.start) / c.decaySeconds);
    return power > 0 ? crashSigma_ * std::sqrt(power) * crashNormal_(crashNoise_) : 0;
}

// What else reaches the receiver, then the receiver: passband, AGC, clipping.
double Generator::receive(double value, double t) {
    const double step = 2 * Pi / settings_.sampleRate;
    if (!otherOn_.empty()) {
        const double envelope = otherEnvelopeAt(t);
        if (envelope > 0)
            value += otherAmplitude_ * envelope * std::sin(otherPhase_);
        otherPhase_ += step * (settings_.toneHz + settings_.otherOffsetHz);
        otherPhase_ = std::fmod(otherPhase_, 2 * Pi);
    }
    if (settings_.carrier) {
        value += carrierAmplitude_ * std::sin(carrierPhase_);
        carrierPhase_ += step * (settings_.toneHz + settings_.carrierOffsetHz);
        carrierPhase_ = std::fmod(carrierPhase_, 2 * Pi);
    }
    if (settings_.crashesPerSecond > 0)
        value += crashAt(t);
    for (Biquad &section : passband_)
        value = section.filter(value);
    if (settings_.agcAttackSeconds > 0) {
        const double level = std::abs(value);
        if (level > agcEnvelope_)
            agcEnvelope_ += (level - agcEnvelope_) * agcCharge_;
        agcEnvelope_ *= agcKeep_;
        value *= AgcLevel / std::max(agcEnvelope_, AgcLevel / MaxAgcGain);
    }
    if (settings_.clipLevel > 0)
        value = std::clamp(value, -settings_.clipLevel, settings_.clipLevel);
    return value;
}

std::int64_t Generator::render(float *samples, std::int64_t count) {
    count = std::max<std::int64_t>(0, std::min(count, frameCount_ - position_));
    const double fs = settings_.sampleRate;
    for (std::int64_t i = 0; i < count; ++i, ++position_) {
        if (receiver_ && (position_ < firstFrame_ || position_ >= endFrame_)) {
            samples[i] = 0;
            continue;
        }
        const double t = double(position_) / fs;
        const double envelope = envelopeAt(t);
        const Transmission *tx = nullptr;
        if (nextOn_ < onElements_.size())
            tx = &transmissions_[std::size_t(onTransmission_[nextOn_])];
        else if (!transmissions_.empty())
            tx = &transmissions_.back(); // the key stays up: the tone no longer matters
        const double f = toneAt(t, tx);
        double value = 0;
        if (envelope > 0)
            value = amplitude_ * gainAt(t) * envelope * std::sin(phase_ + spinPhaseAt(t));
        phase_ += 2 * Pi * f / fs;
        if (phase_ > 2 * Pi)
            phase_ -= 2 * Pi;
        if (noiseSigma_ > 0)
            value += noiseSigma_ * normal_(noiseRandom_);
        if (receiver_)
            value = receive(value, t);
        samples[i] = float(value);
    }
    return count;
}

std::vector<float> Generator::samples() {
    rewind();
    std::vector<float> all(static_cast<std::size_t>(frameCount_));
    render(all.data(), frameCount_);
    return all;
}

bool writeFile(Generator &generator, const QString &path, QString *error, std::int64_t *clipped) {
    const QString suffix = path.section(QLatin1Char('.'), -1).toLower();
    int format = 0;
    if (suffix == QLatin1String("wav"))
        format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    else if (suffix == QLatin1String("flac"))
        format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    else if (suffix == QLatin1String("ogg"))
        format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    if (format == 0 || !path.contains(QLatin1Char('.'))) {
        *error = QStringLiteral("%1: the name must end in .wav, .flac or .ogg").arg(path);
        return false;
    }
    const int channels = generator.settings().channels, only = generator.settings().onlyChannel;
    SF_INFO info{};
    info.samplerate = int(std::lround(generator.settings().sampleRate));
    info.channels = channels;
    info.format = format;
    const QByteArray name = QFile::encodeName(path);
    SNDFILE *file = sf_open(name.constData(), SFM_WRITE, &info);
    if (!file) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(sf_strerror(nullptr)));
        return false;
    }
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);

    generator.rewind();
    constexpr std::int64_t Block = 16384;
    std::vector<float> mono(Block);
    std::vector<float> interleaved(std::size_t(Block * channels));
    QString failure;
    std::int64_t beyond = 0;
    for (;;) {
        const std::int64_t got = generator.render(mono.data(), Block);
        if (got == 0)
            break;
        for (std::int64_t i = 0; i < got; ++i) {
            beyond += std::abs(mono[std::size_t(i)]) > 1;
            for (int c = 0; c < channels; ++c)
                interleaved[std::size_t(i * channels + c)] = only < 0 || c == only ? mono[std::size_t(i)] : 0.0f;
        }
        if (sf_writef_float(file, interleaved.data(), got) != got) {
            failure = QString::fromLocal8Bit(sf_strerror(file));
            break;
        }
    }
    if (sf_close(file) != 0 && failure.isEmpty())
        failure = QStringLiteral("closing the file failed");
    if (clipped)
        *clipped = beyond;
    if (!failure.isEmpty()) {
        QFile::remove(path);
        *error = QStringLiteral("cannot write %1: %2 (nothing kept)").arg(path, failure);
        return false;
    }
    return true;
}

} // namespace cwgen
