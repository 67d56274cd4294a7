#pragma once

// What the archive's files share: the summaries' scales, the level masks,
// the statements of many rows, the connection's state. Not for users of
// the library.

#include "archive/archive.h"

#include <QByteArray>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

#include <map>
#include <memory>

namespace archiveparts {

// Summaries: a cell per minute, hour and day.
inline constexpr qint64 Scales[] = {60, 3600, 86400};
// A chart reads the frames themselves while they are at most this many
// per column, else the finest summary with at most this many cells per column.
inline constexpr qint64 RowsPerColumn = 8;
// The most rows of values one statement takes when storing.
inline constexpr int StoreChunk = 512;

QString kindName(Reception::Kind kind);
Reception::Kind kindOf(const QString &name);
// The levels of a frame's numeric channels.
LevelMasks levelsOf(const QString &symbols);
QByteArray packed(const LevelMasks &masks);
LevelMasks unpacked(const QByteArray &bytes);
void merge(LevelMasks &into, const LevelMasks &from);
// An empty text binds as '', never NULL.
QString text(const QString &s);
qint64 floorTo(qint64 t, qint64 step);
// ":v0", ":v1"...: the names of a statement's values.
const QString &valueName(int i);
// What a failed statement says, in words an operator can act on.
QString sqlProblem(const QSqlError &e);

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

} // namespace archiveparts

struct Archive::Impl {
    QString connection;
    bool postgres = false;
    QHash<QString, qint64> sourceIds; // "kind\nname\ncallsign"
    QHash<qint64, StoredReception> sources;
    // What store() runs, prepared on first use.
    std::unique_ptr<archiveparts::RowStatement> findFrames, addFrames, addReceptions, readCells, writeCells;

    QSqlDatabase db() const { return QSqlDatabase::database(connection, false); }
    QString blob() const { return postgres ? QStringLiteral("BYTEA") : QStringLiteral("BLOB"); }
    QString withoutRowid() const { return postgres ? QString() : QStringLiteral(" WITHOUT ROWID"); }
};
