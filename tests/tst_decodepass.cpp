// The decode pass over a whole text and the telemetry store it fills.

#include "history/telemetryhistory.h"

#include <QTest>

#include <cmath>

namespace {

QString frameLine(const QString &symbols) {
    return QStringLiteral("SKADRIN") + symbols;
}

// 20 symbols: position 8 (battery voltage cell 1) carries the given symbol.
QString withCell1(char symbol) {
    QString symbols = QStringLiteral("22222222222222222222");
    symbols[1] = QLatin1Char(symbol);
    return frameLine(symbols);
}

const QString Twos = QStringLiteral("SKADRIN22222222222222222222");

} // namespace

class TestDecodePass : public QObject {
    Q_OBJECT
private slots:
    void workedFrame();
    void beforeFirstPass();
    void frameCount_data();
    void frameCount();
    void recordsInInputOrder();
    void reDecodeAfterEdit();
    void shorterPassKeepsOlderRecords();
    void cleanRecordEachFrame();
    void moreThanHundredFrames();
    void channelsNeverWritten();
};

void TestDecodePass::workedFrame() {
    TelemetryHistory history;
    history.decodeText(Twos);
    QCOMPARE(history.RecordCount(), 1);
    const QString expected = QStringLiteral("CW beacon: SKADRIN22222222222222222222\r\n"
                                            "Satellite Mode: Normal Mode\r\n"
                                            "Battery Voltage Cell 1: <= 3000 mV\r\n"
                                            "Battery Voltage Cell 2: <= 3000 mV\r\n"
                                            "Battery Temperature Cell 1: <= -20 C\r\n"
                                            "Battery Temperature Cell 2: <= -20 C\r\n"
                                            "Solar Panel 1 Temperature: <= -40 C\r\n"
                                            "Solar Panel 2 Temperature: <= -40 C\r\n"
                                            "Solar Panel 3 Temperature: <= -40 C\r\n"
                                            "Solar Panel 4 Temperature: <= -40 C\r\n"
                                            "MCU PWRS Temperature: <= -40 C\r\n"
                                            "MCU OBDH Temperature: <= -40 C\r\n"
                                            "MCU ADCS Temperature: <= -40 C\r\n"
                                            "Magnetic Torquers Mode: sun tracking\r\n"
                                            "Reaction Wheels Mode: sun tracking\r\n"
                                            "Gyro X: <= -32 rad/s\r\n"
                                            "Gyro Y: <= -32 rad/s\r\n"
                                            "Gyro Z: <= -32 rad/s\r\n");
    QCOMPARE(history.record(1).ReportText(), expected);
    QCOMPARE(history.lastReport(), expected);
    const double values[] = {0,   2958, 2958, -22, -22, -45, -45, -45,
                             -45, -45,  -45,  -45, -45, -45, -45};
    for (int channel = 0; channel < 15; ++channel)
        QCOMPARE(history.value(1, channel), values[channel]);
}

void TestDecodePass::beforeFirstPass() {
    TelemetryHistory history;
    QCOMPARE(history.RecordCount(), 0);
    QCOMPARE(history.storedRecords(), 101);
    for (int index : {0, 1, 100, 101, -1}) {
        QVERIFY(history.record(index).ReportText().isEmpty());
        QCOMPARE(history.value(index, 1), 0.0);
    }
    QVERIFY(history.lastReport().isEmpty());
}

void TestDecodePass::frameCount_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("frames");

    QTest::newRow("empty text") << QString() << 0;
    QTest::newRow("one frame, no line end") << Twos << 1;
    QTest::newRow("one frame, CR LF") << Twos + QStringLiteral("\r\n") << 1;
    QTest::newRow("CR LF lines") << Twos + QStringLiteral("\r\n") + Twos << 2;
    QTest::newRow("LF lines") << Twos + QStringLiteral("\n") + Twos + QStringLiteral("\n") << 2;
    QTest::newRow("lone CR joins two lines") << Twos + QStringLiteral("\r") + Twos << 0;
    QTest::newRow("lone CR ends a line") << Twos + QStringLiteral("\r") << 0;
    QTest::newRow("blank lines and junk")
        << QStringLiteral("\n\nQST de QX0ZZ\n") + Twos + QStringLiteral("\n   \nKADRIN\n") << 1;
    QTest::newRow("two identical frames") << Twos + QStringLiteral("\n") + Twos << 2;
}

void TestDecodePass::frameCount() {
    QFETCH(QString, text);
    QFETCH(int, frames);
    TelemetryHistory history;
    history.decodeText(text);
    QCOMPARE(history.RecordCount(), frames);
    for (int i = 1; i <= frames; ++i) {
        const QString report = history.record(i).ReportText();
        QCOMPARE(report.count(QLatin1String("\r\n")), 18);
        QVERIFY(report.endsWith(QLatin1String("\r\n")));
        QCOMPARE(report, history.record(1).ReportText());
    }
}

