// What the archive costs. kadrin-decode --store of a million timed log
// lines into a new archive, and again with every frame known; the bytes on
// disk per frame; --stored as CSV against --csv of the log itself. Then,
// over an archive of ten million frames (built once, kept in the build
// folder for the next run), Archive::cells() for spans from one pass to
// everything, and the peak memory of the History window drawing them.
// Every program measured runs in a process of its own, so that its peak
// memory is its own.
//
// kadrin-bench-archive [--rebuild]   --rebuild: the large archive anew

#include "app/historywindow.h"
#include "archive/archive.h"
#include "benchfigures.h"
#include "decoder/symbolalphabet.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox> // historywindow.h keeps one in a QPointer
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

extern char **environ;

namespace {

using benchfigures::medianMs;
using benchfigures::peakMemoryMiB;

constexpr qint64 LogFrames = 1000000;
constexpr qint64 LargeFrames = 10000000;
constexpr qint64 LargeBatch = 100000;
constexpr int Columns = 1000;
constexpr qint64 Day = 86400;
// 2026-01-01 00:00:00 UTC.
constexpr qint64 FirstSecond = 1767225600;

// One row of the table this program prints: its figure already in words.
void row(const QString &what, const QString &figure, const QString &detail, double peakMiB,
         const QString &target) {
    std::printf("| %-58s | %12s | %-70s | %8.1f MiB | %-22s |\n", qPrintable(what),
                qPrintable(figure), qPrintable(detail), peakMiB, qPrintable(target));
    std::fflush(stdout);
}

QString seconds(double ms) { return QStringLiteral("%1 s").arg(ms / 1000.0, 0, 'f', 2); }
QString milliseconds(double ms) { return QStringLiteral("%1 ms").arg(ms, 0, 'f', 2); }
QString verdict(bool met, const QString &target) {
    return target + (met ? QStringLiteral(": met") : QStringLiteral(": NOT met"));
}
QString thousands(qint64 n) { return QLocale(QLocale::English).toString(n); }

// Frames as a station hears them: a pass every orbit (its start 80 to 110
// minutes after the last one's), ten minutes long, a frame every 10 to 20 s,
// random symbols. The same seed gives the same frames.
class Sky {
public:
    explicit Sky(quint32 seed) : random_(seed) {}
    // The next frame's time; its 20 symbols into `symbols`.
    qint64 next(char *symbols) {
        quint64 bits = random_.generate64();
        for (int i = 0; i < 20; ++i) {
            if (i == 16)
                bits = random_.generate64();
            symbols[i] = SymbolAlphabet[bits & 15];
            bits >>= 4;
        }
        const qint64 t = time_;
        time_ += 10 + random_.bounded(11);
        if (time_ > passStart_ + 600) {
            passStart_ += 60 * (80 + random_.bounded(31));
            time_ = passStart_;
        }
        return t;
    }

private:
    QRandomGenerator random_;
    qint64 passStart_ = FirstSecond;
    qint64 time_ = FirstSecond;
};

// "2026-12-05 21:07:53  S KADRIN 28CAA22221238CC22FFF\n" lines, `frames` of them.
bool writeLog(const QString &path, qint64 frames) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    Sky sky(1);
    QByteArray text;
    char line[64];
    char symbols[20];
    for (qint64 n = 0; n < frames; ++n) {
        const qint64 t = sky.next(symbols);
        const QDate date = QDate::fromJulianDay(t / Day + 2440588);
        const int second = int(t % Day);
        const int size = std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d  S KADRIN %.20s\n",
                                       date.year(), date.month(), date.day(), second / 3600,
                                       second / 60 % 60, second % 60, symbols);
        text.append(line, size);
        if (text.size() > (1 << 20)) {
            if (file.write(text) != text.size())
                return false;
            text.clear();
        }
    }
    return file.write(text) == text.size() && file.flush();
}

struct Run {
    double ms = 0;
    double peakMiB = 0;
    int exitCode = -1;
};

