#pragma once

#include "lattice.h"

#include <QString>

#include <vector>

// The beacon's symbols: a forward-backward pass over the 20 symbol slots
// after the name, each slot's symbol with its posterior.

namespace linecopier {

// The symbols of a frame after its name.
constexpr int SymbolSlots = 20;

struct SlotResult {
    bool ok = false;
    QString symbols;
    int unsure = 0;
    std::vector<double> probability; // of each slot's written symbol
    std::vector<double> lost;        // that nothing was heard in the slot
    double total = 0; // log-likelihood of the slots, summed over their placements
    // The same for one slot fewer and one more (Impossible: they fit nowhere).
    double fewerTotal = Impossible, moreTotal = Impossible;
};

// Where the name fits the key-down evidence best: the tick its first
// element starts at, and how far its evidence falls behind what the free
// segmentation claimed over the same stretch (nats).
struct NameFit {
    int at = -1;
    int end = -1; // its last key up
    double deficit = 1e300;
};

// `bound`: the running sum of the evidence the free segmentation claimed
// (that of its key-down ticks).
NameFit fitName(const std::vector<double> &cumulative, const std::vector<double> &bound,
                double spread);

// The symbols after the name, the name's template placed near nameTick or
// the first symbol near symbolTick (where the letters after the name begin,
// the name taken to end at nameEnd), from the ticks' running sum of
// log-likelihood ratios and the free segmentation's key down. A symbol is
// written where its posterior is at least `confidence`, else '#'. Not ok
// where no path through the slots fits. `slotCount` other than a frame's
// reads a transmission of that many symbols (as if its slots 10 to 12 were
// a frame's). totalOnly: only how well they explain it (the totals).
SlotResult beaconSymbols(const std::vector<double> &cumulative, const std::vector<bool> &keyDown,
                         int nameTick, int nameEnd, int symbolTick, double spread,
                         double confidence, int slotCount = SymbolSlots, bool totalOnly = false);

} // namespace linecopier
