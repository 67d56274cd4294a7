#include "archive/archive.h"

#include "decoder/fieldtables.h"
#include "decoder/symbolalphabet.h"

#include <QAtomicInteger>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr qint64 QuickCheckBytes = 64 << 20;
// Summaries: a cell per minute, hour and day.
constexpr qint64 Scales[] = {60, 3600, 86400};
// A chart reads the frames themselves while they are at most this many
// per column, else the finest summary with at most this many cells per column.
constexpr qint64 RowsPerColumn = 8;

QAtomicInteger<quint64> connections;

QString kindName(Reception::Kind kind) {
    switch (kind) {
    case Reception::Kind::File:
        return QStringLiteral("file");
    case Reception::Kind::Recording:
        return QStringLiteral("recording");
    case Reception::Kind::Sound:
        return QStringLiteral("sound");
    case Reception::Kind::Station:
        return QStringLiteral("station");
    }
    return QString();
}

Reception::Kind kindOf(const QString &name) {
    if (name == QLatin1String("recording"))
        return Reception::Kind::Recording;
    if (name == QLatin1String("sound"))
        return Reception::Kind::Sound;
    if (name == QLatin1String("station"))
        return Reception::Kind::Station;
    return Reception::Kind::File;
}

// The levels of a frame's numeric channels.
LevelMasks levelsOf(const QString &symbols) {
    LevelMasks masks{};
    for (int channel = 1; channel <= ArchiveChannels; ++channel) {
        const FrameField *field = fieldOfChannel(channel);
        const int at = field ? field->position - 7 : -1; // symbols start at position 7
        if (at < 0 || at >= symbols.size())
            continue;
        const int level = symbolLevel(symbols.at(at).unicode());
        if (level >= 0)
            masks[size_t(channel - 1)] = quint16(1u << level);
    }
    return masks;
}

QByteArray packed(const LevelMasks &masks) {
    QByteArray bytes(int(masks.size()) * 2, '\0');
    for (size_t i = 0; i < masks.size(); ++i) {
        bytes[int(2 * i)] = char(masks[i] & 0xff);
        bytes[int(2 * i + 1)] = char(masks[i] >> 8);
    }
    return bytes;
}

LevelMasks unpacked(const QByteArray &bytes) {
    LevelMasks masks{};
    for (size_t i = 0; i < masks.size() && int(2 * i + 1) < bytes.size(); ++i)
        masks[i] = quint16(quint8(bytes[int(2 * i)]) | (quint8(bytes[int(2 * i + 1)]) << 8));
    return masks;
}

void merge(LevelMasks &into, const LevelMasks &from) {
    for (size_t i = 0; i < into.size(); ++i)
        into[i] |= from[i];
}

// An empty text binds as '', never NULL.
QString text(const QString &s) { return s.isNull() ? QLatin1String("") : s; }

qint64 floorTo(qint64 t, qint64 step) {
    const qint64 q = t / step;
    return (q * step > t ? q - 1 : q) * step;
}

// The most rows of values one statement takes when storing.
constexpr int StoreChunk = 512;

// ":v0", ":v1"...: the names of a statement's values.
const QString &valueName(int i) {
    static const std::vector<QString> names = [] {
        std::vector<QString> all(size_t(StoreChunk) * 5);
        for (size_t n = 0; n < all.size(); ++n)
            all[n] = QStringLiteral(":v%1").arg(n);
        return all;
    }();
    return names[size_t(i)];
}

// A statement with rows of values (a VALUES list, an IN list), prepared
// once for each number of rows it is given: powers of two up to
// StoreChunk. Its values are bound by name, which costs Qt far less than
// binding by position; and a few statements of many rows cost SQLite far
// less than a statement a row.
class RowStatement {
public:
    // Rows of `width` values, in parentheses unless one value a row.
    RowStatement(const QString &head, int width, const QString &tail)
        : head_(head), tail_(tail), width_(width) {}

