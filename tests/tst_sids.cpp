// Sharing frames with a telemetry database, against a stand-in database on
// loopback: the exact requests, every kind of answer, the journal across
// runs and on a full disk, a dry run, the guards, and the window forwarding
// what it follows.

#include "app/audiosession.h"
#include "app/form1.h"
#include "app/sourceswitch.h"
#include "sids/sidsuploader.h"
#include "windowtest.h"

#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QLockFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <unistd.h>

namespace {

const QByteArray First = "2026-12-05 21:07:53 SKADRIN4JJCCDDCA1238DC24FFF\n";
const QByteArray Second = "RX (2026-12-05 21:08Z): SKADRIN22222222222222222222\n";
// First's frame at Second's time: another frame to the journal.
const QByteArray Twin = "RX (2026-12-05 21:08Z): SKADRIN4JJCCDDCA1238DC24FFF\n";
const QByteArray NotSent = "SKADRIN4JJCCDDCA1238DC24FFF\n"                     // no time
                           "2026-12-05 21:09:02 SKADRIN4JJC#DDCA1238DC24FFF\n" // unreadable
                           "2026-12-05 21:09:25 SKADRIN4JJCCDDCA1238DC24FF\n"; // near miss

// The fields of frame 0 (First) or 1 (Second) for station QX0ZZ/P, NORAD ID
// 99999, at the place given as its two fields, written out by hand from the
// convention.
QByteArray fields(int frame, const QByteArray &place) {
    const char *const times[] = {"2026-12-05T21%3A07%3A53.000Z", "2026-12-05T21%3A08%3A00.000Z"};
    const char *const hex[] = {"534B414452494E344A4A4343444443413132333844433234464646",
                               "534B414452494E3232323232323232323232323232323232323232"};
    return QByteArray("noradID=99999&source=QX0ZZ%2FP&timestamp=") + times[frame] +
           "&frame=" + hex[frame] + "&locator=longLat&" + place + "&version=0.1";
}

QByteArray answer(const char *status, const QByteArray &body = {}, const QByteArray &head = {}) {
    return "HTTP/1.1 " + QByteArray(status) +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" + head + "\r\n" + body;
}
const QByteArray Created = answer("201 Created", "{}");
const QByteArray Close = "close"; // the connection closed without an answer
const QByteArray Drip = "drip ";  // then the answer's head, and its body one byte every 25 ms

// A database on loopback: records each request and answers as scripted,
// the last answer repeating.
class Database : public QObject {
public:
    struct Request {
        QByteArray method, target, contentType, body;
    };
    QByteArrayList script{Created};
    QList<Request> requests;

    Database() {
        server_.listen(QHostAddress::LocalHost);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server_.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        });
    }
    QString url() const {
        return QStringLiteral("http://127.0.0.1:%1/api/telemetry/").arg(server_.serverPort());
    }

private:
    // One request a connection (the sender asks to close it): headers, then
    // as many bytes of body as Content-Length says.
    void serve(QTcpSocket *socket) {
        QByteArray &buffer = buffers_[socket];
        buffer += socket->readAll();
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        const QByteArray head = buffer.left(headEnd).toLower();
        const auto header = [&](const QByteArray &name) { // name in lower case, with its ':'
            const qsizetype at = head.indexOf(name) + name.size();
            return buffer.mid(at, buffer.indexOf('\r', at) - at).trimmed();
        };
        const qsizetype length = header("content-length:").toLongLong();
        if (headEnd < 0 || buffer.size() < headEnd + 4 + length)
            return;
        const QList<QByteArray> line = buffer.left(buffer.indexOf('\r')).split(' ');
        requests.append({line.value(0), line.value(1), header("content-type:"),
                         buffer.mid(headEnd + 4, length)});
        buffer.clear();
        const QByteArray reply = script.value(requests.size() - 1, script.last());
        if (reply == Close) {
            socket->close();
        } else if (reply.startsWith(Drip)) {
            const qsizetype body = reply.indexOf("\r\n\r\n") + 4;
            socket->write(reply.mid(Drip.size(), body - Drip.size()));
            auto *drip = new QTimer(socket);
            connect(drip, &QTimer::timeout, socket, [socket, rest = reply.mid(body)]() mutable {
                socket->write(rest.left(1));
                rest.remove(0, 1);
            });
            drip->start(25);
        } else {
            socket->write(reply);
        }
    }

    QTcpServer server_;
    QHash<QTcpSocket *, QByteArray> buffers_;
};

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

} // namespace

