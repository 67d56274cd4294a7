// kadrin-decode run as a real process: golden outputs, exit statuses, files,
// output that cannot be written, following a growing log, damaged
// recordings, and runs stopped by a signal.

#include "cwaudio/audiofile.h"
#include "cwgen/generator.h"

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

const QString Program = QStringLiteral(KADRIN_DECODE_PATH);
const QString DataDir = QStringLiteral(KADRIN_DATA_DIR);
const QByteArray Frame = "SKADRIN4JJCCDDCA1238DC24FFF";

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run decode(const QStringList &arguments, const QByteArray &input = QByteArray(),
           const QString &directory = QString(), const QString &program = Program) {
    QProcess process;
    process.setWorkingDirectory(directory);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

QByteArray contentOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool write(const QString &path, const QByteArray &bytes, QIODevice::OpenMode mode) {
    QFile file(path);
    return file.open(mode) && file.write(bytes) == bytes.size();
}

const QString Symbols = QStringLiteral("2J6467YDPYZJ72P48QD7");

// A recording of the frame, keyed `repeats` times in clean noise with
// gapSeconds before, between and after.
cwgen::Generator recording(int repeats, double gapSeconds) {
    cwgen::Settings settings;
    settings.snrDb = 10;
    settings.gapSeconds = gapSeconds;
    settings.seed = 2; // the drift found is a little below 0
    cwgen::Generator generator;
    generator.plan(settings, QStringList(repeats, "S KADRIN " + Symbols));
    return generator;
}

// A WAV of 32-bit float mono samples at 8 kHz.
QByteArray floatWav(const std::vector<float> &samples) {
    QByteArray wav;
    QDataStream out(&wav, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.setFloatingPointPrecision(QDataStream::SinglePrecision);
    const quint32 bytes = quint32(samples.size() * 4);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + bytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(3) << quint16(1) << quint32(8000) << quint32(32000) << quint16(4)
        << quint16(32);
    out.writeRawData("data", 4);
    out << bytes;
    for (float sample : samples)
        out << sample;
    return wav;
}

// Waits until the process catches the signal and is in the system call
// that opens a file (a FIFO without a writer: it stays there).
bool opening(qint64 pid, int signal) {
    return QTest::qWaitFor(
        [&] {
            const QByteArray status = contentOf(QStringLiteral("/proc/%1/status").arg(pid));
            const qsizetype at = status.indexOf("SigCgt:");
            const quint64 caught = status.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16);
            return at >= 0 && (caught >> (signal - 1) & 1) &&
                   contentOf(QStringLiteral("/proc/%1/syscall").arg(pid))
                       .startsWith(QByteArray::number(SYS_openat) + ' ');
        },
        5000);
}

} // namespace

class TestKadrinDecode : public QObject {
    Q_OBJECT
private slots:
    void goldenOutput_data();
    void goldenOutput();
    void exitStatus_data();
    void exitStatus();
    void filesAndTheirNames();
    void outputThatCannotBeWritten_data();
    void outputThatCannotBeWritten();
    void followsAGrowingLog();
    void damagedRecordings_data();
    void damagedRecordings();
    void stopsWhenAsked_data();
    void stopsWhenAsked();
    void durations();
};

// The sample log and its outputs, checked by hand against the beacon format.
void TestKadrinDecode::goldenOutput_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("golden"); // sample-beacons.<golden>
    QTest::newRow("report") << QStringList() << "report.txt";
    QTest::newRow("csv") << QStringList{"--csv"} << "csv";
    QTest::newRow("json") << QStringList{"--json"} << "jsonl";
    QTest::newRow("status") << QStringList{"--status"} << "status.txt";
}

void TestKadrinDecode::goldenOutput() {
    QFETCH(QStringList, options);
    QFETCH(QString, golden);
    const Run run = decode(options + QStringList{"sample-beacons.txt"}, QByteArray(), DataDir);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, contentOf(DataDir + "/sample-beacons." + golden));
    QCOMPARE(run.err, options.contains("--status")
                          ? QByteArray("57 frames (7 with unreadable symbols), 4 near misses, "
                                       "5 other lines\n")
                          : QByteArray());
}

void TestKadrinDecode::exitStatus_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("outStart");

    const QByteArray none;
    QTest::newRow("a frame") << QStringList() << Frame << 0 << QByteArray("CW beacon: S");
    QTest::newRow("no frame") << QStringList() << QByteArray("QST\nKADRIN\n") << 1 << none;
    QTest::newRow("help") << QStringList{"--help"} << none << 0
                          << QByteArray("Usage: kadrin-decode");
    QTest::newRow("version") << QStringList{"--version"} << none << 0
                             << QByteArray("kadrin-decode Ver. 0.1 (30 June 2014)\n");
    QTest::newRow("unknown option") << QStringList{"--xml"} << Frame << 2 << none;
    QTest::newRow("two formats") << QStringList{"--csv", "--status"} << Frame << 2 << none;
    QTest::newRow("follow standard input") << QStringList{"--follow"} << Frame << 2 << none;
    QTest::newRow("binary input") << QStringList() << QByteArray("\x00\xff\xfe\x01KADRIN\x00", 11)
                                  << 1 << none;
}