// Runs a program and waits for it: its standard output and error into
// files (inherited when empty), on one core when oneCore. The peak memory
// is the program's own (spawned, not forked from this process).
Run run(const QStringList &arguments, const QString &out, const QString &err, bool oneCore) {
    std::vector<QByteArray> bytes;
    for (const QString &a : arguments)
        bytes.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    const QByteArray outPath = out.toLocal8Bit(), errPath = err.toLocal8Bit();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!out.isEmpty())
        posix_spawn_file_actions_addopen(&actions, 1, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!err.isEmpty())
        posix_spawn_file_actions_addopen(&actions, 2, errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // The child takes this thread's cores: the last one allowed, for a while.
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof allowed, &allowed);
    if (oneCore) {
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = CPU_SETSIZE - 1; cpu >= 0; --cpu) {
            if (CPU_ISSET(cpu, &allowed)) {
                CPU_SET(cpu, &one);
                break;
            }
        }
        sched_setaffinity(0, sizeof one, &one);
    }
    std::fflush(stdout);
    Run result;
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    if (oneCore)
        sched_setaffinity(0, sizeof allowed, &allowed);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::printf("  ERROR: cannot run %s: %s\n", argv[0], std::strerror(spawned));
        return result;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return result;
    result.ms = timer.nsecsElapsed() / 1e6;
    result.peakMiB = usage.ru_maxrss / 1024.0;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

struct Runs {
    double ms = 0;      // median
    double peakMiB = 0; // largest
    bool ok = true;
};

// `times` runs; before each, `prepare`; after each, `check` of its error text.
template <typename Prepare, typename Check>
Runs runs(int times, const QStringList &arguments, const QString &errPath, Prepare prepare, Check check) {
    Runs result;
    std::vector<double> samples;
    for (int i = 0; i < times; ++i) {
        prepare(i);
        const Run r = run(arguments, QStringLiteral("/dev/null"), errPath, true);
        QFile err(errPath);
        const QString said = err.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(err.readAll()) : QString();
        if (r.exitCode != 0 || !check(said)) {
            std::printf("  ERROR: %s exited with %d: %s\n", qPrintable(arguments.join(QLatin1Char(' '))),
                        r.exitCode, qPrintable(said.trimmed()));
            result.ok = false;
        }
        samples.push_back(r.ms);
        result.peakMiB = std::max(result.peakMiB, r.peakMiB);
    }
    result.ms = medianMs(samples);
    return result;
}

qint64 fileSize(const QString &path) {
    const QFileInfo info(path);
    return info.exists() ? info.size() : 0;
}

