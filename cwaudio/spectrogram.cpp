#include "cwaudio/spectrogram.h"

#include "fftwlock.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>

Spectrogram::Spectrogram(double sampleRate)
    : sampleRate_(sampleRate),
      // Power-of-two FFT nearest 10 Hz a column: 1,024 at 8 kHz, 4,096 at 48 kHz.
      fftSize_(1 << int(std::lround(std::log2(sampleRate / 10.0)))),
      hop_(int(std::lround(sampleRate * 0.016))),
      firstBin_(int(std::ceil(LowHz * fftSize_ / sampleRate))),
      lastBin_(int(std::floor(HighHz * fftSize_ / sampleRate))),
      window_(size_t(fftSize_)), history_(size_t(fftSize_), 0.0f), power_(size_t(bins())) {
    for (int i = 0; i < fftSize_; ++i)
        window_[size_t(i)] = float(0.5 - 0.5 * std::cos(2 * M_PI * i / fftSize_));
    in_ = fftwf_alloc_real(size_t(fftSize_));
    out_ = fftwf_alloc_complex(size_t(fftSize_ / 2 + 1));
    const std::lock_guard<std::mutex> planning(fftwPlannerLock());
    plan_ = fftwf_plan_dft_r2c_1d(fftSize_, in_, static_cast<fftwf_complex *>(out_),
                                  FFTW_ESTIMATE);
}

Spectrogram::~Spectrogram() {
    const std::lock_guard<std::mutex> planning(fftwPlannerLock());
    fftwf_destroy_plan(plan_);
    fftwf_free(in_);
    fftwf_free(out_);
}

void Spectrogram::reset() {
    std::fill(history_.begin(), history_.end(), 0.0f);
    head_ = 0;
    sinceRow_ = 0;
    filled_ = 0;
}

void Spectrogram::feed(const float *samples, qsizetype count,
                       const std::function<void(const float *, int)> &row) {
    const auto *out = static_cast<const fftwf_complex *>(out_);
    for (qsizetype i = 0; i < count; ++i) {
        history_[size_t(head_)] = samples[i];
        head_ = (head_ + 1) % fftSize_;
        ++filled_;
        // Rows start once the window is full of audio: a window partly of
        // the zeros before the stream would show as a bright edge.
        if (++sinceRow_ < hop_ || filled_ < fftSize_)
            continue;
        sinceRow_ = 0;
        // The oldest sample is at head_: unroll the ring under the window.
        for (int k = 0; k < fftSize_; ++k)
            in_[k] = history_[size_t((head_ + k) % fftSize_)] * window_[size_t(k)];
        fftwf_execute(plan_);
        for (int b = firstBin_; b <= lastBin_; ++b) {
            const float re = out[b][0], im = out[b][1];
            power_[size_t(b - firstBin_)] = 10.0f * std::log10(re * re + im * im + 1e-20f);
        }
        row(power_.data(), bins());
    }
}