void TestKadrinDecode::exitStatus() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, outStart);
    const Run run = decode(arguments, input);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.out.startsWith(outStart), run.out.left(200).constData());
    if (exitCode == 2)
        QVERIFY(run.err.startsWith("kadrin-decode: "));
}

// Files that cannot be read are named and skipped, the others decoded; a
// name that is not UTF-8 still opens, and a name with a line break is one
// CSV field.
void TestKadrinDecode::filesAndTheirNames() {
    QTemporaryDir dir;
    const QByteArray odd = QFile::encodeName(dir.path()) + "/log\xff.txt";
    const QString quoted = dir.filePath("pass\n1.txt"); // a line break: quoted
    QVERIFY(write(quoted, Frame + "\n" + Frame + "\n", QIODevice::WriteOnly));
    const QString missing = dir.filePath("missing.txt");
    const Run run = decode({"--csv", missing, dir.path(), quoted});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(missing.toUtf8() + ": cannot read: No such file or directory"),
             run.err);
    QVERIFY2(run.err.contains(dir.path().toUtf8() + ": cannot read: Is a directory"), run.err);
    QVERIFY2(run.out.endsWith(",\"" + quoted.toUtf8() + "\",2\r\n"), run.out);
    QVERIFY(run.out.contains("\r\n2,KADRIN4JJCCDDCA1238DC24FFF,"));

    // The name's bytes reach the program through a script (QProcess would
    // re-encode an argument).
    const QString script = dir.filePath("run.sh");
    QVERIFY(write(script,
                  "printf %s " + Frame + " > '" + odd + "'; exec '" + QFile::encodeName(Program) +
                      "' --status '" + odd + "'\n",
                  QIODevice::WriteOnly));
    const Run named = decode({script}, {}, {}, "/bin/sh");
    ::unlink(odd.constData()); // QTemporaryDir cannot remove a name that is not UTF-8
    QCOMPARE(named.exitCode, 0);
    QCOMPARE(named.out, odd + ":1: frame 1\n");
}

// Output that is lost is an error, never success; a closed pipe ends the
// program at once, as it ends any filter.
void TestKadrinDecode::outputThatCannotBeWritten_data() {
    QTest::addColumn<QString>("command");  // %1: kadrin-decode, %2: a long log
    QTest::addColumn<QByteArray>("cause"); // empty: ended by SIGPIPE
    // The shell reports the program's status after the pipe's reader is gone.
    const QString pipe = "'%1' '%2' | head -c 1 >/dev/null; echo ${PIPESTATUS[0]}";
    QTest::newRow("disk full") << "'%1' --csv '%2' > /dev/full; echo $?"
                               << QByteArray("No space left on device");
    QTest::newRow("standard output closed")
        << "'%1' --csv '%2' >&-; echo $?" << QByteArray("Bad file descriptor");
    QTest::newRow("broken pipe, SIGPIPE ignored")
        << "trap '' PIPE; " + pipe << QByteArray("Broken pipe");
    QTest::newRow("broken pipe") << pipe << QByteArray();
}

void TestKadrinDecode::outputThatCannotBeWritten() {
    QFETCH(QString, command);
    QFETCH(QByteArray, cause);
    QTemporaryDir dir;
    const QString log = dir.filePath("big.txt");
    QVERIFY(write(log, QByteArray(Frame + "\n").repeated(20000), QIODevice::WriteOnly));
    const Run run = decode({"-c", command.arg(Program, log)}, {}, {}, "bash");
    if (cause.isEmpty()) {
        QCOMPARE(run.out.trimmed(), QByteArray::number(128 + SIGPIPE));
        return;
    }
    QCOMPARE(run.out.trimmed(), QByteArray("2"));
    QCOMPARE(run.err, "kadrin-decode: cannot write to standard output: " + cause + "\n");
}

