#include "decoder/decodefield.h"

#include "decoder/symbolalphabet.h"
#include "history/telemetryrecord.h"

#include <limits>

double FieldReading::value() const {
    if (!known() || !field->isNumeric())
        return std::numeric_limits<double>::quiet_NaN();
    return field->levels->rows[level].value;
}

QString FieldReading::statement() const {
    QString line = QLatin1String(field->prefix);
    if (known()) {
        line += QLatin1String(": ");
        line += QLatin1String(field->rowText(level));
    } else {
        line += QLatin1String(field->unknownOpening);
        line += QString::fromUcs4(&symbol, 1);
        line += QLatin1Char(')');
    }
    return line;
}

FieldReading readField(const BeaconFrame &frame, const FrameField &field) {
    FieldReading reading;
    reading.field = &field;
    reading.symbol = frame.at(field.position);
    const int level = symbolLevel(reading.symbol);
    if (level >= 0 && level < field.rowCount())
        reading.level = level;
    return reading;
}

FieldReading DecodeField(const BeaconFrame &frame, const FrameField &field,
                         TelemetryRecord &record) {
    const FieldReading reading = readField(frame, field);
    if (field.isNumeric())
        record.Values[field.channel] = reading.value();
    return reading;
}

void DecodeFrame(const BeaconFrame &frame, TelemetryRecord &record) {
    record.frame = frame;
    record.Values.fill(0.0);
    for (const FrameField &field : FrameFields)
        DecodeField(frame, field, record);
}
