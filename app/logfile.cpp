#include "app/logfile.h"

#include "decoder/frameoutput.h"
#include "history/telemetryhistory.h"

#include <QFile>
#include <QSaveFile>
#include <QTimer>

namespace {

constexpr qint64 TextCheckSize = 64 * 1024;
constexpr qint64 ReadSlice = 4 << 20; // bytes read per turn of the event loop

bool holdsNul(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(TextCheckSize).contains('\0');
}

// Opens a log and hands what it holds to sink; false with log.error.
template <typename Sink>
bool readAll(LogReader &reader, const QString &path, Sink &sink, bool follow, LoadedLog &log) {
    if (!reader.open(QFile::encodeName(path))) {
        log.error = reader.error();
        return false;
    }
    if (holdsNul(path)) {
        log.error = QStringLiteral("not a text file");
        return false;
    }
    if (!reader.readAvailable(sink, 0, follow)) {
        log.error = reader.error();
        log.lines.clear();
        return false;
    }
    log.invalidUtf8 = reader.sawInvalidUtf8();
    return true;
}

} // namespace

LoadedLog readLogFile(const QString &path) {
    LoadedLog log;
    LogReader reader;
    LineCollector collector{log.lines, QString()};
    if (!readAll(reader, path, collector, false, log))
        return log;
    const bool endsWithBreak = !reader.inLine();
    reader.finish(collector);
    if (endsWithBreak)
        log.lines.emplace_back();
    return log;
}

LogFollowing::LogFollowing(const QString &path, QObject *parent) : QObject(parent), path_(path) {}

LoadedLog LogFollowing::start() {
    LoadedLog log;
    if (!readAll(reader_, path_, *this, true, log))
        return log;
    log.lines = std::move(lines_);
    lines_.clear();
    log.lines.emplace_back(); // the box's line for what comes next
    follower_ = new LogFollower(path_, this);
    connect(follower_, &LogFollower::mayHaveGrown, this, &LogFollowing::readOn);
    return log;
}

void LogFollowing::readOn() {
    if (!reader_.readAvailable(*this, ReadSlice, true)) {
        emit failed(reader_.error());
        return;
    }
    if (!lines_.empty()) {
        const QStringList lines(std::make_move_iterator(lines_.begin()),
                                std::make_move_iterator(lines_.end()));
        lines_.clear();
        emit linesArrived(lines);
    }
    if (!reader_.atEnd()) // more than a slice waits: on with it after the views are drawn
        QTimer::singleShot(0, this, &LogFollowing::readOn);
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
