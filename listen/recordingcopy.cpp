#include "listen/recordingcopy.h"

#include "cwaudio/audiofile.h"
#include "cwaudio/recordingtime.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

#include <cmath>
#include <vector>

RecordingCopy::RecordingCopy(QObject *parent) : QObject(parent) {}

RecordingCopy::~RecordingCopy() {
    blockSignals(true); // whoever listens may be half destroyed
    cancel();
}

void RecordingCopy::cancel() {
    if (!thread_.joinable())
        return;
    cancel_ = true;
    thread_.join();
    // A result the copy posted before it saw the cancel is dropped: a
    // cancelled copy never changes anything.
    ++generation_;
    RecordingResult result;
    result.path = path_;
    result.cancelled = true;
    result.figures.seconds = secondsCopied_;
    emit finished(result);
}

void RecordingCopy::start(const QString &path, std::optional<double> start) {
    cancel();
    cancel_ = false;
    secondsCopied_ = 0;
    path_ = path;
    const int generation = ++generation_;
    thread_ = std::thread([this, path, start, generation] { run(path, start, generation); });
}

void RecordingCopy::run(const QString &path, std::optional<double> start, int generation) {
    RecordingResult result;
    result.path = path;
    result.timed = bool(start);
    const auto deliver = [this, &result, generation] {
        // Handed to the object's own thread; the copy's thread is joined
        // there before the result is used.
        QMetaObject::invokeMethod(
            this,
            [this, result, generation] {
                if (generation != generation_)
                    return; // a copy started again since
                if (thread_.joinable())
                    thread_.join();
                emit finished(result);
            },
            Qt::QueuedConnection);
    };
    AudioFile audio;
    // A FIFO or a device could block the copy (and a cancel) for good.
    if (QFileInfo(path).exists() && !QFileInfo(path).isFile()) {
        result.error = QStringLiteral("%1: cannot read: not a regular file").arg(path);
        return deliver();
    }
    if (!audio.open(QFile::encodeName(path))) {
        result.error = QStringLiteral("%1: cannot read: %2").arg(path, audio.error());
        return deliver();
    }
    CwCopier copier(audio.sampleRate());
    copier.setLineHandler([&](const CopiedLine &copy) {
        result.lines.append(CopiedLogLine::of(
            copy, start ? std::optional<double>(*start + copy.start) : std::nullopt));
    });
    int shown = -1;
    QElapsedTimer sinceGlimpse;
    bool firstGlimpse = true;
    const FileCopy copied = copyAudioFile(audio, copier, [&](const float *block, qsizetype got) {
        secondsCopied_ = double(audio.framesRead()) / audio.sampleRate();
        if (cancel_)
            return false;
        if (firstGlimpse || sinceGlimpse.elapsed() >= 100) {
            sinceGlimpse.start();
            QList<float> mono(block, block + got);
            QMetaObject::invokeMethod(
                this,
                [this, mono, rate = audio.sampleRate(), first = firstGlimpse, generation] {
                    if (generation == generation_)
                        emit glimpse(mono, rate, first);
                },
                Qt::QueuedConnection);
            firstGlimpse = false;
        }
        const int percent =
            audio.frames() > 0 ? int(std::min<qint64>(99, 100 * audio.framesRead() / audio.frames()))
                               : 0;
        if (percent != shown) {
            shown = percent;
            QMetaObject::invokeMethod(
                this,
                [this, percent, generation] {
                    if (generation == generation_)
                        emit progress(percent);
                },
                Qt::QueuedConnection);
        }
        return true;
    });
    if (copied.stopped)
        return; // cancel() tells of it
    if (copied.readError)
        result.error = QStringLiteral("%1: cannot read: %2").arg(path, audio.error());
    if (copied.silent)
        result.error = QStringLiteral("%1: cannot read: it holds only silence").arg(path);
    result.note = audio.note();
    if (!audio.unreadableNote().isEmpty())
        result.note += (result.note.isEmpty() ? QString() : QStringLiteral("; ")) + audio.unreadableNote();
    result.figures = copier.figures();
    deliver();
}
