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

// "<a|b>" in expected stands for "<a>" or "<b>": the writer's truncation and
// refill may come to the tail's look as one change or as two.
bool matches(const QStringList &lines, const QStringList &expected) {
    if (lines.size() != expected.size())
        return false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringList either = expected[i].contains(QLatin1Char('|'))
                                       ? expected[i].mid(1).chopped(1).split(QLatin1Char('|'))
                                       : QStringList{expected[i].mid(1).chopped(1)};
        if (lines[i] != expected[i] && !either.contains(lines[i].mid(1).chopped(1)))
            return false;
    }
    return true;
}

QStringList numbered(const char *prefix, int from, int to) {
    QStringList lines;
    for (int i = from; i <= to; ++i)
        lines << QStringLiteral("%1 %2").arg(QLatin1String(prefix)).arg(i);
    return lines;
}

QByteArray textOf(const QStringList &lines) {
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The shell lines that append "old 1" .. "old 20" to the writer's open
// file, a little at a time.
const QString OldLinesToFd3 = QStringLiteral(
    "i=1; while [ $i -le 20 ]; do echo \"old $i\" >&3; sleep 0.01; i=$((i+1)); done\n");

} // namespace

class TestLogTail : public QObject {
    Q_OBJECT
private slots:
    void followsWhatTheWriterDoes_data();
    void followsWhatTheWriterDoes();
    void lineBreakAcrossBlocks_data();
    void lineBreakAcrossBlocks();
};

void TestLogTail::followsWhatTheWriterDoes_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("script"); // $LOG is the log, new.txt the writer's new content
    QTest::addColumn<int>("graceMs");
    // Whether the tail looks while the writer works, or only at what it left.
    QTest::addColumn<bool>("looksMeanwhile");
    QTest::addColumn<QStringList>("expected");

    const QStringList a100 = numbered("a", 1, 100);
    const QStringList old20 = numbered("old", 1, 20);
    QTest::newRow("truncated to empty, refilled with more")
        << textOf(a100) << QStringLiteral("cat new400.txt > \"$LOG\"") << 1000 << false
        << a100 + QStringList{QStringLiteral("<truncated|rewritten>")} + numbered("b", 1, 400);
    QTest::newRow("rewritten in place, same size")
        << textOf(a100) << QStringLiteral("cat new100.txt 1<> \"$LOG\"") << 1000 << false
        << a100 + QStringList{QStringLiteral("<rewritten>")} + numbered("b", 1, 100);
    QTest::newRow("shortened by one byte: the last line waits for its end")
        << QByteArray("a 1\na 2\n") << QStringLiteral("truncate -s -1 \"$LOG\"") << 1000 << true
        << QStringList{QStringLiteral("a 1"), QStringLiteral("a 2"), QStringLiteral("<truncated>"),
                       QStringLiteral("a 1"), QStringLiteral("a 2")};
    QTest::newRow("renamed away, writer goes on in the old file, then reopens")
        << QByteArray()
        << QStringLiteral("exec 3>>\"$LOG\"; mv \"$LOG\" \"$LOG.1\"; : > \"$LOG\"\n") +
               OldLinesToFd3 + QStringLiteral("exec 3>>\"$LOG\"; echo 'new 1' >&3")
        << 1000 << true
        << old20 + QStringList{QStringLiteral("<replaced>"), QStringLiteral("new 1")};
    QTest::newRow("renamed away, new file stays empty: switch after the grace time")
        << QByteArray()
        << QStringLiteral("exec 3>>\"$LOG\"; mv \"$LOG\" \"$LOG.1\"; : > \"$LOG\"\n") +
               OldLinesToFd3
        << 400 << true << old20 + QStringList{QStringLiteral("<replaced>")};
    QTest::newRow("replaced by a directory for a while")
        << QByteArray("old 1\n")
        << QStringLiteral("mv \"$LOG\" \"$LOG.1\"; mkdir \"$LOG\"; sleep 0.3; rmdir \"$LOG\"; "
                          "echo 'new 1' > \"$LOG\"")
        << 1000 << true
        << QStringList{QStringLiteral("old 1"), QStringLiteral("<is a directory now>"),
                       QStringLiteral("<replaced>"), QStringLiteral("new 1")};
}

void TestLogTail::followsWhatTheWriterDoes() {
    QFETCH(QByteArray, before);
    QFETCH(QString, script);
    QFETCH(int, graceMs);
    QFETCH(bool, looksMeanwhile);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("pass.log"));
    QVERIFY(writeFile(log, before));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("new400.txt")), textOf(numbered("b", 1, 400))));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("new100.txt")), textOf(numbered("b", 1, 100))));

    Recorder recorder;
    LogTail tail(QFile::encodeName(log), recorder);
    tail.setPollInterval(20);
    tail.setGraceTime(graceMs);
    QVERIFY(tail.open());
    QVERIFY(tail.look());

    QProcess writer;
    writer.setWorkingDirectory(dir.path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LOG"), log);
    writer.setProcessEnvironment(environment);
    writer.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
    if (looksMeanwhile)
        tail.follow();
    QVERIFY(QTest::qWaitFor([&] { return writer.state() == QProcess::NotRunning; }, 5000));
    QCOMPARE(writer.exitCode(), 0);
    if (!looksMeanwhile)
        tail.follow();
    // Everything arrives while following; the unfinished last line counts.
    const auto seen = [&] {
        return recorder.current.isEmpty() ? recorder.lines
                                          : recorder.lines + QStringList{recorder.current};
    };
    QVERIFY2(QTest::qWaitFor([&] { return matches(seen(), expected); }, 5000),
             qPrintable(seen().join(QLatin1Char(','))));
    QVERIFY(tail.finish()); // hands on the unfinished last line as a line
    QVERIFY2(matches(recorder.lines, expected), qPrintable(recorder.lines.join(QLatin1Char(','))));
}

// A CR that ends one block and the LF that starts the next are one line
// break; a CR and another CR are two.
void TestLogTail::lineBreakAcrossBlocks_data() {
    const QString first(LogReader::BlockSize - 1, QLatin1Char('x'));
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("CR | LF") << QByteArray("\nnext\n")
                             << QStringList{first, QStringLiteral("next")};
    QTest::newRow("CR | CR") << QByteArray("\rnext\n")
                             << QStringList{first, QString(), QStringLiteral("next")};
}

void TestLogTail::lineBreakAcrossBlocks() {
    QFETCH(QByteArray, after);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("blocks.log"));
    QVERIFY(writeFile(path, QByteArray(LogReader::BlockSize - 1, 'x') + '\r' + after));
    Recorder recorder;
    LogReader reader;
    QVERIFY(reader.open(QFile::encodeName(path)));
    QVERIFY(reader.readAvailable(recorder));
    reader.finish(recorder);
    QCOMPARE(recorder.lines, expected);
}

QTEST_GUILESS_MAIN(TestLogTail)
#include "tst_logtail.moc"
