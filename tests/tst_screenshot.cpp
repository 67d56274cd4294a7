// The screenshot button: bitmap file, status line, converter command line
// and the messages when something goes wrong.

#include "app/form1.h"
#include "app/module1.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

struct BoxSeen {
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

} // namespace

class TestScreenshot : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void savesTodaysBitmap();
    void pictureFollowsWindowSize();
    void converterCommandLine_data();
    void converterCommandLine();
    void converterMissing();
    void unwritableDirectory_data();
    void unwritableDirectory();
    void sameDayReplacesNextDayStartsNewFile();

private:
    void openWindow(const QString &imageDirectory);
    BoxSeen clickScreenshot();
    QString recordedArguments(); // what the stand-in converter received, one per line
    QString label3() { return window->findChild<QLabel *>(QStringLiteral("Label3"))->text(); }

    QTemporaryDir sandbox;
    QString standInBin;
    QString argumentsFile;
    QByteArray originalPath;
    std::unique_ptr<Form1> window;
};

void TestScreenshot::initTestCase() {
    QVERIFY(sandbox.isValid());
    originalPath = qgetenv("PATH");
    // A stand-in converter that writes down the arguments it receives.
    standInBin = sandbox.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(standInBin));
    argumentsFile = sandbox.filePath(QStringLiteral("arguments.txt"));
    QFile script(standInBin + QStringLiteral("/nconvert"));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                 argumentsFile.toLocal8Bit() + ".part\"\nmv \"" + argumentsFile.toLocal8Bit() +
                 ".part\" \"" + argumentsFile.toLocal8Bit() + "\"\n");
    script.close();
    script.setPermissions(script.permissions() | QFile::ExeOwner | QFile::ExeUser);
}

void TestScreenshot::init() {
    qputenv("PATH", standInBin.toLocal8Bit() + ":" + originalPath);
    QFile::remove(argumentsFile);
}

void TestScreenshot::cleanup() {
    window.reset();
    QFile::remove(QCoreApplication::applicationDirPath() + QStringLiteral("/conf.ini"));
    qputenv("PATH", originalPath);
}

void TestScreenshot::openWindow(const QString &imageDirectory) {
    QFile conf(QCoreApplication::applicationDirPath() + QStringLiteral("/conf.ini"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("SCREENSHOT = YES\r\nIMAGE_PATH = " + imageDirectory.toUtf8() + "\r\n");
    conf.close();
    window = std::make_unique<Form1>();
    window->screenshotExport().setDateSource([] { return QDate(2026, 12, 5); });
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

BoxSeen TestScreenshot::clickScreenshot() {
    BoxSeen box;
    QObject guard;
    QTimer::singleShot(100, &guard, [&box] {
        if (auto *shown = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            box = {true, shown->windowTitle(), shown->text(), shown->icon()};
            shown->accept();
        }
    });
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    QTest::qWait(150);
    return box;
}

QString TestScreenshot::recordedArguments() {
    QFile file(argumentsFile);
    if (!QTest::qWaitFor([&] { return file.exists(); }, 5000))
        return QString();
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readAll());
}

void TestScreenshot::savesTodaysBitmap() {
    const QString dir = sandbox.filePath(QStringLiteral("shots/"));
    QVERIFY(QDir().mkpath(dir));
    openWindow(dir);
    const BoxSeen box = clickScreenshot();
    QVERIFY(!box.seen);
    const QString path = dir + QStringLiteral("kadrin_05122026.bmp");
    QCOMPARE(label3(), path + QStringLiteral(" saved"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.read(2), QByteArray("BM"));
    const QImage image(path);
    QCOMPARE(image.size(), QSize(655, 783));
    QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList{QStringLiteral("kadrin_05122026.bmp")});
}

void TestScreenshot::pictureFollowsWindowSize() {
    const QString dir = sandbox.filePath(QStringLiteral("resized/"));
    QVERIFY(QDir().mkpath(dir));
    openWindow(dir);
    const int menuHeight = window->height() - window->centralWidget()->height();
    window->resize(800, 900 + menuHeight);
    QTRY_COMPARE(window->centralWidget()->size(), QSize(800, 900));
    clickScreenshot();
    QCOMPARE(QImage(dir + QStringLiteral("kadrin_05122026.bmp")).size(), QSize(800, 900));
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("Picture2"))->size(), QSize(800, 900));
}

