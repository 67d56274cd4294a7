#include "cli/networkrun.h"

#include "cli/decoderun.h"
#include "cwaudio/audiofile.h"
#include "cwaudio/cwcopier.h"
#include "cwaudio/recordingtime.h"
#include "decoder/utctime.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

// A copied line of an observation and what the audio said of it.
struct CopiedLogLine {
    QString line;
    LineSignal signal;
};

namespace {
bool stopped() { return DecodeRun::stopSignal() != 0; }

QByteArray nameOf(qint64 id) { return "observation " + QByteArray::number(id); }

// Copies one recording (in a thread of the pool): its lines with their
// times from the observation's start; an error line when it is no audio.
QList<CopiedLogLine> copyRecording(const QString &path, qint64 start, QString *error) {
    QList<CopiedLogLine> lines;
    AudioFile audio;
    if (!audio.open(QFile::encodeName(path))) {
        *error = QStringLiteral("its recording is not audio we can read (%1)").arg(audio.error());
        QFile::remove(path); // not kept in the cache: fetched again next time
        return lines;
    }
    CwCopier copier(audio.sampleRate());
    copier.setLineHandler([&](const CopiedLine &line) {
        lines.append({timedLogLine(double(start) + line.start, line.text), {line.toneHz, line.snrDb}});
    });
    const FileCopy copied = copyAudioFile(audio, copier, [](const float *, qsizetype) {
        return !DecodeRun::stopSignal();
    });
    if (copied.readError)
        *error = QStringLiteral("its recording is cut short or damaged (%1); the lines before that are copied")
                     .arg(audio.error());
    return lines;
}
} // namespace

NetworkRun::NetworkRun(const Options &options, DecodeRun &run, Archive *archive)
    : options_(options), run_(run), archive_(archive) {
    pool_.setMaxThreadCount(std::max(options.jobs, 1));
}

NetworkRun::~NetworkRun() { pool_.waitForDone(); }

HttpClient &NetworkRun::client() {
    if (!http_) {
        http_ = std::make_unique<HttpClient>(network_);
        http_->setNoticeHandler([](const QString &notice) { printError(notice.toLocal8Bit()); });
    }
    return *http_;
}

bool NetworkRun::prepare() {
    return options_.shared.isEmpty() ? prepareObservations() : prepareShared();
}

bool NetworkRun::prepareObservations() {
    QList<Observation> observations;
    QString error;
    const bool listed =
        readAllPages(client(), observationsUrl(options_.network, options_.norad, options_.from, options_.to),
                     parseObservations, &observations, &error, stopped);
    if (!listed) {
        printError("--network: the observations cannot be listed: " + error.toLocal8Bit());
        incomplete_ = true;
        if (observations.isEmpty())
            return false;
    }
    std::sort(observations.begin(), observations.end(),
              [](const Observation &a, const Observation &b) { return a.start < b.start || (a.start == b.start && a.id < b.id); });
    printError("--network: " + QByteArray::number(observations.size()) + " observations listed");
    cache_ = std::make_unique<RecordingCache>(
        options_.cacheFolder.isEmpty() ? RecordingCache::defaultFolder() : options_.cacheFolder,
        options_.cacheBytes);
    // Those copied to their end before are skipped (the archive remembers).
    const qsizetype count = observations.size();
    if (archive_)
        observations.erase(std::remove_if(observations.begin(), observations.end(),
                                          [&](const Observation &o) { return archive_->isDone(doneKeyOf(o)); }),
                           observations.end());
    if (const qsizetype skipped = count - observations.size())
        printError("--network: " + QByteArray::number(skipped) +
                   (skipped == 1 ? " observation was" : " observations were") + " copied before; skipped");
    for (const Observation &observation : std::as_const(observations)) {
        const QByteArray name = nameOf(observation.id);
        if (items_.contains(name))
            continue;
        Item item;
        item.observation = observation;
        items_.insert(name, item);
        names_.append(name);
    }
    return true;
}

