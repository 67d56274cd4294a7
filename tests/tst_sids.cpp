// Sharing frames with a telemetry database, against a stand-in database on
// loopback: the exact requests, every kind of answer, the journal across
// runs, a dry run, the guards, and the window forwarding what it follows.

#include "app/form1.h"
#include "windowtest.h"

#include <QLabel>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QByteArray First = "2026-12-05 21:07:53 SKADRIN4JJCCDDCA1238DC24FFF\n";
const QByteArray Second = "RX (2026-12-05 21:08Z): SKADRIN22222222222222222222\n";
const QByteArray NotSent = "SKADRIN4JJCCDDCA1238DC24FFF\n"                     // no time
                           "2026-12-05 21:09:02 SKADRIN4JJC#DDCA1238DC24FFF\n" // unreadable
                           "2026-12-05 21:09:25 SKADRIN4JJCCDDCA1238DC24FF\n"; // near miss

// The fields of the two frames for station QX0ZZ/P at 52 N, 1.5 W,
// NORAD ID 99999, written out by hand from the convention.
QByteArray fields(const char *time, const char *frameHex) {
    return QByteArray("noradID=99999&source=QX0ZZ%2FP&timestamp=") + time + "&frame=" + frameHex +
           "&locator=longLat&longitude=1.50000W&latitude=52.00000N&version=0.1";
}
const QByteArray FirstFields = fields("2026-12-05T21%3A07%3A53.000Z",
                                      "534B414452494E344A4A4343444443413132333844433234464646");
const QByteArray SecondFields = fields("2026-12-05T21%3A08%3A00.000Z",
                                       "534B414452494E3232323232323232323232323232323232323232");

// A database on loopback: records each request and answers as scripted,
// the last answer repeating.
class Database : public QObject {
public:
    enum Answer { Created, BadRequest, ServerError, Close, Silent };
    struct Request {
        QByteArray method, target, contentType, body;
    };
    QList<Answer> script{Created};
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
        const qsizetype lengthAt = head.indexOf("content-length:");
        const qsizetype length =
            head.mid(lengthAt + 15, head.indexOf('\r', lengthAt) - lengthAt - 15)
                .trimmed()
                .toLongLong();
        if (headEnd < 0 || buffer.size() < headEnd + 4 + length)
            return;
        const QList<QByteArray> line = buffer.left(buffer.indexOf('\r')).split(' ');
        const qsizetype typeAt = head.indexOf("content-type:") + 13;
        requests.append({line.value(0), line.value(1),
                         buffer.mid(typeAt, buffer.indexOf('\r', typeAt) - typeAt).trimmed(),
                         buffer.mid(headEnd + 4, length)});
        buffer.clear();
        const Answer answer = script.value(requests.size() - 1, script.last());
        static const char *const replies[] = {
            "HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\n{}",
            "HTTP/1.1 400 Bad Request\r\nContent-Length: 300\r\n\r\n",
            "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"};
        if (answer == Close)
            socket->close();
        else if (answer != Silent)
            socket->write(QByteArray(replies[answer]) +
                          (answer == BadRequest ? QByteArray(300, 'x') : QByteArray()));
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
    void theExactRequests();
    void answers_data();
    void answers();
    void nothingTwiceAcrossRuns();
    void tornJournalLine();
    void dryRunSendsNothing();
    void guards_data();
    void guards();
    void serverThatNeverAnswers();
    void windowForwardsWhatItFollows();

private:
    QStringList station(const Database &database) {
        return {QStringLiteral("--sids"),
                database.url(),
                QStringLiteral("--callsign"),
                QStringLiteral("QX0ZZ/P"),
                QStringLiteral("--latitude"),
                QStringLiteral("52"),
                QStringLiteral("--longitude=-1.5"),
                QStringLiteral("--norad"),
                QStringLiteral("99999"),
                QStringLiteral("--sids-journal"),
                journal};
    }
    Run decode(const QStringList &arguments, const QByteArray &log) {
        const QString path = dir.filePath(QStringLiteral("pass.log"));
        windowtest::writeFile(path, log);
        QProcess process;
        process.start(QStringLiteral(KADRIN_DECODE_PATH), arguments + QStringList{path});
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000))
            return {};
        return {process.exitCode(), process.readAllStandardOutput(),
                process.readAllStandardError()};
    }
    QByteArray journalContent() {
        QFile file(journal);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    QString journal;
};