void TestDecodePass::recordsInInputOrder() {
    TelemetryHistory history;
    history.decodeText(withCell1('4') + QStringLiteral("\nnoise\n") + withCell1('Z') +
                       QStringLiteral("\r\n\r\n") + withCell1('8').toLower());
    QCOMPARE(history.RecordCount(), 3);
    QCOMPARE(history.value(1, 1), 3042.0);
    QCOMPARE(history.value(2, 1), 4242.0);
    QCOMPARE(history.value(3, 1), 3299.0);
    QVERIFY(history.record(3).ReportText().startsWith(
        QLatin1String("CW beacon: SKADRIN28222222222222222222\r\n")));
    QCOMPARE(history.lastReport(), history.record(3).ReportText());
}

void TestDecodePass::reDecodeAfterEdit() {
    TelemetryHistory history;
    const QString old = withCell1('4') + QStringLiteral("\n") + withCell1('6');
    history.decodeText(old);
    history.decodeText(withCell1('Z') + QStringLiteral("\n") + old);
    QCOMPARE(history.RecordCount(), 3);
    QCOMPARE(history.value(1, 1), 4242.0);
    QCOMPARE(history.value(2, 1), 3042.0);
    QCOMPARE(history.value(3, 1), 3128.0);
}

void TestDecodePass::shorterPassKeepsOlderRecords() {
    TelemetryHistory history;
    history.decodeText(QStringList(5, withCell1('Z')).join(QLatin1Char('\n')));
    history.decodeText(QStringList(3, withCell1('4')).join(QLatin1Char('\n')));
    QCOMPARE(history.RecordCount(), 3);
    QCOMPARE(history.value(3, 1), 3042.0);
    QCOMPARE(history.value(4, 1), 4242.0); // stale, above RecordCount
    QCOMPARE(history.value(5, 1), 4242.0);
    history.decodeText(QStringLiteral("no frame here"));
    QCOMPARE(history.RecordCount(), 0);
    QVERIFY(history.lastReport().isEmpty());
}

void TestDecodePass::cleanRecordEachFrame() {
    TelemetryHistory history;
    history.decodeText(withCell1('Z'));
    QCOMPARE(history.value(1, 1), 4242.0);
    // The same record index, now with a symbol that is not in the table:
    // no value, not the 4242 of the earlier pass and not a made-up 0.
    history.decodeText(withCell1('X'));
    QVERIFY(std::isnan(history.value(1, 1)));
    QCOMPARE(history.value(1, 2), 2958.0);
    // Within one pass, a later frame never changes an earlier one.
    history.decodeText(withCell1('Z') + QStringLiteral("\n") + withCell1('1'));
    QCOMPARE(history.value(1, 1), 4242.0);
    QVERIFY(std::isnan(history.value(2, 1)));
    // A record never written before also has no value rather than 0.
    TelemetryHistory fresh;
    fresh.decodeText(withCell1('0'));
    QVERIFY(std::isnan(fresh.value(1, 1)));
}

void TestDecodePass::moreThanHundredFrames() {
    const char cycle[] = "246";
    QStringList lines;
    for (int i = 0; i < 250; ++i)
        lines.append(withCell1(cycle[i % 3]));
    TelemetryHistory history;
    history.decodeText(lines.join(QLatin1String("\r\n")));
    QCOMPARE(history.RecordCount(), 250);
    QCOMPARE(history.value(100, 1), 2958.0); // frame 100 carries "2"
    QCOMPARE(history.value(101, 1), 3042.0); // frame 101 carries "4"
    QCOMPARE(history.value(102, 1), 3128.0);
    QCOMPARE(history.value(250, 1), 2958.0);
    QCOMPARE(history.value(251, 1), 0.0); // beyond the store: a never-written record
    QVERIFY(history.record(250).ReportText().contains(
        QLatin1String("Battery Voltage Cell 1: <= 3000 mV\r\n")));
    history.decodeText(lines.mid(0, 2).join(QLatin1Char('\n')));
    QCOMPARE(history.RecordCount(), 2);
}

void TestDecodePass::channelsNeverWritten() {
    TelemetryHistory history;
    history.decodeText(QStringLiteral("SKADRINZZZZZZZZZZZZZZZZZZZZ\nSKADRIN01359BEOXW01359BEOXW"));
    for (int i = 0; i <= 2; ++i) {
        QCOMPARE(history.value(i, 0), 0.0);
        for (int channel = 15; channel < 29; ++channel)
            QCOMPARE(history.value(i, channel), 0.0);
    }
    for (int channel = 1; channel <= 14; ++channel)
        QVERIFY(std::isnan(history.value(2, channel)));
}

QTEST_APPLESS_MAIN(TestDecodePass)
#include "tst_decodepass.moc"
