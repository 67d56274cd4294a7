// The screenshot button: bitmap file, status line, converter command line,
// and every way the save can fail.

#include "app/form1.h"
#include "windowtest.h"

#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

using namespace windowtest;

namespace {

const QString Name = QStringLiteral("kadrin_05122026.bmp");

} // namespace

class TestScreenshot : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void savesTheBitmapAndStartsTheConverter_data();
    void savesTheBitmapAndStartsTheConverter();
    void converterMissing();
    void cannotBeWritten_data();
    void cannotBeWritten();
    void diskFull();
    void refusesASymbolicLink();
    void newFileAfterMidnight();

private:
    void openWindow(const QString &imageDirectory);
    BoxSeen clickScreenshot();
    QString recordedArguments(); // what the stand-in converter received, one per line
    QString label3() { return statusText(window.get()); }
    // Where the button saves today (the name itself is checked once, in
    // savesTheBitmapAndStartsTheConverter).
    QString shot(const QString &folder) { return window->screenshotExport().savePath(folder); }
    void expectFailure(const QString &path, const QString &reason);

    QTemporaryDir sandbox;
    QString standInBin;
    QString argumentsFile;
    QByteArray originalPath;
    QDate today{2026, 12, 5};
    std::unique_ptr<Form1> window;
};

void TestScreenshot::initTestCase() {
    QVERIFY(sandbox.isValid());
    originalPath = qgetenv("PATH");
    // A stand-in converter that writes down the arguments it receives.
    standInBin = sandbox.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(standInBin));
    argumentsFile = sandbox.filePath(QStringLiteral("arguments.txt"));
    const QByteArray out = argumentsFile.toLocal8Bit();
    const QString script = standInBin + "/nconvert";
    QVERIFY(writeFile(script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                                  out + ".part'\nmv '" + out + ".part' '" + out + "'\n"));
    QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void TestScreenshot::init() {
    qputenv("PATH", standInBin.toLocal8Bit() + ":" + originalPath);
    QFile::remove(argumentsFile);
    today = QDate(2026, 12, 5);
}

void TestScreenshot::cleanup() {
    window.reset();
    qputenv("PATH", originalPath);
}

void TestScreenshot::openWindow(const QString &imageDirectory) {
    window = std::make_unique<Form1>(Configuration{imageDirectory, true});
    window->screenshotExport().setDateSource([this] { return today; });
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

BoxSeen TestScreenshot::clickScreenshot() {
    BoxSeen box;
    answerBox(QMessageBox::Ok, &box);
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    forgetAnswers(); // a box comes during the click, or none
    return box;
}

QString TestScreenshot::recordedArguments() {
    QFile file(argumentsFile);
    if (!QTest::qWaitFor([&] { return file.exists(); }, 5000) || !file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readAll());
}

void TestScreenshot::savesTheBitmapAndStartsTheConverter_data() {
    QTest::addColumn<QString>("folder");
    QTest::newRow("plain path") << QStringLiteral("plain/");
    QTest::newRow("path with blanks") << QStringLiteral("my shots/pass 12/");
}

void TestScreenshot::savesTheBitmapAndStartsTheConverter() {
    QFETCH(QString, folder);
    const QString dir = sandbox.filePath(folder);
    QVERIFY(QDir().mkpath(dir));
    openWindow(dir);
    QVERIFY(!clickScreenshot().seen);
    const QString path = dir + Name;
    QCOMPARE(label3(), path + QStringLiteral(" saved"));
    QCOMPARE(QImage(path, "BMP").size(), QSize(655, 783));
    QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList{Name});
    QCOMPARE(recordedArguments(), "-out\npng\n-transpcolor\n240\n240\n240\n-colors\n256\n-crop\n1\n"
                                  "110\n652\n646\n-quiet\n-D\n" +
                                      path + '\n');
}

