// Copying beacon frames from audio: the share of frames copied fully
// correct by our copier, by the ideal decoder (idealdecoder.h) and by
// multimon-ng, for recordings made by kadrin_cwgen; then wrong symbols,
// speed, memory and frames made from noise. A second table does the same
// for conditions through a receiver (Doppler, spin fading, other stations,
// crashes, passband, AGC, clipping, digital silence) and then listens to
// each interference alone, without a beacon.
//
// KADRIN_BENCH_FRAMES sets the frames per case (150 in the first table, 40
// in the second). KADRIN_BENCH_CASES, comma-separated parts of case names,
// runs only the cases named and skips the long recording and the noise; the
// second table's cases also answer to "receiver". KADRIN_BENCH_MINUTES sets
// the minutes of each interference alone (10). KADRIN_BENCH_DEBUG writes
// each frame not copied as sent to stderr. Each frame is its own
// transmission with 3 s of noise around it; all frames of a case are one
// recording, fed to each decoder as it is made.

#include "benchfigures.h"
#include "idealdecoder.h"

#include "cwaudio/cwcopier.h"
#include "cwaudio/linecopier.h"
#include "cwgen/generator.h"
#include "cwgen/morse.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

struct Case {
    const char *name;
    double snrDb;
    double target; // share our copier must copy; negative: none
    double wpm = 20;
    double toneHz = 800;
    double rate = 8000;
    double jitter = 0;
    double drift = 0;
    double fading = 0;
};

struct Score {
    int frames = 0;
    int ours = 0;
    int ideal = 0;
    int idealSure = 0; // the ideal's frames whose every symbol is at least as sure as ours must be
    int multimon = -1; // -1: multimon-ng or sox could not be run
    std::int64_t symbols = 0;      // symbols in the frames sent
    std::int64_t wrongSymbols = 0; // a frame symbol copied where another was sent
    std::int64_t unsureSymbols = 0; // '#' in the beacon lines of frames
    int strayFrames = 0;           // beacon lines at no frame's time
    double audioSeconds = 0;
    double copierSeconds = 0;      // CPU time of the copier's thread
};

double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// multimon-ng reads 22,050 Hz 16-bit mono; sox resamples our float samples
// for it, in a pipe, as they are written.
class Multimon {
public:
    explicit Multimon(double rate) {
        const QString pipeline =
            QStringLiteral("sox -V1 -R -t raw -r %1 -e floating-point -b 32 -c 1 - "
                           "-t raw -r 22050 -e signed-integer -b 16 -c 1 - "
                           "| multimon-ng -q -t raw -a MORSE_CW -")
                .arg(rate);
        process_.start(QStringLiteral("sh"), {QStringLiteral("-c"), pipeline});
        ok_ = process_.waitForStarted();
    }
    void write(const float *samples, std::int64_t count) {
        if (!ok_)
            return;
        if (process_.write(reinterpret_cast<const char *>(samples), qint64(count) * 4) < 0)
            ok_ = false;
        while (ok_ && process_.bytesToWrite() > (1 << 20))
            ok_ = process_.waitForBytesWritten(60000);
    }
    // Its output, or nothing when it could not be run to the end.
    std::optional<QString> finish() {
        if (!ok_)
            return std::nullopt;
        process_.closeWriteChannel();
        if (!process_.waitForFinished(600000) || process_.exitStatus() != QProcess::NormalExit
            || process_.exitCode() != 0) {
            std::fprintf(stderr, "multimon-ng: %s\n",
                         qPrintable(QString::fromLocal8Bit(process_.readAllStandardError())));
            return std::nullopt;
        }
        return QString::fromLatin1(process_.readAllStandardOutput());
    }

private:
    QProcess process_;
    bool ok_ = false;
};

// multimon-ng writes one stream of words: a frame is copied when the word
// after "KADRIN" is its 20 symbols.
int multimonFrames(const QString &output, const QStringList &symbols) {
    const QStringList words = output.split(QRegularExpression(QStringLiteral("\\s+")),
                                           Qt::SkipEmptyParts);
    QSet<QString> copied;
    for (qsizetype i = 0; i + 1 < words.size(); ++i) {
        if (words.at(i).endsWith(QLatin1String("KADRIN")))
            copied.insert(words.at(i + 1));
    }
    int count = 0;
    for (const QString &frame : symbols)
        count += copied.contains(frame);
    return count;
}

