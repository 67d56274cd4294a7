#pragma once

#include "decoder/beaconframe.h"

#include <QString>
#include <QStringList>

#include <array>
#include <limits>
#include <optional>

// One decoded frame of the text: the twenty symbols after the name and the
// UTC time of its line. Everything else (statements, channel values, the
// report) is read from the symbols when asked for, so a store of a million
// frames holds only what was received.
class TelemetryRecord {
public:
    TelemetryRecord() = default;
    TelemetryRecord(const BeaconFrame &frame, std::optional<qint64> time);

    BeaconFrame frame() const;
    std::optional<qint64> time() const;
    // The 18 report lines without line ends; none for a record never written.
    QStringList reportLines() const;

    bool isEmpty() const { return symbols_[0] == NoSymbol; }
    // The symbol at a frame position, 7 to 26.
    char32_t symbol(int position) const {
        return symbols_[size_t(position - BeaconFrame::NameLength - 1)];
    }

private:
    static constexpr qint64 NoTime = std::numeric_limits<qint64>::min();
    // No code point: a received symbol may be any character, U+0000 included.
    static constexpr char32_t NoSymbol = 0xFFFFFFFF;
    std::array<char32_t, BeaconFrame::Length - BeaconFrame::NameLength> symbols_{NoSymbol};
    qint64 time_ = NoTime;
};
