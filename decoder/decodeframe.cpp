#include "decoder/decodeframe.h"

#include <limits>

double fieldValue(const FrameField &field, char32_t symbol) {
    const int level = fieldLevel(field, symbol);
    if (level < 0 || !field.isNumeric())
        return std::numeric_limits<double>::quiet_NaN();
    return field.levels->rows[size_t(level)].value;
}

double FieldReading::value() const {
    return fieldValue(*field, symbol);
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
    reading.level = fieldLevel(field, reading.symbol);
    return reading;
}

bool allFieldsRead(const BeaconFrame &frame) {
    for (const FrameField &field : FrameFields)
        if (!readField(frame, field).known())
            return false;
    return true;
}

DecodedFrame decodeFrame(const BeaconFrame &frame) {
    DecodedFrame decoded;
    decoded.frame = frame;
    for (int i = 0; i < FieldCount; ++i) {
        const FieldReading reading = readField(frame, FrameFields[i]);
        decoded.readings[i] = reading;
        if (reading.field->isNumeric())
            decoded.values[reading.field->channel] = reading.value();
    }
    return decoded;
}

QString reportHeader(const BeaconFrame &frame) {
    return QLatin1String(ReportHeaderOpening) + frame.text();
}

QStringList reportLines(const DecodedFrame &decoded) {
    QStringList lines;
    lines.reserve(1 + FieldCount);
    lines.append(reportHeader(decoded.frame));
    for (const FieldReading &reading : decoded.readings)
        lines.append(reading.statement());
    return lines;
}
