#include "history/telemetryhistory.h"

#include "decoder/decodefield.h"
#include "decoder/decodepass.h"

TelemetryHistory::TelemetryHistory() : records_(InitialCapacity + 1) {}

void TelemetryHistory::decodeText(QStringView text) {
    recordCount_ = 0;
    forEachBeaconFrame(text, [this](const BeaconFrame &frame) {
        ++recordCount_;
        if (recordCount_ >= storedRecords())
            records_.emplace_back();
        DecodeFrame(frame, records_[recordCount_]);
    });
}

const TelemetryRecord &TelemetryHistory::record(int index) const {
    static const TelemetryRecord neverWritten;
    if (index < 0 || index >= storedRecords())
        return neverWritten;
    return records_[index];
}

double TelemetryHistory::value(int index, int channel) const {
    if (channel < 0 || channel >= TelemetryRecord::ChannelCount)
        return 0.0;
    return record(index).Values[channel];
}

QString TelemetryHistory::lastReport() const {
    return recordCount_ > 0 ? record(recordCount_).ReportText() : QString();
}