void TestSids::init() {
    journal = dir.filePath(QStringLiteral("journal-%1.txt").arg(QTest::currentTestFunction()));
    QFile::remove(journal);
}

void TestSids::theExactRequests() {
    Database database;
    const Run run =
        decode(station(database) + QStringList{QStringLiteral("--csv")}, First + Second + NotSent);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(database.requests.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QByteArray &expected = i == 0 ? FirstFields : SecondFields;
        QCOMPARE(database.requests[i].method, QByteArray("POST"));
        QCOMPARE(database.requests[i].target, "/api/telemetry/?" + expected);
        QCOMPARE(database.requests[i].contentType, QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(database.requests[i].body, expected);
    }
    QVERIFY(run.out.startsWith("record,frame,")); // the chosen output as usual
    QCOMPARE(run.err,
             QByteArray("SiDS: 2 sent, 0 rejected, 0 unsent, 0 sent before; not sent: 1 without a "
                        "time, 1 with unreadable symbols, 1 near miss\n"));
    QCOMPARE(journalContent().count("delivered 99999 "), 2);
}

void TestSids::answers_data() {
    QTest::addColumn<QList<int>>("script");
    QTest::addColumn<int>(
        "requests"); // tries; the network layer may resend one on a closed connection
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("journalStart");
    QTest::addColumn<QByteArray>("said");
    QTest::newRow("400: rejected, not tried again")
        << QList<int>{Database::BadRequest} << 1 << 0
        << QByteArray("rejected 99999 2026-12-05T21:07:53Z ")
        << "rejected: 400 " + QByteArray(200, 'x') + "\n";
    QTest::newRow("500, then 201") << QList<int>{Database::ServerError, Database::Created} << 2 << 0
                                   << QByteArray("delivered") << QByteArray("trying again in 1 s");
    QTest::newRow("connection closed: three tries")
        << QList<int>{Database::Close} << 3 << 3 << QByteArray()
        << QByteArray("not delivered after 3 tries");
}

void TestSids::answers() {
    QFETCH(QList<int>, script);
    QFETCH(int, requests);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, journalStart);
    QFETCH(QByteArray, said);
    Database database;
    database.script.clear();
    for (int answer : script)
        database.script.append(Database::Answer(answer));
    const Run run = decode(station(database), First);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY(database.requests.size() >= requests && database.requests.size() <= requests + 1);
    QVERIFY(journalContent().startsWith(journalStart));
    QVERIFY2(run.err.contains(said), run.err);
}

// What was delivered is never sent again; what was not is sent next time.
void TestSids::nothingTwiceAcrossRuns() {
    Database down;
    down.script = {Database::Close};
    QCOMPARE(decode(station(down), First).exitCode, 3);
    Database up;
    QCOMPARE(decode(station(up), First).exitCode, 0);
    QCOMPARE(up.requests.size(), 1);
    const Run again = decode(station(up), First + Second);
    QCOMPARE(again.exitCode, 0);
    QCOMPARE(up.requests.size(), 2);
    QCOMPARE(up.requests.last().body, SecondFields);
    QVERIFY2(again.err.contains("1 sent, 0 rejected, 0 unsent, 1 sent before"), again.err);
}

// A line cut short by a crash does not count: that frame is sent again.
void TestSids::tornJournalLine() {
    Database database;
    QCOMPARE(decode(station(database), First + Second).exitCode, 0);
    QByteArray content = journalContent();
    QFile file(journal);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content.left(content.size() - 10)); // the second line torn
    file.close();
    QCOMPARE(decode(station(database), First + Second).exitCode, 0);
    QCOMPARE(database.requests.size(), 3);
    QCOMPARE(database.requests.last().body, SecondFields);
    QCOMPARE(journalContent(), content);
}

