#include "archive/storedoutput.h"

#include "decoder/linescanner.h"
#include "decoder/utctime.h"

#include <QStringList>

void StoredWriter::begin(OutputBuffer &out) const {
    if (format_ != OutputFormat::Csv)
        return;
    writer_.begin(out);
    // The header's line end gives way to the receptions' columns.
    out.commit(out.reserve(0) - 2);
    out += ",receptions,sources,callsigns\r\n";
}

bool StoredWriter::write(OutputBuffer &out, const StoredFrame &frame, qint64 record) {
    const LineVerdict verdict = LineScanner::judge(QString::fromLatin1(isoUtcTime(frame.time)) +
                                                   QStringLiteral(" S KADRIN") + frame.symbols);
    if (!verdict.isFrame() || frame.receptions.empty())
        return false;
    QStringList sources, callsigns;
    for (const StoredReception &r : frame.receptions) {
        const QString source = receptionKindName(r.kind) + QLatin1Char(':') + r.source;
        if (!sources.contains(source))
            sources.append(source);
        if (!r.callsign.isEmpty() && !callsigns.contains(r.callsign))
            callsigns.append(r.callsign);
    }
    const StoredReception &first = frame.receptions.front();
    writer_.setSource(first.source.toUtf8());
    writer_.write(out, verdict, record, first.line);
    // The row's end ("\r\n" or "}\n") gives way to the receptions.
    out.commit(out.reserve(0) - 2);
    const QByteArray count = QByteArray::number(qint64(frame.receptions.size()));
    if (format_ == OutputFormat::Csv) {
        out += ',' + count + ',' + csvField(sources.join(QLatin1Char(';')).toUtf8()) + ',' +
               csvField(callsigns.join(QLatin1Char(';')).toUtf8()) + "\r\n";
        return true;
    }
    auto list = [](const QStringList &items) {
        QByteArray json = "[";
        for (const QString &item : items)
            json += (json.size() > 1 ? "," : "") + jsonString(item);
        return json + ']';
    };
    out += ",\"receptions\":" + count + ",\"sources\":" + list(sources) +
           ",\"callsigns\":" + list(callsigns) + "}\n";
    return true;
}
