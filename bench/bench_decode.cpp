// Prints the time of one full decode pass over beacon logs of growing size,
// of an edit in a large store, and of kadrin-decode over a million lines.

#include "beaconlog.h"
#include "benchfigures.h"
#include "history/telemetryhistory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <vector>

namespace {

using benchfigures::medianMs;
using benchfigures::peakMemoryMiB;
using benchfigures::row;

void benchPass(int frames, int noise) {
    const QString text = beaconlog::log(frames, noise);
    TelemetryHistory history;
    std::vector<double> samples;
    const int runs = frames + noise >= 100000 ? 7 : 51;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        history.decodeText(text);
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    const double ms = medianMs(samples);
    row(QStringLiteral("decode pass: %1 frame + %2 other lines").arg(frames).arg(noise), ms,
        QStringLiteral("%1 lines/s").arg((frames + noise) / (ms / 1000.0), 0, 'f', 0),
        peakMemoryMiB());
    if (history.recordCount() != frames)
        std::printf("  ERROR: %d records\n", history.recordCount());
}

// One line in the middle of a million replaced, its frame lost and found.
void benchEdit(int frames) {
    const QString text = beaconlog::log(frames, 0);
    std::vector<QString> lines;
    for (const QString &line : text.split(QLatin1Char('\n')))
        lines.push_back(line);
    TelemetryHistory history;
    history.replaceLines(0, 0, int(lines.size()),
                         [&](int i) { return QStringView(lines[size_t(i)]); });
    const int middle = frames / 2;
    const QString broken = lines[size_t(middle)] + QLatin1Char('X');
    std::vector<double> samples;
    for (int i = 0; i < 51; ++i) {
        const QString &line = i % 2 ? lines[size_t(middle)] : broken;
        QElapsedTimer timer;
        timer.start();
        history.replaceLines(middle, 1, 1, [&](int) { return QStringView(line); });
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    row(QStringLiteral("store: one line replaced in %1 frame lines").arg(frames), medianMs(samples),
        QStringLiteral("a frame lost and found in the middle"), peakMemoryMiB());
}

struct Timed {
    double ms = 0;
    double childPeakMiB = 0;
};

// Runs a shell command line, median of runs; the largest child's peak memory.
Timed timeCommand(const QString &command, int runs) {
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return {medianMs(samples), usage.ru_maxrss / 1024.0};
}

void benchCli(int frames) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    const QString timedPath = dir.filePath(QStringLiteral("timed.txt"));
    if (!beaconlog::writeLog(path, frames) || !beaconlog::writeLog(timedPath, frames, true)) {
        std::printf("  ERROR: cannot write the logs in %s\n", qPrintable(dir.path()));
        return;
    }
    const QString program = QStringLiteral(KADRIN_DECODE_PATH);
    // grep stops at the first match when its output is /dev/null: a pipe.
    const double grep =
        timeCommand(QStringLiteral("grep -c KADRIN '%1' | cat >/dev/null").arg(path), 5).ms;
    const auto run = [&](const char *option, const QString &log) {
        return timeCommand(
            QStringLiteral("'%1' %2 '%3' >/dev/null").arg(program, QLatin1String(option), log), 5);
    };
    const Timed csv = run("--csv", path);
    const Timed json = run("--json", path);
    const Timed timedCsv = run("--csv", timedPath);
    const Timed timedJson = run("--json", timedPath);
    row(QStringLiteral("kadrin-decode --csv: %1 frame lines").arg(frames), csv.ms,
        QStringLiteral("%1 x grep -c (%2 ms), output to /dev/null")
            .arg(csv.ms / grep, 0, 'f', 1)
            .arg(grep, 0, 'f', 0),
        csv.childPeakMiB);
    row(QStringLiteral("kadrin-decode --json: %1 frame lines").arg(frames), json.ms,
        QStringLiteral("%1 x --csv").arg(json.ms / csv.ms, 0, 'f', 2), json.childPeakMiB);
    row(QStringLiteral("kadrin-decode --csv: %1 timed frame lines").arg(frames), timedCsv.ms,
        QStringLiteral("each line starts with its UTC time"), timedCsv.childPeakMiB);
    row(QStringLiteral("kadrin-decode --json: %1 timed frame lines").arg(frames), timedJson.ms,
        QStringLiteral("%1 x --csv of the same lines").arg(timedJson.ms / timedCsv.ms, 0, 'f', 2),
        timedJson.childPeakMiB);
    // Endless input without a line break, and a line of a gigabyte of blanks.
    const Timed zero = timeCommand(
        QStringLiteral("head -c 500000000 /dev/zero | '%1' >/dev/null").arg(program), 1);
    row(QStringLiteral("kadrin-decode: 500 MB of NUL, one line"), zero.ms,
        QStringLiteral("streamed"), zero.childPeakMiB);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    // The command-line figures come from a small process of their own: the
    // peak memory of a child counts what it shares with a large parent.
    if (app.arguments().value(1) == QLatin1String("cli")) {
        benchCli(1000000);
        return 0;
    }
    QProcess cli;
    cli.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    cli.start(QCoreApplication::applicationFilePath(), {QStringLiteral("cli")});
    cli.waitForFinished(-1);
    for (int frames : {100, 10000, 100000})
        benchPass(frames, 0);
    benchPass(100000, 100000);
    benchPass(1000000, 0);
    benchEdit(1000000);
    return 0;
}