// A writer appends whole lines, a line in two parts, truncates the log,
// rotates it, rewrites it in place, replaces it by a directory for a while
// and leaves a last line without its line end when the run is ended; every
// frame is written once, in order, and each change is said.
void TestKadrinDecode::followsAGrowingLog() {
    QTemporaryDir dir;
    const QString log = dir.filePath("pass.log");
    QVERIFY(write(log, Frame + "\nnoise\n", QIODevice::WriteOnly));
    QProcess follower;
    follower.setWorkingDirectory(dir.path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KADRIN_FOLLOW_POLL_MS", "50");
    follower.setProcessEnvironment(environment);
    follower.start(Program, {"--status", "--follow", "pass.log"});
    QByteArray out, err;
    const auto waitFor = [&](const QByteArray &expected, QByteArray *stream = nullptr) {
        return QTest::qWaitFor(
            [&] {
                out += follower.readAllStandardOutput();
                err += follower.readAllStandardError();
                return (stream ? *stream : out).endsWith(expected);
            },
            5000);
    };
    QVERIFY2(waitFor("pass.log:1: frame 1\npass.log:2: other\n"), out);

    QVERIFY(write(log, Frame.toLower() + "\n", QIODevice::Append));
    QVERIFY2(waitFor("pass.log:3: frame 2\n"), out);
    QVERIFY(write(log, Frame.left(12), QIODevice::Append));
    QTest::qWait(300); // longer than the follower waits between looks
    out += follower.readAllStandardOutput();
    QVERIFY2(out.endsWith("pass.log:3: frame 2\n"), out); // the half line waits
    QVERIFY(write(log, Frame.mid(12) + "\n", QIODevice::Append));
    QVERIFY2(waitFor("pass.log:4: frame 3\n"), out);

    QVERIFY(write(log, "KADRIN\n" + Frame + "\n", QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY2(waitFor("pass.log:1: near miss: no S before KADRIN\npass.log:2: frame 4\n"), out);
    QVERIFY(QFile::rename(log, log + ".1"));
    QVERIFY(write(log, Frame + "\n", QIODevice::WriteOnly));
    QVERIFY2(waitFor("pass.log:1: frame 5\n"), out);
    QVERIFY(write(log, Frame.toLower() + "\n", QIODevice::ReadWrite)); // same size, in place
    QVERIFY2(waitFor("pass.log:1: frame 6\n"), out);

    QVERIFY(QFile::rename(log, log + ".2"));
    QVERIFY(QDir(dir.path()).mkdir("pass.log"));
    QVERIFY2(waitFor("is a directory now; waiting for the log to come back\n", &err), err);
    QVERIFY(QDir(dir.path()).rmdir("pass.log"));
    QVERIFY(write(log, Frame + "\n" + Frame, QIODevice::WriteOnly));
    QVERIFY2(waitFor("pass.log:1: frame 7\n"), out);

    ::kill(pid_t(follower.processId()), SIGTERM);
    QVERIFY(follower.waitForFinished());
    QCOMPARE(follower.exitStatus(), QProcess::NormalExit);
    QCOMPARE(follower.exitCode(), 0);
    // The last line, without its line end, is decoded as a run without
    // --follow decodes it.
    QCOMPARE(follower.readAllStandardOutput(), QByteArray("pass.log:2: frame 8\n"));
    QCOMPARE(err + follower.readAllStandardError(),
             "kadrin-decode: pass.log: file truncated; reading it again from its start\n"
             "kadrin-decode: pass.log: file replaced; reading the new file from its start\n"
             "kadrin-decode: pass.log: file rewritten; reading it again from its start\n"
             "kadrin-decode: pass.log: is a directory now; waiting for the log to come back\n"
             "kadrin-decode: pass.log: file replaced; reading the new file from its start\n"
             "8 frames (0 with unreadable symbols), 1 near miss, 1 other line\n");
}

// What a damaged recording holds is copied, and the damage said: a file cut
// short is an error; a WAV header without the length, as a recorder that
// was killed leaves it, or a sample that is no number (read as a dropout)
// is not. A --start whose lines would pass the year 9999 is refused.
void TestKadrinDecode::damagedRecordings_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("said");
    QTest::newRow("FLAC cut short")
        << "cut.flac" << 2 << QByteArray("cannot read: damaged audio after ");
    QTest::newRow("OGG cut short")
        << "cut.ogg" << 2 << QByteArray("cannot read: truncated after 31 s\n");
    const QByteArray noLength = "its header gives no length of the audio (a recording not "
                                "closed properly); read to the end of the file\n";
    QTest::newRow("WAV data size 0xFFFFFFFF") << "ffffffff.wav" << 0 << noLength;
    QTest::newRow("WAV data size 0") << "00000000.wav" << 0 << noLength;
    QTest::newRow("a NaN in a float WAV")
        << "nan.wav" << 0
        << QByteArray("1 sample was no number (NaN or infinite) and read as silence\n");
    QTest::newRow("--start past 9999")
        << "late.wav" << 2 << QByteArray("would be dated after 9999-12-31 23:59:59");
}

void TestKadrinDecode::damagedRecordings() {
    QFETCH(QString, damage);
    QFETCH(int, status);
    QFETCH(QByteArray, said);
    QTemporaryDir dir;
    const QString path = dir.filePath(damage);
    cwgen::Generator generator = recording(1, 6.5);
    QString error;
    if (damage == "nan.wav") {
        std::vector<float> samples = generator.samples();
        samples[24000] = std::numeric_limits<float>::quiet_NaN(); // in the noise before the frame
        QVERIFY(write(path, floatWav(samples), QIODevice::WriteOnly));
    } else {
        QVERIFY2(cwgen::writeFile(generator, path, &error), qPrintable(error));
    }
    if (damage.startsWith("cut")) { // 6.5 s of noise after the frame, cut in them
        QVERIFY(QFile::resize(path, QFileInfo(path).size() * 9 / 10));
    } else if (damage.startsWith("ffff") || damage.startsWith("0000")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(40)); // the data chunk's size
        QVERIFY(file.write(QByteArray::fromHex(damage.left(8).toLatin1())) == 4);
    }
    const bool late = damage == "late.wav";
    const Run run = decode({"--audio", "--copy", "--start",
                            late ? "9999-12-31T23:59:40Z" : "2026-12-05T21:07:50Z", path});
    QCOMPARE(run.exitCode, status);
    QVERIFY2(run.err.contains(said) && !run.err.contains("-0.0"), run.err);
    const QDateTime keyed = QDateTime(QDate(2026, 12, 5), QTime(21, 7, 50), Qt::UTC)
                                .addSecs(qint64(generator.transmissions()[0].start));
    QCOMPARE(run.out, late ? QByteArray()
                           : keyed.toString("yyyy-MM-dd HH:mm:ss").toLatin1() + "  S KADRIN " +
                                 Symbols.toLatin1() + "\n");
}

// SIGINT and SIGTERM stop a run at once, each line copied so far written
// and the stop said; so does the first write that fails. A FIFO nobody
// writes to is waited for until then.
void TestKadrinDecode::stopsWhenAsked_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("signal"); // 0: the output is a full disk
    QTest::addColumn<int>("status");
    const QStringList audio = {"--audio", "--copy"};
    QTest::newRow("recording, SIGINT") << "long.wav" << audio << SIGINT << 130;
    QTest::newRow("recording, SIGTERM") << "long.wav" << audio << SIGTERM << 143;
    QTest::newRow("recording, disk full")
        << "long.wav" << QStringList{"--audio", "--json"} << 0 << 2;
    QTest::newRow("FIFO without a writer, SIGINT") << "fifo" << QStringList() << SIGINT << 130;
    QTest::newRow("FIFO without a writer, recording, SIGTERM") << "fifo" << audio << SIGTERM << 143;
}

