// kadrin-decode --network and --shared against a real HTTP server on
// loopback, run by the test: pages of observations, recordings made by the
// generator, shared frames, and the bad answers a shared service can give.

#include "app/form1.h"
#include "app/historywindow.h"
#include "app/networkpasses.h"
#include "app/sourceswitch.h"

#include <QEventLoop>
#include <QHash>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <qcustomplot.h>

#include <cmath>
#include <functional>

namespace {

struct Response {
    Response(int s, QByteArray b, QList<QByteArray> h = {}, qsizetype cut = -1, int ms = 0)
        : status(s), body(std::move(b)), headers(std::move(h)), cutAfter(cut), msPerByte(ms) {}
    int status;
    QByteArray body;
    QList<QByteArray> headers;
    qsizetype cutAfter; // the body's bytes sent before the connection is closed
    int msPerByte;      // a server that answers a byte at a time
};

// One request at a time per connection, closed after the answer.
class Server : public QTcpServer {
public:
    std::function<Response(const QByteArray &path)> route;
    QHash<QByteArray, int> hits;           // requests per path
    QList<QByteArray> authorizations;      // the Authorization header of each request, "-" none
    QList<QByteArray> agents;

    Server() {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                const QByteArray request = socket->peek(1 << 16);
                if (!request.contains("\r\n\r\n"))
                    return;
                socket->readAll();
                const QByteArray path = request.split(' ').value(1);
                QByteArray auth = "-", agent;
                for (const QByteArray &line : request.split('\n')) {
                    if (line.toLower().startsWith("authorization:"))
                        auth = line.mid(14).trimmed();
                    if (line.toLower().startsWith("user-agent:"))
                        agent = line.mid(11).trimmed();
                }
                ++hits[path.split('?').first()];
                authorizations << auth;
                agents << agent;
                answer(socket, route(path));
            });
        });
    }
    QByteArray url() const { return "http://127.0.0.1:" + QByteArray::number(serverPort()); }

private:
    void answer(QTcpSocket *socket, const Response &r) {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + " X\r\nConnection: close\r\n" +
                          "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
        for (const QByteArray &h : r.headers)
            head += h + "\r\n";
        socket->write(head + "\r\n");
        const QByteArray body = r.cutAfter >= 0 ? r.body.left(r.cutAfter) : r.body;
        if (r.msPerByte == 0) {
            socket->write(body);
            socket->disconnectFromHost();
            return;
        }
        auto *timer = new QTimer(socket);
        auto sent = std::make_shared<qsizetype>(0);
        connect(timer, &QTimer::timeout, socket, [socket, body, sent] {
            if (*sent < body.size() && socket->state() == QAbstractSocket::ConnectedState)
                socket->write(body.mid((*sent)++, 1));
        });
        timer->start(r.msPerByte);
    }
};

struct Result {
    int status = -1;
    QString out, err;
};

// kadrin-decode with these arguments, the servers answering meanwhile.
Result decode(const QStringList &arguments, const QTemporaryDir &dir) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("KADRIN_NET_RETRY_MS"), QStringLiteral("10"));
    env.insert(QStringLiteral("KADRIN_NET_TOTAL_MS"), QStringLiteral("300"));
    process.setProcessEnvironment(env);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    process.start(QStringLiteral(KADRIN_DECODE_PATH), arguments);
    loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// A recording of one frame from the generator; the frame's symbols.
