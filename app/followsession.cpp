#include "app/followsession.h"

#include "history/telemetryhistory.h"
#include "sids/sidsuploader.h"

#include <QThread>

FollowSession::FollowSession(const Configuration &configuration, QObject *parent)
    : QObject(parent), configuration_(configuration) {}

FollowSession::~FollowSession() {
    stopSharing();
}

LoadedLog FollowSession::start(const QString &path) {
    auto following = std::make_unique<LogFollowing>(path, this);
    LoadedLog log = following->start();
    if (!log.error.isEmpty())
        return log;
    stop();
    connect(following.get(), &LogFollowing::linesArrived, this, &FollowSession::linesArrived);
    connect(following.get(), &LogFollowing::fileRestarted, this,
            [this, path](LogReader::Restart why) {
                emit status(QStringLiteral("Following %1 (%2; read again from its start)")
                                .arg(path, why == LogReader::Restart::Truncated
                                               ? QLatin1String("truncated")
                                               : QLatin1String("replaced")));
            });
    connect(following.get(), &LogFollowing::failed, this, [this, path](const QString &error) {
        stop();
        emit failed(QStringLiteral("%1: %2").arg(path, error));
    });
    following_ = std::move(following);
    followStatus_ = QLatin1String("Following ") + path;
    emit activeChanged(true);
    startSharing();
    return log;
}

void FollowSession::stop() {
    if (!following_)
        return;
    stopSharing();
    const QString path = following_->path();
    following_.reset();
    emit activeChanged(false);
    emit status(QLatin1String("Stopped following ") + path);
}

void FollowSession::share(const TelemetryHistory &history, int first, int count) {
    if (!uploader_)
        return;
    for (int line = first; line < first + count; ++line) {
        const LineVerdict verdict = history.lineVerdict(line);
        if (sidsVerdict(verdict) == SidsVerdict::Share)
            QMetaObject::invokeMethod(uploader_,
                                      [uploader = uploader_, frame = *verdict.frame,
                                       time = *verdict.time] { uploader->send(frame, time); });
    }
}

void FollowSession::startSharing() {
    if (!configuration_.sharesFrames())
        return;
    SidsStation station;
    QString error =
        readSidsStation(configuration_.sidsUrl, configuration_.callsign, configuration_.latitude,
                        configuration_.longitude, configuration_.noradId, &station);
    auto uploader = std::make_unique<SidsUploader>(station);
    if (error.isEmpty())
        uploader->open(configuration_.sidsJournal.isEmpty() ? SidsJournal::defaultPath()
                                                            : configuration_.sidsJournal,
                       &error);
    if (!error.isEmpty()) {
        emit failed(
            QStringLiteral("Frames are not shared with the telemetry database: %1").arg(error));
        return;
    }
    sharingThread_ = new QThread(this);
    uploader_ = uploader.release();
    uploader_->moveToThread(sharingThread_);
    connect(sharingThread_, &QThread::finished, uploader_, &QObject::deleteLater);
    connect(uploader_, &SidsUploader::countsChanged, this, [this](const SidsUploader::Counts &c) {
        emit status(followStatus_ + QStringLiteral("; sent %1, waiting %2, rejected %3")
                                        .arg(c.sent)
                                        .arg(c.waiting)
                                        .arg(c.rejected));
    });
    // A journal that cannot be written: nothing more is sent; the frames
    // still waiting are sent by a later run over the log.
    connect(uploader_, &SidsUploader::stopped, this, [this](const QString &why) {
        stopSharing();
        emit status(followStatus_ + QLatin1String("; sharing stopped: ") + why);
        emit failed(QStringLiteral("Frames are no longer shared with the telemetry database: %1")
                        .arg(why));
    });
    sharingThread_->start();
}

void FollowSession::stopSharing() {
    if (!sharingThread_)
        return;
    sharingThread_->quit();
    sharingThread_->wait();
    delete sharingThread_;
    sharingThread_ = nullptr;
    uploader_ = nullptr;
}
