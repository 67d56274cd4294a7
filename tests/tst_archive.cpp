// The archive with real partners: SQLite files, a PostgreSQL server the test
// starts for itself, and kadrin-decode --store killed, run twice at once and
// stopped by a full disk.

#include "archive/archive.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const QString Program = QStringLiteral(KADRIN_DECODE_PATH);
// How long a child may take; KADRIN_TEST_TIMEOUT_MS raises it on a slow machine.
const int Timeout = std::max(10000, qEnvironmentVariableIntValue("KADRIN_TEST_TIMEOUT_MS"));
constexpr qint64 Day = 1796428800;     // 2026-12-05 00:00:00 UTC
constexpr qint64 T0 = Day + 21 * 3600; // 21:00:00
constexpr int BigLogFrames = 22223;    // in 200,007 lines: the first batch is stored mid-log

// Channel c is the symbol at c (1 to 8), c + 3 (9 to 11) or c + 5 (12 to 14);
// in the ladder channel c is at level c. QString(20, '2') has all at level 0.
const QString Ladder = "24678ACDF222GJL22PQY";

// A frame this station copied from a log, and one another station received.
IncomingFrame heard(qint64 offset, const QString &symbols, qint64 line) {
    return {T0 + offset, symbols, {Reception::Kind::File, "pass.log", line, {}, {}, {}}};
}
IncomingFrame relayed(qint64 offset, const QString &symbols, double snrDb) {
    return {T0 + offset, symbols, {Reception::Kind::Station, "OK1XYZ", 0, "OK1XYZ", snrDb, {}}};
}

// Frames first to first + count - 1 of a day, 3 s apart, each followed by
// `chatter` lines of no frame.
QByteArray log(int first, int count, int chatter = 0) {
    const QByteArray cycle = "24678ACDFGJLPQYZ24678ACDFGJLPQYZ", other = "nothing copied\n";
    QByteArray text;
    for (int k = first; k < first + count; ++k)
        text += "2026-12-05 " +
                QTime::fromMSecsSinceStartOfDay(3000 * k).toString("HH:mm:ss").toLatin1() +
                "  S KADRIN 2" + cycle.mid(k % 14, 19) + '\n' + other.repeated(chatter);
    return text;
}

bool write(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray contentOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void start(QProcess &process, const QString &archive, const QString &log) {
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(Program, {"--csv", "--store", "--archive", archive, log});
}

struct Run {
    int code = -1; // -1: killed, crashed, or not done within Timeout
    QByteArray err;
};
Run finish(QProcess &process) {
    if (!process.waitForFinished(Timeout))
        process.kill(), process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardError()};
}

Run store(const QString &archive, const QString &log, const std::function<void()> &inChild = {}) {
    QProcess process;
    if (inChild)
        process.setChildProcessModifier(inChild);
    start(process, archive, log);
    return finish(process);
}

// What the last statement gives first, or what went wrong.
QString sqlite(const QString &path, const QStringList &statements) {
    QString result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test");
        db.setDatabaseName(path);
        QSqlQuery q(db.open() ? db : QSqlDatabase());
        for (const QString &sql : statements)
            result = !q.exec(sql) ? q.lastError().text() : q.next() ? q.value(0).toString() : "";
    }
    QSqlDatabase::removeDatabase("test");
    return result;
}

// What an archive file holds of the generated day: whether SQLite finds it
// intact, its frames, those received twice, and the frames the day's
// summary counts.
QString tally(const QString &path) {
    const QString integrity = sqlite(path, {"PRAGMA integrity_check"});
    Archive archive;
    qint64 frames = 0, twice = 0;
    std::vector<TimeCell> day;
    if (!archive.open(path) || !archive.cells(Day, Day + 86399, 1, &day) ||
        !archive.forEachFrame(Day, Day + 86399, [&](const StoredFrame &frame) {
            twice += frame.receptions.size() == 2;
            return ++frames > 0;
        }))
        return archive.error();
    return integrity + QString::asprintf(", %lld frames, %lld twice, %lld in the summary", frames,
                                         twice, day[0].frames);
}

} // namespace

