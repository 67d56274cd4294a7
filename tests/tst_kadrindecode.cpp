// kadrin-decode run as a real process: reports, CSV, JSON and exit codes.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run decode(const QStringList &arguments, const QByteArray &input = QByteArray()) {
    QProcess process;
    process.start(QStringLiteral(KADRIN_DECODE_PATH), arguments);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

const QByteArray Twos = "SKADRIN22222222222222222222";
// Position 10 "8" (-0.5), position 25 "6" (-25.15), position 16 a comma,
// position 23 "D" (not a wheel mode), position 24 "X" (no gyro level).
const QByteArray Mixed = "skadrin 2 2 2 8 2 2 2 2 2 , 2 2 2 2 2 2 D X 6 2";

const QByteArray TwosReport = "CW beacon: SKADRIN22222222222222222222\n"
                              "Satellite Mode: Normal Mode\n"
                              "Battery Voltage Cell 1: <= 3000 mV\n"
                              "Battery Voltage Cell 2: <= 3000 mV\n"
                              "Battery Temperature Cell 1: <= -20 C\n"
                              "Battery Temperature Cell 2: <= -20 C\n"
                              "Solar Panel 1 Temperature: <= -40 C\n"
                              "Solar Panel 2 Temperature: <= -40 C\n"
                              "Solar Panel 3 Temperature: <= -40 C\n"
                              "Solar Panel 4 Temperature: <= -40 C\n"
                              "MCU PWRS Temperature: <= -40 C\n"
                              "MCU OBDH Temperature: <= -40 C\n"
                              "MCU ADCS Temperature: <= -40 C\n"
                              "Magnetic Torquers Mode: sun tracking\n"
                              "Reaction Wheels Mode: sun tracking\n"
                              "Gyro X: <= -32 rad/s\n"
                              "Gyro Y: <= -32 rad/s\n"
                              "Gyro Z: <= -32 rad/s\n";

const QByteArray CsvHeader =
    "record,frame,Satellite Mode,Battery Voltage Cell 1,Battery Voltage Cell 2,"
    "Battery Temperature Cell 1,Battery Temperature Cell 2,Solar Panel 1 Temperature,"
    "Solar Panel 2 Temperature,Solar Panel 3 Temperature,Solar Panel 4 Temperature,"
    "MCU PWRS Temperature,MCU OBDH Temperature,MCU ADCS Temperature,Magnetic Torquers Mode,"
    "Reaction Wheels Mode,Gyro X,Gyro Y,Gyro Z\r\n";

} // namespace

class TestKadrinDecode : public QObject {
    Q_OBJECT
private slots:
    void reports();
    void csv();
    void json();
    void exitStatus_data();
    void exitStatus();
    void unreadableFileDoesNotStopOthers();
    void numberingAcrossFiles();
    void sampleLog();
    void binaryInputIsNamed();
};

void TestKadrinDecode::reports() {
    const Run run = decode({}, "noise\r\n" + Twos + "\r\n" + Twos.toLower() + "\n");
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, TwosReport + "\n" + TwosReport);
    QVERIFY(run.err.isEmpty());
}

void TestKadrinDecode::csv() {
    const Run run = decode({QStringLiteral("--csv")}, Twos + "\n" + Mixed + "\n");
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out,
             CsvHeader +
                 "1,KADRIN22222222222222222222,Normal Mode,2958,2958,-22,-22,-45,-45,-45,-45,"
                 "-45,-45,-45,sun tracking,sun tracking,-45,-45,-45\r\n"
                 "2,\"KADRIN222822222,222222DX62\",Normal Mode,2958,2958,-0.5,-22,-45,-45,"
                 "-45,-45,-45,-45,-45,sun tracking,,,-25.15,-45\r\n");
}

