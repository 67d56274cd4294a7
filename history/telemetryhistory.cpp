#include "history/telemetryhistory.h"

#include "decoder/lines.h"

#include <algorithm>

TelemetryHistory::Change TelemetryHistory::decodeText(QStringView text) {
    std::vector<QStringView> lines;
    forEachLine(text, [&lines](QStringView line) { lines.push_back(line); });
    return replaceLines(0, lineCount(), int(lines.size()),
                        [&lines](int i) { return lines[size_t(i)]; });
}

TelemetryHistory::Change TelemetryHistory::replaceLines(int first, int removed, int count,
                                                        const LineSource &newLine) {
    first = std::clamp(first, 0, lineCount());
    removed = std::clamp(removed, 0, lineCount() - first);

    std::vector<LineInfo> infos(size_t(std::max(count, 0)));
    std::vector<std::unique_ptr<TelemetryRecord>> records;
    std::vector<Levels> levels;
    std::vector<int> recordLines;
    LineScanner scanner;
    for (int i = 0; i < count; ++i) {
        scanner.add(newLine(i));
        const LineVerdict verdict = scanner.finish();
        infos[size_t(i)] = {verdict.kind, verdict.miss, verdict.symbols};
        if (verdict.isFrame()) {
            records.push_back(std::make_unique<TelemetryRecord>(*verdict.frame, verdict.time));
            levels.push_back(levelsOf(*verdict.frame));
            recordLines.push_back(first + i);
        }
    }

    const auto firstRecord = std::lower_bound(recordLines_.begin(), recordLines_.end(), first);
    const auto endRecord = std::lower_bound(firstRecord, recordLines_.end(), first + removed);
    const auto recordIndex = firstRecord - recordLines_.begin();
    const auto removedRecords = endRecord - firstRecord;

    // Later records move with their lines.
    const int shift = count - removed;
    if (shift != 0)
        for (auto it = endRecord; it != recordLines_.end(); ++it)
            *it += shift;

    auto splice = [](auto &target, qsizetype at, qsizetype gone, auto &&replacement) {
        const qsizetype common = std::min<qsizetype>(gone, qsizetype(replacement.size()));
        std::move(replacement.begin(), replacement.begin() + common, target.begin() + at);
        if (gone > common)
            target.erase(target.begin() + at + common, target.begin() + at + gone);
        else
            target.insert(target.begin() + at + common,
                          std::make_move_iterator(replacement.begin() + common),
                          std::make_move_iterator(replacement.end()));
    };
    splice(lines_, first, removed, infos);
    splice(records_, recordIndex, removedRecords, records);
    splice(levels_, recordIndex, removedRecords, levels);
    splice(recordLines_, recordIndex, removedRecords, recordLines);

    return {int(recordIndex) + 1, int(removedRecords), int(records.size())};
}

TelemetryHistory::Levels TelemetryHistory::levelsOf(const BeaconFrame &frame) {
    Levels levels;
    for (int channel = 1; channel <= int(levels.size()); ++channel) {
        const FrameField *field = fieldOfChannel(channel);
        levels[size_t(channel - 1)] = qint8(fieldLevel(*field, frame.at(field->position)));
    }
    return levels;
}

const TelemetryRecord &TelemetryHistory::record(int index) const {
    static const TelemetryRecord neverWritten;
    if (index < 1 || index > recordCount())
        return neverWritten;
    return *records_[size_t(index - 1)];
}

LineVerdict TelemetryHistory::lineVerdict(int line) const {
    LineVerdict verdict;
    if (line < 0 || line >= lineCount())
        return verdict;
    const LineInfo &info = lines_[size_t(line)];
    verdict.kind = info.kind;
    verdict.miss = info.miss;
    verdict.symbols = info.symbols;
    if (verdict.isFrame()) {
        const TelemetryRecord &found = record(recordOfLine(line));
        verdict.frame = found.frame();
        verdict.time = found.time();
    }
    return verdict;
}

int TelemetryHistory::recordOfLine(int line) const {
    const auto it = std::lower_bound(recordLines_.begin(), recordLines_.end(), line);
    if (it == recordLines_.end() || *it != line)
        return 0;
    return int(it - recordLines_.begin()) + 1;
}
