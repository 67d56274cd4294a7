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
};

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
// and timing jitter. The same settings and texts always give the same samples.
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
    // the transmission the time belongs to, or the next one).
    double frequencyAt(double seconds) const;
    // The fading's amplitude factor at a time (1 without fading); its square
    // averages 1.
    double gainAt(double seconds) const;

    // The next samples (mono), at most count; 0 at the end.
    std::int64_t render(float *samples, std::int64_t count);
    // Starts again from the first sample.
    void rewind();
    // The whole recording, from the first sample.
    std::vector<float> samples();

private:
    double envelopeAt(double seconds);

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

    // Render state.
    std::int64_t position_ = 0;
    std::size_t nextOn_ = 0;
    double phase_ = 0;
    std::mt19937_64 noiseRandom_;
    std::normal_distribution<double> normal_;
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
