#include "sids/sidsuploader.h"

#include "decoder/utctime.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <algorithm>
#include <cstring>

namespace {

// A request body that can be read once. Qt sends a POST a second time on
// its own when the connection closes before the answer comes; the database
// would then get the frame twice for one try. A body Qt cannot rewind stops
// that: the try fails instead and is counted.
class OnceBody : public QIODevice {
public:
    OnceBody(const QByteArray &data, QObject *parent) : QIODevice(parent), data_(data) {
        QIODevice::open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    bool reset() override { return false; }
    qint64 bytesAvailable() const override {
        return data_.size() - at_ + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char *to, qint64 most) override {
        if (at_ == data_.size())
            return -1;
        const qint64 n = std::min(most, qint64(data_.size()) - at_);
        std::memcpy(to, data_.constData() + at_, size_t(n));
        at_ += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray data_;
    qint64 at_ = 0;
};

} // namespace

SidsUploader::SidsUploader(const SidsStation &station, QObject *parent)
    : QObject(parent), station_(station), network_(this), retry_(this), deadline_(this) {
    qRegisterMetaType<SidsUploader::Counts>();
    retry_.setSingleShot(true);
    deadline_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &SidsUploader::startNext);
    connect(&deadline_, &QTimer::timeout, this, &SidsUploader::timedOut);
}

bool SidsUploader::open(const QString &journalPath, QString *error) {
    return journal_.open(journalPath, error);
}

SidsUploader::Counts SidsUploader::counts() const {
    return {sent_, int(queue_.size()), rejected_, earlier_};
}

void SidsUploader::send(const BeaconFrame &frame, qint64 time) {
    if (journal_.contains(station_.noradId, frame, time)) {
        ++earlier_;
        emit countsChanged(counts());
        return;
    }
    queue_.push_back({frame, time, 0});
    emit countsChanged(counts());
    if (queue_.size() == 1 && !retry_.isActive() && !gaveUp_)
        startNext();
}

void SidsUploader::startNext() {
    if (queue_.empty() || reply_ || stopped_)
        return;
    const QByteArray fields = sidsFields(station_, queue_.front().frame, queue_.front().time);
    // The fields go in the query and in the body: some servers read one,
    // some the other.
    QNetworkRequest request(sidsRequestUrl(station_, fields));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setHeader(QNetworkRequest::ContentLengthHeader, fields.size());
    // The body is read from OnceBody as it is sent, not copied into a buffer
    // Qt could rewind.
    request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
    // A redirect is the station's URL gone wrong: following it would send a
    // GET without the frame (301, 302) or the frame to a host not chosen.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    // A connection of its own for each frame: frames come seconds apart, and
    // a kept-alive connection that the server dropped in between would only
    // fail the next request.
    request.setRawHeader("Connection", "close");
    ++queue_.front().tries;
    answer_.clear();
    auto *body = new OnceBody(fields, nullptr);
    QNetworkReply *reply = network_.post(request, body);
    body->setParent(reply); // read while the reply lives, gone with it
    reply_ = reply;
    reply->setReadBufferSize(AnswerLimit);
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { readAnswer(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { answered(reply); });
    // The whole request, not the time between two bytes: a server that
    // drips its answer must not hold the queue.
    deadline_.start(timing_.answerMs);
}

void SidsUploader::readAnswer(QNetworkReply *reply) {
    if (reply != reply_)
        return;
    answer_ += reply->read(AnswerLimit - answer_.size());
    if (answer_.size() < AnswerLimit)
        return;
    // Enough to judge the answer: the rest is not read.
    judge(reply);
    reply->abort();
}

void SidsUploader::answered(QNetworkReply *reply) {
    reply->deleteLater();
    if (reply != reply_)
        return;
    answer_ += reply->read(AnswerLimit - answer_.size());
    judge(reply);
}

void SidsUploader::timedOut() {
    QNetworkReply *reply = reply_;
    if (!reply)
        return;
    reply_ = nullptr;
    reply->abort();
    reply->deleteLater();
    retryLater(QStringLiteral("no answer within %1 s").arg(timing_.answerMs / 1000.0));
}

void SidsUploader::judge(QNetworkReply *reply) {
    reply_ = nullptr;
    deadline_.stop();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const Item &item = queue_.front();
    const QString time = QString::fromLatin1(isoUtcTime(item.time));
    const QString answer = QStringLiteral("%1 %2").arg(status).arg(
        reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
    if (status >= 300 && status < 400) {
        ++rejected_;
        const QByteArray location = reply->rawHeader("Location");
        emit message(
            QStringLiteral("frame of %1 not delivered: the database answered %2, "
                           "Location: %3; redirects are not followed, correct the "
                           "SiDS URL")
                .arg(time, answer,
                     location.isEmpty() ? QStringLiteral("(none)") : QString::fromUtf8(location)));
        done();
        return;
    }
    const bool delivered = status >= 200 && status < 300;
    if (delivered) {
        ++sent_;
    } else if (status >= 400 && status < 500) {
        ++rejected_;
        emit message(QStringLiteral("frame of %1 rejected: %2 %3")
                         .arg(time)
                         .arg(status)
                         .arg(QString::fromUtf8(answer_.left(4096)).left(200)));
    } else {
        // ContentReSendError: Qt would have sent the request again (see OnceBody)
        // and says "Unknown error"; where it would not, the same is "Connection
        // closed". Either way the same words.
        const bool closed = reply->error() == QNetworkReply::ContentReSendError ||
                            reply->error() == QNetworkReply::RemoteHostClosedError;
        retryLater(status   ? QStringLiteral("answer %1").arg(status)
                   : closed ? QStringLiteral("connection closed before the answer")
                            : reply->errorString());
        return;
    }
    QString error;
    if (!journal_.record(delivered, station_.noradId, item.frame, item.time, &error)) {
        // Going on would send frames that the next run sends again.
        stopped_ = true;
        queue_.pop_front();
        emit countsChanged(counts());
        emit stopped(
            QStringLiteral("cannot write the journal: %1; nothing more is sent. The "
                           "frame of %2 was %3 but is not recorded: a later run sends "
                           "it again")
                .arg(error, time,
                     delivered ? QStringLiteral("delivered") : QStringLiteral("rejected")));
        return;
    }
    done();
}

void SidsUploader::done() {
    queue_.pop_front();
    emit countsChanged(counts());
    if (queue_.empty())
        emit becameIdle();
    else
        startNext();
}

void SidsUploader::retryLater(const QString &why) {
    const Item &item = queue_.front();
    if (maxTries_ > 0 && item.tries >= maxTries_) {
        gaveUp_ = true;
        emit message(QStringLiteral("frame of %1 not delivered after %2 tries (%3); %4 %5 for "
                                    "the next run")
                         .arg(QString::fromLatin1(isoUtcTime(item.time)))
                         .arg(item.tries)
                         .arg(why)
                         .arg(queue_.size())
                         .arg(queue_.size() == 1 ? QStringLiteral("frame waits")
                                                 : QStringLiteral("frames wait")));
        emit becameIdle();
        return;
    }
    const qint64 delay = std::min(qint64(timing_.firstDelayMs) << std::min(item.tries - 1, 20),
                                  qint64(timing_.longestDelayMs));
    emit message(QStringLiteral("frame of %1 not delivered (%2); trying again in %3 s")
                     .arg(QString::fromLatin1(isoUtcTime(item.time)), why)
                     .arg(delay / 1000.0));
    retry_.start(int(delay));
}