QByteArray recording(const QTemporaryDir &dir, int seed, QString *symbols) {
    const QString path = dir.filePath(QStringLiteral("r%1.ogg").arg(seed));
    QProcess cwgen;
    cwgen.start(QStringLiteral(KADRIN_CWGEN_PATH),
                {QStringLiteral("--frames"), QStringLiteral("1"), QStringLiteral("--seed"), QString::number(seed),
                 QStringLiteral("--snr"), QStringLiteral("10"), path});
    cwgen.waitForFinished();
    *symbols = QString::fromLatin1(cwgen.readAllStandardOutput()).split(QLatin1Char(' ')).last().trimmed();
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// The copied log holds these frames, each at the ten seconds given (its
// first element is keyed 3 s into the recording; the copier's estimate of
// it may fall a little earlier).
bool copiedAt(const QString &log, const QList<std::pair<const char *, QString>> &frames) {
    const QStringList lines = log.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.size() != frames.size())
        return false;
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (!lines[i].startsWith(QLatin1String(frames[i].first)) ||
            lines[i].mid(19) != QStringLiteral("  S KADRIN ") + frames[i].second)
            return false;
    return true;
}

QByteArray observation(int id, const QByteArray &start, const QByteArray &audio) {
    return "{\"id\":" + QByteArray::number(id) + ",\"start\":\"" + start + "\",\"end\":\"" + start +
           "\",\"ground_station\":" + QByteArray::number(id * 10) + ",\"station_name\":\"QX" +
           QByteArray::number(id) + "ST\",\"station_lat\":1,\"station_lng\":2,\"status\":\"good\"," +
           "\"payload\":\"" + audio + "\",\"archive_url\":null}";
}

} // namespace

class TestNetwork : public QObject {
    Q_OBJECT
private slots:
    void copiesEveryPass();
    void badAnswers_data();
    void badAnswers();
    void tokenStaysHome();
    void windowCopiesPasses();
};

// Two pages of observations, each recording copied with its time from the
// observation's start and stored as received by its station; the second
// run downloads nothing.
void TestNetwork::copiesEveryPass() {
    QTemporaryDir dir;
    QString first, second;
    const QByteArray audio1 = recording(dir, 1, &first), audio2 = recording(dir, 2, &second);
    Server server;
    const QByteArray base = server.url();
    int busy = 1; // the first listing is asked to wait
    server.route = [&](const QByteArray &path) -> Response {
        if (path.startsWith("/api/observations/") && busy-- > 0)
            return {429, {}, {"Retry-After: 0"}};
        if (path.startsWith("/api/observations/?satellite"))
            return {200, "[" + observation(1, "2026-12-05T21:00:00Z", base + "/r/1.ogg") + "]",
                    {"Link: <" + base + "/api/observations/?page=2>; rel=\"next\""}};
        if (path.startsWith("/api/observations/?page=2"))
            return {200, "[" + observation(2, "2026-12-05T23:00:00.000Z", base + "/r/2.ogg") + "]"};
        return {200, path == "/r/1.ogg" ? audio1 : audio2};
    };
    const QString archive = dir.filePath(QStringLiteral("a.sqlite"));
    const QStringList args = {QStringLiteral("--network"), QString::fromLatin1(base), QStringLiteral("--norad"),
                              QStringLiteral("99999"), QStringLiteral("--store"), QStringLiteral("--archive"),
                              archive, QStringLiteral("--jobs"), QStringLiteral("2"), QStringLiteral("--copy")};
    Result run = decode(args, dir);
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(run.err.contains(QLatin1String("HTTP 429); waiting 0 s as it asks")), qPrintable(run.err));
    // The generator keys each frame 3 s after the recording's start.
    QVERIFY2(copiedAt(run.out, {{"2026-12-05 21:00:0", first}, {"2026-12-05 23:00:0", second}}), qPrintable(run.out));
    QVERIFY(server.agents.first().startsWith("kadrin-decode/"));
    const Result stored = decode({QStringLiteral("--stored"), QStringLiteral("--archive"), archive}, dir);
    QVERIFY2(stored.out.contains(QLatin1String(",1,\"station:127.0.0.1 observation 1, station 10\",QX1ST\r\n")),
             qPrintable(stored.out));
    QVERIFY(stored.out.contains(QLatin1String("QX2ST\r\n")));

    run = decode(args, dir);
    QCOMPARE(run.status, 1); // nothing new
    QVERIFY2(run.err.contains(QLatin1String("2 observations were copied before; skipped")), qPrintable(run.err));
    QCOMPARE(server.hits.value("/r/1.ogg") + server.hits.value("/r/2.ogg"), 2);
}