Score runCase(const Case &c, int frames, std::uint64_t seed) {
    cwgen::Settings settings;
    settings.sampleRate = c.rate;
    settings.wpm = c.wpm;
    settings.toneHz = c.toneHz;
    settings.snrDb = c.snrDb;
    settings.jitter = c.jitter;
    settings.driftHzPerSecond = c.drift;
    settings.fadingSeconds = c.fading;
    settings.seed = seed;
    settings.gapSeconds = 3;
    std::mt19937_64 random(seed);
    QStringList texts;
    QStringList symbols;
    for (int i = 0; i < frames; ++i) {
        texts.append(cwgen::randomFrame(random));
        symbols.append(texts.back().mid(9));
    }
    cwgen::Generator generator;
    if (!generator.plan(settings, texts))
        qFatal("%s", qPrintable(generator.error()));

    Score score;
    score.frames = frames;
    score.symbols = std::int64_t(frames) * 20;
    score.audioSeconds = generator.seconds();
    std::vector<CopiedLine> lines;
    CwCopier copier(c.rate);
    copier.setLineHandler([&lines](const CopiedLine &line) { lines.push_back(line); });
    IdealDecoder ideal(generator);
    Multimon multimon(c.rate);

    std::vector<float> buffer;
    std::int64_t position = 0;
    auto pass = [&](std::int64_t end) {
        buffer.resize(std::size_t(end - position));
        const std::int64_t got = generator.render(buffer.data(), end - position);
        const double before = threadSeconds();
        copier.feed(buffer.data(), got);
        score.copierSeconds += threadSeconds() - before;
        multimon.write(buffer.data(), got);
        position += got;
        return got;
    };
    const auto &sent = generator.transmissions();
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const std::int64_t start = position;
        const std::int64_t end = std::min<std::int64_t>(
            generator.frameCount(), std::int64_t(std::ceil((sent[i].end + 0.05) * c.rate)));
        const std::int64_t got = pass(end);
        std::vector<double> posterior;
        const bool right =
            ideal.frameSymbols(sent[i], buffer.data(), start, got, &posterior) == symbols.at(int(i));
        score.ideal += right;
        score.idealSure += right && std::all_of(posterior.begin(), posterior.end(), [](double p) {
                               return p >= LineCopierSettings().symbolConfidence;
                           });
    }
    pass(generator.frameCount());
    const double before = threadSeconds();
    copier.finish();
    score.copierSeconds += threadSeconds() - before;

    std::vector<bool> copied(sent.size(), false);
    const bool debug = qEnvironmentVariableIsSet("KADRIN_BENCH_DEBUG");
    for (const CopiedLine &line : lines) {
        if (qEnvironmentVariableIsSet("KADRIN_BENCH_ALL"))
            std::fprintf(stderr, "all %.1f %s\n", line.start, qPrintable(line.text));
        if (!line.beacon) {
            if (debug)
                std::fprintf(stderr, "line at %.1f s: %s\n", line.start, qPrintable(line.text));
            continue;
        }
        const auto frame = std::find_if(sent.begin(), sent.end(), [&line](const cwgen::Transmission &tx) {
            return line.start >= tx.start - 1.5 && line.start <= tx.end;
        });
        if (frame == sent.end()) {
            ++score.strayFrames;
            continue;
        }
        const std::size_t index = std::size_t(frame - sent.begin());
        copied[index] = copied[index] || line.text == frame->text;
        const QString got = line.text.mid(9);
        const QString &want = symbols.at(qsizetype(index));
        if (debug && got != want)
            std::fprintf(stderr, "want %s got %s\n", qPrintable(want), qPrintable(got));
        if (line.text.startsWith(QLatin1String("S KADRIN ")) && got.size() == 20) {
            for (int k = 0; k < 20; ++k) {
                const QChar g = got.at(k);
                score.unsureSymbols += g == QLatin1Char('#');
                score.wrongSymbols += g != want.at(k) && g != QLatin1Char('#');
            }
        }
    }
    score.ours = int(std::count(copied.begin(), copied.end(), true));
    if (const std::optional<QString> output = multimon.finish())
        score.multimon = multimonFrames(*output, symbols);
    return score;
}

