// The record store under random edits, and the chart and browser logic.

#include "history/chartlogic.h"
#include "history/telemetryhistory.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>

namespace {

// A line of a station log: frames clean, damaged, timed or not, near
// misses, noise and empty lines.
QString randomLine(QRandomGenerator &random) {
    static const char symbols[] = "2467 8ACDFGJLPQYZ#x";
    QString frame = QStringLiteral("SKADRIN");
    for (int i = 0; i < 20; ++i)
        frame += QLatin1Char(symbols[random.bounded(int(sizeof symbols) - 1)]);
    const QString time = QStringLiteral("2026-12-05 21:%1:07 ").arg(random.bounded(10, 60));
    const QString forms[] = {QString(),
                             QStringLiteral("QST de QX0ZZ"),
                             frame.left(7 + random.bounded(20)),
                             frame + QStringLiteral(" QSB"),
                             time + frame,
                             frame.toLower(),
                             frame,
                             frame};
    return forms[random.bounded(8)];
}

// Records, chart values and line verdicts of two stores are the same.
bool sameStore(const TelemetryHistory &a, const TelemetryHistory &b) {
    if (a.recordCount() != b.recordCount() || a.lineCount() != b.lineCount())
        return false;
    for (int channel : {1, 5, 14}) {
        QList<double> x, y;
        a.forEachValue(channel, [&x](double v) { x.append(v); });
        b.forEachValue(channel, [&y](double v) { y.append(v); });
        if (QByteArray::fromRawData(reinterpret_cast<const char *>(x.data()), x.size() * 8) !=
            QByteArray::fromRawData(reinterpret_cast<const char *>(y.data()), y.size() * 8))
            return false; // compared bit by bit: NaN is no value, and equal to itself here
    }
    for (int i = 1; i <= a.recordCount(); ++i)
        if (!(a.record(i).frame() == b.record(i).frame()) ||
            a.record(i).time() != b.record(i).time())
            return false;
    for (int line = 0; line < a.lineCount(); ++line) {
        const LineVerdict x = a.lineVerdict(line);
        const LineVerdict y = b.lineVerdict(line);
        if (x.kind != y.kind || x.miss != y.miss || x.symbols != y.symbols ||
            a.recordOfLine(line) != b.recordOfLine(line))
            return false;
    }
    return true;
}

TelemetryHistory historyOf(const QStringList &lines) {
    TelemetryHistory history;
    history.decodeText(lines.join(QLatin1Char('\n')));
    return history;
}

// Where a frame carries battery voltage cell 1 and gyro X.
constexpr int CellVolts = 8, GyroX = 24;

// count frames whose symbol at position cycles through symbols.
TelemetryHistory historyOf(int position, int count, const QString &symbols) {
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        QString line = "SKADRIN22222222222222222222";
        line[position] = symbols[i % symbols.size()];
        lines.append(line);
    }
    return historyOf(lines);
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT
private slots:
    void editsMatchAFullPass();
    void oneBarPerRecordWithGaps();
    void barsPerPixelColumn();
    void valueAxisStartsAtZero();
    void tickStep_data();
    void tickStep();
};

// Thousands of random edits, each fed as "these lines were replaced by
// those"; after each the store equals a full pass over the whole text.
void TestHistory::editsMatchAFullPass() {
    QRandomGenerator random(20261206);
    QStringList text;
    TelemetryHistory store;
    store.decodeText(QString());
    for (int step = 0; step < 600; ++step) {
        const int lines = int(text.size());
        const int where = random.bounded(3); // at the start, in the middle, at the end
        const int first = where == 0 ? 0 : where == 1 ? random.bounded(lines + 1) : lines;
        const int removed = random.bounded(std::min(lines - first, 4) + 1);
        const int added = random.bounded(10) == 0 ? random.bounded(400) : random.bounded(4);
        QStringList fresh;
        for (int i = 0; i < added; ++i)
            fresh.append(randomLine(random));
        const int before = store.recordCount();
        const TelemetryHistory::Change change = store.replaceLines(
            first, removed, added, [&fresh](int i) { return QStringView(fresh[i]); });
        text = text.mid(0, first) + fresh + text.mid(first + removed);
        QCOMPARE(store.recordCount(), before - change.removedRecords + change.addedRecords);
        TelemetryHistory full;
        full.replaceLines(0, 0, int(text.size()), [&text](int i) { return QStringView(text[i]); });
        QVERIFY2(sameStore(store, full), qPrintable(QStringLiteral("step %1").arg(step)));
    }
    QVERIFY(store.recordCount() > 100); // the store grows past the old hundred
}