class TestSids : public QObject {
    Q_OBJECT
private slots:
    void init();
    void theExactRequests_data();
    void theExactRequests();
    void answers_data();
    void answers();
    void journalAcrossRuns();
    void guards_data();
    void guards();
    void followingTriesOn();
    void journalCannotBeWritten_data();
    void journalCannotBeWritten();
    void retryWaitsDoubleUpToTheLongest();
    void windowForwardsWhatItHearsAndFollows();

private:
    QStringList station(const Database &database, const QString &latitude = QStringLiteral("52"),
                        const QString &longitude = QStringLiteral("-1.5")) {
        return QStringLiteral("--sids %1 --latitude %2 --longitude=%3 --callsign QX0ZZ/P --norad "
                              "99999 --sids-journal")
                   .arg(database.url(), latitude, longitude)
                   .split(QLatin1Char(' '))
               << journal;
    }
    // kadrin-decode with short waits: answerMs for a whole request, 10 ms
    // before the second try.
    void startDecode(QProcess &process, const QStringList &arguments, const QByteArray &log) {
        const QString path = dir.filePath(QStringLiteral("pass.log"));
        windowtest::writeFile(path, log);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KADRIN_SIDS_ANSWER_MS"), QString::number(answerMs));
        environment.insert(QStringLiteral("KADRIN_SIDS_RETRY_MS"), QStringLiteral("10"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(KADRIN_DECODE_PATH), arguments + QStringList{path});
    }
    // A run that sends waits for the answers, so every request it made has
    // arrived when it ends.
    Run decode(const QStringList &arguments, const QByteArray &log) {
        QProcess process;
        startDecode(process, arguments, log);
        QEventLoop loop;
        connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
        if (process.state() != QProcess::NotRunning)
            return {};
        return {process.exitCode(), process.readAllStandardOutput(),
                process.readAllStandardError()};
    }
    Configuration windowSettings(const Database &database) {
        Configuration settings(QStringLiteral("/tmp/"));
        settings.sidsUrl = database.url();
        settings.callsign = QStringLiteral("QX0ZZ/P");
        settings.latitude = QStringLiteral("52");
        settings.longitude = QStringLiteral("-1.5");
        settings.noradId = QStringLiteral("99999");
        settings.sidsJournal = journal;
        return settings;
    }
    QByteArray journalContent() { return windowtest::readFile(journal); }

    QTemporaryDir dir;
    QString journal;
    int answerMs = 1000;
};

void TestSids::init() {
    journal = dir.filePath(QStringLiteral("journal-%1.txt").arg(QTest::currentTestFunction()));
    QFile::remove(journal);
    answerMs = 1000;
}

void TestSids::theExactRequests_data() {
    QTest::addColumn<QString>("latitude");
    QTest::addColumn<QString>("longitude");
    QTest::addColumn<QByteArray>("place");
    QTest::newRow("on the equator: N") << QStringLiteral("0") << QStringLiteral("-1.5")
                                       << QByteArray("longitude=1.50000W&latitude=0.00000N");
    QTest::newRow("on the prime meridian: E")
        << QStringLiteral("52") << QStringLiteral("0")
        << QByteArray("longitude=0.00000E&latitude=52.00000N");
}

// The requests a run sends, and what a dry run prints instead.
void TestSids::theExactRequests() {
    QFETCH(QString, latitude);
    QFETCH(QString, longitude);
    QFETCH(QByteArray, place);
    Database database;
    const QStringList arguments = station(database, latitude, longitude);
    const Run dry = decode(arguments + QStringList{"--dry-run"}, First + Second + NotSent);
    QCOMPARE(dry.exitCode, 0);
    QVERIFY(database.requests.isEmpty()); // a dry run sends nothing, and keeps no journal
    QVERIFY(!QFile::exists(journal));
    const Run run = decode(arguments + QStringList{"--csv"}, First + Second + NotSent);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(database.requests.size(), 2);
    QByteArray printed; // what the dry run prints instead of sending
    for (int i = 0; i < 2; ++i) {
        const QByteArray expected = fields(i, place);
        QCOMPARE(database.requests[i].method, QByteArray("POST"));
        QCOMPARE(database.requests[i].target, "/api/telemetry/?" + expected);
        QCOMPARE(database.requests[i].contentType, QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(database.requests[i].body, expected);
        printed += "POST " + database.url().toUtf8() + '?' + expected +
                   "\nContent-Type: application/x-www-form-urlencoded\n\n" + expected + "\n\n";
    }
    QCOMPARE(dry.out, printed);
    QVERIFY(run.out.startsWith("record,frame,")); // the chosen output as usual
    QCOMPARE(run.err,
             QByteArray("SiDS: 2 sent, 0 rejected, 0 unsent, 0 sent before; not sent: 1 without a "
                        "time, 1 with unreadable symbols, 1 near miss\n"));
    QCOMPARE(journalContent().count("delivered 99999 "), 2);
}

void TestSids::answers_data() {
    QTest::addColumn<QByteArrayList>("script");
    QTest::addColumn<int>("requests"); // exactly one a try
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("journalStart"); // empty: nothing journalled
    QTest::addColumn<QByteArray>("said");
    const QByteArray rejected = "rejected 99999 2026-12-05T21:07:53Z ";
    QTest::newRow("400: rejected, not tried again")
        << QByteArrayList{answer("400 Bad Request", QByteArray(300, 'x'))} << 1 << 0 << rejected
        << "rejected: 400 " + QByteArray(200, 'x') + "\n";
    for (const char *status : {"401 Unauthorized", "404 Not Found", "422 Unprocessable Entity"})
        QTest::addRow("%s: rejected", status)
            << QByteArrayList{answer(status)} << 1 << 0 << rejected
            << "rejected: " + QByteArray(status).left(3);
    for (const char *status :
         {"301 Moved Permanently", "302 Found", "307 Temporary Redirect", "308 Permanent Redirect"})
        QTest::addRow("%s: not followed, not journalled", status)
            << QByteArrayList{answer(status, {}, "Location: /elsewhere/\r\n")} << 1 << 0
            << QByteArray() << "answered " + QByteArray(status) + ", Location: /elsewhere/";
    QTest::newRow("500, then 201")
        << QByteArrayList{answer("500 Internal Server Error"), Created} << 2 << 0
        << QByteArray("delivered") << QByteArray("(answer 500); trying again in 0.01 s");
    QTest::newRow("connection closed: three tries, three requests")
        << QByteArrayList{Close} << 3 << 3 << QByteArray()
        << QByteArray("after 3 tries (connection closed before the answer)");
    QTest::newRow("201 with an answer that never ends: delivered")
        << QByteArrayList{answer("201 Created").replace("Length: 0", "Length: 300000000") +
                          QByteArray(100 * 1024, 'x')}
        << 1 << 0 << QByteArray("delivered") << QByteArray("SiDS: 1 sent, 0 rejected");
    QTest::newRow("answer dripping: 0.1 s for the whole request")
        << QByteArrayList{Drip + answer("201 Created", QByteArray(100, 'x'))} << 3 << 3
        << QByteArray() << QByteArray("no answer within 0.1 s");
}

void TestSids::answers() {
    QFETCH(QByteArrayList, script);
    QFETCH(int, requests);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, journalStart);
    QFETCH(QByteArray, said);
    Database database;
    database.script = script;
    answerMs = script.first().startsWith(Drip) ? 100 : 1000; // 4 bytes of a dripping body
    const Run run = decode(station(database), First);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(database.requests.size(), requests);
    QCOMPARE(journalContent().left(journalStart.size()), journalStart);
    QCOMPARE(journalContent().isEmpty(), journalStart.isEmpty());
    QVERIFY2(run.err.contains(said), run.err);
    // counted sent exactly when journalled as delivered
    QCOMPARE(run.err.contains("SiDS: 1 sent,"), journalStart == "delivered");
}

// What was delivered is never sent again, what was not (if only its time or
// frame differs) is sent next time, and a journal line cut short by a crash
// does not count.
void TestSids::journalAcrossRuns() {
    Database database;
    QCOMPARE(decode(station(database), First).exitCode, 0);
    const Run again = decode(station(database), First + Second + Twin);
    QVERIFY2(again.err.contains("SiDS: 2 sent, 0 rejected, 0 unsent, 1 sent before"), again.err);
    QCOMPARE(database.requests.size(), 3);
    const QByteArray content = journalContent();
    QCOMPARE(content.count('\n'), 3);
    QVERIFY(windowtest::writeFile(journal, content.chopped(10))); // the last line torn
    QCOMPARE(decode(station(database), First + Second + Twin).exitCode, 0);
    QCOMPARE(database.requests.size(), 4);
    QCOMPARE(database.requests[3].body, database.requests[2].body);
    QCOMPARE(journalContent(), content);
}

void TestSids::guards_data() {
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("value");
    QTest::newRow("empty call sign") << QStringLiteral("--callsign") << QString();
    QTest::newRow("latitude out of range") << QStringLiteral("--latitude") << QStringLiteral("91");
    QTest::newRow("both 0") << QStringLiteral("place") << QStringLiteral("0");
    QTest::newRow("NORAD ID not an integer") << QStringLiteral("--norad") << QStringLiteral("9.5");
    QTest::newRow("NORAD ID 0") << QStringLiteral("--norad") << QStringLiteral("0");
    QTest::newRow("not http") << QStringLiteral("--sids") << QStringLiteral("ftp://example.org/");
    QTest::newRow("no --sids") << QStringLiteral("--sids") << QStringLiteral("drop");
    QTest::newRow("journal in use") << QStringLiteral("lock") << QString();
}

void TestSids::guards() {
    QFETCH(QString, option);
    QFETCH(QString, value);
    Database database;
    QStringList arguments =
        option == QLatin1String("place") ? station(database, value, value) : station(database);
    const qsizetype at = arguments.indexOf(option);
    if (value == QLatin1String("drop"))
        arguments.remove(at, 2);
    else if (at >= 0)
        arguments[at + 1] = value;
    QLockFile lock(journal + QStringLiteral(".lock")); // this test: another program
    QVERIFY(option != QLatin1String("lock") || lock.tryLock());
    const Run run = decode(arguments, First);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.startsWith("kadrin-decode: "), run.err);
    QVERIFY(database.requests.isEmpty());
}

