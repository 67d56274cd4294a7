#pragma once

#include <QtGlobal>

#include <functional>
#include <vector>

struct fftwf_plan_s;

// Power spectra of mono audio as it comes, over 200..3,000 Hz: one row every
// hop of about 16 ms, from a Hann-windowed real FFT whose size gives columns
// of about 10 Hz at any rate (the FFT grows with the rate, the hop stays).
class Spectrogram {
public:
    static constexpr double LowHz = 200, HighHz = 3000;
    explicit Spectrogram(double sampleRate); // 8 kHz .. 48 kHz
    ~Spectrogram();
    Spectrogram(const Spectrogram &) = delete;
    Spectrogram &operator=(const Spectrogram &) = delete;

    int bins() const { return lastBin_ - firstBin_ + 1; } // columns of a row, LowHz..HighHz
    double binHz(int bin) const { return (firstBin_ + bin) * sampleRate_ / fftSize_; }
    double rowSeconds() const { return hop_ / sampleRate_; }
    // Feeds samples; calls row(power, bins()) for each row completed (power
    // in dB, any fixed offset).
    void feed(const float *samples, qsizetype count,
              const std::function<void(const float *, int)> &row);
    void reset();

private:
    double sampleRate_;
    int fftSize_;
    int hop_;
    int firstBin_, lastBin_;
    std::vector<float> window_;
    std::vector<float> history_; // the last fftSize_ samples, a ring
    int head_ = 0;               // where the next sample goes
    int sinceRow_ = 0;           // samples since the last row
    qint64 filled_ = 0;          // samples since the start, for the first full window
    std::vector<float> power_;
    float *in_ = nullptr;
    void *out_ = nullptr;
    fftwf_plan_s *plan_ = nullptr;
};
