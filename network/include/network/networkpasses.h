#pragma once

#include "network/httpclient.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// The network of automatic stations: the observations of a satellite it
// recorded (each with its recording), and the frames stations shared with
// the telemetry database.

struct Observation {
    qint64 id = 0;
    qint64 start = 0, end = 0; // UTC seconds
    qint64 groundStation = 0;
    QString stationName;
    double latitude = 0, longitude = 0;
    QString status;
    QUrl audio; // `payload`, else `archive_url`; empty when it has none
};

struct SharedFrame {
    qint64 time = 0;
    QString symbols; // the 20 after the name
    QString observer;
    qint64 stationId = 0;
};

// One page of each API. False, with the reason, for anything but a JSON
// array of such objects (an HTML error page, other JSON).
bool parseObservations(const QByteArray &page, QList<Observation> *observations, QString *error);
bool parseSharedFrames(const QByteArray &page, QList<SharedFrame> *frames, QString *error);

QUrl observationsUrl(const QUrl &base, qint64 norad, std::optional<qint64> from, std::optional<qint64> to);
QUrl sharedFramesUrl(const QUrl &base, qint64 norad, std::optional<qint64> from, std::optional<qint64> to);

// Every page from `first` on, one request at a time, each handed to
// `page`; false (with the reason) when one could not be had or read.
bool readPages(HttpClient &http, const QUrl &first, const std::function<bool(const QByteArray &)> &page,
               QString *error, const std::function<bool()> &cancelled = {});
// Every page read with `parse` into items (parseObservations, parseSharedFrames).
template <typename Item>
bool readAllPages(HttpClient &http, const QUrl &first,
                  bool (*parse)(const QByteArray &, QList<Item> *, QString *), QList<Item> *items,
                  QString *error, const std::function<bool()> &cancelled = {}) {
    return readPages(
        http, first, [&](const QByteArray &page) { return parse(page, items, error); }, error, cancelled);
}

// Downloaded recordings, kept in a folder of bounded size (the oldest go
// first). A download is written beside its name and renamed only when
// complete, so a recording cut short is never copied, and fetched again.
class RecordingCache {
public:
    explicit RecordingCache(QString folder = defaultFolder(), qint64 limitBytes = 2000LL * 1000 * 1000);
    static QString defaultFolder(); // kadrin/recordings in the cache folder

    // The recording of an observation, downloaded unless it is at hand
    // (touched, so that it goes last). Empty, with the reason, when it could
    // not be had.
    QString fetch(HttpClient &http, const Observation &observation, qint64 maxBytes, QString *error,
                  const std::function<bool()> &cancelled = {});
    // Removes the oldest recordings until the folder is within its limit.
    void trim();

private:
    QString folder_;
    qint64 limit_;
};
