#pragma once

#include "lattice.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <utility>
#include <vector>

namespace linecopier {

// The 20 symbols after the name: a forward-backward pass over symbol slots.
// A slot holds one of the 16 symbols and its letter gap (none after the
// last), stretched or shrunk as a whole by the timing's uncertainty.
struct SymbolTemplate {
    std::vector<std::pair<int, int>> marks; // in dots from the symbol's start
    int keyed = 0;                          // dots to its last key up
};

// Letters keyed one after another with letter gaps.
SymbolTemplate templateOf(const QStringList &patterns);

// The characters a slot may hold: the 16 symbols first, then the other ITU
// letters and digits, which only the free slots take.
const QString &slotCharacters();

// The template of each of slotCharacters(), in its order.
const std::vector<SymbolTemplate> &symbolTemplates();

// A template stretched or shrunk as a whole, with the prior of each length.
struct Stretch {
    int length;
    double prior;
    std::vector<std::pair<int, int>> edges;
};

// The stretches of a template and trailingDots of key up after it: the sd
// of its length grows with the length and the spread of the dashes.
std::vector<Stretch> stretchesOf(const SymbolTemplate &t, int trailingDots, double spread);

// A template's elements (marks, the gaps between them, the trailing gap
// last), each lasting its own time around its nominal length: hand keying.
struct ElementTiming {
    std::vector<bool> mark;
    std::vector<int> low;
    std::vector<std::vector<double>> prior;  // log, durations from low on
    std::vector<std::vector<double>> chance; // the same, not log
    int longest = 0;
};

// The timing of a template's elements and trailingDots of key up after it,
// each element's sd `jitter` of its nominal length (half a tick at least).
ElementTiming timingOf(const SymbolTemplate &t, int trailingDots, double jitter);

// Element i of a template after those before it: from the log-sums over
// their timings of ending p ticks after t0 (current, p from lo to hi), those
// of ending element i there (next), with the evidence of its marks. lo and
// hi move on to the new range. Summed as chances scaled to the largest
// start (one exp a start, not one a start and a duration); an end whose
// terms all fall out of a double's range that way is summed as logs.
void timeElement(const ElementTiming &e, size_t i, const std::vector<double> &cumulative, int t0,
                 bool evidence, const std::vector<double> &current, std::vector<double> &next,
                 int &lo, int &hi, std::vector<double> &scaled);

// Sums over every timing of the elements from t0 the evidence of its marks
// and its prior, for each tick the template may end at.
void elementOutcomes(const ElementTiming &e, const std::vector<double> &cumulative, int t0,
                     bool evidence, std::vector<std::pair<int, double>> &out);

// The ticks a slot may end at, from `first` on, with the log-sum of each
// (Impossible where it cannot end).
struct Ends {
    int first = -1; // -1: not made yet
    std::vector<double> value;
};

// The same for many templates at once: those whose first elements are
// timed alike (the same marks and gaps, "-.-" and "-.." and "-" share "-")
// share the work of timing those. A tree of the templates' elements.
class TimingTree {
public:
    explicit TimingTree(const std::vector<ElementTiming> &timings) : timings_(timings) {
        nodes_.push_back({});
        for (size_t s = 0; s < timings.size(); ++s) {
            const ElementTiming &e = timings[s];
            int at = 0;
            longest_ = std::max(longest_, e.longest);
            depth_ = std::max(depth_, e.mark.size());
            for (size_t i = 0; i < e.mark.size(); ++i) {
                nodes_[size_t(at)].below |= quint64(1) << s;
                int next = -1;
                for (int child : nodes_[size_t(at)].children) {
                    const Node &c = nodes_[size_t(child)];
                    const ElementTiming &o = timings[size_t(c.timing)];
                    if (o.mark[c.element] == e.mark[i] && o.low[c.element] == e.low[i] &&
                        o.prior[c.element] == e.prior[i])
                        next = child;
                }
                if (next < 0) {
                    next = int(nodes_.size());
                    nodes_[size_t(at)].children.push_back(next);
                    nodes_.push_back({int(s), i, {}, {}, 0});
                }
                at = next;
            }
            nodes_[size_t(at)].below |= quint64(1) << s;
            nodes_[size_t(at)].ending.push_back(int(s));
        }
    }
    // The ends from t0 of the templates in `wanted` (a bit each), put into
    // the Ends found(template) gives.
    template <typename Found>
    void outcomes(const std::vector<double> &cumulative, int t0, quint64 wanted,
                  const Found &found) {
        if (sums_.empty()) {
            sums_.assign(depth_ + 1, std::vector<double>(size_t(longest_) + 1, Impossible));
            scaled_.resize(size_t(longest_) + 1);
        }
        sums_[0][0] = 0;
        walk(0, 0, 0, 0, cumulative, t0, wanted, found);
    }

private:
    struct Node {
        int timing = -1; // the template whose element this is
        size_t element = 0;
        std::vector<int> children;
        std::vector<int> ending; // templates whose last element this is
        quint64 below = 0;       // templates through this node
    };
    template <typename Found>
    void walk(int at, size_t level, int lo, int hi, const std::vector<double> &cumulative, int t0,
              quint64 wanted, const Found &found) {
        for (int child : nodes_[size_t(at)].children) {
            const Node &c = nodes_[size_t(child)];
            if (!(c.below & wanted))
                continue;
            int l = lo, h = hi;
            timeElement(timings_[size_t(c.timing)], c.element, cumulative, t0, true, sums_[level],
                        sums_[level + 1], l, h, scaled_);
            for (int s : c.ending) {
                if (wanted & (quint64(1) << s)) {
                    Ends &ends = found(s);
                    ends.first = t0 + l;
                    ends.value.assign(sums_[level + 1].begin() + l,
                                      sums_[level + 1].begin() + h + 1);
                }
            }
            walk(child, level + 1, l, h, cumulative, t0, wanted, found);
        }
    }
    const std::vector<ElementTiming> &timings_;
    std::vector<Node> nodes_;
    int longest_ = 0;
    size_t depth_ = 0;
    std::vector<std::vector<double>> sums_; // one for each level of the tree
    std::vector<double> scaled_;
};

} // namespace linecopier
