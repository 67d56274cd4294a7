// Reading conf.ini.

#include "app/configuration.h"

#include <QTemporaryDir>
#include <QTest>

class TestConfiguration : public QObject {
    Q_OBJECT
private slots:
    void lines_data();
    void lines();
    void missingOrUnreadableFile();
};

void TestConfiguration::lines_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("imageDirectory");
    QTest::addColumn<bool>("buttonVisible");

    const QString d = QStringLiteral("/opt/kadrin/"); // the default
    QTest::newRow("empty file") << QByteArray() << d << true;
    QTest::newRow("path keeps its case, blanks stripped")
        << QByteArray("image_path = /home/op/Shots/ \r\n") << QStringLiteral("/home/op/Shots/")
        << true;
    QTest::newRow("split at the first =")
        << QByteArray("IMAGE_PATH = /a=b/\n") << QStringLiteral("/a=b/") << true;
    QTest::newRow("path with inner blanks")
        << QByteArray("IMAGE_PATH=/mnt/my shots/") << QStringLiteral("/mnt/my shots/") << true;
    QTest::newRow("SCREENSHOT = yes") << QByteArray("SCREENSHOT = yes\n") << d << true;
    QTest::newRow("SCREENSHOT=YES") << QByteArray("SCREENSHOT=YES") << d << true;
    QTest::newRow("SCREENSHOT = no") << QByteArray("SCREENSHOT = no\n") << d << false;
    QTest::newRow("SCREENSHOT empty") << QByteArray("SCREENSHOT =\n") << d << false;
    QTest::newRow("comment line") << QByteArray("#IMAGE_PATH = /x/\n") << d << true;
    QTest::newRow("blank before # makes an unknown key")
        << QByteArray(" #IMAGE_PATH = /x/\n") << d << true;
    QTest::newRow("tab before = keeps the tab in the key")
        << QByteArray("IMAGE_PATH\t= /x/\n") << d << true;
    QTest::newRow("tab in the value stays")
        << QByteArray("IMAGE_PATH = /x/\t\n") << QStringLiteral("/x/\t") << true;
    QTest::newRow("no trailing slash runs on")
        << QByteArray("IMAGE_PATH = /srv/shots") << QStringLiteral("/srv/shots") << true;
    QTest::newRow("later line wins")
        << QByteArray("IMAGE_PATH=/a/\nSCREENSHOT=NO\nIMAGE_PATH=/b/\nSCREENSHOT=YES\n")
        << QStringLiteral("/b/") << true;
    QTest::newRow("line without = is ignored")
        << QByteArray("IMAGE_PATH=/a/\n/b/\nSCREENSHOT=NO\nYES\n") << QStringLiteral("/a/")
        << false;
    QTest::newRow("CR-only line ends")
        << QByteArray("IMAGE_PATH=/a/\rSCREENSHOT=NO\r") << QStringLiteral("/a/") << false;
    QTest::newRow("byte-order mark") << QByteArray("\xef\xbb\xbfSCREENSHOT=NO\n") << d << false;
    QTest::newRow("no line end at the end") << QByteArray("SCREENSHOT=NO") << d << false;
    QTest::newRow("UTF-8 path") << QByteArray("IMAGE_PATH=/home/op/Bilder \xc3\xa4/\n")
                                << QStringLiteral("/home/op/Bilder \u00e4/") << true;
    QTest::newRow("binary") << QByteArray("\x00\xff=\x01\x02\nSCREENSHOT\x00=NO", 20) << d << true;
    QTest::newRow("unknown key") << QByteArray("LANGUAGE=EN\n") << d << true;
    QTest::newRow("very long comment line before the keys")
        << QByteArray("#") + QByteArray(1 << 20, 'x') + "\nSCREENSHOT=NO\n"
        << d << false;
    QTest::newRow("very long value")
        << QByteArray("IMAGE_PATH=/") + QByteArray(100000, 'a') + "/\n"
        << QLatin1Char('/') + QString(100000, QLatin1Char('a')) + QLatin1Char('/') << true;
    QByteArray tenMegabytes;
    tenMegabytes.reserve(10 << 20);
    while (tenMegabytes.size() < (10 << 20))
        tenMegabytes += "NOISE = 0123456789abcdef0123456789abcdef\r\n";
    QTest::newRow("10 MB file, key at the end") << tenMegabytes + "IMAGE_PATH = /last/\r\n"
                                                << QStringLiteral("/last/") << true;
}

void TestConfiguration::lines() {
    QFETCH(QByteArray, content);
    QFETCH(QString, imageDirectory);
    QFETCH(bool, buttonVisible);
    const Configuration c = parseConfiguration(content, {QStringLiteral("/opt/kadrin/"), true});
    QCOMPARE(c.imageDirectory, imageDirectory);
    QCOMPARE(c.screenshotButtonVisible, buttonVisible);
}

void TestConfiguration::missingOrUnreadableFile() {
    QTemporaryDir dir;
    const Configuration defaults{QStringLiteral("/opt/kadrin/"), true};
    // Missing file, and a directory in its place: the defaults stay.
    for (const QString &path : {dir.filePath(QStringLiteral("conf.ini")), dir.path()}) {
        const Configuration c = readConfiguration(path, defaults);
        QCOMPARE(c.imageDirectory, defaults.imageDirectory);
        QCOMPARE(c.screenshotButtonVisible, true);
    }
    QFile file(dir.filePath(QStringLiteral("conf.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("SCREENSHOT = NO\r\nIMAGE_PATH = /tmp/x/\r\n");
    file.close();
    const Configuration c = readConfiguration(file.fileName(), defaults);
    QCOMPARE(c.imageDirectory, QStringLiteral("/tmp/x/"));
    QCOMPARE(c.screenshotButtonVisible, false);
    QCOMPARE(file.size(), qint64(39)); // never written
}

QTEST_APPLESS_MAIN(TestConfiguration)
#include "tst_configuration.moc"
