#include "cwaudio/recordingtime.h"

#include "decoder/utctime.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>

std::optional<double> parseUtcTime(const QString &text) {
    static const QRegularExpression form(QStringLiteral(
        R"(^(\d{4}-\d\d-\d\d[T ]\d\d:\d\d(?::\d\d)?)(\.\d+)?Z?$)"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const std::optional<qint64> whole = leadingUtcTime(match.captured(1));
    if (!whole)
        return std::nullopt;
    const QString fraction = match.captured(2);
    return double(*whole) + (fraction.isEmpty() ? 0.0 : QStringView(fraction).toDouble());
}

std::optional<double> recordingStartFromName(const QString &path) {
    static const QRegularExpression form(
        QStringLiteral(R"(_(\d{4}-\d\d-\d\d)T(\d\d)-(\d\d)-(\d\d)\.[A-Za-z0-9]+$)"));
    const QRegularExpressionMatch match = form.match(QFileInfo(path).fileName());
    if (!match.hasMatch())
        return std::nullopt;
    return parseUtcTime(match.captured(1) + 'T' + match.captured(2) + ':' + match.captured(3) +
                        ':' + match.captured(4));
}

QString timedLogLine(std::optional<double> seconds, const QString &text) {
    if (!seconds || *seconds >= double(LatestUtcSecond) + 1)
        return text; // a time no log line can carry is no time
    return QString::fromLatin1(isoUtcTime(qint64(std::floor(*seconds)))).left(19).replace('T', ' ') +
           QLatin1String("  ") + text;
}
