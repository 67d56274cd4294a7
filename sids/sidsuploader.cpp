#include "sids/sidsuploader.h"

#include "decoder/utctime.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <algorithm>

namespace {
constexpr int AnswerTimeoutMs = 10'000;
constexpr int LongestDelayMs = 300'000;
} // namespace

SidsUploader::SidsUploader(const SidsStation &station, QObject *parent)
    : QObject(parent), station_(station), network_(this), retry_(this) {
    qRegisterMetaType<SidsUploader::Counts>();
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &SidsUploader::startNext);
    connect(&network_, &QNetworkAccessManager::finished, this, &SidsUploader::answered);
}

bool SidsUploader::open(const QString &journalPath, QString *error) {
    return journal_.open(journalPath, error);
}

void SidsUploader::send(const BeaconFrame &frame, qint64 time) {
    if (journal_.contains(station_.noradId, frame, time)) {
        ++counts_.earlier;
        emit countsChanged(counts_);
        return;
    }
    queue_.push_back({frame, time, 0});
    ++counts_.waiting;
    emit countsChanged(counts_);
    if (queue_.size() == 1 && !retry_.isActive() && !gaveUp_)
        startNext();
}

void SidsUploader::startNext() {
    if (queue_.empty() || reply_)
        return;
    const QByteArray fields = sidsFields(station_, queue_.front().frame, queue_.front().time);
    // The fields go in the query and in the body: some servers read one,
    // some the other.
    QNetworkRequest request(sidsRequestUrl(station_, fields));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setTransferTimeout(AnswerTimeoutMs);
    // A connection of its own for each frame: frames come seconds apart, and
    // a kept-alive connection that the server dropped in between would only
    // fail the next request.
    request.setRawHeader("Connection", "close");
    ++queue_.front().tries;
    reply_ = network_.post(request, fields);
}

void SidsUploader::answered(QNetworkReply *reply) {
    reply->deleteLater();
    if (reply != reply_)
        return;
    reply_ = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const Item &item = queue_.front();
    if (status >= 200 && status < 300) {
        ++counts_.sent;
    } else if (status >= 400 && status < 500) {
        ++counts_.rejected;
        emit message(QStringLiteral("frame of %1 rejected: %2 %3")
                         .arg(QString::fromLatin1(isoUtcTime(item.time)))
                         .arg(status)
                         .arg(QString::fromUtf8(reply->read(4096)).left(200)));
    } else {
        retryLater(status ? QStringLiteral("answer %1").arg(status) : reply->errorString());
        return;
    }
    QString error;
    if (!journal_.record(status < 300, station_.noradId, item.frame, item.time, &error))
        emit message(QStringLiteral("cannot write the journal: ") + error);
    done();
}

void SidsUploader::done() {
    queue_.pop_front();
    --counts_.waiting;
    emit countsChanged(counts_);
    if (queue_.empty())
        emit becameIdle();
    else
        startNext();
}

void SidsUploader::retryLater(const QString &why) {
    const Item &item = queue_.front();
    if (maxTries_ > 0 && item.tries >= maxTries_) {
        gaveUp_ = true;
        emit message(QStringLiteral("frame of %1 not delivered after %2 tries (%3); %4 frames "
                                    "wait for the next run")
                         .arg(QString::fromLatin1(isoUtcTime(item.time)))
                         .arg(item.tries)
                         .arg(why)
                         .arg(queue_.size()));
        emit becameIdle();
        return;
    }
    const int delay = std::min(1000 << std::min(item.tries - 1, 20), LongestDelayMs);
    emit message(QStringLiteral("frame of %1 not delivered (%2); trying again in %3 s")
                     .arg(QString::fromLatin1(isoUtcTime(item.time)), why)
                     .arg(delay / 1000));
    retry_.start(delay);
}
