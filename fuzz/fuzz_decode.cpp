// The decode pass over arbitrary bytes, read once as UTF-8 and once as
// Latin-1. Whatever the text, the pass must not crash and what it stores
// must be a well-formed record per frame:
//   - no more records than the text has lines;
//   - each record 1..RecordCount() holds a frame of 26 code points starting
//     with the name, and an 18-line report whose first line shows it;
//   - channels 1..14 hold NaN or one of the values of their field's table,
//     and NaN exactly when the field's report line is the unknown statement;
//   - channels 0 and 15..28 are 0;
//   - ReportText() is the 18 lines, each ended by CR LF;
//   - decoding the same text again, after another text in between or in a
//     fresh store, gives the same records.

#include "decoder/fieldtables.h"
#include "fuzzcheck.h"
#include "history/telemetryhistory.h"

#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace {

constexpr int FirstChannel = 1;
constexpr int LastChannel = 14;

// The numeric field that writes each channel, from the field list.
struct ChannelFields {
    const FrameField *field[TelemetryRecord::ChannelCount] = {};

    ChannelFields() {
        for (const FrameField &spec : FrameFields) {
            if (!spec.isNumeric())
                continue;
            FUZZ_CHECK(spec.channel >= FirstChannel && spec.channel <= LastChannel);
            FUZZ_CHECK_MSG(field[spec.channel] == nullptr,
                           QStringLiteral("channel %1 written by two fields").arg(spec.channel));
            field[spec.channel] = &spec;
        }
        for (int channel = FirstChannel; channel <= LastChannel; ++channel)
            FUZZ_CHECK_MSG(field[channel] != nullptr,
                           QStringLiteral("no field writes channel %1").arg(channel));
    }
};

const ChannelFields &channelFields() {
    static const ChannelFields fields;
    return fields;
}

// Lines as the decode pass counts them: none in an empty text, otherwise one
// more than there are line feeds (CR LF is one break, a lone CR none).
qsizetype lineCount(const QString &text) {
    return text.isEmpty() ? 0 : text.count(QLatin1Char('\n')) + 1;
}

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Whether text is exactly the pieces one after the other. Compares in place:
// the checks run for every record of every input, and under the sanitizers
// each string built costs more than the decoding.
bool isSequence(QStringView text, std::initializer_list<QStringView> pieces) {
    for (const QStringView piece : pieces) {
        if (!text.startsWith(piece))
            return false;
        text = text.mid(piece.size());
    }
    return text.isEmpty();
}

qsizetype codePointCount(QStringView text) {
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++count)
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
    return count;
}

bool sameRecord(const TelemetryRecord &a, const TelemetryRecord &b) {
    if (a.frame.has_value() != b.frame.has_value())
        return false;
    if (a.frame && !(*a.frame == *b.frame))
        return false;
    for (int channel = 0; channel < TelemetryRecord::ChannelCount; ++channel)
        if (!sameBits(a.Values[channel], b.Values[channel]))
            return false;
    return true;
}

// What the pass stored, records 1..RecordCount().
std::vector<TelemetryRecord> recordsOf(const TelemetryHistory &history) {
    std::vector<TelemetryRecord> records;
    for (int index = 1; index <= history.RecordCount(); ++index)
        records.push_back(history.record(index));
    return records;
}

