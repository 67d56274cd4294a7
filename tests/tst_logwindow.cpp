// The window and log files: open, drop, follow a log that a writer process
// extends, save, export, the question before text is lost, line marks and
// tooltips.

#include "app/beaconedit.h"
#include "app/form1.h"
#include "app/sourceswitch.h"
#include "windowtest.h"

#include <QMimeData>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <qcustomplot.h>

#include <memory>

using namespace windowtest;

namespace {

const QByteArray Log = "2026-12-05 21:07:53 SKADRIN4JJCCDDCA1238DC24FFF\n"
                       "QST de QX0ZZ\n"
                       "2026-12-05 21:08:16 SKADRIN4JJCCD?CA1238DC24FFF\n"
                       "SKADRIN4JJCCDDCA1238DC24FF\n";

// A writer process appends to a file (">>"), or truncates it first (">").
void writer(const QString &path, const QByteArray &bytes, const char *mode = ">>") {
    const QString command = QString("printf %s \"$1\" ") + mode + " \"$2\"";
    QCOMPARE(QProcess::execute("/bin/sh", {"-c", command, "sh", QString::fromUtf8(bytes), path}),
             0);
}

} // namespace

class TestLogWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void openAndDrop();
    void refusesABinaryFile();
    void followsAGrowingLog();
    void saveAndExport();
    void asksBeforeTextIsLost();
    void failedSaveKeepsTheOldFile();
    void marksAndTooltips();

private:
    BeaconEdit *text2() { return window->findChild<BeaconEdit *>(QStringLiteral("Text2")); }
    QString label(const char *name) {
        return name == QByteArrayView("Label3")
                   ? statusText(window.get())
                   : window->findChild<QLabel *>(QLatin1String(name))->text();
    }
    void menu(const char *name) { window->findChild<QAction *>(QLatin1String(name))->trigger(); }
    // A menu's shortcut, typed in the text box of the active window.
    void shortcut(Qt::Key key) {
        QApplication::setActiveWindow(window.get());
        QTest::keyClick(text2(), key, Qt::ControlModifier);
    }

    QTemporaryDir dir;
    std::unique_ptr<Form1> window;
};