void removeArchive(const QString &path) {
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

// kadrin-decode --store and --stored against decoding the log alone; a
// copy of it, so that a build beside the bench cannot change it midway.
bool benchStore(const QString &built) {
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("kadrin-decode"));
    if (!dir.isValid() || !QFile::copy(built, program)) {
        std::printf("  ERROR: cannot copy %s to %s\n", qPrintable(built), qPrintable(dir.path()));
        return false;
    }
    const QString log = dir.filePath(QStringLiteral("beacon.log"));
    const QString archive = dir.filePath(QStringLiteral("archive.sqlite"));
    const QString err = dir.filePath(QStringLiteral("stderr.txt"));
    if (!writeLog(log, LogFrames)) {
        std::printf("  ERROR: cannot write the log in %s\n", qPrintable(dir.path()));
        return false;
    }
    const QString lines = thousands(LogFrames);
    const auto any = [](const QString &) { return true; };
    const auto nothing = [](int) {};
    const Runs decode = runs(3, {program, log}, err, nothing, any);

    qint64 bytes = 0, walBytes = 0;
    const Runs added = runs(
        3, {program, QStringLiteral("--store"), QStringLiteral("--archive"), archive, log}, err,
        [&](int) { removeArchive(archive); },
        [&](const QString &said) {
            bytes = fileSize(archive);
            walBytes = fileSize(archive + QStringLiteral("-wal"));
            return said.contains(QStringLiteral(": %1 new frames, 0 already known").arg(LogFrames));
        });
    row(QStringLiteral("kadrin-decode --store: %1 timed lines, new archive").arg(lines), seconds(added.ms),
        QStringLiteral("one core; decoding and its reports alone (no --store) %1").arg(seconds(decode.ms)),
        added.peakMiB, verdict(added.ok && added.ms <= 10000, QStringLiteral("<= 10 s")));
    const Runs known = runs(
        3, {program, QStringLiteral("--store"), QStringLiteral("--archive"), archive, log}, err, nothing,
        [&](const QString &said) {
            return said.contains(QStringLiteral(": 0 new frames, %1 already known").arg(LogFrames));
        });
    row(QStringLiteral("kadrin-decode --store: the same lines again, all known"), seconds(known.ms),
        QStringLiteral("one core; every frame and reception found in the archive"), known.peakMiB,
        verdict(known.ok && known.ms <= 5000, QStringLiteral("<= 5 s")));
    const double perFrame = double(bytes + walBytes) / double(LogFrames);
    row(QStringLiteral("archive on disk: %1 frames, one reception each").arg(lines),
        QStringLiteral("%1 B/frame").arg(perFrame, 0, 'f', 1),
        QStringLiteral("file %1 bytes, wal %2 bytes after close").arg(thousands(bytes), thousands(walBytes)), 0,
        verdict(added.ok && perFrame <= 150, QStringLiteral("<= 150 B")));

    const Runs csv = runs(3, {program, QStringLiteral("--csv"), log}, err, nothing, any);
    const Runs stored = runs(
        3, {program, QStringLiteral("--stored"), QStringLiteral("--archive"), archive, QStringLiteral("--csv")},
        err, nothing, any);
    const double ratio = stored.ms / csv.ms;
    row(QStringLiteral("kadrin-decode --stored --csv: %1 frames").arg(lines), seconds(stored.ms),
        QStringLiteral("%1 x kadrin-decode --csv of the log (%2); output to /dev/null")
            .arg(ratio, 0, 'f', 2)
            .arg(seconds(csv.ms)),
        stored.peakMiB, verdict(stored.ok && csv.ok && ratio <= 3, QStringLiteral("<= 3 x --csv")));
    row(QStringLiteral("kadrin-decode --csv: the same %1 log lines").arg(lines), seconds(csv.ms),
        QStringLiteral("for the line above"), csv.peakMiB, QString());
    return true;
}

// The large archive: through Archive::store, as kadrin-decode --store and the
// window store, in batches of LargeBatch frames, one transaction each.
int buildMain(const QString &path) {
    removeArchive(path);
    QElapsedTimer timer;
    timer.start();
    Archive archive;
    if (!archive.open(path)) {
        std::printf("  ERROR: %s\n", qPrintable(archive.error()));
        return 2;
    }
    Sky sky(2);
    std::vector<IncomingFrame> batch;
    batch.reserve(size_t(LargeBatch));
    const QString source = QStringLiteral("/home/station/kadrin/beacon.log");
    char symbols[20];
    qint64 first = 0, last = 0;
    for (qint64 n = 0; n < LargeFrames; n += LargeBatch) {
        batch.clear();
        for (qint64 i = 0; i < LargeBatch; ++i) {
            IncomingFrame frame;
            frame.time = sky.next(symbols);
            frame.symbols = QString::fromLatin1(symbols, 20);
            frame.reception.source = source;
            frame.reception.line = n + i + 1;
            batch.push_back(std::move(frame));
        }
        if (n == 0)
            first = batch.front().time;
        last = batch.back().time;
        Archive::Counts counts;
        if (!archive.store(batch, &counts) || counts.added != LargeBatch) {
            std::printf("  ERROR: storing frames %lld on: %s\n", n, qPrintable(archive.error()));
            return 2;
        }
    }
    archive.close();
    const double ms = timer.nsecsElapsed() / 1e6;
    const qint64 bytes = fileSize(path) + fileSize(path + QStringLiteral("-wal"));
    row(QStringLiteral("large archive built and kept: %1 frames, %2 years").arg(thousands(LargeFrames))
            .arg(double(last - first) / (365.25 * Day), 0, 'f', 1),
        seconds(ms),
        QStringLiteral("Archive::store, %1 a batch: %2 frames/s, %3 B/frame")
            .arg(thousands(LargeBatch), thousands(qint64(LargeFrames / (ms / 1000))))
            .arg(double(bytes) / double(LargeFrames), 0, 'f', 1),
        peakMemoryMiB(), QString());
    return 0;
}

