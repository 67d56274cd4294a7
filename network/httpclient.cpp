#include "network/httpclient.h"

#include "decoder/version.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSet>
#include <QTimer>

#include <cmath>

namespace {
constexpr int MostRedirects = 5;

int environmentMs(const char *name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

// Waits ms, polling cancelled; false when cancelled.
bool pause(int ms, const std::function<bool()> &cancelled) {
    QEventLoop loop;
    QTimer done, poll;
    done.setSingleShot(true);
    QObject::connect(&done, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (cancelled && cancelled())
            loop.quit();
    });
    done.start(ms);
    poll.start(50);
    loop.exec();
    return !(cancelled && cancelled());
}

// Retry-After: seconds, or an HTTP date.
int retryAfterMs(const QByteArray &value) {
    bool ok = false;
    const int seconds = value.trimmed().toInt(&ok);
    if (ok)
        return std::max(seconds, 0) * 1000;
    const QDateTime at = QDateTime::fromString(QString::fromLatin1(value.trimmed()), Qt::RFC2822Date);
    if (!at.isValid())
        return 1000;
    return int(std::clamp<qint64>(QDateTime::currentDateTimeUtc().msecsTo(at), 0, 24 * 3600 * 1000));
}
} // namespace

HttpClient::Timing HttpClient::Timing::fromEnvironment() {
    Timing t;
    t.stallMs = environmentMs("KADRIN_NET_STALL_MS", t.stallMs);
    t.totalMs = environmentMs("KADRIN_NET_TOTAL_MS", t.totalMs);
    t.firstRetryMs = environmentMs("KADRIN_NET_RETRY_MS", t.firstRetryMs);
    return t;
}

HttpClient::HttpClient(QNetworkAccessManager &network, Timing timing)
    : network_(network), timing_(timing) {}

void HttpClient::setToken(const QByteArray &token, const QString &host) {
    token_ = token;
    tokenHost_ = host;
}

bool HttpClient::safeForToken(const QUrl &url) {
    if (url.scheme() == QLatin1String("https"))
        return true;
    const QHostAddress address(url.host());
    return url.scheme() == QLatin1String("http") &&
           (url.host() == QLatin1String("localhost") || (!address.isNull() && address.isLoopback()));
}

QByteArray HttpClient::userAgent() {
    return QByteArray("kadrin-decode/") + kadrin::Version + " (KADRIN CW Telemetry Decoder)";
}

QUrl HttpClient::nextPage(const QByteArray &link, const QUrl &base) {
    static const QRegularExpression next(QStringLiteral(R"(<([^>]*)>\s*;[^,]*rel\s*=\s*"?next"?)"));
    const QRegularExpressionMatch m = next.match(QString::fromLatin1(link));
    return m.hasMatch() ? base.resolved(QUrl(m.captured(1))) : QUrl();
}

HttpClient::Answer HttpClient::get(const QUrl &url, QIODevice *sink, qint64 maxBytes,
                                   const std::function<bool()> &cancelled) {
    Answer answer;
    for (int attempt = 0;; ++attempt) {
        int waitMs = 0;
        answer = once(url, sink, maxBytes, cancelled, &waitMs);
        if (answer.ok || (cancelled && cancelled()) || attempt >= timing_.retries)
            return answer;
        if (waitMs > 0) {
            // The server said when to come back.
            if (waitMs > timing_.longestWaitMs)
                return answer;
            if (notice_)
                notice_(QStringLiteral("%1: the server is busy (HTTP %2); waiting %3 s as it asks")
                            .arg(url.host())
                            .arg(answer.status)
                            .arg(waitMs / 1000.0, 0, 'f', 0));
        } else if (answer.transient || answer.status >= 500) {
            // A connection that failed or a server error: again, later each time.
            waitMs = timing_.firstRetryMs << std::min(attempt, 10);
        } else {
            return answer; // the request itself was refused: trying again changes nothing
        }
        if (!pause(waitMs, cancelled))
            return answer;
    }
}