void TestScreenshot::converterCommandLine_data() {
    QTest::addColumn<QString>("folder");
    QTest::newRow("plain path") << QStringLiteral("plain/");
    QTest::newRow("path with blanks") << QStringLiteral("my shots/pass 12/");
}

void TestScreenshot::converterCommandLine() {
    QFETCH(QString, folder);
    const QString dir = sandbox.filePath(folder);
    QVERIFY(QDir().mkpath(dir));
    openWindow(dir);
    clickScreenshot();
    const QString path = dir + QStringLiteral("kadrin_05122026.bmp");
    QCOMPARE(recordedArguments(),
             QStringLiteral("-out\npng\n-transpcolor\n240\n240\n240\n-colors\n256\n-crop\n1\n110\n"
                            "652\n646\n-quiet\n-D\n") +
                 path + QLatin1Char('\n'));
    QCOMPARE(label3(), path + QStringLiteral(" saved"));
}

void TestScreenshot::converterMissing() {
    const QString dir = sandbox.filePath(QStringLiteral("noconverter/"));
    QVERIFY(QDir().mkpath(dir));
    const QString emptyBin = sandbox.filePath(QStringLiteral("emptybin"));
    QVERIFY(QDir().mkpath(emptyBin));
    openWindow(dir);
    qputenv("PATH", emptyBin.toLocal8Bit());
    const BoxSeen box = clickScreenshot();
    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.text, QStringLiteral("nconvert.exe not found"));
    QCOMPARE(box.icon, QMessageBox::Information);
    const QString path = dir + QStringLiteral("kadrin_05122026.bmp");
    QVERIFY(QFile::exists(path));
    QCOMPARE(label3(), path + QStringLiteral(" saved"));
}

void TestScreenshot::unwritableDirectory_data() {
    QTest::addColumn<QString>("imageDirectory");
    QTest::newRow("directory missing") << sandbox.filePath(QStringLiteral("nowhere/at all/"));
    QTest::newRow("a file in the way") << sandbox.filePath(QStringLiteral("arguments.blocker/"));
    QTest::newRow("read-only file system") << QStringLiteral("/proc/");
}

void TestScreenshot::unwritableDirectory() {
    QFETCH(QString, imageDirectory);
    QFile blocker(sandbox.filePath(QStringLiteral("arguments.blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    openWindow(imageDirectory);
    const BoxSeen box = clickScreenshot();
    const QString path = imageDirectory + QStringLiteral("kadrin_05122026.bmp");
    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QVERIFY2(box.text.contains(path), qPrintable(box.text));
    QCOMPARE(label3(), QStringLiteral("Not saved: ") + path);
    QVERIFY(!QFile::exists(path));
    QTest::qWait(200);
    QVERIFY2(!QFile::exists(argumentsFile), "the converter must not be started");
}

void TestScreenshot::sameDayReplacesNextDayStartsNewFile() {
    const QString dir = sandbox.filePath(QStringLiteral("midnight/"));
    QVERIFY(QDir().mkpath(dir));
    openWindow(dir);
    QDate today(2026, 12, 5);
    window->screenshotExport().setDateSource([&today] { return today; });
    clickScreenshot();
    const QString first = dir + QStringLiteral("kadrin_05122026.bmp");
    QFile::resize(first, 10); // spoil it: the next click of the day must replace it
    clickScreenshot();
    QCOMPARE(QImage(first).size(), QSize(655, 783));
    today = QDate(2026, 12, 6); // past midnight
    clickScreenshot();
    QCOMPARE(label3(), dir + QStringLiteral("kadrin_06122026.bmp saved"));
    QCOMPARE(QDir(dir).entryList(QDir::Files),
             (QStringList{QStringLiteral("kadrin_05122026.bmp"),
                          QStringLiteral("kadrin_06122026.bmp")}));
    QCOMPARE(QImage(first).size(), QSize(655, 783)); // yesterday's picture untouched
}

QTEST_MAIN(TestScreenshot)
#include "tst_screenshot.moc"
