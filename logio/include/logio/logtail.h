#pragma once

#include "logio/logreader.h"

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <memory>

// Follows a log file as it grows, like tail -f, and loses nothing:
// - what is appended is handed on line by line as it arrives;
// - a file that got shorter, or whose first bytes or bytes before the
//   reading position changed (truncated and refilled, rewritten in place),
//   is read again from its start;
// - when the name names another file (rotated), the old file is read to its
//   end first: the writer may still append to it for a moment. The tail
//   switches when the new file has content or the old one has been quiet for
//   the grace time, reading the old one to its end after it saw that;
// - while the name is gone, a directory or no regular file, the old file is
//   read on and the tail waits for a log under the name.
// It looks at every change the system reports for the file or its folder
// and every poll interval, for file systems that report nothing.
class LogTail : public QObject {
    Q_OBJECT
public:
    // What the tail hands on.
    class Sink {
    public:
        virtual ~Sink() = default;
        virtual void text(QStringView piece) = 0; // characters of the current line
        virtual void lineEnd() = 0;               // the current line is complete
        // The log is read again from its start; the old content's last
        // line has been handed on as a line.
        virtual void restarted(LogReader::Restart why) = 0;
        // The name does not lead to a log for now ("is a directory now");
        // said once until a log is back.
        virtual void waiting(const QString &why) = 0;
    };

    static constexpr int DefaultPollMs = 500;
    static constexpr int DefaultGraceMs = 2000;

    // The timings are the defaults unless the environment variables
    // KADRIN_FOLLOW_POLL_MS and KADRIN_FOLLOW_GRACE_MS say otherwise.
    LogTail(const QByteArray &name, Sink &sink, QObject *parent = nullptr);
    ~LogTail() override;

    void setPollInterval(int ms);
    void setGraceTime(int ms) { graceMs_ = ms; }
    // Bytes read per turn of the event loop while following.
    void setSliceSize(qint64 bytes) { sliceSize_ = bytes; }

    // False, with error(), when the file cannot be opened or is a directory.
    bool open();
    // One look at the log: reads up to maxBytes (all it holds when 0) and
    // hands it on. False, with error(), when reading failed.
    bool look(qint64 maxBytes = 0);
    // Goes on looking, a slice at a time, until finish(); readDone after
    // every look, failed (and no more looks) when reading failed.
    void follow();
    // Stops following. When the last look reached the end of the file, what
    // arrived since is read and an unfinished last line is handed on as a
    // line.
    bool finish();

    // The last look reached the end of the file.
    bool atEnd() const { return reader_->atEnd(); }
    QString error() const { return reader_->error(); }
    // Some bytes were not UTF-8 and were read as U+FFFD.
    bool sawInvalidUtf8() const { return invalidUtf8_ || reader_->sawInvalidUtf8(); }

signals:
    void readDone(bool atEnd);
    void failed(const QString &error);

private:
    void readOn();
    void watch();
    bool restart(LogReader::Restart why);
    // Reads up to maxBytes (all when 0) of the file being read and hands them
    // on; bytes that came end the quiet.
    bool readOld(qint64 maxBytes);
    // At the end of the file: whether the name still names it, and the
    // switch to another file under the name, reading up to maxBytes of the
    // old one first.
    bool lookAtName(qint64 maxBytes);
    void sayWaiting(const QString &why);

    QByteArray name_;
    Sink &sink_;
    std::unique_ptr<LogReader> reader_;
    int graceMs_;
    qint64 sliceSize_ = LogReader::BlockSize;
    QElapsedTimer quiet_; // since bytes last arrived or another file was seen
    bool invalidUtf8_ = false;
    bool saidWaiting_ = false;
    bool otherFileSeen_ = false; // the name names another file than the one read
    bool following_ = false;
    bool readOnQueued_ = false;
    QFileSystemWatcher watcher_;
    QTimer poll_;
};
