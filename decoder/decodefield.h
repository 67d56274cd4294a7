#pragma once

#include "decoder/beaconframe.h"
#include "decoder/fieldtables.h"

#include <QString>

class TelemetryRecord;

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

// Decodes one field into the record: a numeric field writes its channel
// (NaN when its symbol is not in the table); mode fields write nothing.
FieldReading DecodeField(const BeaconFrame &frame, const FrameField &field,
                         TelemetryRecord &record);

// Decodes a whole frame into a clean record: the frame itself, every
// numeric channel, and zeros in the channels no field writes.
void DecodeFrame(const BeaconFrame &frame, TelemetryRecord &record);