// What a shared service may answer: said, naming what it was about, the
// other observation copied all the same, exit status 3; a download cut
// short is fetched again next time.
void TestNetwork::badAnswers_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("cutAfter");
    QTest::addColumn<int>("msPerByte");
    QTest::addColumn<QString>("said");
    const QByteArray audio(3000, 'x');
    QTest::newRow("an HTML error page for the second page") << 200 << QByteArray("<html>oops</html>") << QByteArray()
                                                             << -1 << 0 << "answered with a web page";
    QTest::newRow("a recording that is not audio") << 200 << audio << QByteArray() << -1 << 0
                                                   << "observation 2 (QX2ST, 2026-12-05T23:00:00Z): its recording is not audio";
    QTest::newRow("a download cut short") << 200 << audio << QByteArray() << 100 << 0 << "cut short";
    QTest::newRow("larger than --max-mb") << 200 << QByteArray(1000001, 'x') << QByteArray() << -1 << 0
                                          << "larger than 1 MB";
    QTest::newRow("a redirect loop") << 302 << QByteArray() << QByteArray("Location: /r/2.ogg") << -1 << 0
                                     << "redirected in a loop";
    QTest::newRow("a byte at a time") << 200 << audio << QByteArray() << -1 << 100 << "too slowly";
}

void TestNetwork::badAnswers() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, header);
    QFETCH(int, cutAfter);
    QFETCH(int, msPerByte);
    QFETCH(QString, said);
    const bool listing = body.startsWith("<html>");
    QTemporaryDir dir;
    QString first;
    const QByteArray audio1 = recording(dir, 1, &first);
    Server server;
    const QByteArray base = server.url();
    server.route = [&](const QByteArray &path) -> Response {
        if (path.startsWith("/api/observations/?page=2"))
            return listing ? Response{status, body}
                           : Response{200, "[" + observation(2, "2026-12-05T23:00:00Z", base + "/r/2.ogg") + "]"};
        if (path.startsWith("/api/observations/"))
            return {200, "[" + observation(1, "2026-12-05T21:00:00Z", base + "/r/1.ogg") + "]",
                    {"Link: <" + base + "/api/observations/?page=2>; rel=\"next\""}};
        if (path == "/r/1.ogg")
            return {200, audio1};
        return {status, body, header.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{header}, cutAfter, msPerByte};
    };
    const QStringList args = {QStringLiteral("--network"), QString::fromLatin1(base), QStringLiteral("--norad"),
                              QStringLiteral("99999"), QStringLiteral("--copy"), QStringLiteral("--max-mb"),
                              QStringLiteral("1"), QStringLiteral("--store"), QStringLiteral("--archive"),
                              dir.filePath(QStringLiteral("a.sqlite"))};
    const Result run = decode(args, dir);
    QCOMPARE(run.status, 3);
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    QVERIFY2(copiedAt(run.out, {{"2026-12-05 21:00:0", first}}), qPrintable(run.out));
    if (!said.startsWith(QLatin1String("cut short")))
        return;
    const int before = server.hits.value("/r/2.ogg");
    QCOMPARE(decode(args, dir).status, 3);
    QVERIFY(server.hits.value("/r/2.ogg") > before); // not taken for copied, asked again
    QCOMPARE(server.hits.value("/r/1.ogg"), 1);
}