void TestHistory::oneBarPerRecordWithGaps() {
    const ChartBars bars = chartBars(historyOf(GyroX, 5, "2D1ZJ"), 12, 600);
    QCOMPARE(bars.perColumn, false);
    QCOMPARE(bars.keys, (QVector<double>{1, 2, 4, 5})); // record 3 has no value: a gap
    QCOMPARE(bars.values, (QVector<double>{-45, -2.3, 33, 11.45}));
    // A NUL received as the first symbol is a symbol like any other.
    QCOMPARE(historyOf(7, 1, QString(QChar(0))).record(1).reportLines().size(), 18);
    // One bar a record while each has two pixel columns, not one more.
    QCOMPARE(chartBars(historyOf(GyroX, 300, "F"), 12, 600).perColumn, false);
    QCOMPARE(chartBars(historyOf(GyroX, 301, "F"), 12, 600).perColumn, true);
}

// 10,000 records in 100 columns: each column shows the extremes of its
// records, a narrow spike included.
void TestHistory::barsPerPixelColumn() {
    QString symbols(10000, QLatin1Char('F')); // 2.25 rad/s
    symbols[4321] = QLatin1Char('2');         // -45
    symbols[8765] = QLatin1Char('Z');         // 33
    symbols[100] = QLatin1Char('J');          // 11.45
    const ChartBars bars = chartBars(historyOf(GyroX, 10000, symbols), 12, 100);
    QCOMPARE(bars.perColumn, true);
    QCOMPARE(bars.width, 100.0);
    QCOMPARE(bars.keys.size(), 100 + 1); // one bar a column, two where both signs meet
    const int spike = int(bars.values.indexOf(-45));
    QCOMPARE(bars.keys[spike], 4350.5);               // column 43 holds records 4301 to 4400
    QCOMPARE(bars.keys[spike - 1], bars.keys[spike]); // and a bar up to the column's 2.25
    QCOMPARE(bars.values[spike - 1], 2.25);
    QVERIFY(bars.values.contains(33));
    // Column 1 holds 11.45 and 2.25: a bar to the first, a darker one over it to the second.
    QCOMPARE(bars.values[1], 11.45);
    QCOMPARE(bars.nearKeys, (QVector<double>{bars.keys[1], bars.keys[88]}));
    QCOMPARE(bars.nearValues, (QVector<double>{2.25, 2.25}));

    // 10 records in 4 columns of 2.5 records each: a column ends after record
    // 2.5, 5, 7.5 and 10 rounded half up, so the columns hold records 1-3,
    // 4-5, 6-8 and 9-10. Battery voltage levels 0 to 9, one a record.
    const ChartBars edges = chartBars(historyOf(CellVolts, 10, "24678ACDFG"), 1, 4);
    QCOMPARE(edges.keys, (QVector<double>{1.75, 4.25, 6.75, 9.25}));
    QCOMPARE(edges.values, (QVector<double>{3128, 3299, 3556, 3728}));
    QCOMPARE(edges.nearValues, (QVector<double>{2958, 3214, 3385, 3642}));
}

// A bar's length is its value: 0 is always on the axis, and every value is.
void TestHistory::valueAxisStartsAtZero() {
    // 4242 mV and 2958 mV, record after record.
    const ChartBars many = chartBars(historyOf(CellVolts, 10000, "Z2"), 1, 600);
    const ValueRange range = valueAxisRange(many);
    QCOMPARE(range.lower, 0.0);
    QVERIFY2(range.upper >= 4242 && range.upper < 4242 * 1.1,
             qPrintable(QString::number(range.upper)));
    QVERIFY(many.nearValues.contains(2958));

    const ValueRange gyro = valueAxisRange(chartBars(historyOf(GyroX, 2, "2Z"), 12, 600));
    QVERIFY(gyro.lower <= -45 && gyro.upper >= 33);
    const ValueRange negative = valueAxisRange(chartBars(historyOf(GyroX, 1, "A"), 12, 600));
    QCOMPARE(negative.upper, 0.0);
}

void TestHistory::tickStep_data() {
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("labelWidth");
    QTest::addColumn<int>("step");
    // 600 pixels of plot.
    QTest::newRow("100 records, narrow labels") << 100 << 14 << 5;
    QTest::newRow("130 records, 6.5 rounds to 6") << 130 << 21 << 6;
    QTest::newRow("150 records, 7.5 rounds to 8") << 150 << 21 << 8;
    QTest::newRow("250 records, 12.5 rounds to 12") << 250 << 21 << 12;
    QTest::newRow("10000 records") << 10000 << 24 << 500;
    QTest::newRow("10000 records, widened") << 10000 << 35 << 1000;
}

void TestHistory::tickStep() {
    QFETCH(int, records);
    QFETCH(int, labelWidth);
    QFETCH(int, step);
    QCOMPARE(categoryTickStep(records, 600, labelWidth), step);
}

QTEST_APPLESS_MAIN(TestHistory)
#include "tst_history.moc"
