#pragma once

#include "app/configuration.h"

#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QProgressDialog>
#include <QStringList>

class QWidget;

// File, Network Passes...: the observations the network of stations
// recorded of the satellite (NETWORK_URL) and the frames stations shared
// with the telemetry database (SHARED_URL, SIDS_TOKEN), copied into the
// archive by kadrin-decode in the background, one after the other, with
// one progress bar for listing, downloads and copies, and Cancel.
class NetworkPasses : public QObject {
    Q_OBJECT
public:
    NetworkPasses(const Configuration &configuration, QWidget *parent);

    // Asks for the span, then starts.
    void ask(const QString &archive);
    // Starts with this span (UTC seconds); false, after saying why, when
    // there is nothing to read from or kadrin-decode is not found.
    bool start(qint64 from, qint64 to, const QString &archive);
    bool running() const { return process_.state() != QProcess::NotRunning || !queue_.isEmpty(); }
    QProgressDialog *progress() const { return progress_; }
    // Where kadrin-decode is: beside the program, in the build's cli/, or
    // on the PATH.
    static QString decoderPath();
    void setDecoderPath(const QString &path) { decoder_ = path; }

signals:
    // Frames went into the archive.
    void stored();
    void status(const QString &text);
    void failed(const QString &text);
    void finished(const QString &summary);

private:
    void next();
    void readErrors();

    Configuration configuration_;
    QWidget *parent_;
    QProcess process_;
    QList<QStringList> queue_; // the runs still to come
    QPointer<QProgressDialog> progress_;
    QStringList said_; // what the runs said, for the summary
    QByteArray pending_;
    QString decoder_ = decoderPath();
    int steps_ = 1, done_ = 0;
};
