#include "decoder/frameoutput.h"

#include "decoder/decodeframe.h"
#include "decoder/symbolalphabet.h"
#include "decoder/utctime.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

QByteArray shortestDecimal(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QByteArray(buffer, int(result.ptr - buffer));
}

QByteArray tenths(double value) {
    return QByteArray::number(std::round(value * 10) / 10 + 0.0, 'f', 1);
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
template <int Capacity> struct FixedText {
    char text[Capacity - 1] = {};
    quint8 size = 0;

    static FixedText of(const QByteArray &bytes) {
        FixedText cell;
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
using Cell = FixedText<32>;
// The longest JSON piece, ",\"Battery Voltage Cell 1: 3001 mV .. 3085 mV\"", has 45 bytes.
using JsonCell = FixedText<64>;

// The texts of every field and row, made once: the tables are constant.
struct FieldTexts {
    int position = 0;
    int rowCount = 0;
    std::array<Cell, 16> csv;               // ",<value or row text>", CSV-quoted
    std::array<JsonCell, 16> jsonStatement; // ",<report line>" as a JSON string
    std::array<JsonCell, 128> jsonUnknown;  // the same for each ASCII symbol without row
    std::array<JsonCell, 16> jsonValue;     // ",<name>":<number or string>
    JsonCell jsonNull;                      // ",<name>":null
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
            const QByteArray name = ',' + jsonString(QString::fromLatin1(field.prefix)) + ':';
            t.jsonNull = JsonCell::of(name + "null");
            for (char32_t symbol = 0; symbol < 128; ++symbol) {
                frame.set(field.position, symbol);
                const FieldReading reading = readField(frame, field);
                if (!reading.known())
                    t.jsonUnknown[symbol] = JsonCell::of(',' + jsonString(reading.statement()));
            }
            for (int level = 0; level < field.rowCount(); ++level) {
                frame.set(field.position, char32_t(SymbolAlphabet[size_t(level)]));
                const FieldReading reading = readField(frame, field);
                t.jsonStatement[size_t(level)] =
                    JsonCell::of(',' + jsonString(reading.statement()));
                if (field.isNumeric()) {
                    const QByteArray number = shortestDecimal(reading.value());
                    t.csv[size_t(level)] = Cell::of(',' + number);
                    t.jsonValue[size_t(level)] = JsonCell::of(name + number);
                } else {
                    const QByteArray text = field.rowText(level);
                    t.csv[size_t(level)] = Cell::of(',' + csvField(text));
                    t.jsonValue[size_t(level)] =
                        JsonCell::of(name + jsonString(QString::fromLatin1(text)));
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
    out += signalColumns_ ? ",time,file,line,tone_hz,snr_db\r\n" : ",time,file,line\r\n";
}

void FrameWriter::setSource(const QByteArray &name) {
    sourceName_ = name;
    sourceCsv_ = csvField(QString::fromUtf8(name).toUtf8());
    sourceJson_ = jsonString(QString::fromUtf8(name));
}

void FrameWriter::write(OutputBuffer &out, const LineVerdict &verdict, qint64 record, qint64 line,
                        const LineSignal *signal) const {
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
        writeCsv(out, verdict, record, line, signal);
        break;
    case OutputFormat::Json:
        writeJson(out, verdict, record, line, signal);
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
                           qint64 line, const LineSignal *signal) const {
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
    if (signalColumns_)
        out +=
            signal ? ',' + tenths(signal->toneHz) + ',' + tenths(signal->snrDb) : QByteArray(",,");
    out += "\r\n";
}

void FrameWriter::writeJson(OutputBuffer &out, const LineVerdict &verdict, qint64 record,
                            qint64 line, const LineSignal *signal) const {
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
    // The pieces are written straight into the buffer, as for CSV; the
    // values' object opens with the first piece's comma replaced.
    const auto levels = levelsOf(frame);
    char *to = out.reserve(2 * FieldCount * qsizetype(sizeof(JsonCell)) + 64);
    for (int f = 0; f < FieldCount; ++f) {
        const FieldTexts &field = texts[size_t(f)];
        const char32_t symbol = frame.at(field.position);
        const int level = levels[size_t(f)];
        if (level >= 0) {
            to = field.jsonStatement[size_t(level)].put(to);
        } else if (symbol < 128) {
            to = field.jsonUnknown[symbol].put(to);
        } else {
            out.commit(to);
            out += ',';
            out += jsonString(readField(frame, FrameFields[size_t(f)]).statement());
            to = out.reserve(2 * FieldCount * qsizetype(sizeof(JsonCell)) + 64);
        }
    }
    std::memcpy(to, "],\"values\":", 11);
    to += 11;
    char *const valuesStart = to;
    for (int f = 0; f < FieldCount; ++f) {
        const FieldTexts &field = texts[size_t(f)];
        const int level = levels[size_t(f)];
        to = (level >= 0 ? field.jsonValue[size_t(level)] : field.jsonNull).put(to);
    }
    *valuesStart = '{';
    std::memcpy(to, "},\"time\":", 9);
    to += 9;
    if (verdict.time) {
        *to++ = '"';
        writeIsoUtcTime(*verdict.time, to);
        to += 20;
        *to++ = '"';
    } else {
        std::memcpy(to, "null", 4);
        to += 4;
    }
    out.commit(to);
    out += ",\"file\":";
    out += sourceJson_;
    out += ",\"line\":";
    out.appendNumber(line);
    if (signalColumns_) {
        out += ",\"tone_hz\":";
        out += signal ? tenths(signal->toneHz) : QByteArray("null");
        out += ",\"snr_db\":";
        out += signal ? tenths(signal->snrDb) : QByteArray("null");
    }
    out += "}\n";
}
