#include "history/telemetryrecord.h"

#include "decoder/decodeframe.h"

TelemetryRecord::TelemetryRecord(const BeaconFrame &frame, std::optional<qint64> time)
    : time_(time.value_or(NoTime)) {
    for (int i = 0; i < int(symbols_.size()); ++i)
        symbols_[i] = frame.at(BeaconFrame::NameLength + 1 + i);
}

BeaconFrame TelemetryRecord::frame() const {
    BeaconFrame frame;
    const char32_t name[] = U"KADRIN";
    for (int i = 0; i < BeaconFrame::NameLength; ++i)
        frame.set(i + 1, name[i]);
    for (int i = 0; i < int(symbols_.size()); ++i)
        frame.set(BeaconFrame::NameLength + 1 + i, symbols_[i]);
    return frame;
}

std::optional<qint64> TelemetryRecord::time() const {
    if (time_ == NoTime)
        return std::nullopt;
    return time_;
}

QStringList TelemetryRecord::reportLines() const {
    return isEmpty() ? QStringList() : ::reportLines(decodeFrame(frame()));
}
