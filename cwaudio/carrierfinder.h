#pragma once

#include <QtGlobal>

#include <fftw3.h>

#include <deque>
#include <vector>

// Finding the carriers in the audio: power spectra of about 1/4 s, half
// overlapping, summed over about a second, give every tone standing above
// the noise floor between 200 and 3,000 Hz. Each tone is followed from one
// spectrum to the next as a carrier of its own, with its drift: the spectra
// are also summed along straight frequency tracks (a drift of up to
// MaxDriftHzPerSecond either way), so that a tone moving fast is found as
// sharply as a steady one.

namespace cwcopier {

constexpr double MaxDriftHzPerSecond = 60;

struct Carrier {
    int id = 0;
    double hz = 0;               // at the middle of the spectra summed
    double driftHzPerSecond = 0;
    double lastSure = 0;         // seconds of its last sure estimate
    bool sure = false;           // found in the latest spectra
    bool steady = false;         // unkeyed: its power has stayed level for seconds
    int sureCount = 0;
    std::deque<std::pair<double, double>> recent; // sure estimates of the last seconds: seconds, Hz
    std::deque<float> levels;    // its power in each of the last spectra
};

class CarrierFinder {
public:
    explicit CarrierFinder(double rate);
    ~CarrierFinder();
    CarrierFinder(const CarrierFinder &) = delete;
    CarrierFinder &operator=(const CarrierFinder &) = delete;

    int fftSize() const { return fftSize_; }
    int hop() const { return hop_; }

    // The spectrum of fftSize() working samples from `at` on. The carriers'
    // estimates then belong to centre().
    void add(const float *samples, qint64 at);
    qint64 centre() const { return centre_; }
    const std::vector<Carrier> &carriers() const { return carriers_; }
    // Carriers not heard for long, dropped by the last add().
    const std::vector<int> &dropped() const { return dropped_; }
    // A spectrum of audio that was not digital silence was seen.
    bool heard() const { return heard_; }
    // The noise variance of one working sample in the latest spectrum
    // alone; 0 where it was digital silence.
    double spectrumVariance() const { return silent_ ? 0 : spectrumVariance_; }
    // The latest spectrum was digital silence (or nearly: below the
    // quantisation noise of 16-bit audio).
    bool silent() const { return silent_; }

private:
    double refine(const std::vector<double> &sum, int bin) const;

    double rate_ = 0;
    int fftSize_ = 0, hop_ = 0, lowBin_ = 0, highBin_ = 0;
    std::vector<float> window_;
    double windowPower_ = 0;
    float *in_ = nullptr;
    fftwf_complex *out_ = nullptr;
    fftwf_plan plan_ = nullptr;
    std::deque<std::vector<float>> spectra_;
    std::vector<float> sorted_;
    bool heard_ = false;
    bool silent_ = true;
    double spectrumVariance_ = 0;
    qint64 centre_ = 0;
    std::vector<Carrier> carriers_;
    std::vector<int> dropped_;
    int nextId_ = 1;
};

} // namespace cwcopier