// Downloads the recordings up to the one `upTo` observations ahead, one
// at a time, each handed to the pool to be copied while the next downloads.
void NetworkRun::fetchAhead(qsizetype upTo) {
    while (fetched_ < names_.size() && fetched_ <= upTo && !DecodeRun::stopSignal()) {
        const QByteArray &name = names_[fetched_++];
        Item &item = items_[name];
        item.path = cache_->fetch(client(), item.observation, options_.maxBytes, &item.error, stopped);
        if (item.path.isEmpty())
            continue;
        printError(name + ": recording at hand, " + QByteArray::number(QFileInfo(item.path).size()) + " bytes");
        const QString path = item.path;
        const qint64 start = item.observation.start;
        auto error = std::make_shared<QString>();
        item.copy = QtConcurrent::run(&pool_, [path, start, error] { return copyRecording(path, start, error.get()); });
        item.copyError = error;
    }
}

bool NetworkRun::prepareShared() {
    if (!HttpClient::safeForToken(options_.shared)) {
        printError("--shared: the token is sent only over HTTPS; " +
                   options_.shared.toString().toLocal8Bit() + " is not");
        return false;
    }
    client().setToken(options_.token, options_.shared.host());
    QString error;
    const bool read =
        readAllPages(client(), sharedFramesUrl(options_.shared, options_.norad, options_.from, options_.to),
                     parseSharedFrames, &shared_, &error, stopped);
    if (!read) {
        printError("--shared: the shared frames cannot be read: " + error.toLocal8Bit());
        incomplete_ = true;
    }
    std::stable_sort(shared_.begin(), shared_.end(),
                     [](const SharedFrame &a, const SharedFrame &b) { return a.time < b.time; });
    names_ = {"telemetry database"};
    return read || !shared_.isEmpty();
}

bool NetworkRun::read(const QByteArray &name) {
    if (!options_.shared.isEmpty()) {
        for (const SharedFrame &frame : std::as_const(shared_)) {
            const QString line = timedLogLine(double(frame.time), QStringLiteral("S KADRIN ") + frame.symbols);
            if (options_.copy) {
                run_.output().append(line.toUtf8());
                run_.output().append('\n');
            }
            run_.text(line);
            run_.lineEnd();
        }
        return true;
    }
    // The pool kept busy: as many recordings downloaded ahead as it copies at once.
    fetchAhead(reading_++ + options_.jobs); // the decode run reads the names in order
    Item &item = items_[name];
    if (!item.copy.isValid() && item.error.isEmpty())
        item.error = QStringLiteral("not downloaded (interrupted)");
    QList<CopiedLogLine> lines;
    if (item.copy.isValid()) {
        lines = item.copy.result();
        if (item.error.isEmpty() && item.copyError)
            item.error = *item.copyError;
    }
    for (const CopiedLogLine &line : std::as_const(lines)) {
        if (options_.copy) {
            run_.output().append(line.line.toUtf8());
            run_.output().append('\n');
        }
        run_.text(line.line);
        run_.lineEnd(line.signal);
    }
    const Observation &o = item.observation;
    if (!item.error.isEmpty()) {
        incomplete_ = true;
        printError(name + " (" + o.stationName.toUtf8() + ", " + isoUtcTime(o.start) + "): " +
                   item.error.toLocal8Bit());
        return true; // the others go on; the exit status says it
    }
    printError(name + " (" + o.stationName.toUtf8() + ", " + isoUtcTime(o.start) + "): " +
               QByteArray::number(lines.size()) + (lines.size() == 1 ? " line" : " lines") + " copied");
    return true;
}

QString NetworkRun::doneKeyOf(const Observation &observation) const {
    return QStringLiteral("observation %1 %2").arg(options_.network.host()).arg(observation.id);
}

QString NetworkRun::doneKey(const QByteArray &name) const {
    const auto item = items_.constFind(name);
    // Only what was downloaded and copied to its end is done.
    if (item == items_.constEnd() || !item->error.isEmpty() || !item->copy.isValid())
        return QString();
    return doneKeyOf(item->observation);
}

