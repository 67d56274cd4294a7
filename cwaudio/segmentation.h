#pragma once

#include "lattice.h"

#include <QString>

#include <vector>

// The key's timing and the text: the marks and gaps a segmental Viterbi pass
// finds in the ticks' evidence, their timing, and the letters they spell.

namespace linecopier {

struct Mark {
    int start = 0; // ticks
    int end = 0;
};

struct Segmentation {
    double score = Impossible;
    std::vector<Mark> marks;
};

// The most likely marks (about 1 or 3 dots) and gaps (1, 3, 7 dots or a
// longer pause) from the ticks' running sum of log-likelihood ratios.
Segmentation segment(const std::vector<double> &cumulative);

// How much longer the elements are than the lattice says, and their spread.
void timingFit(const Segmentation &segmentation, double *ratio, double *spread);

struct Letter {
    QString text;
    int start = 0, end = 0; // ticks of its first key down and last key up
    int word = 0;
};

// The letters the marks spell, split at gaps of two dots or more ('#' for a
// pattern no letter has), the word counted on at gaps of five dots or more.
std::vector<Letter> letters(const Segmentation &segmentation);

// The letters from `from` up to `to`, a blank between words.
QString wordsOf(const std::vector<Letter> &list, int from, int to);

// The fewest characters inserted, deleted or replaced that make a into b.
int editDistance(const QString &a, const QString &b);

} // namespace linecopier
