#include "network/networkpasses.h"

#include "decoder/linescanner.h"
#include "decoder/utctime.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QSet>
#include <QUrlQuery>

#include <algorithm>

namespace {

std::optional<qint64> timeOf(const QJsonValue &value) {
    return leadingUtcTime(value.toString());
}

// The page as a JSON array of objects; the reason when it is not.
bool arrayOf(const QByteArray &page, QJsonArray *array, QString *error) {
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(page, &parse);
    if (doc.isNull()) {
        const bool html = page.trimmed().startsWith('<');
        *error = html ? QStringLiteral("the server answered with a web page, not the expected JSON")
                      : QStringLiteral("the answer is not JSON (%1)").arg(parse.errorString());
        return false;
    }
    if (!doc.isArray()) {
        *error = QStringLiteral("the answer is JSON but not a list");
        return false;
    }
    *array = doc.array();
    return true;
}

QUrl withQuery(const QUrl &base, const QString &path, const QList<std::pair<QString, QString>> &items) {
    QUrl url = base;
    url.setPath(base.path().endsWith(QLatin1Char('/')) ? base.path() + path.mid(1) : base.path() + path);
    QUrlQuery query;
    for (const auto &[key, value] : items)
        query.addQueryItem(key, value);
    url.setQuery(query);
    return url;
}

QList<std::pair<QString, QString>> spanItems(std::optional<qint64> from, std::optional<qint64> to) {
    QList<std::pair<QString, QString>> items;
    if (from)
        items.append({QStringLiteral("start"), QString::fromLatin1(isoUtcTime(*from))});
    if (to)
        items.append({QStringLiteral("end"), QString::fromLatin1(isoUtcTime(*to))});
    return items;
}

} // namespace

bool parseObservations(const QByteArray &page, QList<Observation> *observations, QString *error) {
    QJsonArray array;
    if (!arrayOf(page, &array, error))
        return false;
    for (const QJsonValue &item : array) {
        const QJsonObject o = item.toObject();
        const auto start = timeOf(o.value(QLatin1String("start")));
        if (!item.isObject() || !o.value(QLatin1String("id")).isDouble() || !start) {
            *error = QStringLiteral("an observation without an id or a start time");
            return false;
        }
        Observation obs;
        obs.id = qint64(o.value(QLatin1String("id")).toDouble());
        obs.start = *start;
        obs.end = timeOf(o.value(QLatin1String("end"))).value_or(*start);
        obs.groundStation = qint64(o.value(QLatin1String("ground_station")).toDouble());
        obs.stationName = o.value(QLatin1String("station_name")).toString();
        obs.latitude = o.value(QLatin1String("station_lat")).toDouble();
        obs.longitude = o.value(QLatin1String("station_lng")).toDouble();
        obs.status = o.value(QLatin1String("status")).toString();
        QString audio = o.value(QLatin1String("payload")).toString();
        if (audio.isEmpty())
            audio = o.value(QLatin1String("archive_url")).toString();
        obs.audio = QUrl(audio);
        observations->append(obs);
    }
    return true;
}

bool parseSharedFrames(const QByteArray &page, QList<SharedFrame> *frames, QString *error) {
    QJsonArray array;
    if (!arrayOf(page, &array, error))
        return false;
    for (const QJsonValue &item : array) {
        const QJsonObject o = item.toObject();
        const auto time = timeOf(o.value(QLatin1String("timestamp")));
        const QByteArray text = QByteArray::fromHex(o.value(QLatin1String("frame")).toString().toLatin1());
        const LineVerdict verdict = LineScanner::judge(QString::fromUtf8(text));
        if (!time || !verdict.isFrame())
            continue; // another satellite's, or no frame of ours: not kept
        frames->append({*time, verdict.frame->text().mid(BeaconFrame::NameLength),
                        o.value(QLatin1String("observer")).toString(),
                        qint64(o.value(QLatin1String("station_id")).toDouble())});
    }
    return true;
}

QUrl observationsUrl(const QUrl &base, qint64 norad, std::optional<qint64> from, std::optional<qint64> to) {
    return withQuery(base, QStringLiteral("/api/observations/"),
                     QList<std::pair<QString, QString>>{{QStringLiteral("satellite__norad_cat_id"),
                                                         QString::number(norad)}} +
                         spanItems(from, to));
}

QUrl sharedFramesUrl(const QUrl &base, qint64 norad, std::optional<qint64> from, std::optional<qint64> to) {
    return withQuery(base, QStringLiteral("/api/telemetry/"),
                     QList<std::pair<QString, QString>>{{QStringLiteral("satellite"), QString::number(norad)}} +
                         spanItems(from, to));
}

bool readPages(HttpClient &http, const QUrl &first, const std::function<bool(const QByteArray &)> &page,
               QString *error, const std::function<bool()> &cancelled) {
    QUrl url = first;
    QSet<QUrl> seen;
    while (url.isValid() && !url.isEmpty()) {
        if (seen.contains(url)) {
            *error = QStringLiteral("%1: the pages lead back to one already read").arg(url.toString());
            return false;
        }
        seen.insert(url);
        const HttpClient::Answer answer = http.get(url, nullptr, 64 << 20, cancelled);
        if (!answer.ok) {
            *error = QStringLiteral("%1: %2").arg(url.toString(QUrl::RemoveQuery), answer.error);
            return false;
        }
        if (!page(answer.body))
            return false;
        url = HttpClient::nextPage(answer.link, url);
    }
    return true;
}

RecordingCache::RecordingCache(QString folder, qint64 limitBytes)
    : folder_(std::move(folder)), limit_(limitBytes) {}

QString RecordingCache::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/kadrin/recordings");
}

QString RecordingCache::fetch(HttpClient &http, const Observation &observation, qint64 maxBytes,
                              QString *error, const std::function<bool()> &cancelled) {
    if (observation.audio.isEmpty()) {
        *error = QStringLiteral("it has no recording");
        return QString();
    }
    if (!QDir().mkpath(folder_)) {
        *error = QStringLiteral("the folder %1 cannot be made").arg(folder_);
        return QString();
    }
    QString suffix = QFileInfo(observation.audio.path()).suffix().toLower();
    if (suffix.isEmpty() || suffix.size() > 5)
        suffix = QStringLiteral("ogg");
    const QString path = QStringLiteral("%1/%2.%3").arg(folder_).arg(observation.id).arg(suffix);
    if (QFileInfo::exists(path)) {
        QFile kept(path);
        if (kept.open(QIODevice::Append)) // touched: it goes last
            kept.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
        return path;
    }
    QFile part(path + QStringLiteral(".part"));
    if (!part.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        *error = QStringLiteral("%1 cannot be written: %2").arg(part.fileName(), part.errorString());
        return QString();
    }
    const HttpClient::Answer answer = http.get(observation.audio, &part, maxBytes, cancelled);
    part.close();
    if (!answer.ok || !part.rename(path)) {
        part.remove();
        *error = answer.ok ? QStringLiteral("cannot be kept in %1").arg(folder_)
                           : QStringLiteral("its recording %1: %2").arg(observation.audio.toString(), answer.error);
        return QString();
    }
    trim();
    return path;
}

void RecordingCache::trim() {
    QFileInfoList files = QDir(folder_).entryInfoList(QDir::Files, QDir::Time); // newest first
    qint64 total = 0;
    for (qsizetype i = 0; i < files.size(); ++i) {
        total += files[i].size();
        // The newest stays whatever its size: it is about to be copied.
        if (i > 0 && total > limit_ && !files[i].fileName().endsWith(QLatin1String(".part")))
            QFile::remove(files[i].absoluteFilePath());
    }
}
