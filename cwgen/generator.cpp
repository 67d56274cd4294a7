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
} // namespace

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
    double t = settings.gapSeconds;
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
    frameCount_ = std::int64_t(std::ceil(t * settings.sampleRate));
    // The edges never overlap: each takes at most half the shortest stretch.
    edge_ = std::min(settings.edgeSeconds, shortest / 2);

    // SNR = (A^2 / 2) / (N0 * 2500) and sigma^2 = N0 * fs / 2.
    const bool noisy = std::isfinite(settings.snrDb);
    const double snr = std::pow(10.0, settings.snrDb / 10);
    const double sigmaPerA = noisy ? std::sqrt(settings.sampleRate / (4 * NoiseBandHz * snr)) : 0;
    if (settings.amplitude > 0) {
        amplitude_ = settings.amplitude;
    } else {
        // Room for fading peaks (3 times the average amplitude is reached a
        // ten-thousandth of the time) and for noise peaks of 5 sigma.
        const double peak = (settings.fadingSeconds > 0 ? 3.0 : 1.0) + 5 * sigmaPerA;
        amplitude_ = std::min(0.5, 0.95 / peak);
    }
    noiseSigma_ = sigmaPerA * amplitude_;

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
            return settings_.toneHz;
        --tx;
    }
    return settings_.toneHz + settings_.driftHzPerSecond * std::max(0.0, seconds - tx->start);
}

double Generator::gainAt(double seconds) const {
    if (fading_.empty())
        return 1;
    const double x = std::clamp(seconds * fadingRate_, 0.0, double(fading_.size() - 2));
    const std::size_t i = std::size_t(x);
    const float f = float(x - double(i));
    return std::abs(fading_[i] * (1 - f) + fading_[i + 1] * f);
}

void Generator::rewind() {
    position_ = 0;
    nextOn_ = 0;
    phase_ = 0;
    noiseRandom_ = stream(settings_.seed, 2);
    normal_.reset();
}

double Generator::envelopeAt(double t) {
    const double half = edge_ / 2;
    while (nextOn_ < onElements_.size() && onElements_[nextOn_].end + half <= t)
        ++nextOn_;
    if (nextOn_ == onElements_.size())
        return 0;
    const Element &on = onElements_[nextOn_];
    if (t <= on.start - half)
        return 0;
    if (half > 0 && t < on.start + half)
        return raisedCosine((t - on.start + half) / edge_);
    if (half > 0 && t > on.end - half)
        return raisedCosine((on.end + half - t) / edge_);
    return 1;
}

std::int64_t Generator::render(float *samples, std::int64_t count) {
    count = std::max<std::int64_t>(0, std::min(count, frameCount_ - position_));
    const double fs = settings_.sampleRate;
    for (std::int64_t i = 0; i < count; ++i, ++position_) {
        const double t = double(position_) / fs;
        const double envelope = envelopeAt(t);
        double f = settings_.toneHz;
        if (settings_.driftHzPerSecond != 0 && nextOn_ < onElements_.size()) {
            const Transmission &tx = transmissions_[std::size_t(onTransmission_[nextOn_])];
            f += settings_.driftHzPerSecond * std::max(0.0, t - tx.start);
        }
        double value = 0;
        if (envelope > 0)
            value = amplitude_ * gainAt(t) * envelope * std::sin(phase_);
        phase_ += 2 * Pi * f / fs;
        if (phase_ > 2 * Pi)
            phase_ -= 2 * Pi;
        if (noiseSigma_ > 0)
            value += noiseSigma_ * normal_(noiseRandom_);
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
