#include "archive/archive.h"

#include "archiveparts.h"

#include <QSqlDriver>
#include <QScopeGuard>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

using namespace archiveparts;

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
