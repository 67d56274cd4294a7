#include "archive/archive.h"

#include "archiveparts.h"

#include "decoder/fieldtables.h"
#include "decoder/symbolalphabet.h"

#include <QAtomicInteger>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>


#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <vector>

using namespace archiveparts;

namespace {
constexpr qint64 QuickCheckBytes = 64 << 20;
QAtomicInteger<quint64> connections;
} // namespace

namespace archiveparts {
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

QString text(const QString &s) { return s.isNull() ? QLatin1String("") : s; }

qint64 floorTo(qint64 t, qint64 step) {
    const qint64 q = t / step;
    return (q * step > t ? q - 1 : q) * step;
}


const QString &valueName(int i) {
    static const std::vector<QString> names = [] {
        std::vector<QString> all(size_t(StoreChunk) * 5);
        for (size_t n = 0; n < all.size(); ++n)
            all[n] = QStringLiteral(":v%1").arg(n);
        return all;
    }();
    return names[size_t(i)];
}

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

} // namespace archiveparts

QString receptionKindName(Reception::Kind kind) { return kindName(kind); }

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
