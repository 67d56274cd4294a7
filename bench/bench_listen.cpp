// The CPU cost of listening: the window listens, as to a sound card, to
// generated audio (frames at -6 dB) handed on in real time in 20 ms blocks;
// at 8 kHz and 48 kHz, the window shown (copier, waterfall, text box and
// listen log), hidden, and shown but not listening. Prints the process CPU
// time over the wall time as a share of one core. KADRIN_BENCH_SECONDS sets
// the seconds per case (20). Runs on any Qt platform (QT_QPA_PLATFORM=
// offscreen when there is no display; xvfb-run for a real X server).

#include "app/audiosession.h"
#include "app/form1.h"
#include "app/sourceswitch.h"
#include "cwgen/generator.h"
#include "listen/audiosource.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <time.h>

#include <cstdio>

namespace {

double processSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// The generator's audio as a live source: every 20 ms the blocks the wall
// clock says are due, as a sound card hands them on.
class GeneratedSource : public AudioSource {
public:
    explicit GeneratedSource(cwgen::Generator &generator) : generator_(generator) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(20);
        connect(&timer_, &QTimer::timeout, this, [this] {
            const double rate = generator_.settings().sampleRate;
            const qint64 due = qint64(double(wall_.elapsed()) * rate / 1000) - fed_;
            if (due <= 0)
                return;
            QList<float> block(due);
            qint64 got = 0;
            while (got < due) {
                const qint64 n = generator_.render(block.data() + got, due - got);
                if (n == 0)
                    generator_.rewind();
                got += n;
            }
            fed_ += due;
            emit samples(block);
        });
    }
    QString name() const override { return QStringLiteral("generator"); }
    double sampleRate() const override { return generator_.settings().sampleRate; }
    bool start(QString *) override {
        wall_.start();
        timer_.start();
        return true;
    }
    void stop() override { timer_.stop(); }

private:
    cwgen::Generator &generator_;
    QTimer timer_;
    QElapsedTimer wall_;
    qint64 fed_ = 0;
};

// The process CPU time over the wall time while the event loop runs for seconds.
double share(double seconds) {
    const double cpu0 = processSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    return (processSeconds() - cpu0) / (double(wall.elapsed()) / 1000.0);
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const double seconds = qEnvironmentVariableIsSet("KADRIN_BENCH_SECONDS")
                               ? qEnvironmentVariable("KADRIN_BENCH_SECONDS").toDouble()
                               : 20;
    QTemporaryDir folder;
    std::printf("Listening in real time, %g s a case, platform %s\n", seconds,
                qPrintable(QGuiApplication::platformName()));
    std::printf("| audio | window | CPU |\n|---|---|---|\n");
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
        const char *const cases[] = {"shown, listening", "hidden, listening",
                                     "shown, not listening"};
        for (int c = 0; c < 3; ++c) {
            generator.rewind();
            Form1 window{Configuration{}};
            window.sources().audio().listenSession().setFolder(folder.path());
            window.show();
            if (c == 1)
                window.hide();
            if (c != 2)
                window.sources().audio().listen(std::make_unique<GeneratedSource>(generator));
            std::printf("| %.0f kHz | %s | %.2f %% of one core |\n", rate / 1000, cases[c],
                        share(seconds) * 100);
            std::fflush(stdout);
            window.sources().audio().stopListening();
        }
    }
    return 0;
}
