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
    std::vector<Entry> records;
    LineScanner scanner;
    for (int i = 0; i < count; ++i) {
        scanner.add(newLine(i));
        const LineVerdict verdict = scanner.finish();
        infos[size_t(i)] = {verdict.kind, verdict.miss, verdict.symbols};
        if (verdict.isFrame())
            records.emplace_back(verdict, first + i);
    }

    const auto byLine = [](const Entry &entry, int line) { return entry.line < line; };
    const auto firstRecord = std::lower_bound(records_.begin(), records_.end(), first, byLine);
    const auto endRecord = std::lower_bound(firstRecord, records_.end(), first + removed, byLine);
    const auto recordIndex = firstRecord - records_.begin();
    const auto removedRecords = endRecord - firstRecord;

    // Later records move with their lines.
    const int shift = count - removed;
    if (shift != 0)
        for (auto it = endRecord; it != records_.end(); ++it)
            it->line += shift;

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

    return {int(recordIndex) + 1, int(removedRecords), int(records.size())};
}

TelemetryHistory::Entry::Entry(const LineVerdict &verdict, int atLine)
    : record(std::make_unique<TelemetryRecord>(*verdict.frame, verdict.time)), line(atLine) {
    static_assert(sizeof(Entry) == 24);
    for (int channel = 1; channel <= 14; ++channel) {
        const FrameField *field = fieldOfChannel(channel);
        const int level = fieldLevel(*field, verdict.frame->at(field->position));
        if (level >= 0) {
            levels |= quint64(level) << (4 * (channel - 1));
            known |= quint16(1 << (channel - 1));
        }
    }
}

const TelemetryRecord &TelemetryHistory::record(int index) const {
    static const TelemetryRecord neverWritten;
    if (index < 1 || index > recordCount())
        return neverWritten;
    return *records_[size_t(index - 1)].record;
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
    const auto it = std::lower_bound(records_.begin(), records_.end(), line,
                                     [](const Entry &entry, int at) { return entry.line < at; });
    if (it == records_.end() || it->line != line)
        return 0;
    return int(it - records_.begin()) + 1;
}
