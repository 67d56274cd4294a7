#pragma once

#include "history/telemetryrecord.h"

#include <QStringView>

#include <vector>

// The decoded frames of the last decode pass, record 1 being the first
// frame of the input. Record 0 is never written. The store starts with
// records 0 to 100 and grows when a pass finds more frames; records above
// RecordCount() may still hold frames of an earlier, longer pass and are
// never shown.
class TelemetryHistory {
public:
    static constexpr int InitialCapacity = 100;

    TelemetryHistory();

    // The decode pass: rewrites records 1.. with the frames of text, each
    // from a clean record, and sets RecordCount().
    void decodeText(QStringView text);

    int RecordCount() const { return recordCount_; }
    // Number of records held, stale ones included (at least 101).
    int storedRecords() const { return int(records_.size()); }

    // Any index may be asked for; one outside the store reads as a record
    // never written.
    const TelemetryRecord &record(int index) const;
    // Channel value of a record; NaN when the frame had no value there.
    double value(int index, int channel) const;
    // The report of the last frame of the pass; empty when there was none.
    QString lastReport() const;

private:
    std::vector<TelemetryRecord> records_;
    qint32 recordCount_ = 0;
};
