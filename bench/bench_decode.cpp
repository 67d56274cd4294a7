// Prints the time of one full decode pass over beacon logs of growing size,
// and of kadrin-decode --csv over a million frame lines.

#include "beaconlog.h"
#include "history/telemetryhistory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

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

double medianMs(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

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
    std::printf("decode pass  %7d frames + %7d other lines  %9.3f ms  %11.0f lines/s"
                "  %11.0f frames/s  peak %6.1f MiB\n",
                frames, noise, ms, (frames + noise) / (ms / 1000.0), frames / (ms / 1000.0),
                peakMemoryMiB());
    if (history.RecordCount() != frames)
        std::printf("  ERROR: %d records\n", history.RecordCount());
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
    std::printf("kadrin-decode --csv  %7d frame lines  %9.1f ms (median of 3)\n", frames,
                medianMs(samples));
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    for (int frames : {100, 10000, 100000}) {
        benchPass(frames, 0);
        benchPass(0, frames);
        benchPass(frames, frames);
    }
    benchCli(1000000);
    return 0;
}
