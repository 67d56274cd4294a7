#pragma once

#include "archive/archive.h"
#include "decoder/frameoutput.h"

// The archive's frames as CSV or JSON rows: the columns of a decoded log's
// rows (time, file and line of the first reception), then the receptions:
// how many, their sources ("file:/path", "recording:...") and callsigns.
class StoredWriter {
public:
    explicit StoredWriter(OutputFormat format) : format_(format), writer_(format) {}
    // The CSV header row; nothing for JSON.
    void begin(OutputBuffer &out) const;
    // One row; false (nothing written) for a frame this program would not
    // read as one.
    bool write(OutputBuffer &out, const StoredFrame &frame, qint64 record);

private:
    // The receptions' columns of a row, its line end included.
    QByteArray receptionColumns(const std::vector<StoredReception> &receptions) const;

    OutputFormat format_;
    FrameWriter writer_;
    QString source_;                      // the first reception's, as writer_ has it
    std::vector<StoredReception> tailOf_; // the receptions tail_ was made of
    QByteArray tail_;
};