QString share(int count, int of) {
    if (count < 0)
        return QStringLiteral("n/a");
    return QStringLiteral("%1 %").arg(100.0 * count / of, 0, 'f', 1);
}

// The peak resident memory of this process image: VmHWM starts again at
// exec, where getrusage's maximum keeps the parent's size from the fork.
double highWaterMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').front().toDouble() / 1024;
        }
    }
    return benchfigures::peakMemoryMiB();
}

// A long recording of frames at 48 kHz through the copier in a process of
// its own, so that the peak is the copier's and not the other cases'.
int longRecording(double seconds) {
    cwgen::Settings settings;
    settings.sampleRate = 48000;
    settings.snrDb = -6;
    settings.seed = 99;
    std::mt19937_64 random(settings.seed);
    QStringList texts;
    while (texts.size() * 24.0 < seconds)
        texts.append(cwgen::randomFrame(random));
    cwgen::Generator generator;
    if (!generator.plan(settings, texts))
        return 1;
    std::vector<float> block(65536);
    int frames = 0;
    const double baseline = highWaterMiB();
    CwCopier copier(settings.sampleRate);
    copier.setLineHandler([&frames](const CopiedLine &line) { frames += line.beacon; });
    while (const std::int64_t got = generator.render(block.data(), std::int64_t(block.size())))
        copier.feed(block.data(), got);
    copier.finish();
    std::printf("%.1f %.1f %.0f %d\n", highWaterMiB(), baseline, generator.seconds(),
                frames);
    return 0;
}

// --- Conditions through a receiver -----------------------------------------

enum class Layout {
    Frames,
    LongTransmission, // after each frame a transmission of 21 symbols after the name
    Silence,          // 3 s of digital silence at both ends
};

struct Condition {
    const char *name;
    void (*set)(cwgen::Settings &);
    double target;       // share our copier must copy at -6 dB (fading: +6 dB average)
    bool fading = false; // at +6 dB average only
    Layout layout = Layout::Frames;
    bool interference = false; // also listened to alone, without a beacon
};

struct ReceiverScore {
    int frames = 0;
    int ours = 0;
    int multimon = -1;
    std::int64_t wrongSymbols = 0; // a frame symbol copied where another was sent
    int neverSent = 0; // beacon lines whose symbols ('#' matching any) are no frame sent then
    int junkLines = 0; // lines of any kind at no transmission's time
    double audioSeconds = 0;
    double copierSeconds = 0;
};

const char *const OtherText = "CQ CQ DE QX0ZZ QX0ZZ K";

