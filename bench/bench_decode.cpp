// Prints the time of one full decode pass over beacon logs of growing size,
// and of kadrin-decode --csv over a million frame lines.

#include "beaconlog.h"
#include "benchfigures.h"
#include "history/telemetryhistory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using benchfigures::medianMs;
using benchfigures::peakMemoryMiB;

void benchPass(int frames, int noise) {
    const QString text = beaconlog::log(frames, noise);
    TelemetryHistory history;
    history.decodeText(text); // first pass grows the store
    std::vector<double> samples;
    const int runs = frames >= 100000 ? 15 : 51;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        history.decodeText(text);
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    const double ms = medianMs(samples);
    const QString what =
        QStringLiteral("decode pass: %1 frame lines + %2 other lines").arg(frames).arg(noise);
    std::printf("| %-58s | %10.3f ms | %12.0f frames/s, %12.0f lines/s | %7.1f MiB |\n",
                qPrintable(what), ms, frames / (ms / 1000.0), (frames + noise) / (ms / 1000.0),
                peakMemoryMiB());
    if (history.RecordCount() != frames)
        std::printf("  ERROR: %d records\n", history.RecordCount());
}

void benchLongLine(int length) {
    const QString text = QStringLiteral("SKADRIN22222222222222222222\n") +
                         QString(length, QLatin1Char('7')) +
                         QStringLiteral("SKADRIN22222222222222222222");
    TelemetryHistory history;
    std::vector<double> samples;
    for (int i = 0; i < 11; ++i) {
        QElapsedTimer timer;
        timer.start();
        history.decodeText(text);
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    const QString what =
        QStringLiteral("decode pass: one frame and a %1-character line").arg(length);
    std::printf("| %-58s | %10.3f ms | %-40s | %7.1f MiB |\n", qPrintable(what), medianMs(samples),
                "", peakMemoryMiB());
}

void benchCli(int frames) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(beaconlog::log(frames, 0).toUtf8());
    }
    std::vector<double> samples;
    for (int i = 0; i < 3; ++i) {
        QProcess process;
        process.setStandardOutputFile(dir.filePath(QStringLiteral("out.csv")));
        QElapsedTimer timer;
        timer.start();
        process.start(QStringLiteral(KADRIN_DECODE_PATH), {QStringLiteral("--csv"), path});
        process.waitForFinished(-1);
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    const QString what = QStringLiteral("kadrin-decode --csv: %1 frame lines").arg(frames);
    std::printf("| %-58s | %10.1f ms | %-40s | %11s |\n", qPrintable(what), medianMs(samples),
                "median of 3 runs, whole process", "");
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    for (int frames : {100, 10000, 100000}) {
        benchPass(frames, 0);
        benchPass(0, frames);
        benchPass(frames, frames);
    }
    benchLongLine(10 * 1000 * 1000);
    benchCli(1000000);
    return 0;
}
