#include "blanker.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace cwcopier {

namespace {

constexpr double BlockSeconds = 0.002;
// The blocks either side of one its level is taken from (50 ms), and the
// share of them at most as strong as that level.
constexpr size_t Reach = 25;
constexpr double LevelShare = 0.75;
constexpr int LevelEvery = 4;
// A block this many times that level's power (10 dB) is a crash.
constexpr double CrashRatio = 10;
// Blocks blanked before and after a crash's own: its rise and its tail.
constexpr int Before = 1, After = 2;
// Below this the audio is digital silence, with nothing to blank against.
constexpr double SilencePower = 1e-11;

} // namespace

Blanker::Blanker(double rate) {
    blockSize_ = std::max<size_t>(4, size_t(std::lround(BlockSeconds * rate)));
}

void Blanker::process(const float *samples, size_t count, std::vector<float> &out) {
    for (size_t i = 0; i < count; ++i) {
        filling_.push_back(samples[i]);
        if (filling_.size() == blockSize_) {
            block(out);
            filling_.clear();
        }
    }
}

void Blanker::block(std::vector<float> &out) {
    double power = 0;
    for (float v : filling_)
        power += double(v) * v;
    powers_.push_back(power / double(filling_.size()));
    // Kept in order as they come and go: the level is read off it.
    sorted_.insert(std::upper_bound(sorted_.begin(), sorted_.end(), powers_.back()), powers_.back());
    held_.insert(held_.end(), filling_.begin(), filling_.end());
    // The middle block of the last Reach * 2 + 1 against the level the
    // blocks around it keep to: most of a key-down element's blocks are
    // as strong as it, a crash's few are far stronger than the others.
    const size_t span = 2 * Reach + 1;
    if (powers_.size() == span) {
        // The level, taken again every few blocks (it changes slowly).
        if (++sinceLevel_ >= LevelEvery) {
            level_ = sorted_[size_t(double(span - 1) * LevelShare)];
            sinceLevel_ = 0;
        }
        const double middle = powers_[Reach];
        crash_.push_back(level_ > SilencePower && middle > CrashRatio * level_);
        sorted_.erase(std::lower_bound(sorted_.begin(), sorted_.end(), powers_.front()));
        powers_.pop_front();
    } else if (powers_.size() > Reach) {
        crash_.push_back(false); // the first blocks of the audio
    }
    while (crash_.size() > size_t(Before))
        handOn(out);
}

void Blanker::handOn(std::vector<float> &out) {
    bool blank = crash_.front();
    if (blank)
        tail_ = After;
    else if (tail_ > 0)
        --tail_, blank = true;
    for (size_t k = 1; k < crash_.size() && k <= size_t(Before); ++k)
        blank = blank || crash_[k];
    float *const b = held_.data() + heldFrom_;
    const std::size_t size = blockSize_;
    const long long end = handedOn_ + (long long)size;
    if (blank) {
        std::fill(b, b + size, 0.0f);
        blanked_ += (long long)size;
        if (!stretches_.empty() && stretches_.back().second == handedOn_)
            stretches_.back().second = end;
        else
            stretches_.push_back({handedOn_, end});
    }
    handedOn_ = end;
    out.insert(out.end(), b, b + size);
    heldFrom_ += size;
    // The blocks handed on are dropped once they are as many as those held.
    if (heldFrom_ >= held_.size() - heldFrom_) {
        held_.erase(held_.begin(), held_.begin() + std::ptrdiff_t(heldFrom_));
        heldFrom_ = 0;
    }
    crash_.pop_front();
}

std::vector<std::pair<long long, long long>> Blanker::takeStretches() {
    std::vector<std::pair<long long, long long>> taken;
    taken.swap(stretches_);
    return taken;
}

void Blanker::flush(std::vector<float> &out) {
    while (crash_.size() < (held_.size() - heldFrom_) / blockSize_)
        crash_.push_back(false);
    while (heldFrom_ < held_.size())
        handOn(out);
    out.insert(out.end(), filling_.begin(), filling_.end());
    handedOn_ += (long long)filling_.size();
    filling_.clear();
}

} // namespace cwcopier