const Condition conditions[] = {
    {"another station 6 dB stronger, 80 Hz away",
     [](cwgen::Settings &s) {
         s.otherText = QLatin1String(OtherText);
         s.otherWpm = 25;
         s.otherOffsetHz = 80;
         s.otherDb = 6;
     },
     0.95, false, Layout::Frames, true},
    {"another station as strong, 50 Hz away",
     [](cwgen::Settings &s) {
         s.otherText = QLatin1String(OtherText);
         s.otherWpm = 16;
         s.otherOffsetHz = -50;
     },
     0.95, false, Layout::Frames, true},
    {"a steady carrier as strong, 30 Hz away",
     [](cwgen::Settings &s) {
         s.carrier = true;
         s.carrierOffsetHz = 30;
     },
     0.95, false, Layout::Frames, true},
    // A steady drift through each frame from 800 Hz: over the whole
    // recording the tone would turn back at the band's edges, in the middle
    // of a frame, as no pass makes it.
    {"drift 20 Hz/s through each frame",
     [](cwgen::Settings &s) { s.driftHzPerSecond = 20; }, 0.90},
    {"drift 50 Hz/s through each frame",
     [](cwgen::Settings &s) { s.driftHzPerSecond = 50; }, 0.90},
    {"Doppler S-curve +-300 Hz over each frame",
     [](cwgen::Settings &s) {
         s.dopplerHz = 300;
         s.dopplerPerTransmission = true;
     },
     0.90},
    {"passband 300-2,700 Hz + AGC 10/500 ms",
     [](cwgen::Settings &s) {
         s.passbandLowHz = 300;
         s.passbandHighHz = 2700;
         s.agcAttackSeconds = 0.01;
         s.agcDecaySeconds = 0.5;
     },
     0.95, false, Layout::Frames, true},
    {"static crashes, 1 a second, 30 dB",
     [](cwgen::Settings &s) {
         s.crashesPerSecond = 1;
         s.crashDb = 30;
     },
     0.95, false, Layout::Frames, true},
    {"static crashes through passband + AGC",
     [](cwgen::Settings &s) {
         s.crashesPerSecond = 1;
         s.crashDb = 30;
         s.passbandLowHz = 300;
         s.passbandHighHz = 2700;
         s.agcAttackSeconds = 0.01;
         s.agcDecaySeconds = 0.5;
     },
     0.95, false, Layout::Frames, true},
    {"clipped at half the tone's peak", [](cwgen::Settings &) {}, 0.95},
    {"spin fading 0.3 null/s, 20 dB",
     [](cwgen::Settings &s) {
         s.spinNullsPerSecond = 0.3;
         s.spinDepthDb = 20;
     },
     0.70, true},
    {"spin fading 1 null/s, 20 dB",
     [](cwgen::Settings &s) {
         s.spinNullsPerSecond = 1;
         s.spinDepthDb = 20;
     },
     0.70, true},
    {"Rayleigh fading 3 s", [](cwgen::Settings &s) { s.fadingSeconds = 3; }, 0.80, true},
    {"21 symbols after the name after each frame", [](cwgen::Settings &) {}, 0.95, false,
     Layout::LongTransmission},
    {"3 s of digital silence at both ends", [](cwgen::Settings &) {}, 0.95, false,
     Layout::Silence},
    // Last, so that the rows above keep their seeds.
    {"spin fading 0.3 null/s, 20 dB, phase turns",
     [](cwgen::Settings &s) {
         s.spinNullsPerSecond = 0.3;
         s.spinDepthDb = 20;
         s.spinTurnsPhase = true;
     },
     0.70, true},
    {"spin fading 1 null/s, 20 dB, phase turns",
     [](cwgen::Settings &s) {
         s.spinNullsPerSecond = 1;
         s.spinDepthDb = 20;
         s.spinTurnsPhase = true;
     },
     0.70, true},
};

bool isClipping(const Condition &c) { return std::strncmp(c.name, "clipped", 7) == 0; }

// The settings of a condition; clipping cuts at half the tone's peak.
cwgen::Settings conditionSettings(const Condition &c, double snrDb, std::uint64_t seed,
                                  const QStringList &texts) {
    cwgen::Settings settings;
    settings.snrDb = snrDb;
    settings.seed = seed;
    c.set(settings);
    if (c.layout == Layout::Silence)
        settings.silenceSeconds = 3;
    if (isClipping(c)) {
        cwgen::Generator unclipped;
        if (!unclipped.plan(settings, texts))
            qFatal("%s", qPrintable(unclipped.error()));
        settings.clipLevel = unclipped.amplitude() / 2;
    }
    return settings;
}

