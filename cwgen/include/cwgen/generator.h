#pragma once

#include <QString>
#include <QStringList>

#include <complex>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace cwgen {

// How a recording sounds. Timing follows PARIS: a dot lasts 1.2 / wpm
// seconds, a dash 3 dots, the gap inside a character 1 dot, between
// characters 3 and between words 7.
struct Settings {
    double sampleRate = 8000;
    int channels = 1;
    // The one channel (from 0) the recording is on, the others silent; -1:
    // every channel carries the same samples.
    int onlyChannel = -1;
    double wpm = 20;
    double toneHz = 800;
    // Signal power while the key is down over the noise power in 2,500 Hz,
    // in dB (the average over the fading); infinity: no noise at all.
    double snrDb = std::numeric_limits<double>::infinity();
    double driftHzPerSecond = 0; // the tone moves from toneHz at each transmission's start
    double fadingSeconds = 0;    // period of the slow Rayleigh fading; 0: none
    // Each element and gap lasts its PARIS length times 1 + jitter * g, g a
    // standard normal number clamped to [-2, 2]; at least a quarter of it.
    double jitter = 0;
    std::uint64_t seed = 1;
    double gapSeconds = 3;         // noise before, between and after the transmissions
    double edgeSeconds = 0.005;    // raised-cosine rise and fall, centred on each key edge
    double amplitude = 0;          // peak of the tone; 0: chosen so that nothing clips

    // What a satellite and a receiver add; each is off at its default.
    //
    // Doppler of a pass: the tone goes from toneHz + dopplerHz through toneHz,
    // fastest there, to toneHz - dopplerHz, as the range rate of a straight
    // pass: -dopplerHz * u / sqrt(1 + u^2), u = (t - middle) / dopplerSeconds.
    // The middle is each transmission's, or the recording's; dopplerSeconds
    // 0: a quarter of that transmission or recording.
    double dopplerHz = 0;
    double dopplerSeconds = 0;
    bool dopplerPerTransmission = false;
    // A steady drift from the recording's start, not restarting at each
    // transmission, Hz/s.
    double passDriftHzPerSecond = 0;
    // With either of the two above the tone turns back at the edges of the
    // band from 200 to 3,000 Hz (narrowed to the passband and below 0.45
    // times the sample rate), as the operator keeping it in the audio.
    //
    // Spin fading of a tumbling satellite: the power follows
    // floor + (1 - floor) cos^2(pi n t + phase), n nulls a second, floor
    // spinDepthDb below the peak; its average is 1, so the SNR stays the
    // average.
    double spinNullsPerSecond = 0;
    double spinDepthDb = 20;
    // The carrier's phase turns through each null as a spinning linear
    // antenna's does, received on one of another polarisation: the field is
    // cos(pi n t + phase) + j sqrt(floor) sin(pi n t + phase), whose phase
    // turns by half a cycle, fastest in the null.
    bool spinTurnsPhase = false;
    // Static crashes: bursts of white noise at random times (Poisson), each
    // decaying exponentially with a time constant of 1 to 4 ms, starting at
    // crashDb over the noise's power. They need noise (a finite SNR).
    double crashesPerSecond = 0;
    double crashDb = 20;
    // Another station keying otherText over and over with a word gap before
    // each time, from the recording's start to its end, at otherWpm, on
    // toneHz + otherOffsetHz (no Doppler, no fading), its peak otherDb from
    // the beacon's. Empty: none.
    QString otherText;
    double otherWpm = 20;
    double otherOffsetHz = 80;
    double otherDb = 0;
    // A steady carrier on toneHz + carrierOffsetHz, carrierDb from the
    // beacon's peak.
    bool carrier = false;
    double carrierOffsetHz = 30;
    double carrierDb = 0;
    // The receiver's passband over everything above: 4-pole Butterworth
    // high-pass and low-pass at these edges, Hz; 0 and 0: none. The SNR is
    // stated before it.
    double passbandLowHz = 0;
    double passbandHighHz = 0;
    // The receiver's AGC after the passband: a detector charging towards the
    // samples' magnitude with agcAttackSeconds and discharging with
    // agcDecaySeconds sets the gain that brings it to AgcLevel. 0: no AGC.
    // Its attack lets the first milliseconds of a crash or of a strong
    // signal after a quiet spell through, beyond full scale at times.
    double agcAttackSeconds = 0;
    double agcDecaySeconds = 0.5;
    // Samples beyond +-clipLevel cut to it, after the AGC; 0: none.
    double clipLevel = 0;
    // Exact zeros before and after everything (the gaps included).
    double silenceSeconds = 0;
};

// The envelope's level an AGC holds its output at, full scale 1.
inline constexpr double AgcLevel = 0.25;

// A stretch of key down or key up, in seconds from the recording's first
// sample. Key edges are centred on start and end: the tone is at half its
// amplitude there.
struct Element {
    double start = 0;
    double end = 0;
    bool on = false;
};

// One character as it was keyed.
struct Keyed {
    QString text;          // "A", "<SK>"
    QString code;          // ".-", "...-.-"
    double start = 0;      // its first key down
    double end = 0;        // its last key up
    int firstElement = 0;  // its elements in Transmission::elements, gaps inside it included
    int elementCount = 0;
};