void TestKadrinDecode::stopsWhenAsked() {
    QFETCH(QString, input);
    QFETCH(QStringList, options);
    QFETCH(int, signal);
    QFETCH(int, status);
    QTemporaryDir dir;
    const QString path = dir.filePath(input);
    if (input == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else {
        cwgen::Generator generator = recording(10, 2.5); // copied in about half a second, or longer
        QString error;
        QVERIFY2(cwgen::writeFile(generator, path, &error), qPrintable(error));
    }
    QProcess process;
    if (!signal)
        process.setStandardOutputFile("/dev/full");
    process.start(Program, options + QStringList{path});
    QVERIFY(process.waitForStarted());
    if (signal) {
        // The first frame's line comes as soon as it is copied.
        QVERIFY(input == "fifo" ? opening(process.processId(), signal)
                                : process.waitForReadyRead(5000));
        ::kill(pid_t(process.processId()), signal);
    }
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    const QByteArray err = process.readAllStandardError();
    if (signal && input != "fifo") // stopped before the recording's end
        QVERIFY2(err.contains(" of audio (interrupted), "), err);
    if (signal)
        QVERIFY2(err.endsWith("kadrin-decode: interrupted by " +
                              QByteArray(signal == SIGINT ? "SIGINT" : "SIGTERM") +
                              "; what was read before is decoded and written\n"),
                 err);
    else
        QVERIFY2(err.contains("kadrin-decode: cannot write to standard output: No space left on "
                              "device\n") &&
                     err.contains(" of audio (stopped: the output cannot be written)"),
                 err);
}

void TestKadrinDecode::durations() {
    QCOMPARE(clockDuration(65.4), QByteArray("1:05"));
    QCOMPARE(clockDuration(36031), QByteArray("10:00:31"));
}

QTEST_GUILESS_MAIN(TestKadrinDecode)
#include "tst_kadrindecode.moc"