ReceiverScore runCondition(const Condition &c, double snrDb, int frames, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    QStringList texts;
    QStringList symbols; // of the frames only
    for (int i = 0; i < frames; ++i) {
        texts.append(cwgen::randomFrame(random));
        symbols.append(texts.back().mid(9));
        if (c.layout == Layout::LongTransmission)
            texts.append(cwgen::randomFrame(random)
                         + QLatin1Char(cwgen::FrameSymbols[random() % 16]));
    }
    const cwgen::Settings settings = conditionSettings(c, snrDb, seed, texts);
    cwgen::Generator generator;
    if (!generator.plan(settings, texts))
        qFatal("%s", qPrintable(generator.error()));

    ReceiverScore score;
    score.frames = frames;
    score.audioSeconds = generator.seconds();
    std::vector<CopiedLine> lines;
    CwCopier copier(settings.sampleRate);
    copier.setLineHandler([&lines](const CopiedLine &line) { lines.push_back(line); });
    Multimon multimon(settings.sampleRate);
    std::vector<float> block(16384);
    while (const std::int64_t got = generator.render(block.data(), std::int64_t(block.size()))) {
        const double before = threadSeconds();
        copier.feed(block.data(), got);
        score.copierSeconds += threadSeconds() - before;
        multimon.write(block.data(), got);
    }
    const double before = threadSeconds();
    copier.finish();
    score.copierSeconds += threadSeconds() - before;

    const auto &sent = generator.transmissions();
    std::vector<bool> copied(sent.size(), false);
    const bool debug = qEnvironmentVariableIsSet("KADRIN_BENCH_DEBUG");
    for (const CopiedLine &line : lines) {
        const auto tx =
            std::find_if(sent.begin(), sent.end(), [&line](const cwgen::Transmission &x) {
                return line.start >= x.start - 1.5 && line.start <= x.end;
            });
        if (tx == sent.end()) {
            ++score.junkLines;
            score.neverSent += line.beacon;
            if (debug)
                std::fprintf(stderr, "at no transmission's time, %.1f s: %s\n", line.start,
                             qPrintable(line.text));
            continue;
        }
        if (!line.beacon)
            continue;
        const std::size_t index = std::size_t(tx - sent.begin());
        const bool frame = c.layout != Layout::LongTransmission || index % 2 == 0;
        const QString got = line.text.mid(9);
        if (!frame || !line.text.startsWith(QLatin1String("S KADRIN ")) || got.size() != 20) {
            ++score.neverSent;
            if (debug)
                std::fprintf(stderr, "never sent, %.1f s: %s (sent %s)\n", line.start,
                             qPrintable(line.text), qPrintable(tx->text));
            continue;
        }
        const QString &want = tx->text.mid(9);
        copied[index] = copied[index] || got == want;
        bool sentThen = true;
        for (int k = 0; k < 20; ++k) {
            const QChar g = got.at(k);
            const bool wrong = g != want.at(k) && g != QLatin1Char('#');
            score.wrongSymbols += wrong;
            sentThen = sentThen && !wrong;
        }
        score.neverSent += !sentThen;
        if (debug && got != want)
            std::fprintf(stderr, "want %s got %s\n", qPrintable(want), qPrintable(got));
    }
    score.ours = int(std::count(copied.begin(), copied.end(), true));
    if (const std::optional<QString> output = multimon.finish())
        score.multimon = multimonFrames(*output, symbols);
    return score;
}

// Beacon lines our copier makes out of an interference alone: noise at
// the level of a +10 dB beacon and the interference as with that beacon.
int framesFromInterference(const Condition &c, double seconds, std::uint64_t seed) {
    cwgen::Settings settings = conditionSettings(c, 10, seed, {});
    settings.gapSeconds = seconds;
    cwgen::Generator generator;
    if (!generator.plan(settings, {}))
        qFatal("%s", qPrintable(generator.error()));
    CwCopier copier(settings.sampleRate);
    int frames = 0;
    copier.setLineHandler([&frames](const CopiedLine &line) { frames += line.beacon; });
    std::vector<float> block(65536);
    while (const std::int64_t got = generator.render(block.data(), std::int64_t(block.size())))
        copier.feed(block.data(), got);
    copier.finish();
    return frames;
}

bool selected(const QStringList &only, const QString &name) {
    return only.isEmpty() || std::any_of(only.begin(), only.end(), [&name](const QString &part) {
               return name.contains(part);
           });
}