    // Runs the statement over `count` rows: for each, bindRow(query, row,
    // first value's number) binds its values (valueName(number + i));
    // after each run, read(query) reads what it returned. False when a run
    // failed, with `failed` the query.
    template <typename BindRow, typename Read>
    bool run(const QSqlDatabase &db, size_t count, BindRow bindRow, Read read, QSqlQuery **failed) {
        for (size_t done = 0; done < count;) {
            int n = StoreChunk;
            while (size_t(n) > count - done)
                n /= 2;
            QSqlQuery *q = prepared(db, n);
            *failed = q;
            if (q == failed_.get())
                return false;
            for (int i = 0; i < n; ++i)
                bindRow(*q, done + size_t(i), i * width_);
            if (!q->exec() || !read(*q))
                return false;
            done += size_t(n);
        }
        return true;
    }

private:
    // failed_ when it cannot be prepared.
    QSqlQuery *prepared(const QSqlDatabase &db, int n) {
        std::unique_ptr<QSqlQuery> &q = queries_[n];
        if (!q) {
            QString sql = head_;
            for (int row = 0; row < n; ++row) {
                sql += QLatin1String(row ? "," : "");
                sql += QLatin1String(width_ > 1 ? "(" : "");
                for (int i = 0; i < width_; ++i)
                    sql += (i ? QStringLiteral(",") : QString()) + valueName(row * width_ + i);
                sql += QLatin1String(width_ > 1 ? ")" : "");
            }
            q = std::make_unique<QSqlQuery>(db);
            q->setForwardOnly(true);
            if (!q->prepare(sql + tail_)) {
                failed_ = std::move(q);
                return failed_.get();
            }
        }
        return q.get();
    }

    QString head_, tail_;
    int width_;
    std::map<int, std::unique_ptr<QSqlQuery>> queries_;
    std::unique_ptr<QSqlQuery> failed_; // the one that could not be prepared
};
} // namespace

QString receptionKindName(Reception::Kind kind) { return kindName(kind); }

struct Archive::Impl {
    QString connection;
    bool postgres = false;
    QHash<QString, qint64> sourceIds; // "kind\nname\ncallsign"
    QHash<qint64, StoredReception> sources;
    // What store() runs, prepared on first use.
    std::unique_ptr<RowStatement> findFrames, addFrames, addReceptions, readCells, writeCells;

    QSqlDatabase db() const { return QSqlDatabase::database(connection, false); }
    QString blob() const { return postgres ? QStringLiteral("BYTEA") : QStringLiteral("BLOB"); }
    QString withoutRowid() const { return postgres ? QString() : QStringLiteral(" WITHOUT ROWID"); }
};

Archive::Archive() = default;

Archive::~Archive() { close(); }

QString Archive::defaultLocation() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/kadrin/archive.sqlite");
}

bool Archive::isOpen() const { return d_ && d_->db().isOpen(); }

void Archive::close() {
    if (!d_)
        return;
    const QString name = d_->connection;
    {
        QSqlDatabase db = d_->db();
        if (db.isOpen())
            db.close();
    }
    d_.reset();
    QSqlDatabase::removeDatabase(name);
}

bool Archive::fail(const QString &what) {
    error_ = QStringLiteral("archive %1: %2").arg(location_, what);
    return false;
}

namespace {
// What a failed statement says, in words an operator can act on.
QString sqlProblem(const QSqlError &e) {
    const QString text = e.text();
    const QString lower = text.toLower();
    if (lower.contains(QLatin1String("disk is full")) || lower.contains(QLatin1String("no space")) ||
        lower.contains(QLatin1String("disk full")))
        return QStringLiteral("the disk is full; nothing of this batch was stored (%1)").arg(text);
    // A write the system refused: most often a full disk, a quota or a
    // file size limit, else failing hardware.
    if (lower.contains(QLatin1String("disk i/o error")))
        return QStringLiteral("the disk is full or failing (%1)").arg(text);
    if (lower.contains(QLatin1String("malformed")) || lower.contains(QLatin1String("corrupt")))
        return QStringLiteral("is damaged (%1); it is left as it is").arg(text);
    if (lower.contains(QLatin1String("not a database")))
        return QStringLiteral("is not an archive (%1); it is left as it is").arg(text);
    if (lower.contains(QLatin1String("locked")) || lower.contains(QLatin1String("busy")))
        return QStringLiteral("another program held it too long (%1)").arg(text);
    return text;
}
} // namespace