void checkRecord(const TelemetryRecord &record, int index) {
    // Messages are only made when a check fails: building them for every
    // record would cost more than the pass itself.
    const auto where = [index] { return QStringLiteral("record %1").arg(index); };
    FUZZ_CHECK_MSG(record.frame.has_value(), where());

    const QString frameText = record.frame->text();
    const auto frameMessage = [&] {
        return where() + QLatin1String(": frame ") + describe(frameText);
    };
    FUZZ_CHECK_MSG(codePointCount(frameText) == BeaconFrame::Length, frameMessage());
    FUZZ_CHECK_MSG(frameText.startsWith(QLatin1String("KADRIN")), frameMessage());
    FUZZ_CHECK_MSG(!frameText.contains(QLatin1Char(' ')) && !frameText.contains(QLatin1Char('\n')),
                   frameMessage());

    const QStringList lines = record.reportLines();
    FUZZ_CHECK_MSG(lines.size() == TelemetryRecord::ReportLineCount,
                   where() + QStringLiteral(": %1 report lines").arg(lines.size()));
    FUZZ_CHECK_MSG(isSequence(lines[0], {u"CW beacon: S", frameText}),
                   where() + QLatin1String(": first line ") + describe(lines[0]));

    // ReportText(): each line, then CR LF.
    const QString report = record.ReportText();
    QStringView rest = report;
    for (const QString &line : lines) {
        FUZZ_CHECK_MSG(rest.startsWith(line) && rest.mid(line.size()).startsWith(u"\r\n"),
                       where() + QLatin1String(": report text ") + describe(report));
        rest = rest.mid(line.size() + 2);
    }
    FUZZ_CHECK_MSG(rest.isEmpty(), where() + QLatin1String(": report text ") + describe(report));

    for (int channel = FirstChannel; channel <= LastChannel; ++channel) {
        const FrameField &field = *channelFields().field[channel];
        const double value = record.Values[channel];
        // The field's statement is the report line after the header, in
        // field order.
        const QString &statement = lines[int(&field - FrameFields.data()) + 1];
        const QLatin1String prefix(field.prefix);
        const auto context = [&] {
            return where() + QStringLiteral(", channel %1 = %2, line %3")
                                 .arg(channel)
                                 .arg(value)
                                 .arg(describe(statement));
        };
        FUZZ_CHECK_MSG(statement.startsWith(prefix), context());
        const QStringView afterPrefix = QStringView(statement).mid(prefix.size());
        if (std::isnan(value)) {
            FUZZ_CHECK_MSG(afterPrefix.startsWith(QLatin1String(field.unknownOpening)), context());
            continue;
        }
        int row = -1;
        for (int i = 0; i < int(field.levels->rows.size()); ++i)
            if (sameBits(field.levels->rows[i].value, value))
                row = i;
        FUZZ_CHECK_MSG(row >= 0, context() + QLatin1String(": not a value of ") +
                                     QLatin1String(field.levels->name));
        FUZZ_CHECK_MSG(afterPrefix.startsWith(u": ") &&
                           afterPrefix.mid(2) == QLatin1String(field.levels->rows[row].text),
                       context());
    }
    FUZZ_CHECK_MSG(sameBits(record.Values[0], 0.0), where());
    for (int channel = LastChannel + 1; channel < TelemetryRecord::ChannelCount; ++channel)
        FUZZ_CHECK_MSG(
            sameBits(record.Values[channel], 0.0),
            where() + QStringLiteral(", channel %1 = %2").arg(channel).arg(record.Values[channel]));
}

void checkPass(const TelemetryHistory &history, const QString &text) {
    const int count = history.RecordCount();
    FUZZ_CHECK_MSG(count >= 0 && count <= lineCount(text),
                   QStringLiteral("%1 records from %2 lines").arg(count).arg(lineCount(text)));
    FUZZ_CHECK(history.storedRecords() > count);
    for (int index = 1; index <= count; ++index) {
        checkRecord(history.record(index), index);
        // The chart reads channels through value(): the same numbers.
        for (int channel = 0; channel < TelemetryRecord::ChannelCount; ++channel)
            FUZZ_CHECK(
                sameBits(history.value(index, channel), history.record(index).Values[channel]));
    }
    FUZZ_CHECK(!history.record(history.storedRecords()).frame.has_value());
    if (count == 0)
        FUZZ_CHECK(history.lastReport().isEmpty());
    else
        FUZZ_CHECK(history.lastReport() == history.record(count).ReportText());
}

void checkSame(const std::vector<TelemetryRecord> &first, const TelemetryHistory &again,
               const char *how) {
    FUZZ_CHECK_MSG(int(first.size()) == again.RecordCount(),
                   QStringLiteral("%1: %2 records, then %3")
                       .arg(QLatin1String(how))
                       .arg(first.size())
                       .arg(again.RecordCount()));
    for (int index = 1; index <= again.RecordCount(); ++index)
        FUZZ_CHECK_MSG(sameRecord(first[index - 1], again.record(index)),
                       QStringLiteral("%1: record %2 differs").arg(QLatin1String(how)).arg(index));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const auto *bytes = reinterpret_cast<const char *>(data);
    const QString texts[] = {QString::fromUtf8(bytes, qsizetype(size)),
                             QString::fromLatin1(bytes, qsizetype(size))};

    // One store for all passes, as in the window: later passes run over
    // records an earlier pass left behind. Plain ASCII reads the same both
    // ways; it is checked once.
    const int readings = texts[0] == texts[1] ? 1 : 2;
    TelemetryHistory history;
    for (int reading = 0; reading < readings; ++reading) {
        const QString &text = texts[reading];
        history.decodeText(text);
        checkPass(history, text);
        const std::vector<TelemetryRecord> first = recordsOf(history);

        history.decodeText(text);
        checkSame(first, history, "same text twice");

        TelemetryHistory fresh;
        fresh.decodeText(text);
        checkSame(first, fresh, "fresh store");
    }
    // Back to the first reading after the second one overwrote the records.
    history.decodeText(texts[0]);
    TelemetryHistory fresh;
    fresh.decodeText(texts[0]);
    checkSame(recordsOf(fresh), history, "after another text");
    return 0;
}
