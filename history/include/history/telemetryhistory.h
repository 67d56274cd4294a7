#pragma once

#include "decoder/decodeframe.h"
#include "decoder/linescanner.h"
#include "history/telemetryrecord.h"

#include <QStringView>

#include <functional>
#include <limits>
#include <memory>
#include <vector>

// The decoded frames of a text, kept line by line so that an edit costs only
// what it changed. Record 1 is the first frame of the text; every frame of
// the text has its record, in text order.
class TelemetryHistory {
public:
    // What an update did to the records: those from firstRecord (1-based) on,
    // removedRecords of them, were replaced by addedRecords new ones; the
    // records after them were renumbered.
    struct Change {
        int firstRecord = 1;
        int removedRecords = 0;
        int addedRecords = 0;
    };
    using LineSource = std::function<QStringView(int)>;

    // The decode pass over a whole text.
    Change decodeText(QStringView text);
    // Lines [first, first + removed) of the text were replaced by count lines,
    // newLine(0) to newLine(count - 1), each given without its line break.
    // Reads only those lines.
    Change replaceLines(int first, int removed, int count, const LineSource &newLine);

    int recordCount() const { return int(records_.size()); }
    int lineCount() const { return int(lines_.size()); }

    // Record index (1-based); any other index reads as a record never written.
    const TelemetryRecord &record(int index) const;

    // The verdict on a line (0-based), its time and frame included.
    LineVerdict lineVerdict(int line) const;
    // The record of a frame line, 0 for any other line.
    int recordOfLine(int line) const;

    // Calls onValue(double) with the value of a channel in every record, in
    // order: the chart's whole work, read from a compact copy of the levels.
    template <typename OnValue> void forEachValue(int channel, OnValue &&onValue) const {
        const FrameField *field = fieldOfChannel(channel);
        if (!field) {
            for (size_t i = 0; i < records_.size(); ++i)
                onValue(0.0);
            return;
        }
        const auto &rows = field->levels->rows;
        const double missing = std::numeric_limits<double>::quiet_NaN();
        for (const Entry &entry : records_) {
            const int level = entry.level(channel);
            onValue(level < 0 ? missing : rows[size_t(level)].value);
        }
    }

private:
    // What a line is, without its frame: four bytes a line.
    struct LineInfo {
        LineVerdict::Kind kind = LineVerdict::Kind::Other;
        LineVerdict::Miss miss = LineVerdict::Miss::None;
        quint8 symbols = 0;
    };

    // A record, the levels of its numeric channels (what the chart reads)
    // and its line, spliced as one: 24 bytes beside the record.
    struct Entry {
        std::unique_ptr<TelemetryRecord> record; // stays in place while entries move
        quint64 levels = 0;                      // four bits a channel, channel 1 lowest
        int line = 0;                            // ascending over the entries
        quint16 known = 0;                       // a bit a channel: its symbol has a row

        Entry(const LineVerdict &verdict, int atLine);
        // The row of a channel's table (1 to 14), -1 for none.
        int level(int channel) const {
            return known >> (channel - 1) & 1 ? int(levels >> (4 * (channel - 1)) & 15) : -1;
        }
    };

    std::vector<LineInfo> lines_;
    std::vector<Entry> records_; // in text order
};
