#pragma once

#include <cstddef>
#include <deque>
#include <utility>
#include <vector>

// Static crashes blanked: the audio in blocks of about 2 ms; a block far
// stronger than most of those within 50 ms around it (a key-down element
// keeps its level for its whole length, a crash is over in a few blocks)
// is a crash, and it and its neighbours become silence, so that a crash
// never makes an element nor pulls the tone's or the noise's estimate.

namespace cwcopier {

class Blanker {
public:
    explicit Blanker(double rate);
    // Blanks `samples` and appends them to `out`, a few blocks late.
    void process(const float *samples, std::size_t count, std::vector<float> &out);
    // Appends what is held back.
    void flush(std::vector<float> &out);
    long long blanked() const { return blanked_; } // samples made silent
    // The stretches made silent since the last call, [first, end) counted
    // from the first sample handed in.
    std::vector<std::pair<long long, long long>> takeStretches();

private:
    void block(std::vector<float> &out);
    void handOn(std::vector<float> &out);

    std::size_t blockSize_ = 16;
    std::vector<float> filling_;
    std::vector<float> held_;             // blocks not yet handed on, from heldFrom_
    std::size_t heldFrom_ = 0;
    std::deque<bool> crash_;
    std::deque<double> powers_;           // of the blocks around the one decided
    std::vector<double> sorted_;
    double level_ = 0;                    // the level they keep to
    int sinceLevel_ = 1 << 30;
    int tail_ = 0; // blocks still to blank after a crash
    long long blanked_ = 0;
    long long handedOn_ = 0; // samples
    std::vector<std::pair<long long, long long>> stretches_;
};

} // namespace cwcopier