void TestSids::dryRunSendsNothing() {
    Database database;
    const Run run = decode(station(database) + QStringList{QStringLiteral("--dry-run")}, First);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, "POST " + database.url().toUtf8() + "?" + FirstFields +
                          "\nContent-Type: application/x-www-form-urlencoded\n\n" + FirstFields +
                          "\n\n");
    QTest::qWait(100);
    QVERIFY(database.requests.isEmpty());
    QVERIFY(!QFile::exists(journal));
}

void TestSids::guards_data() {
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("value");
    QTest::newRow("empty call sign") << QStringLiteral("--callsign") << QString();
    QTest::newRow("latitude out of range") << QStringLiteral("--latitude") << QStringLiteral("91");
    QTest::newRow("both 0") << QStringLiteral("--latitude") << QStringLiteral("0");
    QTest::newRow("NORAD ID not an integer") << QStringLiteral("--norad") << QStringLiteral("9.5");
    QTest::newRow("not http") << QStringLiteral("--sids") << QStringLiteral("ftp://example.org/");
    QTest::newRow("no --sids") << QStringLiteral("--sids") << QStringLiteral("drop");
}

void TestSids::guards() {
    QFETCH(QString, option);
    QFETCH(QString, value);
    Database database;
    QStringList arguments = station(database);
    const qsizetype at = arguments.indexOf(option);
    if (value == QLatin1String("drop"))
        arguments.remove(at, 2);
    else
        arguments[at + 1] = value;
    if (option == QLatin1String("--latitude") && value == QLatin1String("0"))
        arguments.replace(arguments.indexOf(QStringLiteral("--longitude=-1.5")),
                          QStringLiteral("--longitude=0"));
    const Run run = decode(arguments, First);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.startsWith("kadrin-decode: "), run.err);
    QTest::qWait(50);
    QVERIFY(database.requests.isEmpty());
}

// No answer within 10 s is a failed try; a following run tries on, later.
void TestSids::serverThatNeverAnswers() {
    Database database;
    database.script = {Database::Silent};
    const QString path = dir.filePath(QStringLiteral("silent.log"));
    QVERIFY(windowtest::writeFile(path, First));
    QProcess process;
    process.start(QStringLiteral(KADRIN_DECODE_PATH),
                  station(database) + QStringList{QStringLiteral("--follow"), path});
    QVERIFY(QTest::qWaitFor([&] { return database.requests.size() == 1; }, 5000));
    QTest::qWait(9000);
    QCOMPARE(database.requests.size(), 1); // still waiting for the answer
    QVERIFY(QTest::qWaitFor([&] { return database.requests.size() == 2; }, 5000));
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 5000));
    QCOMPARE(process.exitCode(), 3);
    QVERIFY(process.readAllStandardError().contains("trying again in 1 s"));
}

void TestSids::windowForwardsWhatItFollows() {
    Database database;
    Configuration settings(QStringLiteral("/tmp/"));
    settings.sidsUrl = database.url();
    settings.callsign = QStringLiteral("QX0ZZ/P");
    settings.latitude = QStringLiteral("52");
    settings.longitude = QStringLiteral("-1.5");
    settings.noradId = QStringLiteral("99999");
    settings.sidsJournal = journal;
    Form1 window(settings);
    window.show();
    const QString path = dir.filePath(QStringLiteral("window.log"));
    QFile log(path);
    QVERIFY(log.open(QIODevice::WriteOnly));
    log.write(Second); // there before: not new, not sent
    log.flush();
    QVERIFY(window.followLog(path));
    log.write(First);
    log.flush();
    QVERIFY(QTest::qWaitFor([&] { return database.requests.size() == 1; }, 5000));
    QCOMPARE(database.requests.first().body, FirstFields);
    QTRY_VERIFY(window.findChild<QLabel *>(QStringLiteral("Label3"))
                    ->text()
                    .endsWith(QLatin1String("; sent 1, waiting 0, rejected 0")));
}

QTEST_MAIN(TestSids)
#include "tst_sids.moc"