HttpClient::Answer HttpClient::once(const QUrl &url, QIODevice *sink, qint64 maxBytes,
                                    const std::function<bool()> &cancelled, int *retryAfter) {
    Answer answer;
    QUrl current = url;
    QSet<QUrl> visited{url};
    for (int redirects = 0;; ++redirects) {
        QNetworkRequest request(current);
        request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        request.setTransferTimeout(timing_.stallMs);
        // The token goes to its own host only: a redirect elsewhere goes without it.
        if (!token_.isEmpty() && current.host() == tokenHost_) {
            if (!safeForToken(current)) {
                answer.error = QStringLiteral("%1: the token is sent only over HTTPS").arg(current.toString());
                return answer;
            }
            request.setRawHeader("Authorization", "Token " + token_);
        }
        if (auto *file = qobject_cast<QFile *>(sink))
            file->resize(0);
        if (sink)
            sink->seek(0);
        answer = Answer();
        QNetworkReply *reply = network_.get(request);
        QEventLoop loop;
        QTimer total, poll;
        total.setSingleShot(true);
        bool tooLarge = false, tooSlow = false, writeFailed = false, stopped = false;
        auto take = [&] {
            const QByteArray chunk = reply->readAll();
            answer.bytes += chunk.size();
            if (maxBytes >= 0 && answer.bytes > maxBytes) {
                tooLarge = true;
                reply->abort();
            } else if (sink) {
                writeFailed = writeFailed || sink->write(chunk) != chunk.size();
            } else {
                answer.body += chunk;
            }
        };
        QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
            const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
            if (maxBytes >= 0 && length > maxBytes) {
                tooLarge = true;
                reply->abort();
            }
        });
        QObject::connect(reply, &QNetworkReply::readyRead, &loop, take);
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QObject::connect(&total, &QTimer::timeout, &loop, [&] {
            tooSlow = true;
            reply->abort();
        });
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (cancelled && cancelled()) {
                stopped = true;
                reply->abort();
            }
        });
        total.start(timing_.totalMs);
        poll.start(100);
        if (!reply->isFinished())
            loop.exec();
        if (!tooLarge && reply->bytesAvailable() > 0)
            take();
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        answer.link = reply->rawHeader("Link");
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        const QNetworkReply::NetworkError error = reply->error();
        const QString errorText = reply->errorString();
        const QByteArray location = reply->rawHeader("Location");
        const QByteArray wait = reply->rawHeader("Retry-After");
        reply->deleteLater();

        if (tooLarge) {
            answer.error = QStringLiteral("larger than %1 MB").arg(maxBytes / 1000000.0, 0, 'f', 0);
        } else if (tooSlow) {
            answer.error = QStringLiteral("not complete after %1 s (the server sends too slowly)")
                               .arg(timing_.totalMs / 1000.0);
        } else if (stopped) {
            answer.error = QStringLiteral("cancelled");
        } else if (writeFailed) {
            answer.error = QStringLiteral("cannot be written to the disk");
        } else if (answer.status >= 300 && answer.status < 400 && !location.isEmpty()) {
            const QUrl target = current.resolved(QUrl::fromEncoded(location));
            if (redirects >= MostRedirects || visited.contains(target)) {
                answer.error = QStringLiteral("redirected in a loop (%1)").arg(target.toString());
                return answer;
            }
            visited.insert(target);
            current = target;
            continue;
        } else if (answer.status == 429 || answer.status == 503) {
            *retryAfter = wait.isEmpty() ? 0 : std::max(retryAfterMs(wait), 1);
            answer.error = QStringLiteral("the server is busy (HTTP %1)").arg(answer.status);
        } else if (answer.status >= 400) {
            answer.error = QStringLiteral("HTTP %1").arg(answer.status);
        } else if (error != QNetworkReply::NoError || (length.isValid() && length.toLongLong() != answer.bytes)) {
            answer.transient = true;
            answer.error = error == QNetworkReply::OperationCanceledError
                               ? QStringLiteral("no data for %1 s").arg(timing_.stallMs / 1000.0)
                               : errorText;
            if (length.isValid() && length.toLongLong() > answer.bytes)
                answer.error = QStringLiteral("cut short: %1 of %2 bytes (%3)")
                                   .arg(answer.bytes)
                                   .arg(length.toLongLong())
                                   .arg(error != QNetworkReply::NoError ? errorText : QStringLiteral("closed"));
        } else {
            answer.ok = answer.status >= 200 && answer.status < 300;
            if (!answer.ok)
                answer.error = QStringLiteral("HTTP %1").arg(answer.status);
        }
        return answer;
    }
}
