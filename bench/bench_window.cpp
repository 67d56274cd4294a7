// Drives the real main window offscreen: time from one key press in the
// input box to updated views (report, browser, chart drawn), the time to
// load a text, a click with a huge line in the box, and the work an idle
// window does. Each case runs in a process of its own, so that its peak
// memory is its own.

#include "../bench/beaconlog.h"
#include "app/beaconedit.h"
#include "app/form1.h"
#include "app/sourceswitch.h"
#include "benchfigures.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using benchfigures::medianMs;
using benchfigures::peakMemoryMiB;
using benchfigures::row;

std::unique_ptr<Form1> openWindow() {
    auto window = std::make_unique<Form1>(Configuration{QStringLiteral("/tmp/"), true});
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        std::fputs("window not shown\n", stderr);
    return window;
}

// Times presses of a key and of its removal at the cursor, each until the
// views are updated (the chart's queued redraw and the repaints it asks for).
std::vector<double> timeKeys(BeaconEdit *input, Qt::Key key, int presses) {
    std::vector<double> samples;
    for (int i = 0; i < presses; ++i) {
        QElapsedTimer timer;
        timer.start();
        QTest::keyClick(input, i % 2 ? Qt::Key_Backspace : key);
        QApplication::processEvents();
        QApplication::processEvents();
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    return samples;
}

double loadText(BeaconEdit *input, const QString &text) {
    QElapsedTimer timer;
    timer.start();
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(input, Qt::Key_V, Qt::ControlModifier);
    QApplication::processEvents();
    return timer.nsecsElapsed() / 1e6;
}

void benchKeys(int frames) {
    auto window = openWindow();
    auto *input = window->findChild<BeaconEdit *>(QStringLiteral("Text2"));
    input->setFocus();
    const double loadMs = loadText(input, beaconlog::log(frames, 0));
    const int presses = frames >= 100000 ? 21 : 101;
    // At the end of the last line a key adds or removes a frame; in the
    // middle an X breaks a frame and its removal restores it.
    const std::vector<double> atEnd = timeKeys(input, Qt::Key_2, presses);
    input->setCursorPosition({frames / 2, 10});
    const std::vector<double> inMiddle = timeKeys(input, Qt::Key_X, presses);
    row(QStringLiteral("window: key to updated views, %1 frames").arg(frames), medianMs(atEnd),
        QStringLiteral("in the middle %1 ms; loaded in %2 ms")
            .arg(medianMs(inMiddle), 0, 'f', 2)
            .arg(loadMs, 0, 'f', 0),
        peakMemoryMiB());
}

// CPU time used while the window sits idle for some seconds.
double idleCpuPercent(int seconds) {
    const auto cpu = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    // An event loop of its own: QTest::qWait polls, and would be measured.
    const auto idle = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    idle(11000); // the caret blinks for ten seconds after the last key
    const double before = cpu();
    idle(seconds * 1000);
    return 100 * (cpu() - before) / seconds;
}

void benchLongLine(int length) {
    auto window = openWindow();
    auto *input = window->findChild<BeaconEdit *>(QStringLiteral("Text2"));
    input->setFocus();
    const QString frames = beaconlog::log(10, 0);
    const double loadMs =
        loadText(input, frames + QString(length, QLatin1Char('7')) + QLatin1Char('\n') + frames);
    input->setCursorPosition({10, length / 2});
    const std::vector<double> inside = timeKeys(input, Qt::Key_7, 11);
    QAbstractButton *option =
        window->findChild<QButtonGroup *>(QStringLiteral("Option1"))->button(12);
    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(4, 6));
    QApplication::processEvents();
    const double clickMs = timer.nsecsElapsed() / 1e6;
    const double idle = idleCpuPercent(5);
    row(QStringLiteral("window: %1-character line, key inside it").arg(length), medianMs(inside),
        QStringLiteral("option click %1 ms; idle %2% CPU; loaded in %3 ms")
            .arg(clickMs, 0, 'f', 1)
            .arg(idle, 0, 'f', 1)
            .arg(loadMs, 0, 'f', 0),
        peakMemoryMiB());
}