void TestKadrinDecode::json() {
    const Run run = decode({QStringLiteral("--json")}, Mixed + "\n" + Twos);
    QCOMPARE(run.exitCode, 0);
    const QList<QByteArray> lines = run.out.split('\n');
    QCOMPARE(lines.size(), 3); // two objects and the empty rest after the last LF
    QJsonParseError error;
    const QJsonObject first = QJsonDocument::fromJson(lines[0], &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(first[QLatin1String("record")].toInt(), 1);
    QCOMPARE(first[QLatin1String("frame")].toString(),
             QStringLiteral("KADRIN222822222,222222DX62"));
    const QJsonArray report = first[QLatin1String("report")].toArray();
    QCOMPARE(report.size(), 18);
    QCOMPARE(report[14].toString(), QStringLiteral("Reaction Wheels Mode: unknown (D)"));
    QCOMPARE(report[15].toString(), QStringLiteral("Gyro X: unknown(X)"));
    const QJsonObject values = first[QLatin1String("values")].toObject();
    QCOMPARE(values.size(), 17);
    QCOMPARE(values[QLatin1String("Battery Temperature Cell 1")].toDouble(), -0.5);
    QCOMPARE(values[QLatin1String("Gyro Y")].toDouble(), -25.15);
    QVERIFY(values[QLatin1String("Gyro X")].isNull());
    QVERIFY(values[QLatin1String("Reaction Wheels Mode")].isNull());
    QCOMPARE(values[QLatin1String("Magnetic Torquers Mode")].toString(),
             QStringLiteral("sun tracking"));
    const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
    QCOMPARE(second[QLatin1String("record")].toInt(), 2);
    QCOMPARE(second[QLatin1String("values")]
                 .toObject()[QLatin1String("Battery Voltage Cell 1")]
                 .toDouble(),
             2958.0);
}

void TestKadrinDecode::exitStatus_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("outStart");

    QTest::newRow("frames decoded") << QStringList() << Twos << 0 << QByteArray("CW beacon:");
    QTest::newRow("no frame") << QStringList() << QByteArray("QST\nKADRIN\n") << 1 << QByteArray();
    QTest::newRow("empty input, csv header only")
        << QStringList{QStringLiteral("--csv")} << QByteArray() << 1 << CsvHeader;
    QTest::newRow("standard input as -")
        << QStringList{QStringLiteral("-")} << Twos << 0 << QByteArray("CW beacon:");
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << QByteArray() << 0
                          << QByteArray("Usage: kadrin-decode");
    QTest::newRow("version") << QStringList{QStringLiteral("--version")} << QByteArray() << 0
                             << QByteArray("kadrin-decode Ver. 0.1 (30 June 2014)\n");
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("--xml")} << Twos << 2 << QByteArray();
    QTest::newRow("unknown short option")
        << QStringList{QStringLiteral("-x")} << Twos << 2 << QByteArray();
    QTest::newRow("csv and json together")
        << QStringList{QStringLiteral("--csv"), QStringLiteral("--json")} << Twos << 2
        << QByteArray();
    QTest::newRow("binary input") << QStringList() << QByteArray("\x00\xff\xfe\x01KADRIN\x00", 11)
                                  << 1 << QByteArray();
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
        QVERIFY(!run.err.isEmpty());
}

void TestKadrinDecode::unreadableFileDoesNotStopOthers() {
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.txt"));
    QFile file(good);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(Twos);
    file.close();
    const QString missing = dir.filePath(QStringLiteral("missing.txt"));
    const Run run = decode({QStringLiteral("--csv"), missing, dir.path(), good});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(missing.toLocal8Bit()), run.err.constData());
    QVERIFY2(run.err.contains(dir.path().toLocal8Bit() + ": cannot read"), run.err.constData());
    QVERIFY(run.out.contains("\r\n1,KADRIN22222222222222222222,"));
}

void TestKadrinDecode::numberingAcrossFiles() {
    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < 2; ++i) {
        paths.append(dir.filePath(QStringLiteral("log%1.txt").arg(i)));
        QFile file(paths.last());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(Twos + "\r\n" + Twos + "\r\n");
    }
    const Run run = decode({QStringLiteral("--csv"), paths[0], paths[1]});
    QCOMPARE(run.exitCode, 0);
    const QList<QByteArray> rows = run.out.split('\n');
    QCOMPARE(rows.size(), 6); // header, four frames, empty rest
    QVERIFY(rows[4].startsWith("4,KADRIN"));
}

void TestKadrinDecode::sampleLog() {
    const Run run = decode({QStringLiteral("--csv"), QStringLiteral(KADRIN_SAMPLE_LOG)});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.count("\r\n"), 1 + 26); // header and the log's 26 frames
}

void TestKadrinDecode::binaryInputIsNamed() {
    // Frames around bytes that are not UTF-8 still decode; a warning says so.
    const Run run = decode({QStringLiteral("--csv"), QStringLiteral("-")},
                           Twos + "\n\xff\xfe\x00\x01 garbage\n" + Twos + "\n");
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.count("\r\n"), 3);
    QVERIFY2(run.err.contains("standard input: not valid UTF-8"), run.err.constData());
}

QTEST_GUILESS_MAIN(TestKadrinDecode)
#include "tst_kadrindecode.moc"
