#include "idealdecoder.h"

#include "cwgen/morse.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr double Pi = 3.14159265358979323846;
constexpr char AnyCharacter[] = "24678ACDFGJLPQYZBEHIKMNORSTUVWX01359";
} // namespace

IdealDecoder::IdealDecoder(const cwgen::Generator &generator) : generator_(generator) {}

QString IdealDecoder::frameSymbols(const cwgen::Transmission &frame, const float *samples,
                                   std::int64_t firstSample, std::int64_t count,
                                   std::vector<double> *posterior) {
    const cwgen::Settings &settings = generator_.settings();
    const double fs = settings.sampleRate;
    const double amplitude = generator_.amplitude();
    const double sigma2 = std::max(generator_.noiseSigma() * generator_.noiseSigma(), 1e-30);

    // Move the tone to 0 Hz with the known frequency track (and the spin's
    // turns of the phase).
    sums_.assign(std::size_t(count) + 1, {});
    double phase = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        const double t = double(firstSample + i) / fs;
        sums_[std::size_t(i) + 1] =
            sums_[std::size_t(i)] + double(samples[i]) * std::polar(1.0, -phase - generator_.spinPhaseAt(t));
        phase = std::fmod(phase + 2 * Pi * generator_.frequencyAt(t) / fs, 2 * Pi);
    }
    auto sampleAt = [&](double t) {
        return std::clamp<std::int64_t>(std::int64_t(std::lround(t * fs)) - firstSample, 0, count);
    };
    // The carrier's phase, from every key down of the transmission.
    std::complex<double> reference;
    for (const cwgen::Element &e : frame.elements)
        if (e.on)
            reference += generator_.gainAt((e.start + e.end) / 2)
                         * (sums_[std::size_t(sampleAt(e.end))] - sums_[std::size_t(sampleAt(e.start))]);
    const std::complex<double> turn = std::polar(1.0, -std::arg(reference));

    // The likelihood of a key-down stretch from t0 to t1.
    auto keyDown = [&](double t0, double t1) {
        const std::int64_t n0 = sampleAt(t0);
        const std::int64_t n1 = sampleAt(t1);
        const double n = double(n1 - n0);
        if (n <= 0)
            return 0.0;
        const double z = ((sums_[std::size_t(n1)] - sums_[std::size_t(n0)]) * turn).real();
        const double mu = generator_.gainAt((t0 + t1) / 2) * amplitude * n / 2;
        const double s2 = sigma2 * n;
        return (2 * mu * z - mu * mu) / s2;
    };

    // Without jitter every edge sits where the stretched keying puts it.
    // Hand keying moves each edge: then every inner edge may lie up to
    // `reach` dots either side of that place, in eighths of a dot, and the
    // most likely placing counts, the likelihood of each length as the
    // generator's jitter makes it included.
    const double dot = generator_.dotSeconds();
    const int reach = settings.jitter > 0 ? int(std::ceil(8 * std::min(1.5, 8 * settings.jitter))) : 0;
    const int places = 2 * reach + 1;
    const double step = dot / 8;
    std::vector<double> best(static_cast<std::size_t>(places));
    std::vector<double> next(best.size());

    QString symbols;
    if (posterior)
        posterior->clear();
    std::vector<double> scores;
    const std::size_t first = frame.characters.size() - 20;
    for (std::size_t k = first; k < frame.characters.size(); ++k) {
        const cwgen::Keyed &keyed = frame.characters[k];
        double bestScore = -std::numeric_limits<double>::infinity();
        char chosen = '?';
        scores.clear();
        // Slots 10 to 12 may carry any letter or digit, the others a symbol.
        const bool free = k - first >= 9 && k - first <= 11;
        for (const char *symbol = free ? AnyCharacter : cwgen::FrameSymbols; *symbol; ++symbol) {
            // The stretches of the symbol's keying: on, off, on, ... in dots.
            std::vector<double> lengths;
            for (QChar c : cwgen::morseCode(QLatin1Char(*symbol))) {
                if (!lengths.empty())
                    lengths.push_back(1);
                lengths.push_back(c == QLatin1Char('-') ? 3 : 1);
            }
            double dots = 0;
            for (double l : lengths)
                dots += l;
            const double scale = (keyed.end - keyed.start) / dots;
            // best[j]: the best score of the stretches before edge i when
            // edge i lies at its place plus (j - reach) steps.
            std::fill(best.begin(), best.end(), -std::numeric_limits<double>::infinity());
            best[std::size_t(reach)] = 0; // the first edge is known
            double at = 0;
            for (std::size_t i = 0; i < lengths.size(); ++i) {
                const double from = keyed.start + at * scale;
                at += lengths[i];
                const bool last = i + 1 == lengths.size();
                const double to = keyed.start + at * scale;
                std::fill(next.begin(), next.end(), -std::numeric_limits<double>::infinity());
                for (int j = 0; j < places; ++j) {
                    if (last && j != reach)
                        continue; // the last edge is known
                    const double t1 = last ? keyed.end : to + (j - reach) * step;
                    for (int jj = 0; jj < places; ++jj) {
                        if (best[std::size_t(jj)] == -std::numeric_limits<double>::infinity())
                            continue;
                        const double t0 = i == 0 ? keyed.start : from + (jj - reach) * step;
                        double prior = 0;
                        if (reach > 0) {
                            // How likely the generator keys this length:
                            // 1 + jitter * g with g normal, clamped to +-2
                            // (plus the grid's step).
                            const double nominal = lengths[i] * dot;
                            const double g = ((t1 - t0) / nominal - 1) / settings.jitter;
                            if (std::abs(g) > 2 + step / nominal / settings.jitter)
                                continue;
                            prior = -g * g / 2;
                        } else if (t1 <= t0) {
                            continue;
                        }
                        const double score = best[std::size_t(jj)] + prior
                                             + (i % 2 == 0 ? keyDown(t0, t1) : 0.0);
                        next[std::size_t(j)] = std::max(next[std::size_t(j)], score);
                    }
                }
                std::swap(best, next);
            }
            scores.push_back(best[std::size_t(reach)]);
            if (best[std::size_t(reach)] > bestScore) {
                bestScore = best[std::size_t(reach)];
                chosen = *symbol;
            }
        }
        symbols += QLatin1Char(chosen);
        if (posterior) {
            double sum = 0;
            for (double v : scores)
                sum += std::exp(v - bestScore);
            posterior->push_back(1 / sum);
        }
    }
    return symbols;
}