// A following run does not give up after three tries; it ends by a signal
// with the frame unsent.
void TestSids::followingTriesOn() {
    Database database;
    database.script = {Close};
    QProcess process;
    startDecode(process, station(database) + QStringList{QStringLiteral("--follow")}, First);
    QVERIFY(QTest::qWaitFor([&] { return database.requests.size() == 4; }, 5000));
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 5000));
    QCOMPARE(process.exitCode(), 3);
    QVERIFY(process.readAllStandardError().contains("0 sent, 0 rejected, 1 unsent"));
}

// A journal that cannot take a line: on a file system of 8 KiB the journal
// (its bytes before the run) and the lock file leave no room for the line, or
// 20 bytes of it; or the journal leaves no room for the lock file; or it
// cannot be synced (a link to /dev/null). The frame is delivered but not
// recorded: sending stops, the run exits 3.
void TestSids::journalCannotBeWritten_data() {
    QTest::addColumn<int>("before"); // -1: the link
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said"); // %1: the journal
    const QString full = QStringLiteral("cannot write the journal: %1: No space left on device");
    QTest::newRow("full: sending stops") << 4096 << First + Second << 3 << full;
    QTest::newRow("a short write: sending stops") << 4076 << First + Second << 3 << full;
    QTest::newRow("not synced, the only frame: exit 3")
        << -1 << First << 3 << QStringLiteral("cannot write the journal: %1: Invalid argument");
    QTest::newRow("no room for the lock file")
        << 8192 << First + Second << 2
        << QStringLiteral("cannot create the lock file %1.lock: No space left on device");
}

