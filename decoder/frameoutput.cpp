#include "decoder/frameoutput.h"

#include "decoder/decodeframe.h"
#include "decoder/symbolalphabet.h"
#include "decoder/utctime.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>

QByteArray shortestDecimal(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QByteArray(buffer, int(result.ptr - buffer));
}

QByteArray csvField(const QByteArray &text) {
    bool needsQuotes = false;
    for (char c : text)
        if (c == ',' || c == '"' || c == '\r' || c == '\n')
            needsQuotes = true;
    if (!needsQuotes)
        return text;
    QByteArray quoted = text;
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
}

QByteArray jsonString(QStringView text) {
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u == u'"' || u == u'\\') {
            out += '\\';
            out += char(u);
        } else if (u >= 0x20 && u < 0x80) {
            out += char(u);
        } else if (QChar::isHighSurrogate(u) && i + 1 < text.size() &&
                   text[i + 1].isLowSurrogate()) {
            out += text.mid(i, 2).toUtf8();
            ++i;
        } else if (u == u'\t' || u == u'\n' || u == u'\r' || u == u'\b' || u == u'\f') {
            out += '\\';
            out += "tnrbf"[QByteArrayView("\t\n\r\b\f").indexOf(char(u))];
        } else if (u < 0x20 || QChar::isSurrogate(u)) {
            // Other control characters and lone surrogates are written as escapes.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(u));
            out += escape;
        } else {
            out += text.mid(i, 1).toUtf8();
        }
    }
    out += '"';
    return out;
}

namespace {

// A short text kept in place, copied with one fixed-size move.
struct Cell {
    char text[31] = {};
    quint8 size = 0;

    static Cell of(const QByteArray &bytes) {
        Cell cell;
        Q_ASSERT(bytes.size() <= qsizetype(sizeof cell.text));
        std::memcpy(cell.text, bytes.constData(), size_t(bytes.size()));
        cell.size = quint8(bytes.size());
        return cell;
    }
    char *put(char *to) const {
        std::memcpy(to, text, sizeof text);
        return to + size;
    }
};

// The texts of every field and row, made once: the tables are constant.
struct FieldTexts {
    int position = 0;
    int rowCount = 0;
    std::array<Cell, 16> csv;                 // ",<value or row text>", CSV-quoted
    std::array<QByteArray, 16> jsonStatement; // ",<report line>" as a JSON string
    std::array<QByteArray, 128> jsonUnknown;  // the same for each ASCII symbol without row
    std::array<QByteArray, 16> jsonValue;     // "<name>":<number or string>
    QByteArray jsonNull;                      // "<name>":null
};

const std::array<FieldTexts, FieldCount> &fieldTexts() {
    static const auto texts = [] {
        std::array<FieldTexts, FieldCount> all;
        BeaconFrame frame;
        for (int f = 0; f < FieldCount; ++f) {
            const FrameField &field = FrameFields[size_t(f)];
            FieldTexts &t = all[size_t(f)];
            t.position = field.position;
            t.rowCount = field.rowCount();
            const QByteArray name = jsonString(QString::fromLatin1(field.prefix)) + ':';
            t.jsonNull = name + "null";
            for (char32_t symbol = 0; symbol < 128; ++symbol) {
                frame.set(field.position, symbol);
                const FieldReading reading = readField(frame, field);
                if (!reading.known())
                    t.jsonUnknown[symbol] = ',' + jsonString(reading.statement());
            }
            for (int level = 0; level < field.rowCount(); ++level) {
                frame.set(field.position, char32_t(SymbolAlphabet[size_t(level)]));
                const FieldReading reading = readField(frame, field);
                t.jsonStatement[size_t(level)] = ',' + jsonString(reading.statement());
                if (field.isNumeric()) {
                    const QByteArray number = shortestDecimal(reading.value());
                    t.csv[size_t(level)] = Cell::of(',' + number);
                    t.jsonValue[size_t(level)] = name + number;
                } else {
                    const QByteArray text = field.rowText(level);
                    t.csv[size_t(level)] = Cell::of(',' + csvField(text));
                    t.jsonValue[size_t(level)] = name + jsonString(QString::fromLatin1(text));
                }
            }
        }
        return all;
    }();
    return texts;
}

// Row of each field's table for the frame's symbol; -1 where it has none.
std::array<int, FieldCount> levelsOf(const BeaconFrame &frame) {
    const auto &texts = fieldTexts();
    std::array<int, FieldCount> levels;
    for (int f = 0; f < FieldCount; ++f) {
        const int level = symbolLevel(frame.at(texts[size_t(f)].position));
        levels[size_t(f)] = level < texts[size_t(f)].rowCount ? level : -1;
    }
    return levels;
}

// Whether every character of the frame is printable ASCII that needs no
// quoting in CSV or JSON; such a frame is copied byte for byte.
bool plainAscii(const BeaconFrame &frame, char *out) {
    for (int i = 0; i < BeaconFrame::Length; ++i) {
        const char32_t c = frame.at(i + 1);
        if (c < 0x20 || c >= 0x7f || c == U'"' || c == U'\\' || c == U',')
            return false;
        out[i] = char(c);
    }
    return true;
}

void appendTime(OutputBuffer &out, const std::optional<qint64> &time, bool quoted) {
    if (!time) {
        if (quoted)
            out += "null";
        return;
    }
    char text[22];
    text[0] = '"';
    writeIsoUtcTime(*time, text + 1);
    text[21] = '"';
    if (quoted)
        out.append(text, 22);
    else
        out.append(text + 1, 20);
}

} // namespace

