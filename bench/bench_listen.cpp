// The CPU cost of following the signal: generated audio (frames at -6 dB)
// fed in real time, 20 ms blocks on a timer, to (a) the copier alone, (b)
// the copier and a shown waterfall, (c) the same with the waterfall hidden;
// at 8 kHz and 48 kHz. Prints the process CPU time over wall time as a share
// of one core. KADRIN_BENCH_SECONDS sets the seconds per case (20). Runs on
// any Qt platform; QT_QPA_PLATFORM=offscreen when there is no display.
//
// The audio reaches its listeners through one function (Sink), so the
// listening session can take the copier's place with a small change.

#include "app/waterfallview.h"
#include "cwaudio/cwcopier.h"
#include "cwgen/generator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <time.h>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Sink = std::function<void(const float *, qsizetype)>;

double processSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Feeds the generator's audio to sink in real time for seconds; returns the
// process CPU time over the wall time.
double feedRealTime(cwgen::Generator &generator, double seconds, const Sink &sink) {
    const double rate = generator.settings().sampleRate;
    const auto block = qsizetype(rate * 0.02);
    std::vector<float> samples(static_cast<size_t>(block));
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(20);
    QElapsedTimer wall;
    qint64 fed = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        // Catch up with the wall clock, as a sound card would hand on its blocks.
        while (fed < qint64(wall.elapsed() * rate / 1000)) {
            qsizetype got = qsizetype(generator.render(samples.data(), block));
            if (got == 0) {
                generator.rewind();
                continue;
            }
            sink(samples.data(), got);
            fed += got;
        }
        if (wall.elapsed() >= qint64(seconds * 1000))
            loop.quit();
    });
    const double cpu0 = processSeconds();
    wall.start();
    timer.start();
    loop.exec();
    return (processSeconds() - cpu0) / (wall.elapsed() / 1000.0);
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const double seconds = qEnvironmentVariableIsSet("KADRIN_BENCH_SECONDS")
                               ? qEnvironmentVariable("KADRIN_BENCH_SECONDS").toDouble()
                               : 20;
    std::printf("Following the signal in real time, %g s a case, platform %s\n", seconds,
                qPrintable(QGuiApplication::platformName()));
    for (double rate : {8000.0, 48000.0}) {
        cwgen::Settings settings;
        settings.sampleRate = rate;
        settings.snrDb = -6;
        settings.gapSeconds = 3;
        cwgen::Generator generator;
        const QString frame = QStringLiteral("S KADRIN 2J6467YDPYZJ72P48QD7");
        if (!generator.plan(settings, {frame, frame, frame})) {
            std::fprintf(stderr, "%s\n", qPrintable(generator.error()));
            return 1;
        }
        for (int view = 0; view < 3; ++view) {
            generator.rewind();
            CwCopier copier(rate);
            WaterfallView waterfall;
            waterfall.resize(1000, 100);
            if (view == 1)
                waterfall.show();
            waterfall.start(rate);
            Sink sink = [&](const float *s, qsizetype n) {
                copier.feed(s, n);
                if (view > 0) {
                    waterfall.addSamples(s, n);
                    waterfall.setTone(copier.figures().toneHz);
                }
            };
            const double share = feedRealTime(generator, seconds, sink);
            const char *names[] = {"copier alone", "copier + shown waterfall",
                                   "copier + hidden waterfall"};
            std::printf("| %5.0f Hz | %-28s | %6.2f %% of one core |\n", rate, names[view],
                        share * 100);
            std::fflush(stdout);
        }
    }
    return 0;
}
