#include "logio/logtail.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace {

int environmentOr(const char *name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value >= 0 ? value : fallback;
}

} // namespace

LogTail::LogTail(const QByteArray &name, Sink &sink, QObject *parent)
    : QObject(parent), name_(name), sink_(sink), reader_(std::make_unique<LogReader>()),
      graceMs_(environmentOr("KADRIN_FOLLOW_GRACE_MS", DefaultGraceMs)) {
    poll_.setInterval(environmentOr("KADRIN_FOLLOW_POLL_MS", DefaultPollMs));
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] {
        watch(); // a replaced file drops out of the watch list
        readOn();
    });
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
        watch();
        readOn();
    });
    connect(&poll_, &QTimer::timeout, this, &LogTail::readOn);
}

LogTail::~LogTail() = default;

void LogTail::setPollInterval(int ms) {
    poll_.setInterval(ms);
}

bool LogTail::open() {
    invalidUtf8_ = saidWaiting_ = otherFileSeen_ = false;
    quiet_.start();
    return reader_->open(name_);
}

bool LogTail::look(qint64 maxBytes) {
    switch (reader_->content()) {
    case LogReader::Content::Kept:
        break;
    case LogReader::Content::Shorter:
        if (!restart(LogReader::Restart::Truncated))
            return false;
        break;
    case LogReader::Content::Changed:
        if (!restart(LogReader::Restart::Rewritten))
            return false;
        break;
    }
    // At the end of the file the name is looked at before reading on: a switch
    // then reads the old file to its end itself, and this look goes on in the
    // new one (so finish() hands on what a rotation just brought).
    if (reader_->atEnd() && !lookAtName(maxBytes))
        return false;
    return readOld(maxBytes) && (!reader_->atEnd() || lookAtName(maxBytes));
}

bool LogTail::readOld(qint64 maxBytes) {
    const qint64 before = reader_->offset();
    if (!reader_->readAvailable(sink_, maxBytes))
        return false;
    if (reader_->offset() != before)
        quiet_.start();
    return true;
}

bool LogTail::restart(LogReader::Restart why) {
    reader_->finish(sink_); // what the old content ended with is a line
    if (!reader_->rewind())
        return false;
    sink_.restarted(why);
    return true;
}

bool LogTail::lookAtName(qint64 maxBytes) {
    struct stat info {};
    if (::stat(name_.constData(), &info) != 0)
        return true; // gone for the moment (being rotated): the old file is read on
    if (reader_->isOpenFile(info)) {
        saidWaiting_ = otherFileSeen_ = false;
        return true;
    }
    if (S_ISDIR(info.st_mode)) {
        sayWaiting(QStringLiteral("is a directory now"));
        return true;
    }
    if (!S_ISREG(info.st_mode)) {
        sayWaiting(QStringLiteral("is no regular file now"));
        return true;
    }
    // Another file under the name. The writer may not have reopened the
    // name yet and still append to the old file: that is read to its end
    // here, and the grace time counts from when the new file was seen or the
    // old one last grew, whichever is later.
    if (!otherFileSeen_) {
        otherFileSeen_ = true;
        quiet_.start();
    }
    if (!readOld(maxBytes))
        return false;
    if (!reader_->atEnd() || (info.st_size == 0 && quiet_.elapsed() < graceMs_))
        return true;
    auto next = std::make_unique<LogReader>();
    if (!next->open(name_)) {
        sayWaiting(QStringLiteral("cannot be read now (%1)").arg(next->error()));
        return true;
    }
    reader_->finish(sink_);
    invalidUtf8_ = invalidUtf8_ || reader_->sawInvalidUtf8();
    reader_ = std::move(next);
    saidWaiting_ = otherFileSeen_ = false;
    quiet_.start();
    sink_.restarted(LogReader::Restart::Replaced);
    return true; // the new file is read by this look or the next
}

void LogTail::sayWaiting(const QString &why) {
    if (saidWaiting_)
        return;
    saidWaiting_ = true;
    sink_.waiting(why);
}

void LogTail::follow() {
    following_ = true;
    watch();
    poll_.start();
    readOnQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        readOnQueued_ = false;
        readOn();
    });
}

void LogTail::readOn() {
    if (!following_)
        return;
    if (!look(sliceSize_)) {
        following_ = false;
        poll_.stop();
        emit failed(error()); // the receiver may delete this tail
        return;
    }
    const bool caughtUp = reader_->atEnd();
    if (!caughtUp && !readOnQueued_) { // more waits: on with it after other events
        readOnQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            readOnQueued_ = false;
            readOn();
        });
    }
    emit readDone(caughtUp);
}

bool LogTail::finish() {
    following_ = false;
    poll_.stop();
    bool ok = true;
    if (reader_->atEnd()) {
        ok = look();
        if (reader_->atEnd())
            reader_->finish(sink_);
    }
    return ok;
}

void LogTail::watch() {
    const QString path = QFile::decodeName(name_);
    if (!watcher_.files().contains(path) && QFileInfo(path).isFile())
        watcher_.addPath(path);
    const QString folder = QFileInfo(path).absolutePath();
    if (!watcher_.directories().contains(folder))
        watcher_.addPath(folder);
}
