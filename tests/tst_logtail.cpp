// LogTail following a log that a writer process (a shell) truncates,
// rewrites, rotates or replaces by a directory: every line is handed on, and
// each restart is said where it happens. LogReader: a line break split
// between two blocks.

#include "logio/logtail.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Lines handed on, with the tail's messages among them as "<...>".
struct Recorder : LogTail::Sink {
    QStringList lines;
    QString current;

    void text(QStringView piece) override { current += piece; }
    void lineEnd() override {
        lines << current;
        current.clear();
    }
    void restarted(LogReader::Restart why) override {
        lines << (why == LogReader::Restart::Truncated   ? QStringLiteral("<truncated>")
                  : why == LogReader::Restart::Rewritten ? QStringLiteral("<rewritten>")
                                                         : QStringLiteral("<replaced>"));
    }
    void waiting(const QString &why) override { lines << QStringLiteral("<%1>").arg(why); }
};

QStringList numbered(const char *prefix, int count) {
    QStringList lines;
    for (int i = 1; i <= count; ++i)
        lines << QStringLiteral("%1 %2").arg(QLatin1String(prefix)).arg(i);
    return lines;
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray textOf(const QStringList &lines) {
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

// The writer keeps the log open as fd 3, renames it away, makes a new empty
// log and after a pause of 50 ms appends "old 1" .. "old 20" to the old one,
// one every 15 ms or more: for 0.35 s at least.
const QString RotateAndGoOn = QStringLiteral(
    "exec 3>>pass.log; mv pass.log pass.log.1; : > pass.log; sleep 0.05\n"
    "i=1; while [ $i -le 20 ]; do echo \"old $i\" >&3; sleep 0.015; i=$((i+1)); done\n");

constexpr int Meanwhile = 0, After = 1, AtFinish = 2; // when the tail looks

} // namespace

class TestLogTail : public QObject {
    Q_OBJECT
private slots:
    void followsWhatTheWriterDoes_data();
    void followsWhatTheWriterDoes();
    void lineBreakAcrossBlocks();
};

void TestLogTail::followsWhatTheWriterDoes_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("script"); // run in the log's folder
    QTest::addColumn<int>("graceMs");
    // When the tail looks: while the writer works, once it is done, or only
    // when the tail finishes.
    QTest::addColumn<int>("looks");
    QTest::addColumn<QStringList>("expected");

    const QStringList a100 = numbered("a", 100);
    const QStringList old20 = numbered("old", 20);
    const QString replaced = "<replaced>";
    QTest::newRow("last line unfinished, truncated to empty, refilled with more")
        << textOf(a100).chopped(1) << "cat b400.txt > pass.log" << 1000 << After
        << a100 + QStringList{"<rewritten>"} + numbered("b", 400);
    const QStringList x400 = numbered("b", 399) << "x 400";
    QTest::newRow("rewritten in place, same size, only its end differs")
        << textOf(x400) << "cat b400.txt 1<> pass.log" << 1000 << After
        << x400 + QStringList{"<rewritten>"} + numbered("b", 400);
    QTest::newRow("shortened by one byte: the last line waits for its end")
        << QByteArray("a 1\na 2\n") << "truncate -s -1 pass.log" << 1000 << Meanwhile
        << (numbered("a", 2) << "<truncated>" << numbered("a", 2));
    QTest::newRow("renamed away, writer goes on in the old file, ends it unfinished, reopens")
        << QByteArray()
        << RotateAndGoOn + "printf 'old end' >&3; exec 3>>pass.log; echo 'new 1' >&3" << 1000
        << Meanwhile << old20 + QStringList{"old end", replaced, "new 1"};
    // The grace time counts from the rotation, not from the old file's last
    // line, and again from each line the old file gets after it.
    QTest::newRow("quiet, renamed away, new file stays empty: switch after the grace time")
        << QByteArray() << "sleep 0.3; " + RotateAndGoOn << 200 << Meanwhile
        << old20 + QStringList{replaced};
    // Renamed away, a new log filled and the old one appended to (more than a
    // slice: 360 kB) before the tail looks again: the old one is read to its
    // end first.
    const QString lateInOld =
        QStringLiteral("exec 3>>pass.log; mv pass.log pass.log.1; "
                       "echo 'new 1' > pass.log; seq -f 'old %g' 2 40000 >&3");
    const QStringList oldThenNew = numbered("old", 40000) << replaced << "new 1";
    QTest::newRow("rotated and both written between two looks")
        << QByteArray("old 1\n") << lateInOld << 1000 << After << oldThenNew;
    QTest::newRow("rotated and both written, then the tail finishes")
        << QByteArray("old 1\n") << lateInOld << 1000 << AtFinish << oldThenNew;
    QTest::newRow("replaced by a directory for a while")
        << QByteArray("old 1\n")
        << QStringLiteral("mv pass.log pass.log.1; mkdir pass.log; sleep 0.2; rmdir pass.log; "
                          "echo 'new 1' > pass.log")
        << 1000 << Meanwhile << QStringList{"old 1", "<is a directory now>", replaced, "new 1"};
}

void TestLogTail::followsWhatTheWriterDoes() {
    QFETCH(QByteArray, before);
    QFETCH(QString, script);
    QFETCH(int, graceMs);
    QFETCH(int, looks);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("pass.log")), before));
    QVERIFY(writeFile(dir.filePath("b400.txt"), textOf(numbered("b", 400)))); // for the writer

    Recorder recorder;
    LogTail tail(QFile::encodeName(dir.filePath(QStringLiteral("pass.log"))), recorder);
    tail.setPollInterval(20);
    tail.setGraceTime(graceMs);
    QVERIFY(tail.open());
    QVERIFY(tail.look());
    if (looks == Meanwhile)
        tail.follow();
    QProcess writer;
    writer.setWorkingDirectory(dir.path());
    writer.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
    QVERIFY(QTest::qWaitFor([&] { return writer.state() == QProcess::NotRunning; }, 5000));
    QCOMPARE(writer.exitCode(), 0);
    if (looks == After)
        tail.follow();
    // All arrives while following (an unfinished last line as it is so far).
    const auto allArrived = [&] {
        return recorder.lines.size() + (recorder.current.isEmpty() ? 0 : 1) == expected.size();
    };
    QVERIFY2(looks == AtFinish || QTest::qWaitFor(allArrived, 5000),
             qPrintable(recorder.lines.join(QLatin1Char(','))));
    QVERIFY(tail.finish()); // hands on the unfinished last line as a line
    QCOMPARE(recorder.lines, expected);
}

// A CR that ends one block and the LF that starts the next are one line break.
void TestLogTail::lineBreakAcrossBlocks() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("blocks.log"));
    QVERIFY(writeFile(path, QByteArray(LogReader::BlockSize - 1, 'x') + "\r\nnext\n"));
    Recorder recorder;
    LogReader reader;
    QVERIFY(reader.open(QFile::encodeName(path)));
    QVERIFY(reader.readAvailable(recorder));
    reader.finish(recorder);
    QCOMPARE(recorder.lines, (QStringList{QString(LogReader::BlockSize - 1, QLatin1Char('x')),
                                          QStringLiteral("next")}));
}

QTEST_GUILESS_MAIN(TestLogTail)
#include "tst_logtail.moc"