// Shared frames are stored as received by their stations. The token goes
// to the database's own host only: not after a redirect to another.
void TestNetwork::tokenStaysHome() {
    QTemporaryDir dir;
    Server home, elsewhere;
    const QByteArray item = "{\"frame\":\"" + QByteArray("SKADRIN28CAA22221238CC22FFF").toHex().toUpper() +
                            "\",\"timestamp\":\"2026-12-05T21:07:53Z\",\"observer\":\"QX9ZZ\",\"station_id\":5}";
    // The second page is moved to another host.
    home.route = [&](const QByteArray &path) -> Response {
        if (path.contains("page=2"))
            return {302, {}, {"Location: http://localhost:" + QByteArray::number(elsewhere.serverPort()) + "/p2"}};
        return {200, "[" + item + "]", {"Link: </api/telemetry/?page=2>; rel=next"}};
    };
    elsewhere.route = [](const QByteArray &) -> Response { return {200, "[]"}; };
    const QString archive = dir.filePath(QStringLiteral("a.sqlite"));
    const Result run = decode({QStringLiteral("--shared"), QString::fromLatin1(home.url()), QStringLiteral("--norad"),
                               QStringLiteral("99999"), QStringLiteral("--token"), QStringLiteral("s3cret"),
                               QStringLiteral("--store"), QStringLiteral("--archive"), archive, QStringLiteral("--csv")},
                              dir);
    QCOMPARE(run.status, 0);
    QCOMPARE(home.authorizations, (QList<QByteArray>{"Token s3cret", "Token s3cret"}));
    QCOMPARE(elsewhere.authorizations, QList<QByteArray>{"-"});
    QVERIFY(!run.err.contains(QLatin1String("s3cret")) && !run.out.contains(QLatin1String("s3cret")));
    const Result stored = decode({QStringLiteral("--stored"), QStringLiteral("--archive"), archive}, dir);
    QVERIFY2(stored.out.contains(QLatin1String("station:telemetry database 127.0.0.1 station 5,QX9ZZ\r\n")),
             qPrintable(stored.out));
    // Over plain HTTP to another machine it is never sent.
    const Result plain = decode({QStringLiteral("--shared"), QStringLiteral("http://192.0.2.1/"), QStringLiteral("--norad"),
                                 QStringLiteral("99999"), QStringLiteral("--token"), QStringLiteral("s3cret")},
                                dir);
    QVERIFY2(plain.err.contains(QLatin1String("the token is sent only over HTTPS")), qPrintable(plain.err));
}

// File, Network Passes...: the pass lands in the archive, and the History
// window open meanwhile shows it.
void TestNetwork::windowCopiesPasses() {
    QTemporaryDir dir;
    QString first;
    const QByteArray audio = recording(dir, 1, &first);
    Server server;
    server.route = [&](const QByteArray &path) -> Response {
        if (path.startsWith("/api/observations/"))
            return {200, "[" + observation(1, "2026-12-05T21:00:00Z", server.url() + "/r/1.ogg") + "]"};
        return {200, audio};
    };
    Configuration configuration(dir.path() + QLatin1Char('/'));
    configuration.archive = dir.filePath(QStringLiteral("a.sqlite"));
    configuration.networkUrl = QString::fromLatin1(server.url());
    configuration.noradId = QStringLiteral("99999");
    qputenv("XDG_CACHE_HOME", dir.filePath(QStringLiteral("cache")).toUtf8());
    Form1 window(configuration);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::keyClick(&window, Qt::Key_H, Qt::ControlModifier);
    auto *history = window.findChild<HistoryWindow *>();
    QVERIFY(history);
    history->showSpan(1796504400 - 1, 1796504400 + 3600); // 2026-12-05 21:00:00 on
    NetworkPasses &passes = window.sources().networkPasses();
    passes.setDecoderPath(QStringLiteral(KADRIN_DECODE_PATH));
    QVERIFY(passes.start(1796504400 - 3600, 1796504400 + 3600, configuration.archive));
    QTRY_VERIFY_WITH_TIMEOUT(!passes.running(), 15000);
    QCustomPlot *plot = history->plot();
    bool drawn = false;
    for (int i = 0; i < plot->graphCount(); ++i)
        for (auto it = plot->graph(i)->data()->constBegin(); it != plot->graph(i)->data()->constEnd(); ++it)
            drawn = drawn || !std::isnan(it->value);
    QVERIFY(drawn);
}

QTEST_MAIN(TestNetwork)
#include "tst_network.moc"
