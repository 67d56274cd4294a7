#pragma once

#include "decoder/beaconframe.h"
#include "decoder/linescanner.h"

#include <QByteArray>
#include <QFile>
#include <QLockFile>
#include <QSet>
#include <QString>
#include <QUrl>

#include <memory>

// Sharing received frames with a telemetry database over the Simple
// Downlink Share Convention (SiDS): one HTTP form POST per frame.

// Which lines are shared: a frame whose 17 fields read and that has a UTC
// time (Share); a frame without a time, a frame with unreadable symbols and
// every other line are not.
enum class SidsVerdict { Share, WithoutTime, Unreadable, NotAFrame };
SidsVerdict sidsVerdict(const LineVerdict &verdict);

// The receiving station, as the database knows it.
struct SidsStation {
    QString url;      // where the frames go; nothing is sent without one
    QString callsign; // "source"
    double latitude = 0;
    double longitude = 0;
    qint64 noradId = 0;
};

// Reads the station from its texts. Empty when all is well, else what is
// wrong: an empty call sign, a latitude or longitude missing, out of range
// or both 0, a NORAD ID that is not a positive integer, a URL that is not
// http or https.
QString readSidsStation(const QString &url, const QString &callsign, const QString &latitude,
                        const QString &longitude, const QString &noradId, SidsStation *station);

// The fields of a frame's request, URL-encoded, in the order of the
// convention: noradID, source, timestamp (UTC with milliseconds), frame
// (upper-case hex of the bytes of "S" and the frame, as the report's header
// shows it), locator, longitude, latitude, version.
QByteArray sidsFields(const SidsStation &station, const BeaconFrame &frame, qint64 time);
// The address of a request: the station's URL with the fields added to its
// query. The same fields are the request's body.
QUrl sidsRequestUrl(const SidsStation &station, const QByteArray &fields);

// Every frame delivered to or rejected by the database, so that none is
// sent twice: one line per frame, "delivered" or "rejected", the NORAD ID,
// the UTC time and the frame, appended and flushed as each answer comes. A
// last line without its line end (torn by a crash) is ignored on reading.
// One program at a time uses a journal.
class SidsJournal {
public:
    // The journal the window and kadrin-decode share: kadrin/sids-journal.txt
    // in the user's data folder.
    static QString defaultPath();

    // Opens (and creates) the journal, and locks it for this program.
    bool open(const QString &path, QString *error);
    bool contains(qint64 noradId, const BeaconFrame &frame, qint64 time) const;
    // Appends the frame's line and syncs it to disk.
    bool record(bool delivered, qint64 noradId, const BeaconFrame &frame, qint64 time,
                QString *error);

private:
    static QByteArray keyOf(qint64 noradId, const BeaconFrame &frame, qint64 time);

    QSet<QByteArray> keys_;
    QFile file_;
    std::unique_ptr<QLockFile> lock_;
};