FrameWriter::FrameWriter(OutputFormat format) : format_(format) {
    setSource("-");
}

void FrameWriter::begin(OutputBuffer &out) const {
    if (format_ != OutputFormat::Csv)
        return;
    out += "record,frame";
    for (const FrameField &field : FrameFields) {
        out += ',';
        out += csvField(field.prefix);
    }
    out += ",time,file,line\r\n";
}

void FrameWriter::setSource(const QByteArray &name) {
    sourceName_ = name;
    sourceCsv_ = csvField(QString::fromUtf8(name).toUtf8());
    sourceJson_ = jsonString(QString::fromUtf8(name));
}

void FrameWriter::write(OutputBuffer &out, const LineVerdict &verdict, qint64 record,
                        qint64 line) const {
    if (format_ == OutputFormat::Status) {
        out += sourceName_;
        out += ':';
        out.appendNumber(line);
        out += ": ";
        out += verdictText(verdict, record).toUtf8();
        out += '\n';
        return;
    }
    if (!verdict.isFrame())
        return;
    switch (format_) {
    case OutputFormat::None:
        break;
    case OutputFormat::Report:
        writeReport(out, *verdict.frame, record);
        break;
    case OutputFormat::Csv:
        writeCsv(out, verdict, record, line);
        break;
    case OutputFormat::Json:
        writeJson(out, verdict, record, line);
        break;
    case OutputFormat::Status:
        break;
    }
}

void FrameWriter::writeReport(OutputBuffer &out, const BeaconFrame &frame, qint64 record) const {
    if (record > 1)
        out += '\n';
    for (const QString &line : reportLines(decodeFrame(frame))) {
        out += line.toUtf8();
        out += '\n';
    }
}

void FrameWriter::writeCsv(OutputBuffer &out, const LineVerdict &verdict, qint64 record,
                           qint64 line) const {
    const auto &texts = fieldTexts();
    const BeaconFrame &frame = *verdict.frame;
    out.appendNumber(record);
    out += ',';
    char ascii[BeaconFrame::Length];
    if (plainAscii(frame, ascii))
        out.append(ascii, BeaconFrame::Length);
    else
        out += csvField(frame.text().toUtf8());
    // The cells are written straight into the buffer: this runs a million
    // times a second.
    char *to = out.reserve(FieldCount * qsizetype(sizeof(Cell)) + 32);
    for (int f = 0; f < FieldCount; ++f) {
        const FieldTexts &field = texts[size_t(f)];
        const int level = symbolLevel(frame.at(field.position));
        if (level < field.rowCount && level >= 0)
            to = field.csv[size_t(level)].put(to);
        else
            *to++ = ',';
    }
    *to++ = ',';
    if (verdict.time) {
        writeIsoUtcTime(*verdict.time, to);
        to += 20;
    }
    *to++ = ',';
    out.commit(to);
    out += sourceCsv_;
    out += ',';
    out.appendNumber(line);
    out += "\r\n";
}

void FrameWriter::writeJson(OutputBuffer &out, const LineVerdict &verdict, qint64 record,
                            qint64 line) const {
    const auto &texts = fieldTexts();
    const BeaconFrame &frame = *verdict.frame;
    out += "{\"record\":";
    out.appendNumber(record);
    out += ",\"frame\":";
    char ascii[BeaconFrame::Length];
    if (plainAscii(frame, ascii)) {
        out += '"';
        out.append(ascii, BeaconFrame::Length);
        out += "\",\"report\":[\"";
        out += ReportHeaderOpening;
        out.append(ascii, BeaconFrame::Length);
        out += '"';
    } else {
        out += jsonString(frame.text());
        out += ",\"report\":[";
        out += jsonString(reportHeader(frame));
    }
    const auto levels = levelsOf(frame);
    for (int f = 0; f < FieldCount; ++f) {
        const char32_t symbol = frame.at(texts[size_t(f)].position);
        if (levels[size_t(f)] >= 0) {
            out += texts[size_t(f)].jsonStatement[size_t(levels[size_t(f)])];
        } else if (symbol < 128) {
            out += texts[size_t(f)].jsonUnknown[symbol];
        } else {
            out += ',';
            out += jsonString(readField(frame, FrameFields[size_t(f)]).statement());
        }
    }
    out += "],\"values\":{";
    for (int f = 0; f < FieldCount; ++f) {
        if (f > 0)
            out += ',';
        const int level = levels[size_t(f)];
        out += level >= 0 ? texts[size_t(f)].jsonValue[size_t(level)] : texts[size_t(f)].jsonNull;
    }
    out += "},\"time\":";
    appendTime(out, verdict.time, true);
    out += ",\"file\":";
    out += sourceJson_;
    out += ",\"line\":";
    out.appendNumber(line);
    out += "}\n";
}
