#pragma once

#include "decoder/beaconframe.h"

#include <QByteArray>

// The three output forms of kadrin-decode, appended to a UTF-8 buffer.
enum class OutputFormat { Report, Csv, Json };

class FrameWriter {
public:
    explicit FrameWriter(OutputFormat format) : format_(format) {}

    // Whatever comes before the first frame (the CSV header row).
    void begin(QByteArray &out) const;
    // One frame, numbered from 1 in input order.
    void write(QByteArray &out, qint64 recordNumber, const BeaconFrame &frame) const;

private:
    OutputFormat format_;
};

// RFC 4180 field: quoted when it holds a comma, a quote, CR or LF.
QByteArray csvField(const QByteArray &text);
// A JSON string literal, quotes included.
QByteArray jsonString(const QString &text);
// The shortest decimal text that reads back to the same double: 2958, -0.5.
QByteArray shortestDecimal(double value);
