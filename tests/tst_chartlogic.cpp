// Bars, category ticks and value range of the channel chart.

#include "history/chartlogic.h"
#include "history/recordbrowser.h"
#include "history/telemetryhistory.h"

#include <QTest>

namespace {

// count frames whose gyro X symbol (position 24) cycles through symbols.
TelemetryHistory historyOf(int count, const QString &gyroSymbols) {
    QString text;
    for (int i = 0; i < count; ++i) {
        QString line = QStringLiteral("SKADRIN22222222222222222222");
        line[24] = gyroSymbols[i % gyroSymbols.size()];
        text += line + QLatin1Char('\n');
    }
    TelemetryHistory history;
    history.decodeText(text);
    return history;
}

} // namespace

class TestChartLogic : public QObject {
    Q_OBJECT
private slots:
    void oneBarPerRecord();
    void missingValueLeavesGap();
    void noRecordsNoBars();
    void perColumnKeepsExtremes();
    void tickStep_data();
    void tickStep();
    void valueRange();
    void browser_data();
    void browser();
};

void TestChartLogic::oneBarPerRecord() {
    const TelemetryHistory history = historyOf(5, QStringLiteral("2DFZJ"));
    const ChartBars bars = chartBars(history, 12, 600);
    QCOMPARE(bars.perColumn, false);
    QCOMPARE(bars.keys, (QVector<double>{1, 2, 3, 4, 5}));
    QCOMPARE(bars.values, (QVector<double>{-45, -2.3, 2.25, 33, 11.45}));
}

void TestChartLogic::missingValueLeavesGap() {
    const TelemetryHistory history = historyOf(3, QStringLiteral("Z1Z"));
    const ChartBars bars = chartBars(history, 12, 600);
    QCOMPARE(bars.keys, (QVector<double>{1, 3}));
    QCOMPARE(bars.values, (QVector<double>{33, 33}));
}

void TestChartLogic::noRecordsNoBars() {
    TelemetryHistory history;
    history.decodeText(QStringLiteral("SKADRIN22222222222222222222"));
    history.decodeText(QString());
    QVERIFY(chartBars(history, 1, 600).keys.isEmpty());
}

void TestChartLogic::perColumnKeepsExtremes() {
    // 10,000 frames, all 2.25 rad/s but one at -45 and one at 33: the
    // narrow spikes must still be drawn when 100 pixel columns share them.
    QString symbols(10000, QLatin1Char('F'));
    symbols[4321] = QLatin1Char('2');
    symbols[8765] = QLatin1Char('Z');
    const TelemetryHistory history = historyOf(10000, symbols);
    const ChartBars bars = chartBars(history, 12, 100);
    QCOMPARE(bars.perColumn, true);
    QCOMPARE(bars.width, 100.0);
    QVERIFY(bars.values.contains(-45));
    QVERIFY(bars.values.contains(33));
    QVERIFY(bars.values.contains(2.25));
    QVERIFY(bars.keys.size() <= 200);
    const int spike = int(bars.values.indexOf(-45));
    QCOMPARE(bars.keys[spike], 4350.5); // column 43 covers records 4301 to 4400
}

void TestChartLogic::tickStep_data() {
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("plotWidth");
    QTest::addColumn<int>("labelWidth");
    QTest::addColumn<int>("step");

    QTest::newRow("5 records") << 5 << 600 << 7 << 1;
    QTest::newRow("100 records, narrow labels") << 100 << 600 << 14 << 5;
    QTest::newRow("100 records, wide labels") << 100 << 600 << 30 << 10;
    QTest::newRow("101 records") << 101 << 600 << 21 << 5;
    QTest::newRow("130 records, 6.5 rounds to 6") << 130 << 600 << 21 << 6;
    QTest::newRow("150 records, 7.5 rounds to 8") << 150 << 600 << 21 << 8;
    QTest::newRow("250 records, 12.5 rounds to 12") << 250 << 600 << 21 << 12;
    QTest::newRow("10000 records") << 10000 << 600 << 24 << 500;
    QTest::newRow("10000 records, widened") << 10000 << 600 << 35 << 1000;
    QTest::newRow("100000 records, widened") << 100000 << 600 << 42 << 10000;
}

void TestChartLogic::tickStep() {
    QFETCH(int, records);
    QFETCH(int, plotWidth);
    QFETCH(int, labelWidth);
    QFETCH(int, step);
    QCOMPARE(categoryTickStep(records, plotWidth, labelWidth), step);
}

void TestChartLogic::valueRange() {
    // Battery voltages: the spread shows, the axis does not start at 0.
    const ValueRange volts = valueAxisRange({2958, 4242, std::nan("")});
    QCOMPARE(volts.lower, 2829.6);
    QCOMPARE(volts.upper, 4370.4);
    const ValueRange mixed = valueAxisRange({-45, 33});
    QVERIFY(mixed.lower < -45 && mixed.upper > 33);
    const ValueRange smallPositive = valueAxisRange({0, 2.25});
    QCOMPARE(smallPositive.lower, 0.0);
    const ValueRange constant = valueAxisRange({-16, -16});
    QVERIFY(constant.lower < -16 && constant.upper > -16);
    const ValueRange none = valueAxisRange({std::nan("")});
    QVERIFY(none.lower < none.upper);
}

void TestChartLogic::browser_data() {
    QTest::addColumn<int>("recordCount");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("kept");
    QTest::addColumn<QString>("caption");

    QTest::newRow("position fits") << 7 << 4 << 4 << QStringLiteral("4/7");
    QTest::newRow("position above new maximum") << 3 << 12 << 3 << QStringLiteral("3/3");
    QTest::newRow("no frame") << 0 << 5 << 0 << QStringLiteral("0/0");
    QTest::newRow("from zero to first record") << 12 << 0 << 1 << QStringLiteral("1/12");
}

void TestChartLogic::browser() {
    QFETCH(int, recordCount);
    QFETCH(int, position);
    QFETCH(int, kept);
    QFETCH(QString, caption);
    const BrowserRange range = BrowserRange::afterPass(recordCount);
    QCOMPARE(range.clamp(position), kept);
    QCOMPARE(browserCaption(range.clamp(position), range.maximum), caption);
}

QTEST_APPLESS_MAIN(TestChartLogic)
#include "tst_chartlogic.moc"
