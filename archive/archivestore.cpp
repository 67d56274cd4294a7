#include "archive/archive.h"

#include "archiveparts.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

using namespace archiveparts;

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