void TestScreenshot::converterMissing() {
    const QString dir = sandbox.filePath(QStringLiteral("noconverter/"));
    QVERIFY(QDir().mkpath(dir));
    openWindow(dir);
    qputenv("PATH", sandbox.filePath(QStringLiteral("nowhere")).toLocal8Bit());
    const BoxSeen box = clickScreenshot();
    QVERIFY(box.seen && box.title == QLatin1String("Error") &&
            box.icon == QMessageBox::Information);
    QCOMPARE(box.text, QStringLiteral("nconvert.exe not found"));
    QVERIFY(QFile::exists(shot(dir)));
    QCOMPARE(label3(), shot(dir) + QStringLiteral(" saved"));
}

// The box names the path and the cause; nothing claims " saved", nothing is
// left behind and the converter is not started.
void TestScreenshot::expectFailure(const QString &path, const QString &reason) {
    const BoxSeen box = clickScreenshot();
    QVERIFY(box.seen && box.title == QLatin1String("Error") && box.icon == QMessageBox::Warning);
    QVERIFY2(box.text.contains(path) && box.text.contains(reason), qPrintable(box.text));
    QCOMPARE(label3(), QStringLiteral("Not saved: ") + path);
    QTest::qWait(200);
    QVERIFY2(!QFile::exists(argumentsFile), "the converter must not be started");
}

void TestScreenshot::cannotBeWritten_data() {
    QTest::addColumn<QString>("imageDirectory");
    QTest::addColumn<QString>("reason");
    QTest::newRow("folder missing")
        << sandbox.filePath("nowhere/at all/") << "No such file or directory";
    QTest::newRow("read-only file system") << "/proc/" << QString();
}

void TestScreenshot::cannotBeWritten() {
    QFETCH(QString, imageDirectory);
    QFETCH(QString, reason);
    openWindow(imageDirectory);
    expectFailure(shot(imageDirectory), reason);
}

// A full disk is named as such, not as an unknown error.
void TestScreenshot::diskFull() {
    const QString dir = sandbox.filePath(QStringLiteral("small"));
    if (!mountSmallDisk(dir, QStringLiteral("64k")))
        QSKIP("needs to mount a small file system (root)");
    const auto unmount = unmountWhenDone(dir);
    openWindow(dir + QLatin1Char('/'));
    expectFailure(shot(dir + QLatin1Char('/')), QStringLiteral("No space left on device"));
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// Another user's link with the predictable name must not make the button
// overwrite the file it points to.
void TestScreenshot::refusesASymbolicLink() {
    const QString dir = sandbox.filePath(QStringLiteral("shared/"));
    QVERIFY(QDir().mkpath(dir));
    const QString victim = sandbox.filePath("operator-notes.txt");
    QVERIFY(writeFile(victim, "73 de QX0ZZ\n"));
    openWindow(dir);
    QVERIFY(QFile::link(victim, shot(dir)));
    expectFailure(shot(dir), QStringLiteral("is a symbolic link"));
    QCOMPARE(readFile(victim), QByteArray("73 de QX0ZZ\n"));
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 1);
}

// Same day: the day's file is replaced. Past midnight: a new file, and
// yesterday's stays as it was.
void TestScreenshot::newFileAfterMidnight() {
    const QString dir = sandbox.filePath(QStringLiteral("midnight/"));
    QVERIFY(QDir().mkpath(dir));
    openWindow(dir);
    clickScreenshot();
    QVERIFY(QFile::resize(dir + Name, 10)); // spoiled: the next click of the day replaces it
    clickScreenshot();
    QCOMPARE(QImage(dir + Name).size(), QSize(655, 783));
    today = QDate(2026, 12, 6);
    clickScreenshot();
    QCOMPARE(label3(), dir + QStringLiteral("kadrin_06122026.bmp saved"));
    QCOMPARE(QDir(dir).entryList(QDir::Files),
             (QStringList{Name, QStringLiteral("kadrin_06122026.bmp")}));
    QCOMPARE(QImage(dir + Name).size(), QSize(655, 783));
}

QTEST_MAIN(TestScreenshot)
#include "tst_screenshot.moc"