void receiverTable(const QStringList &only, int frames) {
    QElapsedTimer wall;
    wall.start();
    std::printf(
        "\nConditions through a receiver: copying %d frames per case; 20 WPM, 800 Hz, 8 kHz\n\n",
        frames);
    std::printf("| %-43s | %-7s | %7s | %5s | %10s | %4s | %11s | %7s | %-22s |\n", "condition",
                "SNR", "ours", "wrong", "never sent", "junk", "multimon-ng", "speed", "target");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|---|\n");
    std::fflush(stdout);
    std::uint64_t seed = 2000;
    for (const Condition &c : conditions) {
        const std::vector<double> snrs =
            c.fading ? std::vector<double>{6} : std::vector<double>{-6, 10};
        for (const double snr : snrs) {
            ++seed;
            const QString snrText =
                QLatin1String(c.fading ? "+6 avg" : snr > 0 ? "+10 dB" : "-6 dB");
            if (!selected(only, QStringLiteral("receiver: %1, %2")
                                    .arg(QLatin1String(c.name), snrText)))
                continue;
            const ReceiverScore s = runCondition(c, snr, frames, seed);
            QString target =
                QStringLiteral(">= %1 %").arg(snr > 0 && !c.fading ? 100 : c.target * 100);
            if (c.fading && c.name[0] == 's')
                target += QStringLiteral(", 0 wrong");
            if (c.layout == Layout::LongTransmission)
                target += QStringLiteral(", 0 never sent");
            if (c.layout == Layout::Silence)
                target += QStringLiteral(", 0 junk");
            std::printf("| %-43s | %-7s | %7s | %5lld | %10d | %4d | %11s | %5.0f x | %-22s |\n",
                        c.name, qPrintable(snrText), qPrintable(share(s.ours, s.frames)),
                        (long long)s.wrongSymbols, s.neverSent, s.junkLines,
                        qPrintable(share(s.multimon, s.frames)),
                        s.audioSeconds / std::max(s.copierSeconds, 1e-9), qPrintable(target));
            std::fflush(stdout);
        }
    }

    const double minutes = qEnvironmentVariableIsSet("KADRIN_BENCH_MINUTES")
                               ? qEnvironmentVariable("KADRIN_BENCH_MINUTES").toDouble()
                               : 10;
    bool header = false;
    for (const Condition &c : conditions) {
        const QString name = QStringLiteral("%1, no beacon").arg(QLatin1String(c.name));
        if (!c.interference || minutes <= 0 || !selected(only, QStringLiteral("receiver: ") + name))
            continue;
        if (!header) {
            std::printf("\n| %.0f min of each interference alone | frames found | target |\n"
                        "|---|---:|---:|\n", minutes);
            header = true;
        }
        std::printf("| %s | %d | 0 |\n", qPrintable(name),
                    framesFromInterference(c, minutes * 60, ++seed));
        std::fflush(stdout);
    }
    std::printf("\nConditions through a receiver: %.0f s\n", wall.elapsed() / 1000.0);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--long-recording") == 0)
        return longRecording(std::atof(argv[2]));

    QElapsedTimer wall;
    wall.start();
    const int frames = std::max(1, qEnvironmentVariableIntValue("KADRIN_BENCH_FRAMES") > 0
                                       ? qEnvironmentVariableIntValue("KADRIN_BENCH_FRAMES")
                                       : 150);
    const Case cases[] = {
        {"+10 dB", 10, -1},
        {"+5 dB", 5, -1},
        {"0 dB", 0, -1},
        {"-6 dB", -6, 0.99},
        {"-8 dB", -8, 0.95},
        {"-10 dB", -10, 0.90},
        {"-12 dB", -12, 0.60},
        {"-10 dB, 12 WPM", -10, 0.90, 12},
        {"-6 dB, 30 WPM", -6, 0.90, 30},
        {"-8 dB, 1,400 Hz", -8, 0.90, 20, 1400},
        {"-6 dB, hand-keyed (15 % jitter)", -6, 0.90, 20, 800, 8000, 0.15},
        {"-8 dB, 48 kHz", -8, 0.90, 20, 800, 48000},
        {"-8 dB, drifting 5 Hz/s", -8, 0.80, 20, 800, 8000, 0, 5},
        {"+6 dB average, fading 3 s", 6, 0.50, 20, 800, 8000, 0, 0, 3},
    };
    const QStringList only = qEnvironmentVariable("KADRIN_BENCH_CASES").split(QLatin1Char(','),
                                                                             Qt::SkipEmptyParts);
    const bool plain = std::any_of(std::begin(cases), std::end(cases), [&only](const Case &c) {
        return selected(only, QString::fromLatin1(c.name));
    });
    if (plain) {
        std::printf("Copying %d frames per case; 20 WPM, 800 Hz, 8 kHz unless said\n\n", frames);
        std::printf("| %-33s | %7s | %7s | %10s | %11s | %6s |\n", "case", "ours", "ideal",
                    "ideal sure", "multimon-ng", "target");
        std::printf("|---|---:|---:|---:|---:|---:|\n");
        std::fflush(stdout);
    }
    Score all;
    double speed48 = 0;
    std::uint64_t seed = 1000;
    for (const Case &c : cases) {
        ++seed;
        if (!selected(only, QString::fromLatin1(c.name)))
            continue;
        const Score s = runCase(c, frames, seed);
        std::printf("| %-33s | %7s | %7s | %10s | %11s | %6s | wrong %lld, '#' %lld |\n", c.name,
                    qPrintable(share(s.ours, s.frames)), qPrintable(share(s.ideal, s.frames)),
                    qPrintable(share(s.idealSure, s.frames)), qPrintable(share(s.multimon, s.frames)),
                    c.target < 0 ? "" : qPrintable(QStringLiteral(">= %1 %").arg(c.target * 100)),
                    (long long)s.wrongSymbols, (long long)s.unsureSymbols);
        std::fflush(stdout);
        all.symbols += s.symbols;
        all.wrongSymbols += s.wrongSymbols;
        all.unsureSymbols += s.unsureSymbols;
        all.strayFrames += s.strayFrames;
        if (c.rate == 48000)
            speed48 = s.audioSeconds / std::max(s.copierSeconds, 1e-9);
    }

    const int receiverFrames = qEnvironmentVariableIntValue("KADRIN_BENCH_FRAMES") > 0
                                   ? qEnvironmentVariableIntValue("KADRIN_BENCH_FRAMES")
                                   : 40;
    if (!plain) {
        receiverTable(only, receiverFrames);
        return 0;
    }
    std::printf("\n| measurement | ours | target |\n|---|---:|---:|\n");
    std::printf("| wrong symbols, all cases | %lld of %lld (%.2f in 1,000) | <= 1 in 1,000 |\n",
                (long long)all.wrongSymbols, (long long)all.symbols,
                1000.0 * double(all.wrongSymbols) / double(all.symbols));
    std::printf("| '#' symbols, all cases | %lld of %lld (%.1f %%) | |\n",
                (long long)all.unsureSymbols, (long long)all.symbols,
                100.0 * double(all.unsureSymbols) / double(all.symbols));
    std::printf("| beacon lines at no frame's time, all cases | %d | 0 |\n", all.strayFrames);
    std::printf("| copier speed, 48 kHz audio, one core | %.0f x real time | >= 100 x |\n", speed48);
    std::fflush(stdout);
    if (!only.isEmpty()) {
        receiverTable(only, receiverFrames);
        return 0;
    }

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--long-recording"), QStringLiteral("3600")});
    if (child.waitForFinished(1200000) && child.exitCode() == 0) {
        const QStringList f = QString::fromLatin1(child.readAllStandardOutput()).split(QLatin1Char(' '));
        if (f.size() == 4)
            std::printf("| peak memory, %.0f min of 48 kHz audio | %s MiB (%s MiB before the copier) "
                        "| bounded |\n",
                        f[2].toDouble() / 60, qPrintable(f[0]), qPrintable(f[1]));
    } else {
        std::printf("| peak memory, long recording | failed: %s | |\n",
                    qPrintable(QString::fromLocal8Bit(child.readAllStandardError())));
    }
    std::fflush(stdout);

    // Ten minutes of noise alone.
    cwgen::Settings noise;
    noise.snrDb = 0;
    noise.gapSeconds = 600;
    cwgen::Generator generator;
    generator.plan(noise, {});
    CwCopier copier(noise.sampleRate);
    int noiseFrames = 0;
    copier.setLineHandler([&noiseFrames](const CopiedLine &line) { noiseFrames += line.beacon; });
    std::vector<float> block(65536);
    while (const std::int64_t got = generator.render(block.data(), std::int64_t(block.size())))
        copier.feed(block.data(), got);
    copier.finish();
    std::printf("| frames out of 10 min of noise | %d | 0 |\n", noiseFrames);
    std::fflush(stdout);
    receiverTable(only, receiverFrames);
    std::printf("\nBenchmark run time: %.0f s\n", wall.elapsed() / 1000.0);
    return 0;
}
