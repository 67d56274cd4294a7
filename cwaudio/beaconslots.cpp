#include "beaconslots.h"

#include "decoder/symbolalphabet.h"
#include "symboltiming.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

namespace linecopier {

namespace {
// Slots 10 to 12 of a frame are not decoded and carry any letter or digit.
constexpr int FreeSlotsFrom = 9, FreeSlotsTo = 11;
// The symbols placed after the letters that follow the name rather than
// after its template pay this many dots' evidence: a name keyed wrong still
// places them, noise that made a letter of a weak name's last dash does not.
constexpr double SlipPenaltyDots = 3;

const SymbolTemplate &nameTemplate() {
    static const SymbolTemplate name =
        templateOf({QStringLiteral("-.-"), QStringLiteral(".-"), QStringLiteral("-.."),
                    QStringLiteral(".-."), QStringLiteral(".."), QStringLiteral("-.")});
    return name;
}
} // namespace

NameFit fitName(const std::vector<double> &cumulative, const std::vector<double> &bound,
                double spread) {
    const int n = int(cumulative.size()) - 1;
    const std::vector<Stretch> stretches = stretchesOf(nameTemplate(), 0, spread);
    NameFit best;
    for (int t = 0; t < n; ++t) {
        for (const Stretch &st : stretches) {
            if (t + st.length > n)
                break;
            double sum = 0;
            for (const auto &[a, b] : st.edges)
                sum += cumulative[size_t(t + b)] - cumulative[size_t(t + a)];
            const double deficit = bound[size_t(t + st.length)] - bound[size_t(t)] - sum - st.prior;
            if (deficit < best.deficit) {
                best.deficit = deficit;
                best.at = t;
                best.end = t + st.length;
            }
        }
    }
    return best;
}

SlotResult beaconSymbols(const std::vector<double> &cumulative, const std::vector<bool> &keyDown,
                         int nameTick, int nameEnd, int symbolTick, double spread,
                         double confidence, int slotCount, bool totalOnly) {
    const int n = int(cumulative.size()) - 1;
    const auto &templates = symbolTemplates();
    // Each slot holds one of the 16 symbols or, rarely, nothing heard for
    // the length of one (a symbol lost in a fade or a burst of noise): that
    // keeps a lost symbol from being read as the noise's best guess. The
    // slotCount 10 to 12 hold any of the `real` characters, the others one of
    // the first `restricted` (the 16 symbols come first).
    const int real = int(templates.size());
    constexpr double Lost = 1e-4;
    const int restricted = int(SymbolAlphabet.size());
    const int choices[2] = {restricted, real};
    const double heardPrior[2] = {std::log((1 - Lost) / restricted), std::log((1 - Lost) / real)};
    auto isFree = [](int k) { return k >= FreeSlotsFrom && k <= FreeSlotsTo; };

    // What a slot (with or without its letter gap) holding a symbol starting
    // at a tick may end at, with the evidence and the prior of each end.
    // Machine keying: each symbol stretched or shrunk as a whole; hand
    // keying (a wide spread of the dashes): every element on its own.
    const bool hand = spread > 0.08;
    std::vector<std::vector<Stretch>> stretches[2];
    std::vector<ElementTiming> timings[2];
    for (int last = 0; last < 2; ++last) {
        for (const SymbolTemplate &t : templates) {
            stretches[last].push_back(stretchesOf(t, last ? 0 : 3, spread));
            timings[last].push_back(timingOf(t, last ? 0 : 3, spread));
        }
    }
    auto evidence = [&](const Stretch &st, int t0) {
        double sum = 0;
        for (const auto &[a, b] : st.edges)
            sum += cumulative[size_t(t0 + b)] - cumulative[size_t(t0 + a)];
        return sum;
    };
    // A symbol heard: its ends from each start it is asked for, kept for the
    // backward pass. Nothing heard: the ends depend on the start only by
    // where the line ends, and only the chance that the slot was lost is
    // asked for, not which symbol was, so the ends of all the symbols lost
    // are summed once from tick 0 (with their priors) and shifted.
    // Made for a start when first asked.
    std::vector<std::unique_ptr<Ends[]>> heardEnds(size_t(n) + 1);
    // Hand keying: the symbols timed from each start.
    std::vector<quint64> timed(size_t(n + 1) * 2, 0);
    // [last][free]: ticks from the start, log-sum.
    std::vector<std::pair<int, double>> silentEnds[2][2];
    std::optional<TimingTree> trees[2];
    for (int last = 0; last < 2; ++last) {
        if (hand)
            trees[last].emplace(timings[last]);
        for (int free = 0; free < 2; ++free) {
            std::vector<LogSum> sums;
            std::vector<std::pair<int, double>> ends;
            for (int symbol = 0; symbol < choices[free]; ++symbol) {
                ends.clear();
                if (hand) {
                    // Without evidence the ticks only bound how far it reaches.
                    const ElementTiming &timing = timings[last][size_t(symbol)];
                    elementOutcomes(timing, std::vector<double>(size_t(timing.longest) + 1), 0,
                                    false, ends);
                } else {
                    for (const Stretch &st : stretches[last][size_t(symbol)])
                        ends.push_back({st.length, st.prior});
                }
                for (const auto &[p, v] : ends) {
                    sums.resize(std::max(sums.size(), size_t(p) + 1));
                    sums[size_t(p)].add(v + std::log(Lost / choices[free]));
                }
            }
            for (size_t p = 0; p < sums.size(); ++p)
                if (sums[p].top > Impossible)
                    silentEnds[last][free].push_back({int(p), sums[p].value()});
        }
    }
    const quint64 slotMask[2] = {(quint64(1) << restricted) - 1, (quint64(1) << real) - 1};
    auto forEachHeardEnd = [&](int symbol, bool last, bool free, int t0, const auto &visit) {
        auto &fromT0 = heardEnds[size_t(t0)];
        if (!fromT0)
            fromT0 = std::make_unique<Ends[]>(2 * size_t(real));
        Ends *const list = fromT0.get() + (last ? real : 0);
        if (hand) {
            quint64 &done = timed[size_t(t0) * 2 + last];
            if (!(done & (quint64(1) << symbol))) {
                trees[last]->outcomes(cumulative, t0, slotMask[free] & ~done,
                                      [&](int timedSymbol) -> Ends & { return list[timedSymbol]; });
                done |= slotMask[free];
            }
        } else if (list[symbol].first < 0) {
            const auto &lengths = stretches[last][size_t(symbol)];
            list[symbol].first = t0 + lengths.front().length; // the lengths follow one another
            list[symbol].value.reserve(lengths.size());
            for (const Stretch &st : lengths)
                if (t0 + st.length <= n)
                    list[symbol].value.push_back(st.prior + evidence(st, t0));
        }
        const Ends &ends = list[symbol];
        for (size_t i = 0; i < ends.value.size(); ++i)
            if (ends.value[i] > Impossible)
                visit(ends.first + int(i), ends.value[i]);
    };

    // Slot starts are pruned by how far they fall behind the best; paths
    // that end later have claimed more key-down, so each is measured against
    // what the free segmentation claimed up to its end.
    std::vector<double> bound(static_cast<size_t>(n) + 1, 0);
    for (int t = 0; t < n; ++t)
        bound[size_t(t) + 1] =
            bound[size_t(t)] +
            (keyDown[size_t(t)] ? cumulative[size_t(t) + 1] - cumulative[size_t(t)] : 0);
    double dotEvidence = 0;
    int downTicks = 0;
    for (int t = 0; t < n; ++t) {
        if (keyDown[size_t(t)]) {
            dotEvidence += cumulative[size_t(t) + 1] - cumulative[size_t(t)];
            ++downTicks;
        }
    }
    dotEvidence = downTicks > 0 ? std::max(0.0, dotEvidence / downTicks) * TicksPerDot : 0;
    // The name and its word gap, starting near where the letters put it,
    // give where the first symbol may start. Each placement carries the
    // evidence the free segmentation claimed before it, as the other way
    // in (below) carries it up to the name's end: else that way, which
    // also counts the S, wins by the S's evidence and leaves the first
    // symbol's start spread over six dots.
    const SymbolTemplate &name = nameTemplate();
    const int window = 10 * TicksPerDot;
    std::vector<std::vector<double>> forward(
        size_t(slotCount) + 1, std::vector<double>(static_cast<size_t>(n) + 1, Impossible));
    const std::vector<Stretch> nameStretches = stretchesOf(name, 7, spread);
    const ElementTiming nameTiming = timingOf(name, 7, spread);
    std::vector<std::pair<int, double>> nameEnds;
    for (int t = std::max(0, nameTick - window); t <= std::min(n, nameTick + window); ++t) {
        nameEnds.clear();
        if (hand) {
            elementOutcomes(nameTiming, cumulative, t, true, nameEnds);
        } else {
            for (const Stretch &st : nameStretches)
                if (t + st.length <= n)
                    nameEnds.push_back({t + st.length, st.prior + evidence(st, t)});
        }
        for (const auto &[end, v] : nameEnds) {
            double &to = forward[0][size_t(end)];
            to = logAdd(to, v + bound[size_t(t)] - std::log(2.0 * window + 1) - std::log(2.0));
        }
    }
    // Or where the letters after the name begin, with the evidence the free
    // segmentation claimed for the name: a name keyed wrong (a letter longer
    // or shorter) shifts the symbols against the template.
    const int near = 3 * TicksPerDot;
    for (int t = std::max(0, symbolTick - near); t <= std::min(n, symbolTick + near); ++t)
        forward[0][size_t(t)] =
            logAdd(forward[0][size_t(t)], bound[size_t(std::min(t, nameEnd))] -
                                              SlipPenaltyDots * dotEvidence -
                                              std::log(2.0 * near + 1) - std::log(2.0));
    std::vector<std::vector<int>> active(static_cast<size_t>(slotCount));
    // The beam grows with the evidence of a dot: where the key seems up for
    // a whole symbol, the right path falls behind by many dots' worth until
    // the symbols after it pull it back. The lowest a start in `from` may
    // stand, measured against the free segmentation (Impossible: none can).
    const double Beam = 40 + 6 * dotEvidence;
    auto beamFloor = [&](const std::vector<double> &from) {
        double best = Impossible;
        for (int t0 = 0; t0 <= n; ++t0)
            if (from[size_t(t0)] > Impossible)
                best = std::max(best, from[size_t(t0)] - bound[size_t(t0)]);
        return best <= Impossible ? Impossible : best - Beam;
    };
    // Slot k (the last one or not) from the starts in `from` to its ends in
    // `to`; the starts taken are put in `starts`.
    std::vector<LogSum> into(size_t(n) + 1);
    auto step = [&](int k, bool last, const std::vector<double> &from, double lowest,
                    std::vector<double> &to, std::vector<int> *starts) {
        for (int t0 = 0; t0 <= n; ++t0) {
            if (from[size_t(t0)] <= Impossible || from[size_t(t0)] - bound[size_t(t0)] < lowest)
                continue;
            if (starts)
                starts->push_back(t0);
            const int free = isFree(k);
            for (int symbol = 0; symbol < choices[free]; ++symbol) {
                forEachHeardEnd(symbol, last, free, t0, [&](int t1, double v) {
                    into[size_t(t1)].add(from[size_t(t0)] + v + heardPrior[free]);
                });
            }
            for (const auto &[p, v] : silentEnds[last][free]) {
                if (t0 + p > n)
                    break;
                into[size_t(t0 + p)].add(from[size_t(t0)] + v);
            }
        }
        for (int t = 0; t <= n; ++t) {
            to[size_t(t)] = into[size_t(t)].value();
            into[size_t(t)] = LogSum();
        }
    };
    auto totalOf = [](const std::vector<double> &ends) {
        double sum = Impossible;
        for (double v : ends)
            sum = logAdd(sum, v);
        return sum;
    };
    // One slot fewer and one more share every slot but their last with
    // these: how well they explain the line costs three slots more.
    double fewerTotal = Impossible, moreTotal = Impossible;
    std::vector<double> spare(size_t(n) + 1), spareEnds(size_t(n) + 1);
    for (int k = 0; k < slotCount; ++k) {
        const double lowest = beamFloor(forward[size_t(k)]);
        if (lowest <= Impossible)
            return {};
        const bool last = k == slotCount - 1;
        if (k == slotCount - 2) {
            step(k, true, forward[size_t(k)], lowest, spare, nullptr);
            fewerTotal = totalOf(spare);
        }
        step(k, last, forward[size_t(k)], lowest, forward[size_t(k) + 1], &active[size_t(k)]);
        if (last) {
            step(k, false, forward[size_t(k)], lowest, spare, nullptr);
            const double further = beamFloor(spare);
            if (further > Impossible) {
                step(k + 1, true, spare, further, spareEnds, nullptr);
                moreTotal = totalOf(spareEnds);
            }
        }
    }
    const double total = totalOf(forward[size_t(slotCount)]);
    if (total <= Impossible)
        return {};

    SlotResult result;
    result.ok = true;
    result.total = total;
    result.fewerTotal = fewerTotal;
    result.moreTotal = moreTotal;
    if (totalOnly)
        return result;
    result.symbols.fill(QChar('#'), slotCount);
    result.probability.assign(size_t(slotCount), 0);
    result.lost.assign(size_t(slotCount), 0);
    std::vector<double> backward(static_cast<size_t>(n) + 1, 0), before(size_t(n) + 1);
    for (int k = slotCount - 1; k >= 0; --k) {
        const bool last = k == slotCount - 1;
        std::fill(before.begin(), before.end(), Impossible);
        std::vector<LogSum> sums(static_cast<size_t>(real));
        LogSum lost;
        const int free = isFree(k);
        for (int t0 : active[size_t(k)]) {
            LogSum acc;
            const double f = forward[size_t(k)][size_t(t0)];
            for (int symbol = 0; symbol < choices[free]; ++symbol) {
                forEachHeardEnd(symbol, last, free, t0, [&](int t1, double value) {
                    if (backward[size_t(t1)] <= Impossible)
                        return;
                    const double v = value + heardPrior[free] + backward[size_t(t1)];
                    acc.add(v);
                    sums[size_t(symbol)].add(f + v);
                });
            }
            for (const auto &[p, value] : silentEnds[last][free]) {
                if (t0 + p > n)
                    break;
                if (backward[size_t(t0 + p)] <= Impossible)
                    continue;
                const double v = value + backward[size_t(t0 + p)];
                acc.add(v);
                lost.add(f + v);
            }
            before[size_t(t0)] = acc.value();
        }
        std::swap(backward, before);
        std::vector<double> posterior(static_cast<size_t>(real));
        for (int symbol = 0; symbol < real; ++symbol)
            posterior[size_t(symbol)] = sums[size_t(symbol)].value();
        const int bestSymbol =
            int(std::max_element(posterior.begin(), posterior.end()) - posterior.begin());
        result.probability[size_t(k)] = std::exp(posterior[size_t(bestSymbol)] - total);
        result.lost[size_t(k)] = std::exp(lost.value() - total);
        if (result.probability[size_t(k)] >= confidence)
            result.symbols[k] = slotCharacters()[bestSymbol];
        else
            ++result.unsure;
    }
    return result;
}

} // namespace linecopier