class TestArchive : public QObject {
    Q_OBJECT
    // A PostgreSQL server of the test's own, its data and socket in a
    // folder of its own; it starts while the SQLite tests run, and stops
    // when its standard input closes. As the postgres user when this is
    // root: initdb will not run as root.
    QString pgBin_;
    QTemporaryDir pgDir_;
    QProcess pg_;

private slots:
    void initTestCase() {
        const QStringList versions =
            QDir("/usr/lib/postgresql").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        pgBin_ = "/usr/lib/postgresql/" + versions.value(versions.size() - 1) + "/bin";
        if (!QFile::exists(pgBin_ + "/initdb") || !QSqlDatabase::isDriverAvailable("QPSQL"))
            return pgBin_.clear();
        QFile::setPermissions(pgDir_.path(), QFileDevice::Permissions(0x7777));
        pg_.setProcessChannelMode(QProcess::MergedChannels);
        const QStringList script = {
            "-c",
            "cd \"$2\" && \"$1/initdb\" -D data -A trust -U postgres -N --no-locale >/dev/null && "
            "\"$1/pg_ctl\" -D data -w -l log -o \"-k '$2' -p 5433 -c listen_addresses='' "
            "-c fsync=off -c shared_buffers=1MB\" start >/dev/null && "
            "\"$1/createdb\" -h \"$2\" -p 5433 -U postgres kadrin || exit 1; echo ready; read _; "
            "\"$1/pg_ctl\" -D data stop -m immediate -W; "
            "while [ -e data/postmaster.pid ]; do sleep 0.005; done",
            "sh", pgBin_, pgDir_.path()};
        if (geteuid() == 0)
            pg_.start("runuser", QStringList{"-u", "postgres", "--", "sh"} + script);
        else
            pg_.start("sh", script);
    }
    void cleanupTestCase() {
        pg_.closeWriteChannel();
        pg_.waitForFinished(Timeout);
    }
    // Each file as it is handed to kadrin-decode --store.
    void refused_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message");
        QTemporaryDir dir;
        const QString path = dir.filePath("archive.sqlite"), logPath = dir.filePath("day.log");
        QTest::newRow("text file") << log(0, 1) << "is not an archive (not a SQLite database)";
        sqlite(path, {"CREATE TABLE calls (callsign TEXT)", "INSERT INTO calls VALUES ('OK1XYZ')"});
        QTest::newRow("another program's database")
            << contentOf(path) << "is a database but not an archive of this program";
        QVERIFY(QFile::remove(path) && write(logPath, log(0, 1000)));
        store(path, logPath);
        QByteArray damaged = contentOf(path); // pages in the middle overwritten
        damaged.replace(damaged.size() / 4096 / 2 * 4096, 3 * 4096, QByteArray(3 * 4096, '\xa5'));
        QTest::newRow("damaged archive") << damaged << "is damaged";
        sqlite(path, {QString("UPDATE meta SET value = '%1' WHERE key = 'schema'")
                          .arg(Archive::SchemaVersion + 1)});
        QTest::newRow("archive of a newer version")
            << contentOf(path) << "was written by a newer version";
    }

    void refused() {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath("archive.sqlite"), logPath = dir.filePath("pass.log");
        QVERIFY(write(path, file) && write(logPath, log(4000, 1)));
        const Run run = store(path, logPath);
        QCOMPARE(run.code, 2);
        // One line, naming the archive and why.
        QVERIFY2(run.err.startsWith("kadrin-decode: archive " + path.toUtf8() + ": ") &&
                     run.err.count('\n') == 1 && run.err.contains(message.toUtf8()) &&
                     run.err.contains("; it is left as it is"),
                 run.err);
        QVERIFY2(contentOf(path) == file, "the file was changed");
    }

    void killedWriter() {
        QTemporaryDir dir;
        const QString path = dir.filePath("archive.sqlite"), logPath = dir.filePath("big.log");
        QVERIFY(write(logPath, log(0, BigLogFrames, 8)));
        QProcess writer;
        start(writer, path, logPath);
        // Killed once the WAL holds more than the new archive's empty tables:
        // within the first batch of frames or soon after, long before the end.
        for (int waited = 0; !writer.waitForFinished(2) && QFileInfo(path + "-wal").size() <= 65536;
             waited += 2)
            QVERIFY2(waited < Timeout, "the writer never wrote to its archive");
        writer.kill();
        writer.waitForFinished(Timeout);
        QVERIFY2(writer.exitStatus() == QProcess::CrashExit, "it finished before the kill");

        const QString killed = tally(path);
        const int stored = killed.section(' ', 1, 1).toInt(); // what the writer committed
        QCOMPARE(killed, QString("ok, %1 frames, 0 twice, %1 in the summary").arg(stored));
        QVERIFY2(stored < BigLogFrames, qPrintable(killed));
        const Run again = store(path, logPath);
        const QString counts =
            QString("%1 new frames, %2 already known").arg(BigLogFrames - stored).arg(stored);
        QVERIFY2(again.code == 0 && again.err.contains(counts.toUtf8()), again.err);
        QCOMPARE(tally(path), QString("ok, 22223 frames, 0 twice, 22223 in the summary"));
    }

    void twoWriters() {
        QTemporaryDir dir;
        // Frames 0 to 1,999 and 1,000 to 2,999: a thousand in both logs.
        QVERIFY(write(dir.filePath("one.log"), log(0, 2000)) &&
                write(dir.filePath("two.log"), log(1000, 2000)));
        // Three new archives: two writers started together still may miss
        // each other once.
        for (const QString &path : {dir.filePath("1"), dir.filePath("2"), dir.filePath("3")}) {
            QProcess one, two;
            start(one, path, dir.filePath("one.log"));
            start(two, path, dir.filePath("two.log"));
            const Run first = finish(one), second = finish(two);
            QVERIFY2(first.code == 0 && second.code == 0, first.err + second.err);
            QCOMPARE(tally(path), QString("ok, 3000 frames, 1000 twice, 3000 in the summary"));
        }
    }

    void fullDisk() {
        QTemporaryDir dir;
        const QString path = dir.filePath("archive.sqlite");
        QVERIFY(write(dir.filePath("early.log"), log(0, 50)) &&
                write(dir.filePath("late.log"), log(50, 5000)));
        QCOMPARE(store(path, dir.filePath("early.log")).code, 0);
        // Files may grow to 40 kB past the archive: the late frames' WAL does.
        const rlim_t limit = rlim_t(QFileInfo(path).size() + 40000);
        const Run run = store(path, dir.filePath("late.log"), [limit] {
            const rlimit size{limit, limit};
            setrlimit(RLIMIT_FSIZE, &size);
            std::signal(SIGXFSZ, SIG_IGN);
        });
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains("the disk is full"), run.err);
        QCOMPARE(tally(path), QString("ok, 50 frames, 0 twice, 50 in the summary"));
    }

    void backends_data() {
        QTest::addColumn<bool>("postgres");
        QTest::newRow("SQLite") << false;
        QTest::newRow("PostgreSQL") << true;
    }

    void backends() {
        QFETCH(bool, postgres);
        QTemporaryDir dir;
        QString where = dir.filePath("archive.sqlite");
        if (postgres) {
            if (pgBin_.isEmpty())
                QSKIP("PostgreSQL (/usr/lib/postgresql) or Qt's QPSQL driver is not installed");
            QByteArray said;
            while (!said.contains("ready\n") && pg_.waitForReadyRead(Timeout))
                said += pg_.readAll();
            QVERIFY2(said.contains("ready\n"), said + contentOf(pgDir_.filePath("log")));
            where = QString("postgresql://postgres@localhost/kadrin?host=%1&port=5433")
                        .arg(pgDir_.path());
        }
        Archive archive;
        QVERIFY2(archive.open(where), qPrintable(archive.error()));
        // This station copies four frames from a log; another station relays
        // two of them and three more, out of time order; the log is read again.
        const std::vector<IncomingFrame> copied = {
            heard(0, QString(20, '2'), 1), heard(60, QString(20, 'Z'), 2), heard(120, Ladder, 3),
            heard(10805, QString(20, '7'), 4)};
        const std::vector<IncomingFrame> relay = {
            relayed(1321, QString(20, 'Q'), 6), relayed(60, QString(20, 'Z'), 3.5),
            relayed(721, QString(20, 'L'), 12.5), relayed(120, Ladder, 9),
            relayed(1921, QString(20, '2'), 1.5)};
        Archive::Counts a, b, c; // added, known
        QVERIFY(archive.store(copied, &a) && archive.store(relay, &b) && archive.store(copied, &c));
        QCOMPARE(QList({a.added, a.known, b.added, b.known, c.added, c.known}),
                 QList<qint64>({4, 0, 3, 2, 0, 4}));

        QStringList got; // time, first symbols, receptions
        QVERIFY(archive.forEachFrame(T0, T0 + 86400, [&](const StoredFrame &frame) {
            got << QString("%1 %2").arg(frame.time - T0).arg(frame.symbols.left(4));
            for (const StoredReception &r : frame.receptions)
                got.last() +=
                    ' ' + (r.callsign.isEmpty() ? "log:" + QString::number(r.line) : r.callsign);
            return true;
        }));
        QCOMPARE(got, QStringList({"0 2222 log:1", "60 ZZZZ log:2 OK1XYZ", "120 2467 log:3 OK1XYZ",
                                   "721 LLLL OK1XYZ", "1321 QQQQ OK1XYZ", "1921 2222 OK1XYZ",
                                   "10805 7777 log:4"}));

        // Three minutes in three columns read the frames themselves; six hours
        // in two the hours' summaries.
        got.clear();
        std::vector<TimeCell> cells;
        for (const auto &[to, columns] : {std::pair{179, 3}, std::pair{6 * 3600 - 1, 2}}) {
            QVERIFY(archive.cells(T0, T0 + to, columns, &cells));
            for (const TimeCell &cell : cells) {
                got << QString::number(cell.frames);
                for (const quint16 mask : cell.levels)
                    got.last() += QString::asprintf(" %04x", mask);
            }
        }
        QCOMPARE(got,
                 QStringList(
                     {"1 0001 0001 0001 0001 0001 0001 0001 0001 0001 0001 0001 0001 0001 0001",
                      "1 8000 8000 8000 8000 8000 8000 8000 8000 8000 8000 8000 8000 8000 8000",
                      "1 0002 0004 0008 0010 0020 0040 0080 0100 0200 0400 0800 1000 2000 4000",
                      "6 a803 a805 a809 a811 a821 a841 a881 a901 aa01 ac01 a801 b801 a801 e801",
                      "1 0008 0008 0008 0008 0008 0008 0008 0008 0008 0008 0008 0008 0008 0008"}));

        // 601 s without a frame end a pass, 600 s do not; a pass that touches
        // the span is whole. This station shows as "us".
        got.clear();
        std::vector<Pass> passes;
        for (const auto &[from, to] : {std::pair{0, 1400}, std::pair{1400, 1500}}) {
            QVERIFY(archive.passes(T0 + from, T0 + to, &passes));
            for (const Pass &pass : passes)
                got << QString::asprintf("%lld-%lld: %lld frames, best %g dB, by ", pass.start - T0,
                                         pass.end - T0, pass.frames, pass.bestSnrDb.value_or(-99)) +
                           pass.stations.join(' ').replace(QRegularExpression("^ "), "us ");
        }
        QCOMPARE(got, QStringList({"0-120: 3 frames, best 9 dB, by us OK1XYZ",
                                   "721-1921: 3 frames, best 12.5 dB, by OK1XYZ",
                                   "721-1921: 3 frames, best 12.5 dB, by OK1XYZ"}));
    }
};

QTEST_GUILESS_MAIN(TestArchive)
#include "tst_archive.moc"