void TestLogWindow::init() {
    qputenv("KADRIN_FOLLOW_POLL_MS", "50"); // Follow Log looks at the log this often
    window = std::make_unique<Form1>(Configuration{QStringLiteral("/tmp/"), true});
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestLogWindow::cleanup() {
    forgetAnswers();
    text2()->setModified(false);
    window.reset();
}

void TestLogWindow::openAndDrop() {
    const QString path = dir.filePath(QStringLiteral("pass.log"));
    QVERIFY(writeFile(path, Log + "\xff junk\n"));
    answerDialog(path);
    shortcut(Qt::Key_O);
    QCOMPARE(text2()->toPlainText(), QString::fromUtf8(Log) + "\ufffd junk\n");
    QCOMPARE(label("Label2"), "1/2");
    QCOMPARE(label("Label3"), "Opened " + path + "; bytes that are not UTF-8 read as U+FFFD");
    QVERIFY(!text2()->isModified());

    const QString other = dir.filePath(QStringLiteral("other.log"));
    QVERIFY(writeFile(other, "SKADRIN22222222222222222222\n"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(other)});
    const auto dropIt = [&] {
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(window.get(), &enter);
        QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(window.get(), &drop);
        return enter.isAccepted();
    };
    QTest::keyClicks(text2(), QStringLiteral("73")); // typed text: the drop asks first
    answerBox(QMessageBox::Cancel);
    QVERIFY(dropIt());
    QVERIFY(text2()->line(0).startsWith(QStringLiteral("732026-12-05")));
    text2()->setModified(false);
    QVERIFY(dropIt());
    QCOMPARE(text2()->toPlainText(), QStringLiteral("SKADRIN22222222222222222222\n"));
}

void TestLogWindow::refusesABinaryFile() {
    const QString path = dir.filePath(QStringLiteral("capture.wav"));
    QVERIFY(writeFile(path, QByteArray("RIFF\0\0\0\0WAVE", 12) + Log));
    QTest::keyClicks(text2(), QStringLiteral("typed"));
    text2()->setModified(false);
    BoxSeen seen;
    answerBox(QMessageBox::Ok, &seen);
    window->sources().openLog(path);
    QCOMPARE(seen.text, path + QStringLiteral(": not a text file"));
    QCOMPARE(text2()->toPlainText(), QStringLiteral("typed"));
}

// A writer appends lines, then a line in two writes, then rotates the log;
// every complete line reaches the box once, and a browser on the last record
// follows the new ones (moved back, it stays).
void TestLogWindow::followsAGrowingLog() {
    const QString path = dir.filePath(QStringLiteral("live.log"));
    QVERIFY(writeFile(path, Log));
    answerDialog(path);
    shortcut(Qt::Key_L);
    QCOMPARE(label("Label3"), QStringLiteral("Following ") + path);
    QCOMPARE(window->findChild<QAction *>("MnuFollow")->text(), "Stop Following");
    QCOMPARE(label("Label2"), QStringLiteral("2/2")); // the newest, as tail -f shows the end

    writer(path, "SKADRIN22222222222222222222\n");
    QTRY_COMPARE(label("Label2"), QStringLiteral("3/3"));

    writer(path, "SKADRIN4JJCC");
    QTest::qWait(300);                 // longer than the follower waits between looks
    QCOMPARE(text2()->lineCount(), 6); // the half line waits
    writer(path, "ZZCA1238DC24FFF\n");
    QTRY_COMPARE(label("Label2"), QStringLiteral("4/4"));
    QCOMPARE(text2()->line(5), QStringLiteral("SKADRIN4JJCCZZCA1238DC24FFF"));

    // Typed text is kept; new lines still go to the end.
    text2()->setCursorPosition({1, 0});
    QTest::keyClicks(text2(), QStringLiteral("73 "));
    window->findChild<QScrollBar *>(QStringLiteral("HScroll1"))->setValue(2);
    QVERIFY(QFile::rename(path, path + QStringLiteral(".1")));
    writer(path, "SKADRIN22222222222222222222\n", ">");
    QTRY_COMPARE(label("Label2"), QStringLiteral("2/5"));
    QVERIFY(label("Label3").contains(QLatin1String("replaced")));
    QCOMPARE(text2()->line(1), QStringLiteral("73 QST de QX0ZZ"));
    QCOMPARE(text2()->lineCount(), 8);
    text2()->setModified(false);
    writer(path, "SKADRIN4JJCC"); // a last line not ended when following stops
    QTest::qWait(300);
    shortcut(Qt::Key_L); // stop
    QCOMPARE(label("Label3"), QStringLiteral("Stopped following ") + path);
    QCOMPARE(text2()->line(7), QStringLiteral("SKADRIN4JJCC"));
}

// Saving writes the box's text; the export is what kadrin-decode writes.
void TestLogWindow::saveAndExport() {
    // Typed text has no file: its rows say "-".
    QTest::keyClicks(text2(), QStringLiteral("SKADRIN22222222222222222222"));
    const QString typed = dir.filePath(QStringLiteral("typed.csv"));
    answerDialog(typed);
    shortcut(Qt::Key_E);
    QVERIFY(readFile(typed).endsWith(",,-,1\r\n"));
    text2()->setModified(false);

    const QString log = dir.filePath(QStringLiteral("export.log"));
    QVERIFY(writeFile(log, Log));
    window->sources().openLog(log);
    const QString csv = dir.filePath(QStringLiteral("export.csv"));
    answerDialog(csv);
    shortcut(Qt::Key_E);
    QProcess decode;
    decode.start(KADRIN_DECODE_PATH, {"--csv", log});
    QVERIFY(decode.waitForFinished());
    QCOMPARE(readFile(csv), decode.readAllStandardOutput());

    QTest::keyClicks(text2(), QStringLiteral("QRZ? "));
    QVERIFY(text2()->isModified());
    const QString saved = dir.filePath(QStringLiteral("saved.txt"));
    answerDialog(saved);
    shortcut(Qt::Key_S);
    QCOMPARE(readFile(saved), "QRZ? " + Log);
    QVERIFY(!text2()->isModified());
    QVERIFY(window->close()); // nothing to ask
}

// Typed text is never thrown away without asking; text as opened is.
void TestLogWindow::asksBeforeTextIsLost() {
    const QString log = dir.filePath(QStringLiteral("ask.log"));
    QVERIFY(writeFile(log, Log));
    QTest::keyClicks(text2(), QStringLiteral("SKADRIN 2 2"));
    BoxSeen seen;
    answerBox(QMessageBox::Cancel, &seen);
    menu("MnuOpen");
    QCOMPARE(seen.text, QStringLiteral("Save the beacon text?"));
    QCOMPARE(text2()->toPlainText(), QStringLiteral("SKADRIN 2 2"));
    answerBox(QMessageBox::Cancel);
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());

    answerBox(QMessageBox::Discard);
    answerDialog(log); // runs once the question is answered
    menu("MnuOpen");
    QTRY_COMPARE(text2()->toPlainText(), QString::fromUtf8(Log));
    seen = BoxSeen();
    answerBox(QMessageBox::Cancel, &seen);
    answerDialog(log);
    menu("MnuOpen"); // text as opened: no question, the dialog at once
    QVERIFY(!seen.seen);
    forgetAnswers();

    QTest::keyClick(text2(), Qt::Key_Delete);
    answerBox(QMessageBox::Save); // and then no file chosen: nothing is opened
    whenShown<QFileDialog>([](QFileDialog *dialog) { dialog->reject(); });
    answerDialog(log);
    menu("MnuOpen");
    QCOMPARE(text2()->toPlainText(), QString::fromUtf8(Log).mid(1));
    forgetAnswers();
    const QString saved = dir.filePath(QStringLiteral("kept.txt"));
    answerBox(QMessageBox::Save);
    answerDialog(saved);
    QVERIFY(window->close());
    QVERIFY(QFile::exists(saved));
}

