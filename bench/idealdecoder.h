#pragma once

// The reference the copier is measured against: a decoder told what no
// copier knows, the exact tone (drift included), amplitude (fading included),
// noise level, speed, jitter and where each character begins and ends.
// Within that window it lays the keying of each of the 16 frame symbols (of
// any letter or digit in slots 10 to 12, as a frame may carry there),
// stretched to fill it, and chooses the most likely one. With hand keying
// (jitter) each inner key edge may move, and the symbol is chosen with its
// most likely timing, the likelihood of the lengths included.
//
// It is told the carrier's phase as well: the generator's sine keeps its
// phase across elements, and the phase is taken from every key down of the
// transmission. Per key-down stretch the samples are correlated with the
// tone in that phase, and the likelihood of "tone there" over "no tone" is
// (2 mu z - mu^2) / s2 (z the correlation's real part, mu its expected size,
// s2 its noise power).

#include "cwgen/generator.h"

#include <QString>

#include <complex>
#include <cstdint>
#include <vector>

class IdealDecoder {
public:
    explicit IdealDecoder(const cwgen::Generator &generator);

    // The 20 symbols of a frame transmission, from the samples
    // samples[0..count) that begin at the recording's sample firstSample and
    // hold the whole transmission. *posterior (when given): each chosen
    // symbol's posterior among the characters weighed, equally likely before.
    QString frameSymbols(const cwgen::Transmission &frame, const float *samples,
                         std::int64_t firstSample, std::int64_t count,
                         std::vector<double> *posterior = nullptr);

private:
    const cwgen::Generator &generator_;
    std::vector<std::complex<double>> sums_; // running sums of the samples moved to 0 Hz
};
