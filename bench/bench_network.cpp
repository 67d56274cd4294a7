// Copying the network's passes once downloaded: kadrin-decode --network
// with --jobs 2 over KADRIN_BENCH_OBSERVATIONS (100) observations of ten
// minutes at 48 kHz (OGG), their recordings already in the cache (one
// recording of the generator, linked under each observation's name), the
// listing served from loopback. Prints the wall time and the memory of the
// run (the peak of the process, all its jobs together).

#include "benchfigures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <unistd.h>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const int count = qEnvironmentVariableIsSet("KADRIN_BENCH_OBSERVATIONS")
                          ? qEnvironmentVariableIntValue("KADRIN_BENCH_OBSERVATIONS")
                          : 100;
    QTemporaryDir dir;
    const QString cache = dir.filePath(QStringLiteral("cache/kadrin/recordings"));
    QDir().mkpath(cache);
    // Ten minutes: frames a minute apart, 48 kHz, -6 dB.
    const QString first = cache + QStringLiteral("/1.ogg");
    QProcess cwgen;
    cwgen.start(QStringLiteral(KADRIN_CWGEN_PATH),
                {QStringLiteral("--frames"), QStringLiteral("10"), QStringLiteral("--gap"), QStringLiteral("36"),
                 QStringLiteral("--rate"), QStringLiteral("48000"), QStringLiteral("--snr"), QStringLiteral("-6"),
                 first});
    cwgen.waitForFinished(-1);
    for (int id = 2; id <= count; ++id)
        QFile::link(first, cache + QStringLiteral("/%1.ogg").arg(id));

    // The listing: every observation on one page.
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    QByteArray page = "[";
    for (int id = 1; id <= count; ++id)
        page += (id > 1 ? "," : "") + QByteArray("{\"id\":") + QByteArray::number(id) +
                ",\"start\":\"2026-12-0" + QByteArray::number(1 + id % 7) + "T" +
                QByteArray::number(10 + id % 12) + ":00:00Z\",\"ground_station\":1,\"station_name\":\"QX1ST\"," +
                "\"payload\":\"http://127.0.0.1/r/" + QByteArray::number(id) + ".ogg\"}";
    page += "]";
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket *socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, page] {
            socket->readAll();
            socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                          QByteArray::number(page.size()) + "\r\n\r\n" + page);
            socket->disconnectFromHost();
        });
    });

    QProcess decode;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
    decode.setProcessEnvironment(env);
    decode.setStandardOutputFile(QProcess::nullDevice());
    QEventLoop loop;
    QObject::connect(&decode, &QProcess::finished, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    decode.start(QStringLiteral(KADRIN_DECODE_PATH),
                 {QStringLiteral("--network"), QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()),
                  QStringLiteral("--norad"), QStringLiteral("99999"), QStringLiteral("--jobs"), QStringLiteral("2"),
                  QStringLiteral("--copy")});
    loop.exec();
    const double seconds = timer.elapsed() / 1000.0;
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    const QByteArray said = decode.readAllStandardError();
    const int copied = int(said.count(" lines copied") + said.count(" line copied"));
    benchfigures::row(QStringLiteral("--network --jobs 2: %1 observations of 10 min, 48 kHz OGG").arg(count),
                      seconds * 1000,
                      QStringLiteral("%1 copied; %2 x real time; target <= 60 s for 100 (%3)")
                          .arg(copied)
                          .arg(count * 600.0 / seconds, 0, 'f', 0)
                          .arg(seconds * 100.0 / count <= 60 ? QStringLiteral("met") : QStringLiteral("not met")),
                      children.ru_maxrss / 1024.0);
    return decode.exitCode() == 0 ? 0 : 1;
}
