#pragma once

#include "decoder/beaconframe.h"
#include "decoder/fieldtables.h"
#include "decoder/symbolalphabet.h"

#include <QString>
#include <QStringList>

#include <array>

// What one field of a frame says: the row its symbol selects, if any.
struct FieldReading {
    const FrameField *field = nullptr;
    char32_t symbol = 0;
    int level = -1; // row of the field's table; -1 when the symbol has none

    bool known() const { return level >= 0; }
    // The channel value of a numeric field; NaN when the symbol has no row.
    double value() const;
    // The report line, without line end: "<prefix>: <row text>", or the
    // unknown statement "<prefix>: unknown(<symbol>)".
    QString statement() const;
};

// Reads one field of a frame. A table look-up, no search.
FieldReading readField(const BeaconFrame &frame, const FrameField &field);
// The row of a field's table that a symbol selects; -1 when it has none.
inline int fieldLevel(const FrameField &field, char32_t symbol) {
    const int level = symbolLevel(symbol);
    return level < field.rowCount() ? level : -1;
}
// The channel value a symbol gives a numeric field; NaN when it has no row.
double fieldValue(const FrameField &field, char32_t symbol);

// Whether every one of the 17 fields reads.
bool allFieldsRead(const BeaconFrame &frame);

// A decoded frame: the frame, its 17 readings in frame order and its channel
// values (index = channel; NaN where unreadable; 0 where no field writes).
struct DecodedFrame {
    BeaconFrame frame;
    std::array<FieldReading, FieldCount> readings;
    std::array<double, ChannelCount> values{};
};

DecodedFrame decodeFrame(const BeaconFrame &frame);

// The first line of a frame's report: this opening and the 26 characters.
inline constexpr char ReportHeaderOpening[] = "CW beacon: S";
QString reportHeader(const BeaconFrame &frame);
// The report of a frame: "CW beacon: S" and the 26 characters of the frame,
// then one statement per field: 18 lines, given without line ends.
QStringList reportLines(const DecodedFrame &decoded);
