#include "cwaudio/linecopier.h"

#include "beaconslots.h"
#include "decoder/linescanner.h"
#include "lattice.h"
#include "segmentation.h"
#include "tickevidence.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

// A transmission is copied on a lattice of ticks, a sixth of a dot each
// (with a quarter, the key edges falling between ticks cost about 1 dB).
// Every tick gets the log-likelihood ratio of key down against key up, from
// its baseband sum projected on the carrier phase of its neighbourhood, so
// the evidence of a whole element adds up coherently. A segmental Viterbi
// pass over the ticks (marks of about 1 or 3 dots, gaps of 1, 3, 7 or more)
// gives the speed, the timing and the generic text; a forward-backward pass
// restricted to the beacon's 16 symbols gives each symbol's posterior.

using namespace linecopier;

namespace {

// The amplitude through fading: the ticks either side it is taken from.
constexpr double AmplitudeSpanSeconds = 0.25;
// The span it is followed over through a spin's short nulls, and how much
// more it must vary over that span than over the long one to be used.
constexpr double NullSpanSeconds = 0.1;
constexpr double QuickFading = 1.3;
// Spin fading told in a weaker signal: the least SNR, and the least depth
// of the power's sinusoid (a steady signal's noise gives a tenth or so).
constexpr double WeakestSpinSnrDb = -12, WeakSpinDepth = 0.6;
// A symbol read there is written only when this sure: the sinusoid's
// amplitude on a null's slope is off by more than its posterior knows (at
// -6 dB, 21 wrong symbols in 3,840 written from 0.9, none from 0.99).
constexpr double WeakSpinConfidence = 0.99;
// The amplitude's spread through a transmission, over its mean, above
// which the amplitude is followed.
constexpr double FadingVariation = 0.15;
constexpr double StrongSnrDb = 20, StrongFadingVariation = 0.35;
// The phase reference: the ticks either side it is averaged over. The first
// pass knows neither the key's timing nor the residual pitch, so it keeps
// the reference short; once the marks are known and the reference is taken
// from the key-down ticks alone, the tone is steady enough over a longer
// span that the reference loses less to phase drift than it gains against
// its own noise (0.1 s to 0.3 s: -12 dB frames copied whole 34 % to 41 %).
constexpr double FirstPhaseReachSeconds = 0.1;
constexpr double PhaseReachSeconds = 0.3;
// A steady tone whose pitch was followed from its own key down holds its
// phase longer (0.3 s to 1 s with the pitch followed: -12 dB frames copied
// whole 40.7 % to 46.7 %; 1.5 s and 2.5 s, no better). Below this SNR only.
constexpr double FollowedPhaseReachSeconds = 1.0;
constexpr double FollowPitchBelowDb = 0;
// Through a tumbling satellite's nulls (1 a second, the phase turning by half
// a cycle in each: 0.3 s 65.0 % of frames copied whole, 1 wrong symbol;
// 0.1 s 92.5 %, none; 0.15 s 87.5 %).
constexpr double SpinPhaseReachSeconds = 0.1;
// From this many unsure symbols on, the others are written only when at
// least this sure.
constexpr int ManyUnsure = 3;
constexpr double SlipConfidence = 0.99999;
constexpr int TooManyUnsure = 8;
constexpr int UnsureRun = 3;
// How far the name's template may fall behind the free segmentation, in
// the evidence of a dot, where the letters do not spell the name.
constexpr double NameDeficitDots = 5;
// The evidence of a dot (nats) from which the letters read freely are
// trusted to count the symbols (about -4 dB), and the evidence, in dots,
// of a letter that makes a 21st symbol at any strength (a dash's worth).
constexpr double ClearDotEvidence = 25;
constexpr double ExtraLetterDots = 3;
// How much better 19 or 21 slots must explain a line than 20 for it to be
// no frame: through fading, in dots' evidence (frames sent reach 1.5
// there); in steady noise in nats and dots. At -12 to -10 dB frames sent
// gain up to 4 nats with 21 slots and rarely anything with 19; 21 symbols
// gain 10 nats or more, 19 mostly 9 (the empty slot's cost), but a letter
// split in two in a free slot only 1 to 5. In a strong signal a crash or a
// carrier after a frame gains a few hundredths of a dot.
constexpr double ExtraSymbolDots = 3;
constexpr double MoreSlotsNats = 6, FewerSlotsNats = 0, OtherSlotsDots = 0.1;
constexpr double LostSlotDotEvidence = 15;
// The spread of the dashes the lattice's rounding alone gives, and what
// the noise adds to the measured spread, over the evidence of a dot.
constexpr double LatticeSpread = 0.04;
constexpr double SpreadNoise = 0.03;
// The widest spread of machine keying (the symbols' timing takes hand
// keying beyond it).
constexpr double MachineSpread = 0.08;

struct Pass {
    Ticks ticks;
    Segmentation segmentation;
    double tick = 0; // samples
};

// The ticks of a baseband, with how many ticks its noise stays alike over
// where it was narrowed: about the inverse of twice the band times a tick.
Ticks ticksOf(const std::vector<std::complex<float>> &z, const std::vector<bool> &unheard,
              double rate, double tick, const LineCopierSettings &settings) {
    Ticks ticks = makeTicks(z, tick, unheard);
    if (settings.bandHz > 0)
        ticks.correlation = std::max(1.0, rate / (2 * settings.bandHz * tick));
    return ticks;
}

Pass runPass(const std::vector<std::complex<float>> &z, const std::vector<bool> &unheard,
             double rate, double tick,
             const LineCopierSettings &settings) {
    Pass pass;
    pass.tick = tick;
    pass.ticks = ticksOf(z, unheard, rate, tick, settings);
    const int reach = std::max(2, int(std::lround(FirstPhaseReachSeconds * rate / tick)));
    project(pass.ticks, reach, nullptr);
    estimateLevels(pass.ticks);
    likelihoods(pass.ticks, nullptr, std::max(2, int(std::lround(0.08 * rate / tick))));
    pass.segmentation = segment(pass.ticks.cumulative);
    return pass;
}

// Key down and key up on a fine lattice (5 ms), a switch costing a few nats.
double speedFromDurations(const std::vector<std::complex<float>> &z, const std::vector<bool> &unheard,
                          double rate, const LineCopierSettings &settings) {
    const double tick = std::max(1.0, 0.005 * rate);
    Ticks ticks = ticksOf(z, unheard, rate, tick, settings);
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
            double e = std::min(std::abs(std::log(seconds / dot)),
                                std::abs(std::log(seconds / (3 * dot))));
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
                  const LineCopierSettings &settings, bool audioEnds,
                  const std::vector<bool> &unheard) {
    LineCopy copy;
    if (z.size() < size_t(rate))
        return copy;

    // The speed: from the durations of the marks and gaps a fine two-state
    // pass finds, the dot length that puts them nearest 1, 3 and 7 dots;
    // then fitted to the elements the dot lattice finds.
    Pass best = runPass(z, unheard, rate, speedFromDurations(z, unheard, rate, settings) * rate / TicksPerDot,
                        settings);
    double spread = 0;
    for (int round = 0; round < 2; ++round) {
        double ratio = 1;
        timingFit(best.segmentation, &ratio, &spread);
        if (std::abs(ratio - 1) < 0.002)
            break;
        best = runPass(z, unheard, rate, best.tick * ratio, settings);
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
    // The noise from the ticks well inside the gaps, whose whole sum is
    // noise whatever the phase: the quadrature part holds some signal where
    // the phase reference is off, which made the noise seem about a quarter
    // too strong below -6 dB and every symbol less sure than it is.
    double noise = ticks.noise;
    {
        std::vector<double> up;
        for (int t = 1; t + 1 < n; ++t)
            if (down[size_t(t - 1)] != 1.0 && down[size_t(t)] != 1.0 && down[size_t(t + 1)] != 1.0 &&
                (ticks.unheard.empty() || !ticks.unheard[size_t(t)]))
                up.push_back(std::norm(ticks.sum[size_t(t)]) / ticks.samples[size_t(t)]);
        if (up.size() > 20) {
            std::nth_element(up.begin(), up.begin() + qsizetype(up.size() / 2), up.end());
            // |sum|^2 / samples is exponential with mean twice the
            // variance of one part; its median is ln 2 of the mean.
            noise = std::max(up[up.size() / 2] / (2 * std::log(2.0)), noiseFloor(ticks));
        }
    }
    // Seconds as ticks, at least `least`.
    auto ticksOf = [&](double seconds, int least = 2) {
        return std::max(least, int(std::lround(seconds * rate / best.tick)));
    };
    auto projectAt = [&](Ticks &into, double seconds) {
        project(into, ticksOf(seconds), &down);
        estimateLevels(into, noise);
    };
    projectAt(ticks, settings.phaseReachSeconds > 0 ? settings.phaseReachSeconds : PhaseReachSeconds);
    // A weak steady tone: its pitch followed from its own key down, and the
    // phase taken from further. Not where the phase turns (a spinning
    // antenna's nulls), nor where the mixer followed the tone only roughly.
    // A stronger signal has its phase from the shorter reach already.
    const double shortSnr = 10 * std::log10(ticks.amplitude * ticks.amplitude * rate
                                            / (5000 * noise * ticks.correlation));
    if (settings.phaseReachSeconds <= 0 && shortSnr < FollowPitchBelowDb) {
        std::vector<std::pair<int, int>> marks;
        for (const Mark &m : best.segmentation.marks)
            marks.push_back({m.start, m.end});
        std::vector<double> marked(down.size()); // the key-down weights without the rest
        std::transform(down.begin(), down.end(), marked.begin(), [](double w) { return w == 1.0 ? 1.0 : 0.0; });
        // Turns are looked for once the pitch is followed: a pitch left
        // over turns the phase between marks too.
        Ticks followed = ticks;
        followPitch(followed, marked, best.tick / rate);
        if (!phaseTurns(followed, marks, noise, ticksOf(PhaseReachSeconds))) {
            ticks = std::move(followed);
            projectAt(ticks, FollowedPhaseReachSeconds);
        }
    }
    ticks.noise = noise;
    // The amplitude through fading, tracked through the line: the mean
    // in-phase part of the ticks near each tick, each weighted by how likely
    // it is key down at the amplitude found there so far. Soft weights let
    // the estimate follow a fade down (a tick at half the assumed amplitude
    // still counts half as key down), where one from the decided key-down
    // stretches keeps the amplitude before the fade and loses its marks.
    std::vector<double> local = trackAmplitude(
        ticks, ticksOf(AmplitudeSpanSeconds, 3));
    // Below 0 dB the local estimate is too noisy to help (and fading is not
    // what limits copy there); above, it is used where it varies through
    // the transmission clearly more than the noise alone makes it (a steady
    // signal at 0 dB: about 0.04 of its mean; fading: 0.3 and more).
    // The noise of the whole baseband's width, where it was narrowed: the
    // ticks' noise, measured, is that of a tick's share of the band.
    const double wideNoise = noise * ticks.correlation;
    const double snrDb = 10 * std::log10(ticks.amplitude * ticks.amplitude * rate / (5000 * wideNoise));
    bool fading = false;
    double confidence = settings.symbolConfidence;
    if (snrDb > 0 && !best.segmentation.marks.empty()) {
        const int from = best.segmentation.marks.front().start,
                  to = best.segmentation.marks.back().end;
        // The amplitude's spread through the transmission over its mean.
        auto variationOf = [from, to](const std::vector<double> &a) {
            double sum = 0, squares = 0;
            for (int t = from; t < to; ++t) {
                sum += a[size_t(t)];
                squares += a[size_t(t)] * a[size_t(t)];
            }
            const double mean = sum / std::max(1, to - from);
            const double variance = std::max(0.0, squares / std::max(1, to - from) - mean * mean);
            return mean > 0 ? std::sqrt(variance) / mean : 0.0;
        };
        // In a strong signal the ticks a key edge falls in spread it too
        // (about a quarter of its mean without any noise).
        const double variation = snrDb > StrongSnrDb ? StrongFadingVariation : FadingVariation;
        const double slow = variationOf(local);
        fading = slow > variation;
        // A tumbling satellite's nulls come and go within a few elements:
        // followed over a short span, the amplitude varies clearly more.
        if (fading) {
            std::vector<double> quick = trackAmplitude(
                ticks, ticksOf(NullSpanSeconds, 3));
            if (variationOf(quick) > QuickFading * slow)
                local = std::move(quick);
            // Nulls at a steady rate (a tumbling satellite's) are followed
            // by their sinusoid, which neither lags nor follows the noise.
            std::vector<double> periodic = periodicAmplitude(ticks, local, best.tick / rate, from, to);
            // Through a null the carrier's phase may turn by half a cycle
            // within a dot or two (a spinning linear antenna, received on
            // one of another polarisation): the phase is taken from nearer.
            if (!periodic.empty()) {
                project(ticks, ticksOf(SpinPhaseReachSeconds), &down);
                periodic = periodicAmplitude(ticks, local, best.tick / rate, from, to);
            }
            if (!periodic.empty())
                local = std::move(periodic);
        }
    }
    // In a weaker signal the amplitude followed tick by tick is too noisy
    // to tell fading, but nulls at a steady rate still show in the power
    // of the key-down ticks as a deep sinusoid: there what falls in a null
    // is read as through fading (written '#' rather than guessed).
    if (snrDb <= 0 && snrDb > WeakestSpinSnrDb && !best.segmentation.marks.empty()) {
        double depth = 0;
        std::vector<double> periodic =
            periodicAmplitude(ticks, local, best.tick / rate, best.segmentation.marks.front().start,
                              best.segmentation.marks.back().end, &depth, false);
        if (!periodic.empty() && depth > WeakSpinDepth) {
            local = std::move(periodic);
            fading = true;
            confidence = std::max(confidence, WeakSpinConfidence);
        }
    }
    likelihoods(ticks, fading ? &local : nullptr,
                ticksOf(0.08));
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
            if (d < nameDistance || (d == nameDistance && i == nameAt &&
                                     std::abs(length - 6) < std::abs(nameLength - 6))) {
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
        spread = std::sqrt(
            std::max(LatticeSpread * LatticeSpread, spread * spread - SpreadNoise / dotEvidence));
        // Through fading the edges move with the amplitude, not the hand:
        // the spread measured then is no sign of hand keying.
        if (fading)
            spread = std::min(spread, MachineSpread);
    }
    int nameTick = -1, nameEnd = -1, symbolTick = -1;
    if (nameAt >= 0) {
        nameTick = all[size_t(nameAt)].start;
        nameEnd = all[size_t(nameAt + nameLength - 1)].end;
        symbolTick = all[size_t(nameAt + nameLength)].start;
    } else if (dotEvidence >= ClearDotEvidence && !fading) {
        // Clear letters that do not spell the name: other text (another
        // station's, read where the name's template could still be laid).
        // Through fading a null may take a letter or two of the name: its
        // template is laid as in a weak signal.
        return copy;
    } else {
        // Too weak for the letters to spell it: where the name's template
        // fits the evidence nearly as well as the free segmentation does
        // (noise and other text fall ten dots' evidence or more behind).
        std::vector<double> bound(static_cast<size_t>(n) + 1, 0);
        for (int t = 0; t < n; ++t)
            bound[size_t(t) + 1] =
                bound[size_t(t)] +
                (keyDown[size_t(t)] ? ticks.cumulative[size_t(t) + 1] - ticks.cumulative[size_t(t)]
                                    : 0);
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
    // The letters of the symbols' word.
    int wordEnd = std::min(first + 1, count);
    while (wordEnd < count && all[size_t(wordEnd)].start - all[size_t(wordEnd) - 1].end < 5 * TicksPerDot)
        ++wordEnd;
    // Every symbol written is the letter read freely in its place (or, with
    // `freeUnsure`, that letter is no letter: '#').
    auto agrees = [&](const SlotResult &r, bool freeUnsure = false) {
        for (int k = 0; r.ok && k < SymbolSlots && first + k < count; ++k) {
            const QString &free = all[size_t(first + k)].text;
            if (r.symbols[k] != '#' && free != QString(r.symbols[k]) &&
                !(freeUnsure && free == QLatin1String("#")))
                return false;
        }
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
    SlotResult found = beaconSymbols(ticks.cumulative, keyDown, nameTick, nameEnd, symbolTick,
                                     spread, confidence);
    // The line as text, the transmission being no frame: where the letters
    // read freely look like one (two merged into one '#', one split in
    // two), its symbols are written as read in 19 or 21 slots, whichever
    // explains it better, so that no frame is made of them.
    auto withSymbols = [&](const QString &symbols) {
        copy.text = wordsOf(all, 0, first) + QLatin1Char(' ') + symbols;
        if (wordEnd < count)
            copy.text += QLatin1Char(' ') + wordsOf(all, wordEnd, count);
        return copy;
    };
    auto asText = [&]() {
        if (!LineScanner::judge(copy.text).isFrame())
            return copy;
        SlotResult best;
        for (const int slotCount : {SymbolSlots - 1, SymbolSlots + 1}) {
            SlotResult r = beaconSymbols(upTo(ticks.cumulative, 1), upTo(keyDown, 0), nameTick,
                                         nameEnd, symbolTick, spread, confidence, slotCount);
            if (r.ok && (!best.ok || r.total > best.total))
                best = std::move(r);
        }
        return withSymbols(best.ok ? best.symbols : QStringLiteral("#"));
    };
    // Words right after the symbols pull the last symbols over their first
    // letters (key-down there reads better than key up). Read again with
    // the line ending before them, and kept where that reading agrees with
    // the letters: in a clear signal those are right.
    if (wordsAfter && !agrees(found)) {
        limit = all[size_t(rest)].start - TicksPerDot;
        const SlotResult cut =
            beaconSymbols(upTo(ticks.cumulative, 1), upTo(keyDown, 0), nameTick, nameEnd,
                          symbolTick, spread, confidence);
        if (agrees(cut))
            found = cut;
        else
            limit = int(keyDown.size());
    }
    // A transmission with more or fewer symbols after the name than a frame
    // has is copied as the text it is, never squeezed or stretched into
    // the frame's 20 slots. More: where the signal is clear and steady, the letters
    // read freely in the symbols' word are counted, where 21 slots explain
    // the line at least as well as 20 (a crash, or a receiver's AGC ducking
    // after one, splits a letter in two: 21 slots then read it far worse,
    // by 7 nats and more, where 21 symbols sent gain 40 and more); at any strength, a sure
    // letter keyed a letter gap after 20 that agree with the slots is one
    // too many. Fewer leave the first or the last slot empty (below).
    {
        const int symbolLetters = wordEnd - first;
        auto letterEvidence = [&](const Letter &l) {
            double sum = 0;
            for (int t = l.start; t < std::min(l.end, n); ++t)
                if (keyDown[size_t(t)])
                    sum += ticks.cumulative[size_t(t) + 1] - ticks.cumulative[size_t(t)];
            return sum;
        };
        if (!fading && dotEvidence >= ClearDotEvidence && symbolLetters > SymbolSlots &&
            found.moreTotal > found.total)
            return asText();
        // Whatever the letters read: where one slot more or one fewer
        // explains the line better than a frame's 20 (a symbol squeezed in,
        // two read as one, one split in two in a free slot, a last slot
        // filled with noise), the transmission had that many symbols, and
        // they are written as read in those slots (the free letters may
        // look like a frame).
        // Words keyed a word gap after the symbols are no symbol of theirs.
        if (found.ok) {
            const int before = limit;
            if (wordsAfter)
                limit = std::min(limit, all[size_t(rest)].start - TicksPerDot);
            // How well each count explains the line first; the symbols only
            // of a count that wins.
            auto readAs = [&](int count, bool totalOnly) {
                return beaconSymbols(upTo(ticks.cumulative, 1), upTo(keyDown, 0), nameTick, nameEnd,
                                     symbolTick, spread, confidence, count, totalOnly);
            };
            const SlotResult twenty = limit == before ? found : readAs(SymbolSlots, true);
            for (const int slotCount : {SymbolSlots + 1, SymbolSlots - 1}) {
                const double other = slotCount > SymbolSlots ? twenty.moreTotal : twenty.fewerTotal;
                const double nats = slotCount > SymbolSlots ? MoreSlotsNats : FewerSlotsNats;
                if (twenty.ok && other > Impossible && other - twenty.total >
                                    (fading ? ExtraSymbolDots * dotEvidence
                                            : std::max(nats, OtherSlotsDots * dotEvidence)))
                    return withSymbols(readAs(slotCount, false).symbols);
            }
            limit = before;
        }
        if (symbolLetters > SymbolSlots && agrees(found, true) &&
            letterEvidence(all[size_t(rest)]) >= ExtraLetterDots * dotEvidence)
            return asText();
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
    // moved by one and the empty slot at the other end, or 19 symbols were
    // keyed. Such a line is no frame; a symbol lost between others is held
    // in place by both sides. Where the signal is weaker than about -10 dB
    // and steady, a symbol drowned in the noise is more likely than one
    // not keyed, and the slot is written '#'.
    if (found.ok && (fading || dotEvidence >= LostSlotDotEvidence) &&
        found.lost.front() + found.lost.back() > 0.5)
        return asText();
    // So is one with a run of unsure symbols: nothing read for seconds
    // leaves it open how many symbols were keyed there, and the symbols on
    // one side of the run may stand a slot off.
    if (found.ok) {
        int run = 0;
        for (int k = 0; k < SymbolSlots; ++k) {
            run = found.symbols[k] == '#' ? run + 1 : 0;
            if (run >= UnsureRun)
                return asText();
        }
    }
    // So is one with this many unsure symbols or more: the slots of such a line
    // have most likely slipped, and the symbols left would be misplaced.
    if (!found.ok || found.unsure > SymbolSlots / 2 || (fading && found.unsure >= TooManyUnsure))
        return asText();
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
