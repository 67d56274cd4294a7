// The decode pass over arbitrary bytes, read once as UTF-8 and once as
// Latin-1. For every input:
//   - reading the text in pieces (as kadrin-decode reads a file) gives the
//     same lines and verdicts as reading it whole (as the window does);
//   - every record holds a frame of 26 code points starting with the name,
//     and an 18-line report whose first line shows it; a channel has no
//     value exactly when its field's line is the unknown statement;

#include "decoder/decodeframe.h"
#include "decoder/lines.h"
#include "fuzzcheck.h"
#include "history/telemetryhistory.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

struct Judged {
    LineVerdict::Kind kind;
    QString frame;
};

std::vector<Judged> judgedWhole(QStringView text, std::vector<QStringView> &lines) {
    std::vector<Judged> judged;
    forEachLine(text, [&](QStringView line) {
        lines.push_back(line);
        const LineVerdict v = LineScanner::judge(line);
        judged.push_back({v.kind, v.frame ? v.frame->text() : QString()});
    });
    return judged;
}

// The same text in pieces of 1 to step characters.
std::vector<Judged> judgedInPieces(QStringView text, int step) {
    std::vector<Judged> judged;
    LineSplitter splitter;
    LineScanner scanner;
    const auto onText = [&](QStringView piece) { scanner.add(piece); };
    const auto onBreak = [&] {
        const LineVerdict v = scanner.finish();
        judged.push_back({v.kind, v.frame ? v.frame->text() : QString()});
    };
    for (qsizetype at = 0, n = 1; at < text.size(); at += n, n = n % step + 1)
        splitter.feed(text.mid(at, n), onText, onBreak);
    // The last line of a whole text ends with the text, even an empty one.
    if (!text.isEmpty())
        onBreak();
    return judged;
}

// Every record: its frame, its report, and a chart value exactly where its
// field's line is no unknown statement.
void checkRecords(const TelemetryHistory &history) {
    std::vector<std::vector<double>> values(FieldCount);
    for (int f = 0; f < FieldCount; ++f)
        if (FrameFields[size_t(f)].isNumeric())
            history.forEachValue(FrameFields[size_t(f)].channel,
                                 [&](double v) { values[size_t(f)].push_back(v); });
    for (int index = 1; index <= history.recordCount(); ++index) {
        const TelemetryRecord &record = history.record(index);
        const QString frame = record.frame().text();
        FUZZ_CHECK_MSG(frame.toUcs4().size() == BeaconFrame::Length && frame.startsWith(u"KADRIN"),
                       frame);
        const QStringList lines = record.reportLines();
        FUZZ_CHECK(lines.size() == 1 + FieldCount &&
                   lines[0] == QStringLiteral("CW beacon: S") + frame);
        for (int f = 0; f < FieldCount; ++f) {
            const FrameField &field = FrameFields[size_t(f)];
            const bool unknown = lines[f + 1].startsWith(QLatin1String(field.prefix) +
                                                         QLatin1String(field.unknownOpening));
            if (field.isNumeric())
                FUZZ_CHECK_MSG(std::isnan(values[size_t(f)][size_t(index - 1)]) == unknown,
                               lines[f + 1]);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const auto *bytes = reinterpret_cast<const char *>(data);
    const QString texts[] = {QString::fromUtf8(bytes, qsizetype(size)),
                             QString::fromLatin1(bytes, qsizetype(size))};
    for (const QString &text : texts) {
        std::vector<QStringView> lines;
        const std::vector<Judged> whole = judgedWhole(text, lines);
        const std::vector<Judged> pieces = judgedInPieces(text, 1 + int(size % 7));
        FUZZ_CHECK_MSG(
            whole.size() == pieces.size(),
            QStringLiteral("%1 lines whole, %2 in pieces").arg(whole.size()).arg(pieces.size()));
        for (size_t i = 0; i < whole.size(); ++i)
            FUZZ_CHECK_MSG(whole[i].kind == pieces[i].kind && whole[i].frame == pieces[i].frame,
                           QStringLiteral("line %1").arg(i));

        TelemetryHistory history;
        history.decodeText(text);
        int frames = 0;
        for (const Judged &j : whole)
            frames += j.kind == LineVerdict::Kind::Frame ||
                      j.kind == LineVerdict::Kind::FrameWithUnreadable;
        FUZZ_CHECK(history.recordCount() == frames);
        checkRecords(history);
    }
    return 0;
}
