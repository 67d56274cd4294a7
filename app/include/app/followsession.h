#pragma once

#include "app/configuration.h"
#include "app/logfile.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QThread;
class SidsUploader;
class TelemetryHistory;

// Follow Log: one log read as it grows, and, when conf.ini names a telemetry
// database, the frames appended to it shared from a thread of their own so
// the window never waits for the network. Listening shares its frames the
// same way (startSharing()).
class FollowSession : public QObject {
    Q_OBJECT
public:
    explicit FollowSession(const Configuration &configuration, QObject *parent = nullptr);
    ~FollowSession() override;

    bool active() const { return bool(following_); }
    // Starts following path instead of the log followed so far: what the log
    // holds now, or the error that stopped it (the old log is still followed
    // then).
    LoadedLog start(const QString &path);
    void stop();
    // The lines [first, first + count) of the store came from the log: its
    // frames that have a time and no unreadable symbol are shared.
    void share(const TelemetryHistory &history, int first, int count);
    // Shares the frames handed to share() from now on, when conf.ini names a
    // database; the status line then reads prefix and the counts.
    void startSharing(const QString &prefix);
    void stopSharing();
    // What the status line says before the counts.
    void setStatusPrefix(const QString &prefix);

signals:
    void linesArrived(const QStringList &lines);
    void activeChanged(bool active);
    void status(const QString &text);
    // Following or sharing stopped for this reason.
    void failed(const QString &text);

private:
    void showStatus();

    Configuration configuration_;
    std::unique_ptr<LogFollowing> following_;
    QString followStatus_;             // "Following <path>"
    QString counts_;                   // "; sent 3, waiting 0, rejected 0"
    QThread *sharingThread_ = nullptr; // the uploader's
    SidsUploader *uploader_ = nullptr; // lives in sharingThread_
};
