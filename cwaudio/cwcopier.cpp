#include "cwaudio/cwcopier.h"

struct CwCopier::State {
    double sampleRate = 0;
    qint64 samples = 0;
    std::function<void(const CopiedLine &)> onLine;
};

CwCopier::CwCopier(double sampleRate) : state_(std::make_unique<State>()) {
    state_->sampleRate = sampleRate;
}

CwCopier::~CwCopier() = default;

void CwCopier::setLineHandler(std::function<void(const CopiedLine &)> handler) {
    state_->onLine = std::move(handler);
}

void CwCopier::feed(const float *, qsizetype count) {
    state_->samples += count;
}

void CwCopier::finish() {}

CopyFigures CwCopier::figures() const {
    CopyFigures figures;
    figures.seconds = double(state_->samples) / state_->sampleRate;
    return figures;
}
