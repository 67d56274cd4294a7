#pragma once

#include "cwaudio/cwcopier.h"
#include "listen/listensession.h"

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <optional>
#include <thread>

// What copying a recording gave.
struct RecordingResult {
    QString path;
    QList<CopiedLogLine> lines;
    CopyFigures figures;
    bool timed = false; // the lines carry times (from the file's name or given)
    QString error;      // it could not be read, or read to its end
    QString note;       // what was wrong with a file read all the same
    bool cancelled = false; // figures.seconds: how far it was copied
};

// Copies a recording in a thread of its own, so the window stays usable:
// progress as it goes, and Cancel.
class RecordingCopy : public QObject {
    Q_OBJECT
public:
    explicit RecordingCopy(QObject *parent = nullptr);
    ~RecordingCopy() override; // cancels and waits

    // Starts copying path; start is the UTC time of its first sample, when
    // known. A copy still running is cancelled first.
    void start(const QString &path, std::optional<double> start);
    // Stops the copy at its next block; finished(cancelled) follows at once.
    void cancel();

signals:
    void progress(int percent);
    // A glimpse of the audio now and then (about ten blocks a second of wall
    // time, each a few thousand samples) for the picture of the signal;
    // first is true for a copy's first glimpse.
    void glimpse(const QList<float> &mono, double sampleRate, bool first);
    // Also after a cancel (result.cancelled) or an error.
    void finished(const RecordingResult &result);

private:
    void run(const QString &path, std::optional<double> start, int generation);

    std::thread thread_;
    QString path_;
    std::atomic<bool> cancel_{false};
    std::atomic<double> secondsCopied_{0}; // of the copy running
    int generation_ = 0; // of the copy started last; read in this object's thread only
};

Q_DECLARE_METATYPE(RecordingResult)
