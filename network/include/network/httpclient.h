#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>

class QIODevice;
class QNetworkAccessManager;

// GET requests as a good citizen of a shared service: the program's name
// and version as User-Agent, 429 and 503 with Retry-After obeyed, bounded
// retries with growing waits, every wait and transfer bounded. A token is
// sent only over HTTPS (or to this machine), only to the host it was given
// for, and never after a redirect to another host. Blocking: runs an event
// loop of its own until the answer is complete.
class HttpClient {
public:
    struct Timing {
        int stallMs = 30000;       // no byte for this long: given up
        int totalMs = 600000;      // the whole transfer, retries aside
        int retries = 4;           // after the first try
        int firstRetryMs = 2000;   // doubled at each retry
        int longestWaitMs = 300000; // a Retry-After longer than this is not waited for
        // From KADRIN_NET_STALL_MS, KADRIN_NET_TOTAL_MS, KADRIN_NET_RETRY_MS
        // when set (the tests' short waits).
        static Timing fromEnvironment();
    };

    struct Answer {
        bool ok = false;   // a 2xx answer, complete
        int status = 0;    // HTTP status; 0 when none came
        QByteArray body;   // when no sink was given
        qint64 bytes = 0;  // written to the sink
        QByteArray contentType;
        QByteArray link;   // the Link header
        QString error;     // why not ok, for the operator
        bool transient = false; // the connection failed or the transfer was cut: worth again
    };

    explicit HttpClient(QNetworkAccessManager &network, Timing timing = Timing::fromEnvironment());

    // Said on standard error or the status line: a wait the server asked for.
    void setNoticeHandler(std::function<void(const QString &)> notice) { notice_ = std::move(notice); }
    // "Token <token>" goes with requests to host (and only there).
    void setToken(const QByteArray &token, const QString &host);
    // Whether a token may be sent to url at all: HTTPS or this machine.
    static bool safeForToken(const QUrl &url);

    // GET url; the body into sink when given (from its start; maxBytes
    // bounds it, -1 none), else into Answer::body. cancelled is polled.
    Answer get(const QUrl &url, QIODevice *sink = nullptr, qint64 maxBytes = -1,
               const std::function<bool()> &cancelled = {});

    static QByteArray userAgent();
    // The URL a Link header names as rel="next"; empty when none.
    static QUrl nextPage(const QByteArray &link, const QUrl &base);

private:
    Answer once(const QUrl &url, QIODevice *sink, qint64 maxBytes, const std::function<bool()> &cancelled,
                int *retryAfterMs);

    QNetworkAccessManager &network_;
    Timing timing_;
    QByteArray token_;
    QString tokenHost_;
    std::function<void(const QString &)> notice_;
};