// Open Log of a file of a million frame lines, as the menu does it.
void benchOpen(int frames) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.log"));
    if (!beaconlog::writeLog(path, frames))
        return;
    auto window = openWindow();
    QElapsedTimer timer;
    timer.start();
    window->sources().openLog(path);
    QApplication::processEvents();
    const double ms = timer.nsecsElapsed() / 1e6;
    auto *input = window->findChild<BeaconEdit *>(QStringLiteral("Text2"));
    input->setFocus();
    input->setCursorPosition({frames / 2, 10});
    const std::vector<double> keys = timeKeys(input, Qt::Key_X, 21);
    row(QStringLiteral("window: Open Log, %1 frame lines").arg(frames), ms,
        QStringLiteral("then a key in the middle %1 ms").arg(medianMs(keys), 0, 'f', 2),
        peakMemoryMiB());
}

// Follow Log of a log that a station writes a line at a time: the time from
// a line written to the views showing it, for hours of lines written in
// quick succession.
void benchFollow(int lines) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("live.log"));
    QFile log(path);
    if (!log.open(QIODevice::WriteOnly))
        return;
    auto window = openWindow();
    if (!window->sources().followLog(path))
        return;
    auto *label = window->findChild<QLabel *>(QStringLiteral("Label2"));
    QRandomGenerator random(7);
    std::vector<double> samples;
    for (int i = 1; i <= lines; ++i) {
        const QByteArray line = beaconlog::frameLine(random).toUtf8() + '\n';
        const QString expected = QStringLiteral("%1/%1").arg(i);
        QElapsedTimer timer;
        timer.start();
        log.write(line);
        log.flush();
        while (label->text() != expected && timer.elapsed() < 5000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::vector<double> last(samples.end() - 100, samples.end());
    row(QStringLiteral("window: following, %1 lines written one by one").arg(lines),
        medianMs(samples),
        QStringLiteral("last 100: median %1 ms, max %2 ms")
            .arg(medianMs(last), 0, 'f', 1)
            .arg(*std::max_element(samples.begin(), samples.end()), 0, 'f', 0),
        peakMemoryMiB());
}

// Find over a million frame lines: Enter in the find bar to the match
// selected and drawn, when the next match is a few lines on and when it is
// half a million lines away.
void benchFind(int frames) {
    auto window = openWindow();
    auto *input = window->findChild<BeaconEdit *>(QStringLiteral("Text2"));
    QStringList text = beaconlog::log(frames, 0).split(QLatin1Char('\n'));
    text[5].prepend(QStringLiteral("Kestrel "));
    text[frames / 2].prepend(QStringLiteral("Kestrel "));
    input->setLines(std::vector<QString>(text.begin(), text.end()));
    input->openFind();
    auto *findText = input->findChild<QLineEdit *>(QStringLiteral("findText"));
    findText->setText(QStringLiteral("kestrel"));
    const auto timeFrom = [&](TextPosition from) {
        std::vector<double> samples;
        for (int i = 0; i < 11; ++i) {
            input->setCursorPosition(from);
            QApplication::processEvents();
            QElapsedTimer timer;
            timer.start();
            QTest::keyClick(findText, Qt::Key_Return);
            QApplication::processEvents();
            samples.push_back(timer.nsecsElapsed() / 1e6);
        }
        return medianMs(samples);
    };
    const double near = timeFrom({0, 0});
    const double far = timeFrom({6, 0});
    row(QStringLiteral("window: find next, %1 frame lines").arg(frames), near,
        QStringLiteral("next match %1 lines away: %2 ms").arg(frames / 2 - 6).arg(far, 0, 'f', 2),
        peakMemoryMiB());
}

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 3 && arguments[1] == QLatin1String("keys")) {
        benchKeys(arguments[2].toInt());
    } else if (arguments.size() == 3 && arguments[1] == QLatin1String("line")) {
        benchLongLine(arguments[2].toInt());
    } else if (arguments.size() == 3 && arguments[1] == QLatin1String("open")) {
        benchOpen(arguments[2].toInt());
    } else if (arguments.size() == 3 && arguments[1] == QLatin1String("follow")) {
        benchFollow(arguments[2].toInt());
    } else if (arguments.size() == 3 && arguments[1] == QLatin1String("find")) {
        benchFind(arguments[2].toInt());
    } else {
        for (const char *args : {"keys 100", "keys 10000", "keys 100000", "keys 1000000",
                                 "open 1000000", "follow 36000", "line 50000000", "find 1000000"}) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedOutputChannel);
            child.start(QCoreApplication::applicationFilePath(),
                        QString::fromLatin1(args).split(QLatin1Char(' ')));
            child.waitForFinished(-1);
        }
    }
    return 0;
}
