// The History window over a real archive, driven from the main window as
// the operator does: what a span shows, a gap, limits, a point's note and
// report, and a frame received while it is open.

#include "app/form1.h"
#include "app/historywindow.h"
#include "app/sourceswitch.h"
#include "archive/archivewriter.h"
#include "decoder/utctime.h"

#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <qcustomplot.h>

#include <cmath>

namespace {

const qint64 T0 = *leadingUtcTime(u"2026-12-05 21:00:00");

// Symbols whose battery voltage cell 1 (the second symbol) is `cell1`.
QString symbols(char cell1) {
    QString s(20, QLatin1Char('2'));
    s[1] = QLatin1Char(cell1);
    return s;
}

QCPGraph *graph(QCustomPlot *plot, const QString &name) {
    for (int i = 0; i < plot->graphCount(); ++i)
        if (plot->graph(i)->name() == name)
            return plot->graph(i);
    return nullptr;
}

QList<double> values(QCPGraph *g) {
    QList<double> out;
    for (auto it = g->data()->constBegin(); it != g->data()->constEnd(); ++it)
        out.append(it->value);
    return out;
}

} // namespace

class TestHistoryWindow : public QObject {
    Q_OBJECT
private slots:
    void showsTheArchive();
};

void TestHistoryWindow::showsTheArchive() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("archive.sqlite"));
    {
        // A pass of three frames, and two hours later a pass of one.
        Archive archive;
        QVERIFY2(archive.open(path), qPrintable(archive.error()));
        std::vector<IncomingFrame> frames;
        const std::pair<qint64, char> sent[] = {{0, '8'}, {20, 'C'}, {40, 'Z'}, {7200, '2'}};
        for (const auto &[at, cell1] : sent) {
            frames.push_back({T0 + at, symbols(cell1), {}});
            frames.back().reception.source = QStringLiteral("/logs/a.log");
            frames.back().reception.line = at + 1;
        }
        QVERIFY(archive.store(frames));
    }
    Configuration configuration(dir.path() + QLatin1Char('/'));
    configuration.archive = path;
    configuration.limits.insert(1, {3000, 4200});
    Form1 window(configuration);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::keyClick(&window, Qt::Key_H, Qt::ControlModifier);
    auto *history = window.findChild<HistoryWindow *>();
    QVERIFY(history);
    QTRY_VERIFY_WITH_TIMEOUT(history->isVisible(), 5000);
    QCustomPlot *plot = history->plot();

    // The last day up to the newest frame; then the two passes.
    QCOMPARE(plot->xAxis->range().upper, double(T0 + 7200 + 60));
    history->showSpan(T0 - 600, T0 + 3 * 3600);
    QCOMPARE(plot->xAxis->range().lower, double(T0 - 600));
    QCPGraph *high = graph(plot, QStringLiteral("Battery Volt Cell 1"));
    QCPGraph *low = graph(plot, QStringLiteral("Battery Volt Cell 1 lowest"));
    QVERIFY(high && low);
    // The envelope: 4242 mV ('Z') the highest, 2958 mV ('2') the lowest, with
    // a gap (no value) between the passes.
    QList<double> highs, lows;
    for (double v : values(high))
        if (!std::isnan(v))
            highs.append(v);
    for (double v : values(low))
        if (!std::isnan(v))
            lows.append(v);
    QCOMPARE(highs.size(), 4); // a frame a column, read from the frames themselves
    QCOMPARE(*std::max_element(highs.begin(), highs.end()), 4242.0);
    QCOMPARE(*std::min_element(lows.begin(), lows.end()), 2958.0);
    const QList<double> all = values(high);
    const qsizetype first = all.indexOf(highs.first()), last = all.lastIndexOf(highs.last());
    QVERIFY(std::any_of(all.begin() + first, all.begin() + last, [](double v) { return std::isnan(v); }));
    // Outside 3000 .. 4200 mV: the 'Z' frame and the '2' frame, marked.
    QCPGraph *outside = graph(plot, QStringLiteral("Battery Volt Cell 1 outside its limits"));
    QVERIFY(outside);
    QList<double> marked = values(outside);
    std::sort(marked.begin(), marked.end());
    QCOMPARE(marked, (QList<double>{2958, 4242}));
    QTRY_COMPARE_WITH_TIMEOUT(history->passList()->topLevelItemCount(), 2, 5000);
    // A week: the first pass's three frames in one column, from 3299 to 4242 mV.
    history->showSpan(T0 - 3 * 86400, T0 + 4 * 86400); // each drawing makes its graphs anew
    const QList<double> weekLows = values(graph(plot, QStringLiteral("Battery Volt Cell 1 lowest")));
    const QList<double> weekHighs = values(graph(plot, QStringLiteral("Battery Volt Cell 1")));
    QVERIFY(weekHighs.contains(4242.0));
    QCOMPARE(weekLows.at(weekHighs.indexOf(4242.0)), 3299.0);
    history->showSpan(T0 - 600, T0 + 3 * 3600);

    // Pointing at a frame tells it; a click shows its report.
    const QString note = history->noteAt(double(T0 + 21));
    QVERIFY2(note.contains(QLatin1String("2026-12-05 21:00:20 UTC")), qPrintable(note));
    QVERIFY2(note.contains(QLatin1String("Battery Voltage Cell 1: 3429 mV .. 3513 mV")), qPrintable(note));
    QVERIFY2(note.contains(QLatin1String("this station (file /logs/a.log line 21)")), qPrintable(note));
    const int x = int(plot->xAxis->coordToPixel(double(T0 + 7200)));
    QTest::mouseClick(plot, Qt::LeftButton, {}, QPoint(x, plot->height() / 2));
    QTRY_VERIFY_WITH_TIMEOUT(history->report() && history->report()->isVisible(), 5000);
    const QStringList report = history->report()->text().split(QLatin1Char('\n'));
    QCOMPARE(report.size(), 18);
    QCOMPARE(report.first(), QStringLiteral("CW beacon: SKADRIN22222222222222222222"));
    QCOMPARE(report.at(2), QStringLiteral("Battery Voltage Cell 1: <= 3000 mV"));

    // A frame received now is drawn as soon as it is stored.
    Reception heard;
    heard.kind = Reception::Kind::Sound;
    heard.source = QStringLiteral("Receiver");
    window.sources().archive().storeLines(heard, 1,
                                          {QStringLiteral("2026-12-05 23:00:20  S KADRIN 2Y222222222222222222")});
    QTRY_VERIFY_WITH_TIMEOUT(values(graph(plot, QStringLiteral("Battery Volt Cell 1"))).contains(4156.0), 5000);
}

QTEST_MAIN(TestHistoryWindow)
#include "tst_historywindow.moc"
