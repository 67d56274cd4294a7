#include "history/telemetryrecord.h"

#include "decoder/decodefield.h"

QStringList TelemetryRecord::reportLines() const {
    QStringList lines;
    if (!frame)
        return lines;
    lines.reserve(ReportLineCount);
    lines.append(QLatin1String("CW beacon: S") + frame->text());
    for (const FrameField &field : FrameFields)
        lines.append(readField(*frame, field).statement());
    return lines;
}

QString TelemetryRecord::ReportText() const {
    QString report;
    for (const QString &line : reportLines()) {
        report += line;
        report += QLatin1String("\r\n");
    }
    return report;
}