// One transmission: a text keyed from start to end.
struct Transmission {
    QString text;                   // words separated by one blank
    double start = 0;
    double end = 0;
    std::vector<Element> elements;  // every key-down and key-up stretch, start to end in order
    std::vector<Keyed> characters;  // the characters, blanks left out
};

// Makes a recording of CW transmissions in white Gaussian noise: a
// continuous-phase sine keyed with shaped edges, with optional drift, fading
// and timing jitter, and optionally the receiver's channel (Settings). The
// same settings and texts always give the same samples.
// Samples are made as they are asked for, so a recording of hours needs
// little memory.
class Generator {
public:
    // Plans the transmissions of these texts, one after another with
    // gapSeconds of noise before, between and after them. False with error()
    // when a setting is out of range or a text holds a character that has no
    // Morse code.
    bool plan(const Settings &settings, const QStringList &texts);
    QString error() const { return error_; }

    const Settings &settings() const { return settings_; }
    const std::vector<Transmission> &transmissions() const { return transmissions_; }
    std::int64_t frameCount() const { return frameCount_; } // samples per channel
    double seconds() const { return double(frameCount_) / settings_.sampleRate; }
    double amplitude() const { return amplitude_; }   // peak of the tone, A
    double noiseSigma() const { return noiseSigma_; } // per sample; sigma^2 = N0 fs / 2
    double dotSeconds() const { return 1.2 / settings_.wpm; }
    // The tone's frequency at a time (toneHz plus the drift since the start of
    // the transmission the time belongs to, or the next one, and the Doppler).
    double frequencyAt(double seconds) const;
    // The fading's amplitude factor at a time, Rayleigh and spin fading
    // together (1 without fading); its square averages 1.
    double gainAt(double seconds) const;
    // The carrier's phase the spin fading turns it by at a time, radians
    // (0 unless spinTurnsPhase).
    double spinPhaseAt(double seconds) const;

    // The next samples (mono), at most count; 0 at the end.
    std::int64_t render(float *samples, std::int64_t count);
    // Starts again from the first sample.
    void rewind();
    // The whole recording, from the first sample.
    std::vector<float> samples();

private:
    struct Biquad {
        double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        double filter(double x);
    };
    struct Crash {
        double start = 0;
        double decaySeconds = 0;
    };

    double envelopeAt(double seconds);
    double toneAt(double seconds, const Transmission *transmission) const;
    double otherEnvelopeAt(double seconds);
    double crashAt(double seconds);
    double receive(double value, double seconds);

    Settings settings_;
    QString error_;
    std::vector<Transmission> transmissions_;
    std::vector<Element> onElements_; // key-down stretches of all transmissions
    std::vector<int> onTransmission_; // the transmission of each of them
    std::vector<std::complex<float>> fading_; // fading process, fadingRate_ points a second
    double fadingRate_ = 0;
    std::int64_t frameCount_ = 0;
    double amplitude_ = 0;
    double noiseSigma_ = 0;
    double edge_ = 0;
    // The receiver channel.
    bool receiver_ = false;   // anything after the beacon and its noise
    double contentStart_ = 0; // seconds: the recording inside the silence
    double contentEnd_ = 0;
    std::int64_t firstFrame_ = 0; // the first sample after the silence at the start
    std::int64_t endFrame_ = 0;   // the first sample of the silence at the end
    double bandLow_ = 0;          // the band the Doppler keeps the tone in
    double bandHigh_ = 0;
    double spinFloor_ = 1;
    double spinMean_ = 1;
    double spinPhase_ = 0;
    std::vector<Element> otherOn_; // one round of the other station's keying
    double otherPeriod_ = 0;
    double otherEdge_ = 0;
    double otherAmplitude_ = 0;
    double carrierAmplitude_ = 0;
    double crashSigma_ = 0;
    double agcCharge_ = 0;        // per sample
    double agcKeep_ = 1;          // per sample
    double agcStart_ = 0;         // the detector's level at the first sample
    std::vector<Biquad> passband_;

    // Render state.
    std::int64_t position_ = 0;
    std::size_t nextOn_ = 0;
    double phase_ = 0;
    std::mt19937_64 noiseRandom_;
    std::normal_distribution<double> normal_;
    std::size_t otherNext_ = 0;
    double otherRound_ = 0; // the start of the other station's round
    double otherPhase_ = 0;
    double carrierPhase_ = 0;
    std::mt19937_64 crashTiming_;
    std::mt19937_64 crashNoise_;
    std::normal_distribution<double> crashNormal_;
    double nextCrash_ = 0;
    std::vector<Crash> crashes_; // those still sounding
    double agcEnvelope_ = 0;
};

// Writes the recording from its first sample into a file whose format
// follows the name's suffix: .wav (16 bit), .flac (16 bit), .ogg (Vorbis).
// False with *error saying why (unknown suffix, a write that failed); a file
// that could not be written whole is removed. *clipped, when given, counts
// the samples beyond full scale (clipped in the file; only an amplitude set
// by hand, or noise peaks of over 5 sigma, make them).
bool writeFile(Generator &generator, const QString &path, QString *error,
               std::int64_t *clipped = nullptr);

} // namespace cwgen