// A save that fails (here: a full disk) leaves the old file whole and the
// text unsaved.
void TestLogWindow::failedSaveKeepsTheOldFile() {
    const QString small = dir.filePath(QStringLiteral("small"));
    if (!mountSmallDisk(small, QStringLiteral("64k")))
        QSKIP("needs to mount a small file system (root)");
    const auto unmount = unmountWhenDone(small);
    const QString path = small + QStringLiteral("/pass.log");
    QVERIFY(writeFile(path, Log));
    text2()->setPlainText(QString::fromUtf8(Log).repeated(2000)); // far more than fits
    QTest::keyClick(text2(), Qt::Key_X);
    BoxSeen seen;
    answerDialog(path);
    answerBox(QMessageBox::Yes); // replace the file
    answerBox(QMessageBox::Ok, &seen);
    shortcut(Qt::Key_S);
    QVERIFY2(seen.text.contains("could not be saved"), qPrintable(seen.text));
    QCOMPARE(readFile(path), Log);
    QVERIFY(text2()->isModified());
}

// Each verdict looks distinct in the margin; unreadable symbols are marked
// where they stand; the tooltips say what the line is.
void TestLogWindow::marksAndTooltips() {
    text2()->setPlainText(QString::fromUtf8(Log));
    QWidget *viewport = text2()->viewport();
    const int line = text2()->fontMetrics().lineSpacing();
    const QImage seen = viewport->grab().toImage();
    const auto margin = [&](int row) { return seen.pixelColor(1, row * line + line / 2); };
    const auto tooltip = [&](int row) { return tooltipAt(viewport, {40, row * line + line / 2}); };
    QCOMPARE(margin(0), QColor(0x2e, 0x8b, 0x57));                  // frame
    QCOMPARE(margin(1), viewport->palette().color(QPalette::Base)); // other
    QCOMPARE(margin(2), QColor(0xe0, 0x8a, 0x00));                  // unreadable symbols
    QCOMPARE(margin(3), QColor(0xcc, 0x22, 0x22));                  // near miss
    QCOMPARE(tooltip(0), "frame 1, 2026-12-05 21:07:53 UTC");
    QCOMPARE(tooltip(2), "frame 2, 2026-12-05 21:08:16 UTC\nunreadable symbols: position 13 '?'");
    QCOMPARE(tooltip(3), "near miss: 19 symbols, 20 needed");
    // The "?" (column 33) stands on a coloured ground, its neighbours do not.
    const int x =
        BeaconEdit::MarginWidth + 2 +
        qRound(QFontMetricsF(text2()->font()).horizontalAdvance(text2()->line(2).left(33)));
    const QColor ground = seen.pixelColor(x + 1, 2 * line + 1);
    QVERIFY(ground != viewport->palette().color(QPalette::Base));
    QCOMPARE(seen.pixelColor(x + 1, 1), viewport->palette().color(QPalette::Base));

    auto *chart = window->findChild<QCustomPlot *>("MSChart1");
    chart->replot();
    const QPoint bar(int(chart->xAxis->coordToPixel(2)), int(chart->yAxis->coordToPixel(100)));
    QCOMPARE(tooltipAt(chart, bar),
             "record 2, 2026-12-05 21:08:16 UTC: Battery Voltage Cell 1: 3771 mV .. 3856 mV");
}

QTEST_MAIN(TestLogWindow)
#include "tst_logwindow.moc"