void TestSids::journalCannotBeWritten() {
    QFETCH(int, before);
    QFETCH(QByteArray, log);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    const QString small = dir.filePath(QStringLiteral("small"));
    if (before >= 0 && !windowtest::mountSmallDisk(small, QStringLiteral("8k")))
        QSKIP("needs to mount a small file system (root)");
    auto unmount = windowtest::unmountWhenDone(small);
    if (before < 0) {
        unmount.dismiss();
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), journal));
    } else {
        journal = small + QStringLiteral("/journal.txt");
        QVERIFY(windowtest::writeFile(journal, QByteArray(before - 1, '#') + '\n'));
    }
    Database database;
    const Run run = decode(station(database), log);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(database.requests.size(), exitCode == 3 ? 1 : 0);
    QCOMPARE(run.err.count(said.arg(journal).toLocal8Bit()), 1);
    QCOMPARE(run.err.contains("SiDS: 1 sent, 0 rejected, " +
                              QByteArray::number(log.count('\n') - 1) + " unsent"),
             exitCode == 3);
}

// The wait before each try doubles up to the longest wait, and stays there.
void TestSids::retryWaitsDoubleUpToTheLongest() {
    Database database;
    database.script = {Close};
    SidsUploader uploader({database.url(), QStringLiteral("QX0ZZ/P"), 52, -1.5, 99999});
    QString error;
    QVERIFY2(uploader.open(journal, &error), qPrintable(error));
    uploader.setTiming({1000, 10, 20});
    uploader.setMaxTries(4);
    QStringList waits;
    connect(&uploader, &SidsUploader::message, this,
            [&](const QString &text) { waits << text.section(QLatin1Char(' '), -2); });
    const LineVerdict frame = LineScanner::judge(QString::fromLatin1(First.trimmed()));
    uploader.send(*frame.frame, *frame.time);
    QVERIFY(QTest::qWaitFor([&] { return uploader.gaveUp(); }, 5000));
    QCOMPARE(waits, QStringList({"0.01 s", "0.02 s", "0.02 s", "next run"}));
}

