#pragma once

#include "decoder/beaconframe.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// One decoded frame: the frame and its channel values. The report is made
// from the frame when it is read, so a pass over many frames only stores
// what it found.
class TelemetryRecord {
public:
    static constexpr int ChannelCount = 29; // channels 0 to 28
    static constexpr int ReportLineCount = 18;

    std::optional<BeaconFrame> frame;          // none for a record never written
    std::array<double, ChannelCount> Values{}; // index = channel; NaN = no value

    // The report: "CW beacon: S" and the frame, then one statement per
    // field, every line ended by CR LF. Empty for a record never written.
    QString ReportText() const;
    // The same 18 lines without line ends (none for a record never written).
    QStringList reportLines() const;
};