bool Archive::open(const QString &where) {
    close();
    error_.clear();
    location_ = where;
    d_ = std::make_unique<Impl>();
    d_->connection = QStringLiteral("kadrin-archive-%1").arg(connections.fetchAndAddRelaxed(1));
    const bool postgres = where.startsWith(QLatin1String("postgresql://")) ||
                          where.startsWith(QLatin1String("postgres://"));
    d_->postgres = postgres;
    QSqlDatabase db;
    if (postgres) {
        const QUrl url(where);
        if (!url.isValid() || url.path().size() < 2) {
            d_.reset();
            return fail(QStringLiteral("not a PostgreSQL URL such as postgresql://user@host/database"));
        }
        // Shown from now on without the password.
        location_ = url.toString(QUrl::RemovePassword);
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), d_->connection);
        const QUrlQuery query(url);
        db.setHostName(query.hasQueryItem(QStringLiteral("host"))
                           ? query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded)
                           : url.host());
        if (url.port() > 0)
            db.setPort(url.port());
        else if (query.hasQueryItem(QStringLiteral("port")))
            db.setPort(query.queryItemValue(QStringLiteral("port")).toInt());
        db.setUserName(url.userName());
        db.setPassword(url.password());
        db.setDatabaseName(url.path().mid(1));
        db.setConnectOptions(QStringLiteral("connect_timeout=10"));
    } else {
        const QFileInfo info(where);
        if (info.exists()) {
            if (!info.isFile())
                return fail(QStringLiteral("is not a file"));
            QFile file(where);
            if (!file.open(QIODevice::ReadOnly))
                return fail(QStringLiteral("cannot be read (%1)").arg(file.errorString()));
            const QByteArray head = file.read(16);
            if (!head.isEmpty() && head != QByteArray("SQLite format 3\0", 16))
                return fail(QStringLiteral("is not an archive (not a SQLite database); it is left as it is"));
        } else if (!QDir().mkpath(info.absolutePath())) {
            return fail(QStringLiteral("its folder %1 cannot be made").arg(info.absolutePath()));
        }
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), d_->connection);
        db.setDatabaseName(where);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=20000"));
    }
    if (!db.isValid()) {
        d_.reset();
        return fail(QStringLiteral("the Qt %1 driver is not installed")
                        .arg(postgres ? QStringLiteral("PostgreSQL") : QStringLiteral("SQLite")));
    }
    if (!db.open()) {
        const QString problem = db.lastError().text();
        close();
        return fail(QStringLiteral("cannot be opened (%1)").arg(problem));
    }
    QSqlQuery q(db);
    // What is refused is left as it is: the connection is closed before the
    // reason is given.
    auto refuse = [&](const QString &what) {
        q.finish();
        db = QSqlDatabase();
        close();
        return fail(what);
    };
    // A damaged file is never written to. The whole file is checked while
    // that is quick (up to about half a million frames); a larger archive
    // is checked where it is read and written, and a write that meets a
    // damaged page is refused (the transaction undone).
    if (!postgres && QFileInfo(where).size() <= QuickCheckBytes) {
        if (!q.exec(QStringLiteral("PRAGMA quick_check(1)")) || !q.next())
            return refuse(sqlProblem(q.lastError()));
        if (q.value(0).toString() != QLatin1String("ok"))
            return refuse(QStringLiteral("is damaged (%1); it is left as it is")
                              .arg(q.value(0).toString().simplified()));
    }
    // What the database holds: nothing (a new archive), an archive, or
    // something else.
    const QStringList tables = db.tables(QSql::Tables);
    const bool ours = tables.contains(QStringLiteral("meta"));
    if (!ours && !tables.isEmpty())
        return refuse(QStringLiteral("is a database but not an archive of this program; it is left as it is"));
    if (ours) {
        if (!q.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'schema'")) || !q.next())
            return refuse(QStringLiteral("has no schema version (%1); it is left as it is")
                              .arg(sqlProblem(q.lastError())));
        const int version = q.value(0).toInt();
        if (version > SchemaVersion)
            return refuse(QStringLiteral("was written by a newer version of this program (schema %1, "
                                         "this one reads %2); it is left as it is")
                              .arg(version)
                              .arg(SchemaVersion));
        // Upgrades from older schemas, one version at a time, each in one
        // transaction. 2: the sources read to their end.
        if (version < 2) {
            const bool upgraded =
                q.exec(postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE")) &&
                q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS done (key TEXT PRIMARY KEY)")) &&
                q.exec(QStringLiteral("UPDATE meta SET value = '2' WHERE key = 'schema'")) &&
                q.exec(QStringLiteral("COMMIT"));
            if (!upgraded) {
                const QString e = sqlProblem(q.lastError());
                QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
                return refuse(QStringLiteral("cannot be upgraded to schema 2 (%1)").arg(e));
            }
        }
    }
    if (!postgres) {
        // Only now: the journal mode is kept in the file. WAL: readers never
        // wait for the writer, and a writer killed in the middle of a
        // transaction leaves only what it committed. FULL: a commit reached
        // the disk before it is counted done. Two programs making a new
        // archive ask for WAL at once, and SQLite may turn one away without
        // waiting (SQLITE_BUSY): it asks again.
        const QDeadlineTimer deadline(20000);
        while (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL"))) {
            if ((q.lastError().nativeErrorCode().toInt() & 0xff) != 5 || deadline.hasExpired())
                return refuse(sqlProblem(q.lastError()));
            QThread::msleep(2);
        }
        if (!q.exec(QStringLiteral("PRAGMA synchronous=FULL")))
            return refuse(sqlProblem(q.lastError()));
    }
    if (!ours) {
        const QString id = postgres ? QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY")
                                    : QStringLiteral("INTEGER PRIMARY KEY");
        const QStringList schema = {
            QStringLiteral("CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)"),
            QStringLiteral("CREATE TABLE frames (id %1, time BIGINT NOT NULL, symbols TEXT NOT NULL)")
                .arg(id),
            QStringLiteral("CREATE UNIQUE INDEX frames_at ON frames (time, symbols)"),
            QStringLiteral("CREATE TABLE sources (id %1, kind TEXT NOT NULL, name TEXT NOT NULL, "
                           "callsign TEXT NOT NULL, UNIQUE (kind, name, callsign))")
                .arg(id),
            QStringLiteral("CREATE TABLE receptions (frame BIGINT NOT NULL, source BIGINT NOT NULL, "
                           "line BIGINT NOT NULL, snr REAL, tone REAL, "
                           "PRIMARY KEY (frame, source, line))%1")
                .arg(d_->withoutRowid()),
            QStringLiteral("CREATE TABLE cells (scale INTEGER NOT NULL, start BIGINT NOT NULL, "
                           "frames BIGINT NOT NULL, levels %1 NOT NULL, "
                           "PRIMARY KEY (scale, start))%2")
                .arg(d_->blob(), d_->withoutRowid()),
            QStringLiteral("CREATE TABLE done (key TEXT PRIMARY KEY)"),
            QStringLiteral("INSERT INTO meta (key, value) VALUES ('schema', '%1')").arg(SchemaVersion),
        };
        // Two programs making the same new archive: one makes it while the
        // other waits for the write lock, then finds it made.
        bool made = q.exec(postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE")) &&
                    (!postgres || q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(58120)")));
        if (made && !db.tables(QSql::Tables).contains(QStringLiteral("meta")))
            for (const QString &sql : schema)
                made = made && q.exec(sql);
        if (!made || !q.exec(QStringLiteral("COMMIT"))) {
            const QString e = sqlProblem(q.lastError());
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            return refuse(QStringLiteral("cannot be made (%1)").arg(e));
        }
    }
    return true;
}

bool Archive::store(const std::vector<IncomingFrame> &frames, Counts *counts, const QString &doneKey) {
    if (!isOpen())
        return fail(QStringLiteral("is not open"));
    if (counts)
        *counts = {};
    if (frames.empty() && doneKey.isEmpty())
        return true;
    QSqlDatabase db = d_->db();
    QSqlQuery q(db);
    auto failed = [&](const QSqlQuery &query) {
        const QString e = sqlProblem(query.lastError());
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        d_->sourceIds.clear(); // ids made in the rolled-back transaction are gone
        return fail(e);
    };
    // The write lock first: a second writer waits here, not halfway.
    if (!q.exec(d_->postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE")))
        return fail(sqlProblem(q.lastError()));
    if (d_->postgres && !q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(58120)")))
        return failed(q);

    // Each frame's source.
    QSqlQuery findSource(db), addSource(db);
    findSource.prepare(QStringLiteral("SELECT id FROM sources WHERE kind = ? AND name = ? AND callsign = ?"));
    addSource.prepare(QStringLiteral("INSERT INTO sources (kind, name, callsign) VALUES (?, ?, ?) RETURNING id"));
    findSource.setForwardOnly(true);
    std::vector<qint64> sourceOf(frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        const Reception &r = frames[i].reception;
        if (i > 0) {
            const Reception &before = frames[i - 1].reception;
            if (r.kind == before.kind && r.source == before.source && r.callsign == before.callsign) {
                sourceOf[i] = sourceOf[i - 1];
                continue;
            }
        }
        const QString key = kindName(r.kind) + QLatin1Char('\n') + r.source + QLatin1Char('\n') + r.callsign;
        qint64 source = d_->sourceIds.value(key, -1);
        if (source < 0) {
            for (QSqlQuery *query : {&findSource, &addSource}) {
                query->addBindValue(kindName(r.kind));
                query->addBindValue(text(r.source));
                query->addBindValue(text(r.callsign));
                if (!query->exec())
                    return failed(*query);
                if (query->next()) {
                    source = query->value(0).toLongLong();
                    query->finish();
                    break;
                }
            }
            d_->sourceIds.insert(key, source);
        }
        sourceOf[i] = source;
    }

    QSqlQuery *failing = nullptr;
    const auto none = [](QSqlQuery &) { return true; };
    // The frames the archive holds at the batch's times, then those new to
    // it, each once.
    QHash<std::pair<qint64, QString>, qint64> ids; // (time, symbols): id
    ids.reserve(qsizetype(frames.size()));
    const auto readIds = [&](QSqlQuery &query) {
        while (query.next())
            ids.insert({query.value(1).toLongLong(), query.value(2).toString()}, query.value(0).toLongLong());
        return !query.lastError().isValid();
    };
    std::vector<qint64> times;
    times.reserve(frames.size());
    for (const IncomingFrame &frame : frames)
        times.push_back(frame.time);
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    // A stretch of the times is read as a range of the index, as long as
    // the archive holds few other frames within it (a log stored again, or
    // frames received elsewhere too): at most twice as many rows as times.
    // Else the times are looked up one by one.
    QSqlQuery range(db);
    range.setForwardOnly(true);
    if (!range.prepare(QStringLiteral("SELECT id, time, symbols FROM frames WHERE time BETWEEN ? AND ? LIMIT ?")))
        return failed(range);
    std::vector<qint64> apart;
    std::vector<std::pair<std::pair<qint64, QString>, qint64>> rows;
    for (size_t begin = 0; begin < times.size(); begin += StoreChunk) {
        const size_t end = std::min(times.size(), begin + StoreChunk);
        const qint64 most = 2 * qint64(end - begin);
        range.addBindValue(times[begin]);
        range.addBindValue(times[end - 1]);
        range.addBindValue(most);
        if (!range.exec())
            return failed(range);
        rows.clear();
        while (range.next())
            rows.push_back({{range.value(1).toLongLong(), range.value(2).toString()}, range.value(0).toLongLong()});
        if (range.lastError().isValid())
            return failed(range);
        if (qint64(rows.size()) < most) {
            for (auto &[key, id] : rows)
                ids.insert(std::move(key), id);
        } else {
            apart.insert(apart.end(), times.begin() + qptrdiff(begin), times.begin() + qptrdiff(end));
        }
    }
    if (!d_->findFrames)
        d_->findFrames = std::make_unique<RowStatement>(
            QStringLiteral("SELECT id, time, symbols FROM frames WHERE time IN ("), 1, QStringLiteral(")"));
    if (!d_->findFrames->run(
            db, apart.size(), [&](QSqlQuery &query, size_t i, int v) { query.bindValue(valueName(v), apart[i]); },
            readIds, &failing))
        return failed(*failing);
    Counts done;
    std::vector<qint64> idOf(frames.size(), -1); // -1: new, known once added
    std::vector<const IncomingFrame *> added;
    std::map<std::pair<qint64, qint64>, TimeCell> touched; // (scale, start)
    for (size_t i = 0; i < frames.size(); ++i) {
        const IncomingFrame &frame = frames[i];
        const std::pair<qint64, QString> key{frame.time, text(frame.symbols)};
        if (const auto at = ids.constFind(key); at != ids.cend()) {
            idOf[i] = at.value();
            ++done.known;
            continue;
        }
        ids.insert(key, -1);
        ++done.added;
        added.push_back(&frame);
        const LevelMasks levels = levelsOf(frame.symbols);
        for (const qint64 scale : Scales) {
            const qint64 start = floorTo(frame.time, scale);
            TimeCell &cell = touched[{scale, start}];
            cell.start = start;
            cell.end = start + scale;
            ++cell.frames;
            merge(cell.levels, levels);
        }
    }
    if (!d_->addFrames)
        d_->addFrames = std::make_unique<RowStatement>(QStringLiteral("INSERT INTO frames (time, symbols) VALUES "),
                                                       2, QStringLiteral(" RETURNING id, time, symbols"));
    if (!d_->addFrames->run(
            db, added.size(),
            [&](QSqlQuery &query, size_t i, int v) {
                query.bindValue(valueName(v), added[i]->time);
                query.bindValue(valueName(v + 1), text(added[i]->symbols));
            },
            readIds, &failing))
        return failed(*failing);
    for (size_t i = 0; i < frames.size(); ++i)
        if (idOf[i] < 0)
            idOf[i] = ids.value({frames[i].time, text(frames[i].symbols)});
    // Every frame's reception, once.
    if (!d_->addReceptions)
        d_->addReceptions = std::make_unique<RowStatement>(
            QStringLiteral("INSERT INTO receptions (frame, source, line, snr, tone) VALUES "), 5,
            QStringLiteral(" ON CONFLICT DO NOTHING"));
    const QVariant noValue(QMetaType(QMetaType::Double));
    if (!d_->addReceptions->run(
            db, frames.size(),
            [&](QSqlQuery &query, size_t i, int v) {
                const IncomingFrame &frame = frames[i];
                const Reception &r = frame.reception;
                query.bindValue(valueName(v), idOf[i]);
                query.bindValue(valueName(v + 1), sourceOf[i]);
                query.bindValue(valueName(v + 2), r.line);
                query.bindValue(valueName(v + 3), r.snrDb ? QVariant(*r.snrDb) : noValue);
                query.bindValue(valueName(v + 4), r.toneHz ? QVariant(*r.toneHz) : noValue);
            },
            none, &failing))
        return failed(*failing);
    // The summaries of the cells that gained frames: what they held, then
    // what they hold now.
    if (!d_->readCells) {
        d_->readCells = std::make_unique<RowStatement>(
            QStringLiteral("SELECT start, frames, levels FROM cells WHERE scale = :scale AND start IN ("), 1,
            QStringLiteral(")"));
        d_->writeCells = std::make_unique<RowStatement>(
            QStringLiteral("INSERT INTO cells (scale, start, frames, levels) VALUES "), 4,
            QStringLiteral(" ON CONFLICT (scale, start) DO UPDATE SET frames = excluded.frames, "
                           "levels = excluded.levels"));
    }
    for (const qint64 scale : Scales) {
        std::vector<TimeCell *> cells;
        for (auto it = touched.lower_bound({scale, std::numeric_limits<qint64>::min()});
             it != touched.end() && it->first.first == scale; ++it)
            cells.push_back(&it->second);
        if (!d_->readCells->run(
                db, cells.size(),
                [&](QSqlQuery &query, size_t i, int v) {
                    if (v == 0)
                        query.bindValue(QStringLiteral(":scale"), scale);
                    query.bindValue(valueName(v), cells[i]->start);
                },
                [&](QSqlQuery &query) {
                    while (query.next()) {
                        TimeCell &cell = touched[{scale, query.value(0).toLongLong()}];
                        cell.frames += query.value(1).toLongLong();
                        merge(cell.levels, unpacked(query.value(2).toByteArray()));
                    }
                    return !query.lastError().isValid();
                },
                &failing) ||
            !d_->writeCells->run(
                db, cells.size(),
                [&](QSqlQuery &query, size_t i, int v) {
                    query.bindValue(valueName(v), scale);
                    query.bindValue(valueName(v + 1), cells[i]->start);
                    query.bindValue(valueName(v + 2), cells[i]->frames);
                    query.bindValue(valueName(v + 3), packed(cells[i]->levels));
                },
                none, &failing))
            return failed(*failing);
    }
    if (!doneKey.isEmpty()) {
        q.prepare(QStringLiteral("INSERT INTO done (key) VALUES (?) ON CONFLICT DO NOTHING"));
        q.addBindValue(doneKey);
        if (!q.exec())
            return failed(q);
    }
    if (!q.exec(QStringLiteral("COMMIT")))
        return failed(q);
    if (counts)
        *counts = done;
    return true;
}

bool Archive::isDone(const QString &doneKey) {
    if (!isOpen())
        return false;
    QSqlQuery q(d_->db());
    q.prepare(QStringLiteral("SELECT 1 FROM done WHERE key = ?"));
    q.addBindValue(doneKey);
    return q.exec() && q.next();
}

bool Archive::forEachFrame(qint64 from, qint64 to,
                           const std::function<bool(const StoredFrame &)> &visit) {
    if (!isOpen())
        return fail(QStringLiteral("is not open"));
    QSqlDatabase db = d_->db();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, kind, name, callsign FROM sources")))
        return fail(sqlProblem(q.lastError()));
    while (q.next()) {
        StoredReception r;
        r.kind = kindOf(q.value(1).toString());
        r.source = q.value(2).toString();
        r.callsign = q.value(3).toString();
        d_->sources.insert(q.value(0).toLongLong(), r);
    }
    const QString sql = QStringLiteral("SELECT f.id, f.time, f.symbols, r.source, r.line, r.snr FROM frames f "
                                       "JOIN receptions r ON r.frame = f.id WHERE f.time BETWEEN ? AND ? "
                                       "ORDER BY f.time, f.symbols, r.source, r.line");
    // One row a reception, the frame's own columns read when a new frame starts.
    StoredFrame frame;
    qint64 current = -1;
    bool stopped = false;
    auto row = [&](qint64 id, const auto &time, const auto &symbols, qint64 source, qint64 line,
                    std::optional<double> snr) {
        if (id != current) {
            if (current >= 0 && !visit(frame))
                return !(stopped = true);
            current = id;
            frame.time = time();
            frame.symbols = symbols();
            frame.receptions.clear();
        }
        StoredReception r = d_->sources.value(source);
        r.line = line;
        r.snrDb = snr;
        frame.receptions.push_back(std::move(r));
        return true;
    };
    // SQLite is read through its own handle: a million frames cost a third
    // less than through QSqlQuery's values.
    const QVariant handle = db.driver()->handle();
    if (!d_->postgres && handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
        sqlite3 *h = *static_cast<sqlite3 *const *>(handle.constData());
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(h, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK)
            return fail(sqlProblem(QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(h)))));
        const auto done = qScopeGuard([st] { sqlite3_finalize(st); });
        sqlite3_bind_int64(st, 1, from);
        sqlite3_bind_int64(st, 2, to);
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            const bool noSnr = sqlite3_column_type(st, 5) == SQLITE_NULL;
            if (!row(
                    sqlite3_column_int64(st, 0), [st] { return qint64(sqlite3_column_int64(st, 1)); },
                    [st] {
                        const void *text = sqlite3_column_text16(st, 2);
                        return QString(static_cast<const QChar *>(text), sqlite3_column_bytes16(st, 2) / 2);
                    },
                    sqlite3_column_int64(st, 3), sqlite3_column_int64(st, 4),
                    noSnr ? std::nullopt : std::optional<double>(sqlite3_column_double(st, 5))))
                return true;
        }
        if (rc != SQLITE_DONE)
            return fail(sqlProblem(QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(h)))));
    } else {
        q.prepare(sql);
        q.addBindValue(from);
        q.addBindValue(to);
        if (!q.exec())
            return fail(sqlProblem(q.lastError()));
        while (q.next()) {
            if (!row(
                    q.value(0).toLongLong(), [&q] { return q.value(1).toLongLong(); },
                    [&q] { return q.value(2).toString(); }, q.value(3).toLongLong(), q.value(4).toLongLong(),
                    q.value(5).isNull() ? std::nullopt : std::optional<double>(q.value(5).toDouble())))
                return true;
        }
        if (q.lastError().isValid())
            return fail(sqlProblem(q.lastError()));
    }
    if (current >= 0)
        visit(frame);
    return true;
}

std::optional<std::pair<qint64, qint64>> Archive::extent() {
    if (!isOpen())
        return std::nullopt;
    QSqlQuery q(d_->db());
    // Each in a query of its own: SQLite finds a lone min() or max() at an
    // end of the index, both in one query by reading every frame.
    if (!q.exec(QStringLiteral("SELECT (SELECT min(time) FROM frames), (SELECT max(time) FROM frames)")) ||
        !q.next() ||
        q.value(0).isNull())
        return std::nullopt;
    return std::pair{q.value(0).toLongLong(), q.value(1).toLongLong()};
}

bool Archive::cells(qint64 from, qint64 to, int columns, std::vector<TimeCell> *out) {
    out->clear();
    if (!isOpen())
        return fail(QStringLiteral("is not open"));
    columns = std::max(columns, 1);
    const qint64 span = std::max<qint64>(to - from + 1, 1);
    const qint64 width = std::max<qint64>((span + columns - 1) / columns, 1);
    for (qint64 start = from; start <= to; start += width)
        out->push_back({start, std::min(start + width, to + 1), 0, {}});
    QSqlQuery q(d_->db());
    q.setForwardOnly(true);
    auto cellOf = [&](qint64 t) -> TimeCell * {
        if (t < from || t > to)
            return nullptr;
        return &(*out)[size_t((t - from) / width)];
    };
    // The finest summary with few enough cells; the frames themselves
    // where even the minutes' frames are few.
    qint64 scale = 0;
    for (const qint64 s : Scales) {
        if (span / s <= RowsPerColumn * columns) {
            scale = s;
            break;
        }
    }
    if (scale == 0)
        scale = Scales[std::size(Scales) - 1];
    bool raw = false;
    if (scale == Scales[0]) {
        q.prepare(QStringLiteral("SELECT sum(frames) FROM cells WHERE scale = ? AND start BETWEEN ? AND ?"));
        q.addBindValue(scale);
        q.addBindValue(floorTo(from, scale));
        q.addBindValue(to);
        if (!q.exec())
            return fail(sqlProblem(q.lastError()));
        raw = q.next() && q.value(0).toLongLong() <= RowsPerColumn * columns;
    }
    if (raw || span <= 2 * Scales[0]) {
        q.prepare(QStringLiteral("SELECT time, symbols FROM frames WHERE time BETWEEN ? AND ?"));
        q.addBindValue(from);
        q.addBindValue(to);
        if (!q.exec())
            return fail(sqlProblem(q.lastError()));
        while (q.next()) {
            if (TimeCell *cell = cellOf(q.value(0).toLongLong())) {
                ++cell->frames;
                merge(cell->levels, levelsOf(q.value(1).toString()));
            }
        }
        return true;
    }
    // A summary cell counts in the column its start falls in (a column
    // narrower than the summary's cells shows at its first column).
    q.prepare(QStringLiteral("SELECT start, frames, levels FROM cells WHERE scale = ? AND start BETWEEN ? AND ?"));
    q.addBindValue(scale);
    q.addBindValue(floorTo(from, scale));
    q.addBindValue(to);
    if (!q.exec())
        return fail(sqlProblem(q.lastError()));
    while (q.next()) {
        if (TimeCell *cell = cellOf(std::max(q.value(0).toLongLong(), from))) {
            cell->frames += q.value(1).toLongLong();
            merge(cell->levels, unpacked(q.value(2).toByteArray()));
        }
    }
    return true;
}

bool Archive::passes(qint64 from, qint64 to, std::vector<Pass> *out) {
    out->clear();
    if (!isOpen())
        return fail(QStringLiteral("is not open"));
    QSqlDatabase db = d_->db();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // The passes that touch the span may begin long before it and end long
    // after it: the frames read reach out while the next is close enough.
    qint64 first = from, last = to;
    for (const bool before : {true, false}) {
        qint64 &edge = before ? first : last;
        q.prepare(before ? QStringLiteral("SELECT min(time) FROM frames WHERE time >= ? AND time < ?")
                         : QStringLiteral("SELECT max(time) FROM frames WHERE time > ? AND time <= ?"));
        for (;;) {
            q.addBindValue(before ? edge - PassPause : edge);
            q.addBindValue(before ? edge : edge + PassPause);
            if (!q.exec())
                return fail(sqlProblem(q.lastError()));
            if (!q.next() || q.value(0).isNull())
                break;
            edge = q.value(0).toLongLong();
        }
    }
    q.prepare(QStringLiteral("SELECT f.time, r.snr, s.callsign, f.id FROM frames f JOIN receptions r ON r.frame = f.id "
                             "JOIN sources s ON s.id = r.source WHERE f.time BETWEEN ? AND ? "
                             "ORDER BY f.time, f.id"));
    q.addBindValue(first);
    q.addBindValue(last);
    if (!q.exec())
        return fail(sqlProblem(q.lastError()));
    qint64 lastFrame = -1;
    while (q.next()) {
        const qint64 t = q.value(0).toLongLong();
        if (out->empty() || t - out->back().end > PassPause) {
            out->push_back({t, t, 0, std::nullopt, {}});
        }
        Pass &pass = out->back();
        pass.end = t;
        const qint64 frame = q.value(3).toLongLong();
        pass.frames += frame != lastFrame; // a frame's receptions count once
        lastFrame = frame;
        if (!q.value(1).isNull()) {
            const double snr = q.value(1).toDouble();
            pass.bestSnrDb = pass.bestSnrDb ? std::max(*pass.bestSnrDb, snr) : snr;
        }
        const QString call = q.value(2).toString();
        if (!pass.stations.contains(call))
            pass.stations.append(call);
    }
    if (q.lastError().isValid())
        return fail(sqlProblem(q.lastError()));
    out->erase(std::remove_if(out->begin(), out->end(),
                              [&](const Pass &p) { return p.end < from || p.start > to; }),
               out->end());
    return true;
}

std::optional<StoredFrame> Archive::nearest(qint64 time, qint64 within) {
    std::optional<StoredFrame> best;
    forEachFrame(time - within, time + within, [&](const StoredFrame &f) {
        if (!best || std::abs(f.time - time) < std::abs(best->time - time))
            best = f;
        return true;
    });
    return best;
}
