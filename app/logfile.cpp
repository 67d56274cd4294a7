#include "app/logfile.h"

#include "decoder/frameoutput.h"
#include "history/telemetryhistory.h"

#include <QFile>
#include <QSaveFile>

namespace {

constexpr qint64 TextCheckSize = 64 * 1024;
constexpr qint64 ReadSlice = 4 << 20; // bytes read per turn of the event loop

bool holdsNul(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(TextCheckSize).contains('\0');
}

} // namespace

LoadedLog readLogFile(const QString &path) {
    LoadedLog log;
    LogReader reader;
    LineCollector collector{log.lines, QString()};
    if (!reader.open(QFile::encodeName(path))) {
        log.error = reader.error();
        return log;
    }
    if (holdsNul(path)) {
        log.error = QStringLiteral("not a text file");
        return log;
    }
    if (!reader.readAvailable(collector)) {
        log.error = reader.error();
        log.lines.clear();
        return log;
    }
    log.invalidUtf8 = reader.sawInvalidUtf8();
    const bool endsWithBreak = !reader.inLine();
    reader.finish(collector);
    if (endsWithBreak)
        log.lines.emplace_back();
    return log;
}

LogFollowing::LogFollowing(const QString &path, QObject *parent)
    : QObject(parent), path_(path), tail_(QFile::encodeName(path), *this) {
    tail_.setSliceSize(ReadSlice);
    connect(&tail_, &LogTail::readDone, this, [this] {
        if (!lines_.empty())
            emit linesArrived(takeLines());
    });
    connect(&tail_, &LogTail::failed, this, &LogFollowing::failed);
}

LoadedLog LogFollowing::start() {
    LoadedLog log;
    if (!tail_.open()) {
        log.error = tail_.error();
        return log;
    }
    if (holdsNul(path_)) {
        log.error = QStringLiteral("not a text file");
        return log;
    }
    if (!tail_.look()) {
        log.error = tail_.error();
        lines_.clear();
        return log;
    }
    log.invalidUtf8 = tail_.sawInvalidUtf8();
    log.lines = std::move(lines_);
    lines_.clear();
    log.lines.emplace_back(); // the box's line for what comes next
    tail_.follow();
    return log;
}

QStringList LogFollowing::finish() {
    tail_.finish();
    return takeLines();
}

QStringList LogFollowing::takeLines() {
    QStringList lines(std::make_move_iterator(lines_.begin()),
                      std::make_move_iterator(lines_.end()));
    lines_.clear();
    return lines;
}

bool writeWholeFile(const QString &path, const QByteArray &content, QString *error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

QByteArray csvOf(const TelemetryHistory &history, const QString &file) {
    FrameWriter writer(OutputFormat::Csv);
    OutputBuffer out;
    writer.begin(out);
    writer.setSource(file.toUtf8());
    for (int line = 0; line < history.lineCount(); ++line) {
        const int record = history.recordOfLine(line);
        if (record > 0)
            writer.write(out, history.lineVerdict(line), record, line + 1);
    }
    return QByteArray(out.data(), out.size());
}
