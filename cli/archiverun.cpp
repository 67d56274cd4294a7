#include "cli/archiverun.h"

#include "archive/storedoutput.h"
#include "cli/decoderun.h"
#include "decoder/linescanner.h"
#include "decoder/utctime.h"

#include <QFileInfo>

namespace {
QByteArray frames(qint64 n) { return QByteArray::number(n) + (n == 1 ? " frame" : " frames"); }
// Frames stored in one transaction; a followed file is stored at least
// every FollowSeconds.
constexpr size_t BatchFrames = 20000;
constexpr qint64 FollowMilliseconds = 1000;

// The twenty symbols, as text() has them after the name; made without it
// where every one is a single UTF-16 unit (text() converts all 26).
QString symbolsOf(const BeaconFrame &frame) {
    QString symbols(BeaconFrame::Length - BeaconFrame::NameLength, Qt::Uninitialized);
    for (int i = 0; i < symbols.size(); ++i) {
        const char32_t c = frame.at(BeaconFrame::NameLength + 1 + i);
        if (c > 0xffff || (c >= 0xd800 && c <= 0xdfff))
            return frame.text().mid(BeaconFrame::NameLength);
        symbols[i] = QChar(char16_t(c));
    }
    return symbols;
}
} // namespace

StoreRun::StoreRun(Archive &archive, DecodeRun &run, bool audio)
    : archive_(archive), run_(run), audio_(audio) {
    sinceFlush_.start();
    // The file's absolute path, found once a file.
    run.addFrameHook([this, named = QByteArray(), path = QString()](const LineVerdict &verdict, qint64,
                                                                    const LineSignal *signal) mutable {
        if (!verdict.time) {
            ++withoutTime_;
            return;
        }
        IncomingFrame frame;
        frame.time = *verdict.time;
        frame.symbols = symbolsOf(*verdict.frame);
        Reception &r = frame.reception;
        const QByteArray &name = run_.currentName();
        if (receptionOf_) {
            r = receptionOf_(name, run_.currentLine());
        } else {
            r.kind = audio_ ? Reception::Kind::Recording : Reception::Kind::File;
            if (path.isNull() || name != named) {
                named = name;
                path = name == "-" ? QStringLiteral("standard input")
                                   : QFileInfo(QString::fromLocal8Bit(name)).absoluteFilePath();
            }
            r.source = path;
            r.line = run_.currentLine();
        }
        if (signal) {
            r.snrDb = signal->snrDb;
            r.toneHz = signal->toneHz;
        }
        waiting_.push_back(std::move(frame));
        if (waiting_.size() >= BatchFrames ||
            (run_.following() && sinceFlush_.elapsed() >= FollowMilliseconds))
            flush();
    });
    QObject::connect(&run, &DecodeRun::caughtUp, &run, [this] { flush(); });
}

void StoreRun::sourceDone(const QString &doneKey) {
    flush(doneKey);
}

void StoreRun::flush(const QString &doneKey) {
    sinceFlush_.restart();
    if ((waiting_.empty() && doneKey.isEmpty()) || failed_)
        return;
    Archive::Counts counts;
    if (!archive_.store(waiting_, &counts, doneKey)) {
        // What could not be stored is said once; the decoding goes on.
        printError(archive_.error().toLocal8Bit() + "; these " + frames(qint64(waiting_.size())) +
                   " and the rest of this run are not stored");
        failed_ = true;
        return;
    }
    total_.added += counts.added;
    total_.known += counts.known;
    waiting_.clear();
}

bool StoreRun::finish() {
    flush();
    if (!failed_) {
        QByteArray message = "stored in " + archive_.location().toLocal8Bit() + ": " +
                             QByteArray::number(total_.added) + (total_.added == 1 ? " new frame, " : " new frames, ") +
                             QByteArray::number(total_.known) + " already known";
        if (withoutTime_)
            message += "; " + frames(withoutTime_) + " without a UTC time not stored";
        printError(message);
    }
    return !failed_;
}

bool printStored(Archive &archive, OutputFormat format, std::optional<qint64> from,
                 std::optional<qint64> to, CheckedOutput &output, qint64 *frames) {
    StoredWriter writer(format);
    OutputBuffer &out = output.buffer();
    writer.begin(out);
    qint64 record = 0;
    bool writeFailed = false;
    const bool ok = archive.forEachFrame(
        from.value_or(0), to.value_or(LatestUtcSecond), [&](const StoredFrame &frame) {
            record += writer.write(out, frame, record + 1);
            writeFailed = !output.flush(1 << 20);
            return !writeFailed;
        });
    *frames = record;
    if (!ok) {
        printError(archive.error().toLocal8Bit());
        return false;
    }
    if (writeFailed || !output.flush()) {
        printError("cannot write the output: " + output.error().toLocal8Bit());
        return false;
    }
    return true;
}
