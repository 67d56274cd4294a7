#include "app/linemarks.h"

#include "decoder/decodeframe.h"
#include "decoder/utctime.h"
#include "history/telemetryhistory.h"

namespace {
const QColor FrameMark(0x2e, 0x8b, 0x57);
const QColor UnreadableMark(0xe0, 0x8a, 0x00);
const QColor NearMissMark(0xcc, 0x22, 0x22);
} // namespace

LineMark lineMark(const TelemetryHistory &history, int line, QStringView text) {
    LineMark mark;
    const LineVerdict verdict = history.lineVerdict(line);
    if (verdict.kind == LineVerdict::Kind::NearMiss) {
        mark.margin = NearMissMark;
    } else if (verdict.kind == LineVerdict::Kind::Frame) {
        mark.margin = FrameMark;
    } else if (verdict.kind == LineVerdict::Kind::FrameWithUnreadable) {
        mark.margin = UnreadableMark;
        const auto columns = frameColumns(text);
        for (const FrameField &field : FrameFields) {
            if (readField(*verdict.frame, field).known())
                continue;
            const int column = columns[size_t(field.position - 1)];
            mark.underlines.append({column, text[column].isHighSurrogate() ? 2 : 1});
        }
    }
    return mark;
}

QString lineTip(const TelemetryHistory &history, int line) {
    const LineVerdict verdict = history.lineVerdict(line);
    if (verdict.kind == LineVerdict::Kind::NearMiss)
        return QLatin1String("near miss: ") + nearMissText(verdict);
    if (!verdict.isFrame())
        return QString();
    QString tip = QStringLiteral("frame %1").arg(history.recordOfLine(line));
    if (verdict.time)
        tip += QLatin1String(", ") + displayUtcTime(*verdict.time);
    if (verdict.kind == LineVerdict::Kind::FrameWithUnreadable)
        tip += QLatin1String("\nunreadable symbols: ") + unreadableText(*verdict.frame);
    return tip;
}

QString barTip(const TelemetryHistory &history, int record, int channel) {
    if (record < 1 || record > history.recordCount())
        return QString();
    const TelemetryRecord &found = history.record(record);
    QString tip = QStringLiteral("record %1").arg(record);
    if (const auto time = found.time())
        tip += QLatin1String(", ") + displayUtcTime(*time);
    if (const FrameField *field = fieldOfChannel(channel))
        tip += QLatin1String(": ") + readField(found.frame(), *field).statement();
    return tip;
}
