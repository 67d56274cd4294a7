#include "archive/storedoutput.h"

#include "decoder/decodeframe.h"
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

namespace {
// The decoder's verdict on the frame's line, made from its parts: stored
// symbols are the 20 the line scanner kept (blanks gone, upper case).
std::optional<LineVerdict> verdictOf(const StoredFrame &stored) {
    BeaconFrame frame;
    for (int i = 0; i < BeaconFrame::NameLength; ++i)
        frame.set(i + 1, LineScanner::Name[i]);
    int position = BeaconFrame::NameLength;
    for (qsizetype i = 0; i < stored.symbols.size(); ++i) {
        char32_t c = stored.symbols.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < stored.symbols.size())
            c = QChar::surrogateToUcs4(char16_t(c), stored.symbols.at(++i).unicode());
        if (++position > BeaconFrame::Length || c == U' ')
            return std::nullopt;
        frame.set(position, c);
    }
    if (position != BeaconFrame::Length)
        return std::nullopt;
    LineVerdict verdict;
    verdict.kind = allFieldsRead(frame) ? LineVerdict::Kind::Frame : LineVerdict::Kind::FrameWithUnreadable;
    verdict.frame = frame;
    verdict.time = stored.time;
    return verdict;
}
} // namespace

bool StoredWriter::write(OutputBuffer &out, const StoredFrame &frame, qint64 record) {
    const std::optional<LineVerdict> verdict = verdictOf(frame);
    if (!verdict || frame.receptions.empty())
        return false;
    // The first source's field and the receptions' columns are made again
    // only when they change: most frames in a row share them.
    const StoredReception &first = frame.receptions.front();
    if (source_.isNull() || first.source != source_) {
        source_ = first.source.isNull() ? QStringLiteral("") : first.source;
        writer_.setSource(source_.toUtf8());
    }
    writer_.write(out, *verdict, record, first.line);
    // The row's end ("\r\n" or "}\n") gives way to the receptions.
    out.commit(out.reserve(0) - 2);
    bool same = !tail_.isEmpty() && frame.receptions.size() == tailOf_.size();
    for (size_t i = 0; same && i < tailOf_.size(); ++i) {
        const StoredReception &r = frame.receptions[i];
        same = r.kind == tailOf_[i].kind && r.source == tailOf_[i].source && r.callsign == tailOf_[i].callsign;
    }
    if (!same) {
        tailOf_ = frame.receptions;
        tail_ = receptionColumns(frame.receptions);
    }
    out += tail_;
    return true;
}

QByteArray StoredWriter::receptionColumns(const std::vector<StoredReception> &receptions) const {
    QStringList sources, callsigns;
    for (const StoredReception &r : receptions) {
        const QString source = receptionKindName(r.kind) + QLatin1Char(':') + r.source;
        if (!sources.contains(source))
            sources.append(source);
        if (!r.callsign.isEmpty() && !callsigns.contains(r.callsign))
            callsigns.append(r.callsign);
    }
    const QByteArray count = QByteArray::number(qint64(receptions.size()));
    if (format_ == OutputFormat::Csv)
        return ',' + count + ',' + csvField(sources.join(QLatin1Char(';')).toUtf8()) + ',' +
               csvField(callsigns.join(QLatin1Char(';')).toUtf8()) + "\r\n";
    auto list = [](const QStringList &items) {
        QByteArray json = "[";
        for (const QString &item : items)
            json += (json.size() > 1 ? "," : "") + jsonString(item);
        return json + ']';
    };
    return ",\"receptions\":" + count + ",\"sources\":" + list(sources) + ",\"callsigns\":" + list(callsigns) +
           "}\n";
}