// The spans a chart shows, each at places chosen at random.
struct Span {
    const char *name;
    qint64 seconds; // 0: one pass; -1: everything
};
constexpr Span Spans[] = {{"one pass", 0},          {"a day", Day},        {"a week", 7 * Day},
                          {"a month", 30 * Day},    {"a year", 365 * Day}, {"everything", -1}};

// A span of the kind at a random place: a pass with a minute on each side
// (as the window shows it), else a stretch ending at a random time.
std::pair<qint64, qint64> placeSpan(Archive &archive, const Span &span, std::pair<qint64, qint64> extent,
                                    QRandomGenerator &random) {
    const auto at = [&](qint64 length) {
        const qint64 room = std::max<qint64>(extent.second - extent.first - length, 1);
        return extent.first + qint64(random.bounded(double(room)));
    };
    if (span.seconds < 0) {
        const qint64 margin = std::max<qint64>(60, (extent.second - extent.first) / 50);
        return {extent.first - margin, extent.second + margin};
    }
    if (span.seconds == 0) {
        const qint64 t = at(Day);
        std::vector<Pass> passes;
        if (archive.passes(t, t + Day / 4, &passes) && !passes.empty())
            return {passes.front().start - 60, passes.front().end + 60};
        return {t, t + 720};
    }
    const qint64 from = at(span.seconds);
    return {from, from + span.seconds};
}

// Archive::cells() for each span at 21 places.
int cellsMain(const QString &path) {
    Archive archive;
    const auto extent = archive.open(path) ? archive.extent() : std::nullopt;
    if (!extent) {
        std::printf("  ERROR: %s\n", qPrintable(archive.error()));
        return 2;
    }
    QRandomGenerator random(7);
    for (const Span &span : Spans) {
        std::vector<double> samples;
        qint64 frames = 0;
        for (int i = 0; i < 21; ++i) {
            const auto [from, to] = placeSpan(archive, span, *extent, random);
            std::vector<TimeCell> cells;
            QElapsedTimer timer;
            timer.start();
            if (!archive.cells(from, to, Columns, &cells)) {
                std::printf("  ERROR: %s\n", qPrintable(archive.error()));
                return 2;
            }
            samples.push_back(timer.nsecsElapsed() / 1e6);
            for (const TimeCell &cell : cells)
                frames += cell.frames;
        }
        const double worst = *std::max_element(samples.begin(), samples.end());
        const double median = medianMs(samples);
        row(QStringLiteral("Archive::cells(): %1 of %2 frames, %3 columns")
                .arg(QLatin1String(span.name), thousands(LargeFrames))
                .arg(Columns),
            milliseconds(median),
            QStringLiteral("worst %1 of 21 places; %2 frames a place on average")
                .arg(milliseconds(worst), thousands(frames / 21)),
            peakMemoryMiB(), verdict(worst <= 50, QStringLiteral("<= 50 ms, worst too")));
    }
    return 0;
}

