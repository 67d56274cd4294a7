#include "cli/frameoutput.h"

#include "decoder/decodefield.h"
#include "decoder/fieldtables.h"

#include <array>
#include <charconv>
#include <cstdio>

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

QByteArray jsonString(const QString &text) {
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const char16_t u = c.unicode();
        if (u == u'"' || u == u'\\') {
            out += '\\';
            out += char(u);
        } else if (u < 0x20 ||
                   (c.isSurrogate() &&
                    !(c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) &&
                    !(c.isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate()))) {
            // Control characters and lone surrogates are written as escapes.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(u));
            out += escape;
        } else if (c.isHighSurrogate()) {
            out += QString(text.data() + i, 2).toUtf8();
            ++i;
        } else {
            out += QString(c).toUtf8();
        }
    }
    out += '"';
    return out;
}

namespace {
// Cell texts per field and level, made once: the tables are constant.
struct FieldCells {
    std::array<QByteArray, 16> csv;  // value or row text, CSV-quoted
    std::array<QByteArray, 16> json; // number or string literal
};

const std::array<FieldCells, FieldCount> &fieldCells() {
    static const auto cells = [] {
        std::array<FieldCells, FieldCount> all;
        for (int f = 0; f < FieldCount; ++f) {
            const FrameField &field = FrameFields[f];
            for (int level = 0; level < field.rowCount(); ++level) {
                if (field.isNumeric()) {
                    const QByteArray number = shortestDecimal(field.levels->rows[level].value);
                    all[f].csv[level] = number;
                    all[f].json[level] = number;
                } else {
                    const QByteArray text = field.rowText(level);
                    all[f].csv[level] = csvField(text);
                    all[f].json[level] = jsonString(QString::fromLatin1(text));
                }
            }
        }
        return all;
    }();
    return cells;
}
} // namespace

void FrameWriter::begin(QByteArray &out) const {
    if (format_ != OutputFormat::Csv)
        return;
    out += "record,frame";
    for (const FrameField &field : FrameFields) {
        out += ',';
        out += csvField(field.prefix);
    }
    out += "\r\n";
}

void FrameWriter::write(QByteArray &out, qint64 recordNumber, const BeaconFrame &frame) const {
    const auto &cells = fieldCells();
    switch (format_) {
    case OutputFormat::Report: {
        if (recordNumber > 1)
            out += '\n';
        out += "CW beacon: S";
        out += frame.text().toUtf8();
        out += '\n';
        for (const FrameField &field : FrameFields) {
            out += readField(frame, field).statement().toUtf8();
            out += '\n';
        }
        break;
    }
    case OutputFormat::Csv: {
        out += QByteArray::number(recordNumber);
        out += ',';
        out += csvField(frame.text().toUtf8());
        for (int f = 0; f < FieldCount; ++f) {
            out += ',';
            const FieldReading reading = readField(frame, FrameFields[f]);
            if (reading.known())
                out += cells[f].csv[reading.level];
        }
        out += "\r\n";
        break;
    }
    case OutputFormat::Json: {
        out += "{\"record\":";
        out += QByteArray::number(recordNumber);
        out += ",\"frame\":";
        out += jsonString(frame.text());
        out += ",\"report\":[";
        out += jsonString(QLatin1String("CW beacon: S") + frame.text());
        QByteArray values;
        for (int f = 0; f < FieldCount; ++f) {
            const FieldReading reading = readField(frame, FrameFields[f]);
            out += ',';
            out += jsonString(reading.statement());
            values += f == 0 ? "" : ",";
            values += jsonString(QLatin1String(FrameFields[f].prefix));
            values += ':';
            values += reading.known() ? cells[f].json[reading.level] : QByteArray("null");
        }
        out += "],\"values\":{";
        out += values;
        out += "}}\n";
        break;
    }
    }
}
