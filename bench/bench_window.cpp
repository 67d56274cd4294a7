// Drives the real main window offscreen and prints the time from one key
// press in the input box to updated views (report, browser, chart drawn),
// median of many key presses, for growing numbers of frames in the box.

#include "../bench/beaconlog.h"
#include "app/form1.h"
#include "benchfigures.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using benchfigures::peakMemoryMiB;

// Times presses of a blank and its removal at the cursor, each until the
// views are updated (the chart's queued redraw and the repaints it asks
// for); sorted.
std::vector<double> timeKeyPresses(QPlainTextEdit *input, int presses) {
    std::vector<double> samples;
    for (int i = 0; i < presses; ++i) {
        QElapsedTimer timer;
        timer.start();
        QTest::keyClick(input, i % 2 ? Qt::Key_Backspace : Qt::Key_Space);
        QApplication::processEvents();
        QApplication::processEvents();
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(samples.begin(), samples.end());
    return samples;
}

void benchKeys(int frames, int presses) {
    Form1 window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return;
    auto *input = window.findChild<QPlainTextEdit *>(QStringLiteral("Text2"));
    QElapsedTimer loadTimer;
    loadTimer.start();
    input->setPlainText(beaconlog::log(frames, 0));
    QApplication::processEvents();
    const double loadMs = loadTimer.nsecsElapsed() / 1e6;
    input->setFocus();
    input->moveCursor(QTextCursor::End);

    // At the end of the last line: every press re-decodes the whole text.
    const std::vector<double> samples = timeKeyPresses(input, presses);
    const QString what =
        QStringLiteral("window: key press to updated views, %1 frames").arg(frames);
    const QString detail = QStringLiteral("90%: %1 ms, max %2 ms; text loaded in %3 ms")
                               .arg(samples[samples.size() * 9 / 10], 0, 'f', 2)
                               .arg(samples.back(), 0, 'f', 2)
                               .arg(loadMs, 0, 'f', 0);
    std::printf("| %-58s | %10.2f ms | %-40s | %7.1f MiB |\n", qPrintable(what),
                samples[samples.size() / 2], qPrintable(detail), peakMemoryMiB());
    std::fflush(stdout);
}

// A text of a few frames and one line of lineLength characters: the time
// of a key press on a short line and inside the long one.
void benchLongLine(int lineLength, int presses) {
    Form1 window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return;
    auto *input = window.findChild<QPlainTextEdit *>(QStringLiteral("Text2"));
    const QString frames = beaconlog::log(10, 0);
    QElapsedTimer loadTimer;
    loadTimer.start();
    input->setPlainText(frames + QString(lineLength, QLatin1Char('7')) + QLatin1Char('\n') +
                        frames);
    QApplication::processEvents();
    const double loadMs = loadTimer.nsecsElapsed() / 1e6;
    input->setFocus();

    for (const bool insideLongLine : {false, true}) {
        QTextCursor cursor = input->textCursor();
        cursor.setPosition(int(frames.size()) + (insideLongLine ? lineLength / 2 : -1));
        input->setTextCursor(cursor);
        const std::vector<double> samples = timeKeyPresses(input, presses);
        const QString what = QStringLiteral("window: key %1, text with a %2-character line")
                                 .arg(insideLongLine ? QStringLiteral("inside the long line")
                                                     : QStringLiteral("on a frame line"))
                                 .arg(lineLength);
        const QString detail = QStringLiteral("max %1 ms; text loaded in %2 ms")
                                   .arg(samples.back(), 0, 'f', 0)
                                   .arg(loadMs, 0, 'f', 0);
        std::printf("| %-58s | %10.2f ms | %-40s | %7.1f MiB |\n", qPrintable(what),
                    samples[samples.size() / 2], qPrintable(detail), peakMemoryMiB());
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchKeys(100, 201);
    benchKeys(10000, 101);
    benchKeys(100000, 21);
    benchLongLine(10 * 1000 * 1000, 5);
    return 0;
}
