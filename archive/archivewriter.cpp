#include "archive/archivewriter.h"

#include "decoder/linescanner.h"

#include <QMetaObject>
#include <QThread>

ArchiveWriter::ArchiveWriter(const QString &location, QObject *parent)
    : QObject(parent), location_(location), thread_(new QThread(this)), worker_(new QObject),
      archive_(std::make_shared<Archive>()) {
    thread_->setObjectName(QStringLiteral("archive writer"));
    worker_->moveToThread(thread_);
    connect(thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_->start();
    QMetaObject::invokeMethod(worker_, [this, archive = archive_, location] {
        if (!archive->open(location))
            emit failed(archive->error());
    });
}

ArchiveWriter::~ArchiveWriter() {
    // Runs after everything queued before it: what was handed over is stored.
    QMetaObject::invokeMethod(worker_, [archive = archive_] { archive->close(); });
    thread_->quit();
    thread_->wait();
}

void ArchiveWriter::wait() {
    QMetaObject::invokeMethod(worker_, [] {}, Qt::BlockingQueuedConnection);
}

void ArchiveWriter::storeLines(const Reception &source, qint64 firstLine, const QStringList &lines,
                               const std::vector<std::optional<LineSignal>> &audio) {
    // Judged in the writer's thread too: a log of a million lines must not
    // hold up the window.
    QMetaObject::invokeMethod(worker_, [this, archive = archive_, source, firstLine, lines, audio] {
        std::vector<IncomingFrame> frames;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const LineVerdict verdict = LineScanner::judge(lines[i]);
            if (!verdict.isFrame() || !verdict.time)
                continue;
            IncomingFrame frame;
            frame.time = *verdict.time;
            frame.symbols = verdict.frame->text().mid(BeaconFrame::NameLength);
            frame.reception = source;
            frame.reception.line = firstLine + i;
            if (size_t(i) < audio.size() && audio[size_t(i)]) {
                frame.reception.snrDb = audio[size_t(i)]->snrDb;
                frame.reception.toneHz = audio[size_t(i)]->toneHz;
            }
            frames.push_back(std::move(frame));
        }
        storeNow(*archive, frames);
    });
}

void ArchiveWriter::storeNow(Archive &archive, const std::vector<IncomingFrame> &frames) {
    if (frames.empty() || !archive.isOpen())
        return;
    Archive::Counts counts;
    if (archive.store(frames, &counts))
        emit stored(counts.added, counts.known);
    else
        emit failed(archive.error());
}

void ArchiveWriter::store(std::vector<IncomingFrame> frames) {
    QMetaObject::invokeMethod(worker_, [this, archive = archive_, frames = std::move(frames)] {
        storeNow(*archive, frames);
    });
}
