#include "symboltiming.h"

#include "cwaudio/morse.h"
#include "decoder/symbolalphabet.h"

#include <cmath>

namespace linecopier {

SymbolTemplate templateOf(const QStringList &patterns) {
    SymbolTemplate t;
    int at = 0;
    for (const QString &pattern : patterns) {
        for (QChar element : pattern) {
            const int length = element == '-' ? 3 : 1;
            t.marks.push_back({at, at + length});
            at += length + 1;
        }
        at += 2;
    }
    t.keyed = at - 3;
    return t;
}

const QString &slotCharacters() {
    static const QString characters = [] {
        QString list;
        for (char symbol : SymbolAlphabet)
            list += QChar::fromLatin1(symbol);
        for (char c : "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789")
            if (c != 0 && !list.contains(QChar::fromLatin1(c)))
                list += QChar::fromLatin1(c);
        return list;
    }();
    return characters;
}

const std::vector<SymbolTemplate> &symbolTemplates() {
    static const std::vector<SymbolTemplate> templates = [] {
        std::vector<SymbolTemplate> list;
        for (QChar c : slotCharacters())
            list.push_back(templateOf({morsePattern(c)}));
        return list;
    }();
    return templates;
}

std::vector<Stretch> stretchesOf(const SymbolTemplate &t, int trailingDots, double spread) {
    const double nominal = (t.keyed + trailingDots) * TicksPerDot;
    // A keyed symbol's length varies by about a third of its elements' spread.
    const double sd = 0.6 + nominal * (0.005 + 0.36 * std::max(0.0, spread - 0.04));
    const int reach = int(std::ceil(2.5 * sd));
    std::vector<Stretch> list;
    double norm = Impossible;
    for (int delta = -reach; delta <= reach; ++delta) {
        Stretch s;
        s.length = int(nominal) + delta;
        s.prior = -0.5 * (delta / sd) * (delta / sd);
        norm = logAdd(norm, s.prior);
        const double scale = s.length / nominal;
        for (const auto &[a, b] : t.marks)
            s.edges.push_back({int(std::lround(a * TicksPerDot * scale)),
                               int(std::lround(b * TicksPerDot * scale))});
        list.push_back(std::move(s));
    }
    for (Stretch &s : list)
        s.prior -= norm;
    return list;
}

ElementTiming timingOf(const SymbolTemplate &t, int trailingDots, double jitter) {
    std::vector<std::pair<int, bool>> units;
    for (size_t i = 0; i < t.marks.size(); ++i) {
        units.push_back({t.marks[i].second - t.marks[i].first, true});
        if (i + 1 < t.marks.size())
            units.push_back({t.marks[i + 1].first - t.marks[i].second, false});
    }
    if (trailingDots > 0)
        units.push_back({trailingDots, false});
    ElementTiming e;
    for (const auto &[dots, isMark] : units) {
        const int nominal = dots * TicksPerDot;
        const double sd = std::max(0.5, jitter * nominal);
        const int reach = int(std::ceil(2.5 * sd));
        const int low = std::max(1, nominal - reach);
        std::vector<double> prior;
        double norm = Impossible;
        for (int d = low; d <= nominal + reach; ++d) {
            prior.push_back(-0.5 * ((d - nominal) / sd) * ((d - nominal) / sd));
            norm = logAdd(norm, prior.back());
        }
        for (double &v : prior)
            v -= norm;
        e.mark.push_back(isMark);
        e.low.push_back(low);
        e.longest += nominal + reach;
        e.chance.emplace_back();
        for (double v : prior)
            e.chance.back().push_back(std::exp(v));
        e.prior.push_back(std::move(prior));
    }
    return e;
}

void timeElement(const ElementTiming &e, size_t i, const std::vector<double> &cumulative, int t0,
                 bool evidence, const std::vector<double> &current, std::vector<double> &next,
                 int &lo, int &hi, std::vector<double> &scaled) {
    const int n = int(cumulative.size()) - 1;
    const int low = e.low[i], high = low + int(e.prior[i].size()) - 1;
    const int newLo = lo + low, newHi = std::min(e.longest, hi + high);
    // A mark's evidence from a start to an end: taken out at the start,
    // put back at the end.
    const double *at = cumulative.data() + t0;
    auto start = [&](int p) {
        return evidence && e.mark[i] ? current[size_t(p)] - at[p] : current[size_t(p)];
    };
    double top = Impossible;
    for (int p = lo; p <= hi; ++p)
        if (current[size_t(p)] > Impossible)
            top = std::max(top, start(p));
    for (int p = lo; p <= hi; ++p)
        scaled[size_t(p)] =
            current[size_t(p)] > Impossible && start(p) - top > -700 ? std::exp(start(p) - top) : 0;
    const double *prior = e.prior[i].data(), *chance = e.chance[i].data();
    for (int q = newLo; q <= newHi; ++q) {
        const int from = std::max(lo, q - high), to = std::min(hi, q - low);
        double sum = 0;
        bool reached = false;
        for (int p = from; p <= to && t0 + q <= n; ++p) {
            reached = reached || current[size_t(p)] > Impossible;
            sum += scaled[size_t(p)] * chance[q - p - low];
        }
        if (!reached) {
            next[size_t(q)] = Impossible;
            continue;
        }
        const double end = evidence && e.mark[i] ? at[q] : 0;
        if (sum > 1e-290) {
            next[size_t(q)] = top + std::log(sum) + end;
        } else {
            LogSum terms;
            for (int p = from; p <= to; ++p)
                if (current[size_t(p)] > Impossible)
                    terms.add(start(p) + prior[q - p - low]);
            next[size_t(q)] = terms.value() + end;
        }
    }
    lo = newLo;
    hi = newHi;
}

void elementOutcomes(const ElementTiming &e, const std::vector<double> &cumulative, int t0,
                     bool evidence, std::vector<std::pair<int, double>> &out) {
    std::vector<double> current(static_cast<size_t>(e.longest) + 1, Impossible), next = current;
    std::vector<double> scaled(current.size());
    current[0] = 0;
    int lo = 0, hi = 0;
    for (size_t i = 0; i < e.mark.size(); ++i) {
        timeElement(e, i, cumulative, t0, evidence, current, next, lo, hi, scaled);
        std::swap(current, next);
    }
    out.clear();
    for (int p = lo; p <= hi; ++p)
        if (current[size_t(p)] > Impossible)
            out.push_back({t0 + p, current[size_t(p)]});
}

} // namespace linecopier
