#pragma once

#include <complex>
#include <vector>

// The key-down evidence of each tick of a line: its baseband sum projected
// on the carrier phase, the noise and the amplitude, and the log-likelihood
// ratio of key down against key up.

namespace linecopier {

using Complex = std::complex<double>;
// The share of the assumed amplitude a slot's reading must also hold at
// (through Rayleigh fading, 0.4 wrote '#' for symbols that held).
constexpr double WeakerSignal = 0.5;

struct Ticks {
    std::vector<Complex> sum; // baseband summed over each tick
    std::vector<int> samples; // samples in each tick
    std::vector<int> first;   // first sample of each tick
    // Ticks holding samples that carry nothing (a static crash blanked
    // there): neither key down nor key up; empty where none do.
    std::vector<bool> unheard;
    std::vector<double> inPhase, quadrature;
    std::vector<double> cumulative; // running sum of the log-likelihood ratios, size + 1
    // The running sum of the ratios were the signal WeakerSignal times the
    // amplitude assumed, size + 1.
    std::vector<double> cumulativeWeak;
    double amplitude = 0; // key-down amplitude of one baseband sample
    double noise = 0;     // variance of one sample's real part
    // How many ticks the noise of one stays alike over, where the baseband
    // was narrowed before copying: a mark's evidence counts each tick's
    // noise as its own, so each tick's evidence is divided by it.
    double correlation = 1;
    int size() const { return int(sum.size()); }
};

// The baseband summed over ticks of `tick` samples (each tick's edges
// rounded to a sample); `unheard`: the samples that carry nothing (empty:
// none).
Ticks makeTicks(const std::vector<std::complex<float>> &z, double tick,
                const std::vector<bool> &unheard = {});

// Projects each tick on the carrier phase of the ticks around it (itself
// left out, so its noise does not bias the reference), weighted by how
// likely each neighbour is key down.
void project(Ticks &ticks, int reach, const std::vector<double> *weight);

// Whether the carrier's phase turns through the line (a spinning antenna's
// null turns it by up to half a cycle): each key-down stretch [start, end)
// strong enough to show its phase is compared with the strong ones before
// it (within reach ticks, or the last one); a quarter cycle off is a turn.
bool phaseTurns(const Ticks &ticks, const std::vector<std::pair<int, int>> &marks, double noise,
                int reach);

// The pitch left over after mixing (the tone the mixer followed was fitted
// to estimates that scatter by tenths of a hertz, enough to turn the phase
// by a radian in half a second), measured from the key-down ticks
// themselves (`weight`: how likely each is key down), and the ticks turned
// back by it. tickSeconds: the length of a tick.
void followPitch(Ticks &ticks, const std::vector<double> &weight, double tickSeconds);

// At least 60 dB under the line's mean power: audio with no noise at all
// (made, not received) must not make every tick infinitely sure.
double noiseFloor(const Ticks &ticks);

// Noise from the quadrature part (no signal there) unless it is known,
// amplitude from a two-component mixture of the in-phase part.
void estimateLevels(Ticks &ticks, double knownNoise = 0);

// Log-likelihood ratios of key down, with the amplitude at each tick when
// given (fading), else the line's; the noise is the line's, or more where
// the quadrature part says a burst of noise came (span ticks either side).
void likelihoods(Ticks &ticks, const std::vector<double> *localAmplitude, int span);

// The key-down amplitude near each tick (from the nearest two thirds of a
// dot of key down, within span ticks either side), from soft key-down
// weights found again with each round's estimate.
std::vector<double> trackAmplitude(const Ticks &ticks, int span);

// A tumbling satellite's spin fading: the key-down power through ticks
// [from, to) as a steady part and one sinusoid (the nulls come at a steady
// rate), fitted to the ticks that `local` makes likely key down. The
// amplitude it gives each tick of the line, or nothing where the sinusoid
// follows the power less closely than `local` does (fading that is not
// periodic). tickSeconds: the length of a tick. *depth: the sinusoid's
// amplitude over the steady part's (1: nulls to nothing). closer: false
// where `local` is too noisy to measure the sinusoid against (a weak
// signal): the depth is to tell then.
std::vector<double> periodicAmplitude(const Ticks &ticks, const std::vector<double> &local,
                                      double tickSeconds, int from, int to,
                                      double *depth = nullptr, bool closer = true);

} // namespace linecopier
