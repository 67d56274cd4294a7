#pragma once

#include <QString>

#include <complex>
#include <vector>

// How one transmission was copied.
struct LineCopy {
    QString text;             // ITU Morse, words separated by one blank
    bool beacon = false;      // "S KADRIN " and the 20 symbols, '#' where unsure
    double firstElement = -1; // seconds from the first sample to the first key down; -1 none
    double dotSeconds = 0;    // the speed found
    double snrDb = 0;         // key-down signal over the noise in 2,500 Hz
    int unsure = 0;           // symbols written '#'
    QString before;           // a beacon's line: text keyed in front of "S KADRIN"
    double beaconElement = -1; // a beacon's line: seconds to the first key down of "S KADRIN"
    QString after;            // a beacon's line: whole words keyed after the 20 symbols
    double afterElement = -1; // a beacon's line: seconds to the first key down of `after`
};

struct LineCopierSettings {
    // A beacon symbol is written only when its posterior probability is at
    // least this; otherwise '#'.
    double symbolConfidence = 0.9;
    // The baseband was low-passed to this many hertz either side of the
    // carrier before copying (another station near); 0: it was not.
    double bandHz = 0;
    // How far either side the carrier's phase is taken from once the key's
    // timing is known, seconds; 0: the copier's own choice. A tone whose
    // pitch the mixer followed only roughly (one moving fast) needs less.
    double phaseReachSeconds = 0;
};

// Copies one transmission from its complex baseband: the tone mixed to 0 Hz
// and summed to `rate` samples a second (a few hundred). Finds the speed,
// the key's timing and the signal amplitude from the samples themselves.
// audioEnds: the audio ends with the baseband, so a character it ends in
// (the key down, or not up long enough to show the character complete) is
// '#', never the letter its first elements spell. `unheard`: the baseband
// samples that carry nothing (a static crash was blanked there), which are
// taken for neither key down nor key up; empty: none.
LineCopy copyLine(const std::vector<std::complex<float>> &baseband, double rate,
                  const LineCopierSettings &settings = {}, bool audioEnds = false,
                  const std::vector<bool> &unheard = {});
