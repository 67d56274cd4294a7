#include "sids/sids.h"

#include "decoder/utctime.h"
#include "decoder/version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>

namespace {

bool readDegrees(const QString &text, double limit, double *degrees) {
    bool ok = false;
    *degrees = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(*degrees) && std::abs(*degrees) <= limit;
}

// Absolute degrees with five decimals and the hemisphere: "1.50000W".
QByteArray hemisphere(double degrees, char positive, char negative) {
    return QByteArray::number(std::abs(degrees), 'f', 5) + (degrees < 0 ? negative : positive);
}

void addField(QByteArray &fields, const char *name, const QByteArray &value) {
    if (!fields.isEmpty())
        fields += '&';
    fields += name;
    fields += '=';
    fields += QUrl::toPercentEncoding(QString::fromUtf8(value));
}

} // namespace

SidsVerdict sidsVerdict(const LineVerdict &verdict) {
    switch (verdict.kind) {
    case LineVerdict::Kind::Frame:
        return verdict.time ? SidsVerdict::Share : SidsVerdict::WithoutTime;
    case LineVerdict::Kind::FrameWithUnreadable:
        return SidsVerdict::Unreadable;
    case LineVerdict::Kind::NearMiss:
    case LineVerdict::Kind::Other:
        break;
    }
    return SidsVerdict::NotAFrame;
}

QString readSidsStation(const QString &url, const QString &callsign, const QString &latitude,
                        const QString &longitude, const QString &noradId, SidsStation *station) {
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    if (!parsed.isValid() ||
        (parsed.scheme() != QLatin1String("http") && parsed.scheme() != QLatin1String("https")) ||
        parsed.host().isEmpty())
        return QStringLiteral("the SiDS URL is not an http or https address");
    station->url = url.trimmed();
    station->callsign = callsign.trimmed();
    if (station->callsign.isEmpty())
        return QStringLiteral("the call sign is empty");
    if (!readDegrees(latitude, 90, &station->latitude))
        return QStringLiteral("the latitude is missing or not within -90 to 90 degrees");
    if (!readDegrees(longitude, 180, &station->longitude))
        return QStringLiteral("the longitude is missing or not within -180 to 180 degrees");
    if (station->latitude == 0 && station->longitude == 0)
        return QStringLiteral("latitude and longitude are both 0: the station's place is not set");
    bool ok = false;
    station->noradId = noradId.trimmed().toLongLong(&ok);
    if (!ok || station->noradId <= 0 || noradId.trimmed().startsWith(QLatin1Char('+')))
        return QStringLiteral("the NORAD ID is not a positive integer");
    return QString();
}

QByteArray sidsFields(const SidsStation &station, const BeaconFrame &frame, qint64 time) {
    QByteArray fields;
    addField(fields, "noradID", QByteArray::number(station.noradId));
    addField(fields, "source", station.callsign.toUtf8());
    addField(fields, "timestamp", isoUtcTimeMilliseconds(time));
    addField(fields, "frame", ("S" + frame.text().toUtf8()).toHex().toUpper());
    addField(fields, "locator", "longLat");
    addField(fields, "longitude", hemisphere(station.longitude, 'E', 'W'));
    addField(fields, "latitude", hemisphere(station.latitude, 'N', 'S'));
    addField(fields, "version", kadrin::Version);
    return fields;
}

QUrl sidsRequestUrl(const SidsStation &station, const QByteArray &fields) {
    QUrl url(station.url);
    const QString query = url.query(QUrl::FullyEncoded);
    url.setQuery((query.isEmpty() ? QString() : query + QLatin1Char('&')) +
                     QString::fromLatin1(fields),
                 QUrl::StrictMode);
    return url;
}

QString SidsJournal::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/kadrin/sids-journal.txt");
}

QByteArray SidsJournal::keyOf(qint64 noradId, const BeaconFrame &frame, qint64 time) {
    return QByteArray::number(noradId) + ' ' + isoUtcTime(time) + ' ' +
           frame.text().toUtf8().toHex();
}

bool SidsJournal::open(const QString &path, QString *error) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    lock_ = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    lock_->setStaleLockTime(0); // held as long as the program runs
    if (!lock_->tryLock()) {
        qint64 pid = 0;
        QString host, application;
        if (lock_->error() == QLockFile::LockFailedError) {
            *error = lock_->getLockInfo(&pid, &host, &application)
                         ? QStringLiteral("%1 is in use by another program (process %2)")
                               .arg(path)
                               .arg(pid)
                         : QStringLiteral("%1 is in use by another program").arg(path);
            return false;
        }
        // QLockFile does not tell why it could not make the file: make one
        // the same way to learn the cause (a full disk, a folder not ours).
        const QString lockPath = path + QStringLiteral(".lock");
        QFile probe(lockPath);
        const bool existed = probe.exists();
        QString cause = QStringLiteral("unknown cause");
        if (!probe.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
            probe.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n') < 0)
            cause = probe.errorString();
        if (probe.isOpen() && !existed)
            probe.remove();
        *error = QStringLiteral("cannot create the lock file %1: %2").arg(lockPath, cause);
        return false;
    }
    file_.setFileName(path);
    // Unbuffered: a write that fails must fail here, not later when the
    // buffer is flushed on closing.
    if (!file_.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        *error = QStringLiteral("%1: %2").arg(path, file_.errorString());
        return false;
    }
    file_.seek(0);
    const QByteArray content = file_.readAll();
    qsizetype start = 0;
    for (qsizetype end; (end = content.indexOf('\n', start)) >= 0; start = end + 1) {
        // "delivered <norad> <time> <frame hex>": the key is all after the first word.
        const QByteArray line = content.mid(start, end - start);
        const qsizetype blank = line.indexOf(' ');
        if (blank > 0 && line.count(' ') == 3)
            keys_.insert(line.mid(blank + 1));
    }
    if (start < content.size()) // torn by a crash: cut off, so the next line starts afresh
        file_.resize(start);
    file_.seek(file_.size());
    return true;
}

bool SidsJournal::contains(qint64 noradId, const BeaconFrame &frame, qint64 time) const {
    return keys_.contains(keyOf(noradId, frame, time));
}

bool SidsJournal::record(bool delivered, qint64 noradId, const BeaconFrame &frame, qint64 time,
                         QString *error) {
    const QByteArray key = keyOf(noradId, frame, time);
    const QByteArray line = (delivered ? "delivered " : "rejected ") + key + '\n';
    const qint64 written = file_.write(line);
    if (written != line.size() || ::fdatasync(file_.handle()) != 0) {
        // A short write leaves errno from the write that failed.
        const QString cause = written < 0 ? file_.errorString()
                                          : QString::fromLocal8Bit(std::strerror(errno));
        *error = QStringLiteral("%1: %2").arg(file_.fileName(), cause);
        return false; // a line torn here is cut off when the journal is opened again
    }
    keys_.insert(key);
    return true;
}
