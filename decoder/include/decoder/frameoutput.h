#pragma once

#include "decoder/linescanner.h"
#include "decoder/outputbuffer.h"

#include <QByteArray>
#include <QString>

// The output forms of decoded lines, for kadrin-decode and the window's export.
enum class OutputFormat { Report, Csv, Json, Status, None };

// What the audio said of a line copied from it.
struct LineSignal {
    double toneHz = 0; // the carrier it was keyed on
    double snrDb = 0;  // in 2,500 Hz
};

class FrameWriter {
public:
    explicit FrameWriter(OutputFormat format);

    // CSV and JSON end each row with the line's tone_hz and snr_db, empty
    // or null for a line that was not copied from audio (kadrin-decode --audio).
    void setSignalColumns(bool on) { signalColumns_ = on; }
    // Whatever comes before the first line (the CSV header row).
    void begin(OutputBuffer &out) const;
    // The input now comes from this FILE, given as its bytes ("-" for
    // standard input).
    void setSource(const QByteArray &name);
    // One input line of the source, numbered from 1; record is the frame's
    // number when the line carries one; signal when it was copied from
    // audio. --status writes every line, the other forms only frames.
    void write(OutputBuffer &out, const LineVerdict &verdict, qint64 record, qint64 line,
               const LineSignal *signal = nullptr) const;

private:
    void writeReport(OutputBuffer &out, const BeaconFrame &frame, qint64 record) const;
    void writeCsv(OutputBuffer &out, const LineVerdict &verdict, qint64 record, qint64 line,
                  const LineSignal *signal) const;
    void writeJson(OutputBuffer &out, const LineVerdict &verdict, qint64 record, qint64 line,
                   const LineSignal *signal) const;

    OutputFormat format_;
    bool signalColumns_ = false;
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
// One decimal, never "-0.0": 801.3.
QByteArray tenths(double value);
