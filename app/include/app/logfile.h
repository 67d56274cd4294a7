#pragma once

#include "logio/logreader.h"
#include "logio/logtail.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

class TelemetryHistory;

// A beacon log read whole for the input box.
struct LoadedLog {
    std::vector<QString> lines; // as the box holds them: the last one empty
                                // when the file ends with a line break
    bool invalidUtf8 = false;   // some bytes were read as U+FFFD
    QString error;              // why it was not read; empty when it was
};

// Collects the lines a log reader hands on, each as one string.
struct LineCollector {
    std::vector<QString> &lines;
    QString current;

    void text(QStringView piece) {
        if (current.isEmpty())
            current = piece.toString(); // no room to spare: a million lines add up
        else
            current += piece;
    }
    void lineEnd() {
        lines.push_back(std::move(current));
        current = QString();
    }
};

// Reads a log file. A file with a NUL byte in its first 64 KiB is refused
// as "not a text file".
LoadedLog readLogFile(const QString &path);

// Follows a log for the window: hands on every line as soon as it is
// complete, and loses none (see LogTail): a truncated, rewritten or replaced
// file is read again from its start.
class LogFollowing : public QObject, public LogTail::Sink {
    Q_OBJECT
public:
    explicit LogFollowing(const QString &path, QObject *parent = nullptr);
    // Reads what the file holds now: its complete lines, as the box holds
    // them (an empty last line); the unfinished one waits.
    LoadedLog start();
    QString path() const { return path_; }
    // Stops following and returns the lines not handed on yet: what arrived
    // since the last look and an unfinished last line, which belong at the
    // end of the box.
    QStringList finish();

    // What the log tail hands on: complete lines are collected until they
    // are handed on in turn.
    void text(QStringView piece) override { collector_.text(piece); }
    void lineEnd() override { collector_.lineEnd(); }
    void restarted(LogReader::Restart why) override { emit fileRestarted(why); }
    void waiting(const QString &why) override { emit waitingForLog(why); }

signals:
    void linesArrived(const QStringList &lines);
    void fileRestarted(LogReader::Restart why);
    // The name does not lead to a log for now (why: "is a directory now");
    // following goes on when a log is back.
    void waitingForLog(const QString &why);
    void failed(const QString &error);

private:
    QStringList takeLines();

    QString path_;
    LogTail tail_;
    std::vector<QString> lines_;
    LineCollector collector_{lines_, QString()};
};

// Writes text to path in one go: a crash while saving never leaves half a
// file. False with error when it could not.
bool writeWholeFile(const QString &path, const QByteArray &content, QString *error);

// The CSV of the lines of a store, byte for byte what kadrin-decode --csv
// writes for the same text given as FILE.
QByteArray csvOf(const TelemetryHistory &history, const QString &file);
