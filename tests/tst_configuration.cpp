// Reading conf.ini: the line rules, and files that are no plain file.

#include "app/configuration.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
const Configuration Defaults{QStringLiteral("/opt/kadrin/"), true};
} // namespace

class TestConfiguration : public QObject {
    Q_OBJECT
private slots:
    void lines_data();
    void lines();
    void filesThatAreNoPlainFile();
    void relativeImagePath_data();
    void relativeImagePath();
    void tokenAndLimits();
};

void TestConfiguration::lines_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("imageDirectory");
    QTest::addColumn<bool>("buttonVisible");

    const QString d = Defaults.imageDirectory;
    QTest::newRow("key in any case, path keeps its case")
        << QByteArray("image_path = /home/op/Shots/ \r\n") << "/home/op/Shots/" << true;
    QTest::newRow("split at the first =") << QByteArray("IMAGE_PATH = /a=b/\n") << "/a=b/" << true;
    QTest::newRow("SCREENSHOT = no") << QByteArray("SCREENSHOT = no\n") << d << false;
    QTest::newRow("SCREENSHOT empty") << QByteArray("SCREENSHOT =\n") << d << false;
    QTest::newRow("comment line") << QByteArray("#SCREENSHOT = NO\n") << d << true;
    QTest::newRow("blank before # makes an unknown key")
        << QByteArray(" #SCREENSHOT = NO\n") << d << true;
    QTest::newRow("tab before = stays in the key") << QByteArray("SCREENSHOT\t= NO\n") << d << true;
    QTest::newRow("later line wins, yes in any case")
        << QByteArray("IMAGE_PATH=/a/\nSCREENSHOT=NO\nIMAGE_PATH=/b/\nSCREENSHOT=yes\n") << "/b/"
        << true;
    QTest::newRow("line without = is ignored")
        << QByteArray("IMAGE_PATH=/a/\n/b/\nSCREENSHOT=NO\nYES\n") << "/a/" << false;
    QTest::newRow("CR-only line ends")
        << QByteArray("IMAGE_PATH=/a/\rSCREENSHOT=NO\r") << "/a/" << false;
    QTest::newRow("byte-order mark") << QByteArray("\xef\xbb\xbfSCREENSHOT=NO\n") << d << false;
    QTest::newRow("binary") << QByteArray("\x00\xff=\x01\x02\nSCREENSHOT\x00=NO", 20) << d << true;
}

void TestConfiguration::lines() {
    QFETCH(QByteArray, content);
    QFETCH(QString, imageDirectory);
    QFETCH(bool, buttonVisible);
    const Configuration c = parseConfiguration(content, Defaults);
    QCOMPARE(c.imageDirectory, imageDirectory);
    QCOMPARE(c.screenshotButtonVisible, buttonVisible);
}

// A missing file, a folder, a FIFO (which would block the start), a link to
// an endless device and a file over 1 MiB all leave the defaults.
void TestConfiguration::filesThatAreNoPlainFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("conf.ini"));
    const auto check = [&](const char *what) {
        const Configuration c = readConfiguration(path, Defaults);
        QVERIFY2(c.imageDirectory == Defaults.imageDirectory && c.screenshotButtonVisible, what);
    };
    check("missing");
    QVERIFY(QDir().mkdir(path));
    check("a folder");
    QVERIFY(QDir().rmdir(path));
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    check("a FIFO");
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    check("a link to /dev/zero");
    QVERIFY(QFile::remove(path));
    QFile big(path);
    QVERIFY(big.open(QIODevice::WriteOnly));
    big.write("SCREENSHOT = NO\n" + QByteArray(MaxConfigurationSize, '#'));
    big.close();
    check("over 1 MiB");
    QVERIFY(big.resize(MaxConfigurationSize));
    QCOMPARE(readConfiguration(path, Defaults).screenshotButtonVisible, false);
}

// IMAGE_PATH that is not absolute names a place beside conf.ini, so the
// converter always gets an absolute path, never one that starts with "-".
void TestConfiguration::relativeImagePath_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("under"); // after the folder of conf.ini and "/"
    QTest::newRow("relative folder") << QByteArray("IMAGE_PATH = shots/") << "shots/";
    QTest::newRow("looks like an option") << QByteArray("IMAGE_PATH = -D/") << "-D/";
    QTest::newRow("empty") << QByteArray("IMAGE_PATH =") << QString();
}

void TestConfiguration::relativeImagePath() {
    QFETCH(QByteArray, line);
    QFETCH(QString, under);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("conf.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(line + "\n");
    file.close();
    QCOMPARE(readConfiguration(file.fileName(), Defaults).imageDirectory,
             dir.path() + QLatin1Char('/') + under);
    QCOMPARE(file.size(), qint64(line.size() + 1)); // never written
}

// The telemetry database's token is taken only from a file nobody else can
// read; limits are two numbers, low first, under a channel's chart caption.
void TestConfiguration::tokenAndLimits() {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("conf.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("SIDS_TOKEN = abc123\nLIMIT_SOLAR_3_TEMP = -10, 45\nLIMIT_GYRO_X = 5, -5\n"
               "limit_battery_volt_cell_1 = 3300,4200\n");
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    Configuration c = readConfiguration(file.fileName(), Defaults);
    QCOMPARE(c.sidsToken, QStringLiteral("abc123"));
    QCOMPARE(c.limits.size(), 2);
    QCOMPARE(c.limits.value(7).low, -10.0);
    QCOMPARE(c.limits.value(7).high, 45.0);
    QCOMPARE(c.limits.value(1).high, 4200.0);
    QVERIFY(file.setPermissions(file.permissions() | QFile::ReadOther));
    c = readConfiguration(file.fileName(), Defaults);
    QCOMPARE(c.sidsToken, QString());
    QVERIFY2(c.tokenRefused.contains(QLatin1String("can be read by others")), qPrintable(c.tokenRefused));
}

QTEST_APPLESS_MAIN(TestConfiguration)
#include "tst_configuration.moc"