// The History window offscreen drawing every span at 5 places each, all
// fourteen channels shown.
int historyMain(int argc, char *argv[], const QString &path) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Archive archive;
    const auto extent = archive.open(path) ? archive.extent() : std::nullopt;
    if (!extent) {
        std::printf("  ERROR: %s\n", qPrintable(archive.error()));
        return 2;
    }
    QElapsedTimer opened;
    opened.start();
    HistoryWindow window(path, {});
    window.show();
    QApplication::processEvents();
    const double openMs = opened.nsecsElapsed() / 1e6;
    QList<int> all;
    for (int channel = 1; channel <= ArchiveChannels; ++channel)
        all.append(channel);
    window.setChannels(all);
    // Every span at five places, drawn and painted.
    auto drawAll = [&] {
        QRandomGenerator random(11);
        std::vector<double> samples;
        for (const Span &span : Spans) {
            for (int i = 0; i < 5; ++i) {
                const auto [from, to] = placeSpan(archive, span, *extent, random);
                QElapsedTimer timer;
                timer.start();
                window.showSpan(from, to);
                QApplication::processEvents();
                samples.push_back(timer.nsecsElapsed() / 1e6);
                if (qEnvironmentVariableIsSet("KADRIN_BENCH_DEBUG"))
                    std::fprintf(stderr, "%s %.1f ms\n", span.name, samples.back());
            }
        }
        return samples;
    };
    const std::vector<double> samples = drawAll();
    window.setChannels({1});
    const std::vector<double> one = drawAll();
    const double oneWorst = *std::max_element(one.begin(), one.end());
    row(QStringLiteral("History window: one channel, every span of %1 frames").arg(thousands(LargeFrames)),
        milliseconds(medianMs(one)),
        QStringLiteral("worst %1; 6 spans x 5 places, offscreen").arg(milliseconds(oneWorst)), peakMemoryMiB(),
        verdict(oneWorst <= 50, QStringLiteral("<= 50 ms, worst too")));
    if (!window.archiveError().isEmpty())
        std::printf("  ERROR: %s\n", qPrintable(window.archiveError()));
    const double peak = peakMemoryMiB();
    row(QStringLiteral("History window: every span of %1 frames drawn").arg(thousands(LargeFrames)),
        milliseconds(medianMs(samples)),
        QStringLiteral("worst %1; 6 spans x 5 places, 14 channels, offscreen; opened in %2")
            .arg(milliseconds(*std::max_element(samples.begin(), samples.end())), milliseconds(openMs)),
        peak, verdict(peak <= 300, QStringLiteral("<= 300 MiB")));
    return 0;
}

// The large archive, built unless an earlier run left it complete.
bool largeArchive(const QString &self, const QString &path, bool rebuild) {
    const QString marker = path + QStringLiteral(".done");
    const QByteArray done = QStringLiteral("schema %1, %2 frames, sky 2\n")
                                .arg(Archive::SchemaVersion)
                                .arg(LargeFrames)
                                .toLatin1();
    QFile markerFile(marker);
    if (!rebuild && QFileInfo::exists(path) && markerFile.open(QIODevice::ReadOnly) &&
        markerFile.readAll() == done) {
        row(QStringLiteral("large archive: %1 frames, cached").arg(thousands(LargeFrames)), QStringLiteral("-"),
            QStringLiteral("built by an earlier run, kept in the build folder (%1); --rebuild")
                .arg(QFileInfo(path).fileName()),
            0,
            QString());
        return true;
    }
    markerFile.close();
    QFile::remove(marker);
    QDir().mkpath(QFileInfo(path).absolutePath());
    const Run built = run({self, QStringLiteral("build"), path}, QString(), QString(), false);
    if (built.exitCode != 0)
        return false;
    QFile out(marker);
    return out.open(QIODevice::WriteOnly) && out.write(done) == done.size();
}

} // namespace

int main(int argc, char *argv[]) {
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const QString path = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (mode == QLatin1String("history"))
        return historyMain(argc, argv, path);
    QCoreApplication app(argc, argv);
    if (mode == QLatin1String("build"))
        return buildMain(path);
    if (mode == QLatin1String("cells"))
        return cellsMain(path);
    if (!mode.isEmpty() && mode != QLatin1String("--rebuild")) {
        std::fprintf(stderr, "usage: kadrin-bench-archive [--rebuild]\n");
        return 2;
    }
    const QString self = QCoreApplication::applicationFilePath();
    std::printf("| %-58s | %12s | %-70s | %12s | %-22s |\n", "archive", "median", "detail", "peak memory",
                "target");
    std::printf("|---|---:|---|---:|---|\n");
    std::fflush(stdout);
    if (!benchStore(QStringLiteral(KADRIN_DECODE_PATH)))
        return 2;
    const QString large = QStringLiteral(KADRIN_BENCH_CACHE "/archive-10M.sqlite");
    if (!largeArchive(self, large, mode == QLatin1String("--rebuild")))
        return 2;
    run({self, QStringLiteral("cells"), large}, QString(), QString(), false);
    run({self, QStringLiteral("history"), large}, QString(), QStringLiteral("/dev/null"), false);
    return 0;
}
