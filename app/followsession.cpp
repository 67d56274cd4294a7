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
                static const char *const whys[] = {"truncated", "replaced", "rewritten"};
                emit status(QStringLiteral("Following %1 (%2; read again from its start)")
                                .arg(path, QLatin1String(whys[int(why)])));
            });
    connect(following.get(), &LogFollowing::waitingForLog, this, [this, path](const QString &why) {
        emit status(QStringLiteral("Following %1 (%2)").arg(path, why));
    });
    connect(following.get(), &LogFollowing::failed, this, [this, path](const QString &error) {
        stop();
        emit failed(QStringLiteral("%1: %2").arg(path, error));
    });
    following_ = std::move(following);
    emit activeChanged(true);
    startSharing(QLatin1String("Following ") + path);
    return log;
}

void FollowSession::stop() {
    if (!following_)
        return;
    // What came last, an unfinished last line too, belongs to the text; it
    // is not shared (a later kadrin-decode --sids run over the log sends it).
    stopSharing();
    const QStringList last = following_->finish();
    if (!last.isEmpty())
        emit linesArrived(last);
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

void FollowSession::setStatusPrefix(const QString &prefix) {
    followStatus_ = prefix;
    showStatus();
}

void FollowSession::showStatus() {
    emit status(followStatus_ + counts_);
}

void FollowSession::startSharing(const QString &prefix) {
    stopSharing();
    followStatus_ = prefix;
    counts_.clear();
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
        counts_ = QStringLiteral("; sent %1, waiting %2, rejected %3")
                      .arg(c.sent)
                      .arg(c.waiting)
                      .arg(c.rejected);
        showStatus();
    });
    // A journal that cannot be written: nothing more is sent; the frames
    // still waiting are sent by a later run over the log.
    connect(uploader_, &SidsUploader::stopped, this, [this](const QString &why) {
        stopSharing();
        counts_ = QLatin1String("; sharing stopped: ") + why;
        showStatus();
        emit failed(
            QStringLiteral("Frames are no longer shared with the telemetry database: %1").arg(why));
    });
    sharingThread_->start();
}

void FollowSession::stopSharing() {
    counts_.clear();
    if (!sharingThread_)
        return;
    sharingThread_->quit();
    sharingThread_->wait();
    delete sharingThread_;
    sharingThread_ = nullptr;
    uploader_ = nullptr;
}