Reception NetworkRun::receptionOf(const QByteArray &name, qint64 line) const {
    Reception r;
    r.kind = Reception::Kind::Station;
    if (!options_.shared.isEmpty()) {
        const SharedFrame &frame = shared_.at(qsizetype(line - 1));
        r.source = QStringLiteral("telemetry database %1 station %2").arg(options_.shared.host()).arg(frame.stationId);
        r.callsign = frame.observer;
        return r;
    }
    const Observation &o = items_.value(name).observation;
    r.source = QStringLiteral("%1 observation %2, station %3").arg(options_.network.host()).arg(o.id).arg(o.groundStation);
    r.callsign = o.stationName;
    r.line = line;
    return r;
}

NetworkOptions::NetworkOptions(QCommandLineParser &parser)
    : network_(QStringLiteral("network"), QString(), QStringLiteral("URL")),
      shared_(QStringLiteral("shared"), QString(), QStringLiteral("URL")),
      token_(QStringLiteral("token"), QString(), QStringLiteral("TOKEN")),
      jobs_(QStringLiteral("jobs"), QString(), QStringLiteral("N")),
      cacheMb_(QStringLiteral("cache-mb"), QString(), QStringLiteral("N")),
      maxMb_(QStringLiteral("max-mb"), QString(), QStringLiteral("N")) {
    parser.addOptions({network_, shared_, token_, jobs_, cacheMb_, maxMb_});
}

bool NetworkOptions::read(const QCommandLineParser &parser, QByteArray *error) {
    enabled_ = parser.isSet(network_) || parser.isSet(shared_);
    if (!enabled_) {
        for (const QCommandLineOption *option : {&token_, &jobs_, &cacheMb_, &maxMb_}) {
            if (parser.isSet(*option)) {
                *error = "--" + option->names().first().toLatin1() + " goes with --network or --shared";
                return false;
            }
        }
        return true;
    }
    if (parser.isSet(network_) && parser.isSet(shared_)) {
        *error = "--network and --shared cannot be used together";
        return false;
    }
    const QCommandLineOption &which = parser.isSet(network_) ? network_ : shared_;
    const QUrl url(parser.value(which), QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) ||
        url.host().isEmpty()) {
        *error = "--" + which.names().first().toLatin1() + " needs an http or https address, not " +
                 parser.value(which).toLocal8Bit();
        return false;
    }
    (parser.isSet(network_) ? options_.network : options_.shared) = url;
    bool ok = false;
    options_.norad = parser.value(QStringLiteral("norad")).toLongLong(&ok);
    if (!ok || options_.norad <= 0) {
        *error = "--" + which.names().first().toLatin1() + " needs --norad ID, the satellite's catalogue number";
        return false;
    }
    // A positive whole number, or the default when not given.
    auto positive = [&](const QCommandLineOption &option, qint64 fallback, qint64 *value) {
        *value = fallback;
        if (!parser.isSet(option))
            return true;
        *value = parser.value(option).toLongLong(&ok);
        if (ok && *value > 0 && *value <= 1000000)
            return true;
        *error = "--" + option.names().first().toLatin1() + " needs a positive whole number, not " +
                 parser.value(option).toLocal8Bit();
        return false;
    };
    qint64 jobs = 0, cacheMb = 0, maxMb = 0;
    if (!positive(jobs_, QThread::idealThreadCount(), &jobs) || !positive(cacheMb_, 2000, &cacheMb) ||
        !positive(maxMb_, 500, &maxMb))
        return false;
    options_.jobs = int(jobs);
    options_.cacheBytes = cacheMb * 1000 * 1000;
    options_.maxBytes = maxMb * 1000 * 1000;
    if (parser.isSet(token_) && !parser.isSet(shared_)) {
        *error = "--token goes with --shared";
        return false;
    }
    options_.token = parser.isSet(token_) ? parser.value(token_).toUtf8() : qgetenv("KADRIN_SIDS_TOKEN");
    if (parser.isSet(shared_) && options_.token.isEmpty()) {
        *error = "--shared needs a token: --token TOKEN or KADRIN_SIDS_TOKEN";
        return false;
    }
    return true;
}

NetworkRun::Options NetworkOptions::options(std::optional<qint64> from, std::optional<qint64> to,
                                            bool copy) const {
    NetworkRun::Options o = options_;
    o.copy = copy;
    o.from = from;
    o.to = to;
    return o;
}