// The window shares a frame heard on the audio input, with the time of its
// first element, and then, following a log, each frame appended to it but
// none it held before: the requests kadrin-decode makes.
void TestSids::windowForwardsWhatItHearsAndFollows() {
    Database database;
    Form1 window(windowSettings(database));
    window.show();
    // The audio: 3.4 s of noise, the frame, 3.4 s of noise; then the input
    // stays open, as a sound card's does.
    QProcess writer;
    writer.start("sh", {"-c",
                        "\"$0\" --text 'S KADRIN 4JJCCDDCA1238DC24FFF' --snr 10 --gap 3.4 --seed 3 "
                        "- && sleep 60",
                        KADRIN_CWGEN_PATH});
    QAudioFormat format;
    format.setSampleRate(8000);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    ListenSession &session = window.sources().audio().listenSession();
    session.setFolder(dir.filePath(QStringLiteral("heard")));
    session.setClock([] { return qint64(1796504870000); }); // 2026-12-05 21:07:50 UTC
    windowtest::rejectForgottenDialogs();
    QVERIFY(window.sources().audio().listen(
        std::make_unique<PcmStream>(QStringLiteral("cwgen"), &writer, format)));
    QVERIFY(QTest::qWaitFor([&] { return database.requests.size() == 1; }, 10000));
    const QByteArray place = "longitude=1.50000W&latitude=52.00000N";
    QCOMPARE(database.requests[0].body, fields(0, place));
    QTRY_VERIFY(windowtest::statusText(&window).endsWith("; sent 1, waiting 0, rejected 0"));
    QVERIFY(journalContent().startsWith("delivered 99999 2026-12-05T21:07:53Z "));
    // Following a log instead goes on sharing.
    const QString path = dir.filePath(QStringLiteral("after-listening.log"));
    QFile log(path);
    QVERIFY(log.open(QIODevice::WriteOnly));
    log.write(Twin); // there before: not new, not sent
    log.flush();
    QVERIFY(window.sources().followLog(path));
    log.write(Second);
    log.flush();
    QVERIFY(QTest::qWaitFor([&] { return database.requests.size() == 2; }, 5000));
    QCOMPARE(database.requests[1].body, fields(1, place));
    QTRY_COMPARE(windowtest::statusText(&window),
                 QStringLiteral("Following %1; sent 1, waiting 0, rejected 0").arg(path));
}

QTEST_MAIN(TestSids)
#include "tst_sids.moc"
