#pragma once

#include "decoder/linescanner.h"
#include "decoder/outputbuffer.h"

#include <QByteArray>
#include <QString>

// The output forms of decoded lines, for kadrin-decode and the window's export.
enum class OutputFormat { Report, Csv, Json, Status, None };

class FrameWriter {
public:
    explicit FrameWriter(OutputFormat format);

    // Whatever comes before the first line (the CSV header row).
    void begin(OutputBuffer &out) const;
    // The input now comes from this FILE, given as its bytes ("-" for
    // standard input).
    void setSource(const QByteArray &name);
    // One input line of the source, numbered from 1; record is the frame's
    // number when the line carries one. --status writes every line, the
    // other forms only frames.
    void write(OutputBuffer &out, const LineVerdict &verdict, qint64 record, qint64 line) const;

private:
    void writeReport(OutputBuffer &out, const BeaconFrame &frame, qint64 record) const;
    void writeCsv(OutputBuffer &out, const LineVerdict &verdict, qint64 record, qint64 line) const;
    void writeJson(OutputBuffer &out, const LineVerdict &verdict, qint64 record, qint64 line) const;

    OutputFormat format_;
    QByteArray sourceName_; // as given, for --status
    QByteArray sourceCsv_;  // the name as a CSV field
    QByteArray sourceJson_; // the name as a JSON string
};

// RFC 4180 field: quoted when it holds a comma, a quote, CR or LF.
QByteArray csvField(const QByteArray &text);
// A JSON string literal, quotes included.
QByteArray jsonString(QStringView text);
// The shortest decimal text that reads back to the same double: 2958, -0.5.
QByteArray shortestDecimal(double value);
