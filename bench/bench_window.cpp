// Drives the real main window offscreen and prints the time from one key
// press in the input box to updated views (report, browser, chart drawn),
// median of many key presses, for growing numbers of frames in the box.

#include "../bench/beaconlog.h"
#include "app/form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double peakMemoryMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
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

    std::vector<double> samples;
    for (int i = 0; i < presses; ++i) {
        QElapsedTimer timer;
        timer.start();
        // A blank and its removal at the end of the last line: every press
        // re-decodes the whole text.
        QTest::keyClick(input, i % 2 ? Qt::Key_Backspace : Qt::Key_Space);
        QApplication::processEvents(); // the chart's queued redraw
        QApplication::processEvents(); // and the repaints it asks for
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(samples.begin(), samples.end());
    std::printf("window key press  %7d frames  median %8.2f ms  90%% %8.2f ms  max %8.2f ms"
                "  (loading the text %8.1f ms)  peak %6.1f MiB\n",
                frames, samples[samples.size() / 2], samples[samples.size() * 9 / 10],
                samples.back(), loadMs, peakMemoryMiB());
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
    input->setPlainText(frames + QString(lineLength, QLatin1Char('7')) + QLatin1Char('\n') + frames);
    QApplication::processEvents();
    const double loadMs = loadTimer.nsecsElapsed() / 1e6;
    input->setFocus();

    for (const bool insideLongLine : {false, true}) {
        QTextCursor cursor = input->textCursor();
        cursor.setPosition(int(frames.size()) + (insideLongLine ? lineLength / 2 : -1));
        input->setTextCursor(cursor);
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
        std::printf("window key press  one %d-character line, key %s  median %8.2f ms  max %8.2f ms"
                    "  (loading %8.1f ms)  peak %6.1f MiB\n",
                    lineLength, insideLongLine ? "inside it  " : "on a frame ",
                    samples[samples.size() / 2], samples.back(), loadMs, peakMemoryMiB());
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
