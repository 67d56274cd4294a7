// kadrin-decode --audio on short recordings made by the test-recording
// generator: what it copies, the times it gives, what it refuses.

#include "cwaudio/cwcopier.h"
#include "cwaudio/spectrogram.h"
#include "cwgen/generator.h"
#include "cwgen/morse.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <random>

namespace {

// A frame of the 16 symbols whose 17 fields all read.
const QString Symbols = QStringLiteral("2J6467YDPYZJ72P48QD7");
// Rates weak frames are copied at: 8 kHz as the copier works, and input it
// filters and decimates by 2 (16 and 22.05 kHz), 5 (44.1) and 6 (48).
const QList<double> WeakRates{8000, 16000, 22050, 44100, 48000};

struct Run {
    int status = -1;
    QString out, err;
};

Run decode(const QStringList &arguments) {
    QProcess process;
    process.start(QStringLiteral(KADRIN_DECODE_PATH), arguments);
    Run run;
    if (!process.waitForFinished(60000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

cwgen::Settings clean(double rate = 8000) {
    cwgen::Settings s;
    s.sampleRate = rate;
    s.snrDb = 10;
    s.gapSeconds = 2.5;
    s.seed = 7;
    return s;
}

std::vector<CopiedLine> copiedLines(const std::vector<float> &samples, double rate = 8000) {
    CwCopier copier(rate);
    std::vector<CopiedLine> lines;
    copier.setLineHandler([&](const CopiedLine &line) { lines.push_back(line); });
    copier.feed(samples.data(), qsizetype(samples.size()));
    copier.finish();
    return lines;
}

// The lines an 8 kHz copier makes of these samples, " (frame)" after a
// beacon frame's.
QStringList copied(const std::vector<float> &samples) {
    QStringList lines;
    for (const CopiedLine &line : copiedLines(samples))
        lines << line.text + (line.beacon ? QStringLiteral(" (frame)") : QString());
    return lines;
}

QStringList framesOf(const QStringList &lines) {
    QStringList frames;
    for (const QString &line : lines)
        if (line.endsWith(QStringLiteral(" (frame)")))
            frames << line.chopped(8);
    return frames;
}

// "2026-12-05 21:07:50" plus seconds, as a copied line starts.
QString logTime(double seconds) {
    return QDateTime(QDate(2026, 12, 5), QTime(21, 7, 50), Qt::UTC)
        .addSecs(qint64(std::floor(seconds)))
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

class TestAudio : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }
    void copies_data();
    void copies();
    void weakSymbolAndDamagedName();
    void framesFound_data();
    void framesFound();
    void startOptionAndCopyReadBack();
    void refused_data();
    void refused();
    void noiseGivesNoFrame();
    void weakSignalLevel_data();
    void weakSignalLevel();
    void weakFramesWrongSymbols();
    void spectrogramPeak_data();
    void spectrogramPeak();
    void fading();
    void anotherStation_data();
    void anotherStation();
    void cutOff_data();
    void cutOff();

private:
    // Two random frames at -12 dB (seed 18) at one rate, made and copied
    // once: the frames sent and the beacon lines copied.
    struct Weak {
        QStringList sent;
        std::vector<CopiedLine> frames;
    };
    const Weak &weak(double rate) {
        Weak &weak = weak_[rate];
        cwgen::Settings settings = clean(rate);
        settings.snrDb = -12;
        settings.seed = 18;
        std::mt19937_64 random(settings.seed);
        cwgen::Generator generator;
        if (weak.sent.isEmpty() &&
            generator.plan(settings, weak.sent = {cwgen::randomFrame(random), cwgen::randomFrame(random)}))
            for (const CopiedLine &line : copiedLines(generator.samples(), rate))
                if (line.beacon)
                    weak.frames.push_back(line);
        return weak;
    }
    std::map<double, Weak> weak_;
    QString write(cwgen::Generator &generator, const QString &name) {
        const QString path = dir_.filePath(name);
        QString error;
        return cwgen::writeFile(generator, path, &error) ? path : error;
    }
    QTemporaryDir dir_;
};

// Tone and speed found, the time from the file name, the frame copied, in
// each format and layout a station's recordings come in.
void TestAudio::copies_data() {
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<double>("rate");
    QTest::addColumn<QString>("channels"); // the channels the recording is on
    QTest::addColumn<double>("wpm");
    QTest::addColumn<double>("toneHz");
    QTest::addColumn<QString>("symbols");
    QTest::addColumn<QString>("front"); // keyed in front of the frame, without a pause
    QTest::addColumn<QString>("back");  // keyed after it, without a pause
    // Most rows: a mono WAV of 8 kHz, 20 WPM, 800 Hz.
    auto wav = [](const char *name, const QString &symbols, const QString &front, const QString &back,
                  const char *channels = "mono") {
        QTest::newRow(name) << "wav" << 8000.0 << channels << 20.0 << 800.0 << symbols << front << back;
    };
    wav("WAV, 8 kHz, 20 WPM, 800 Hz", Symbols, QString(), QString());
    QTest::newRow("FLAC, 48 kHz stereo, 30 WPM, 1,400 Hz")
        << "flac" << 48000.0 << "both of two" << 30.0 << 1400.0 << Symbols << QString() << QString();
    wav("WAV stereo, the receiver on the right channel only", Symbols, QString(), QString(), "right of two");
    QTest::newRow("OGG, 22,050 Hz, 12 WPM, 600 Hz")
        << "ogg" << 22050.0 << "mono" << 12.0 << 600.0 << Symbols << QString() << QString();
    // Symbols 10 to 12 are not decoded and may be any letter or digit.
    wav("WAV, digits and letters outside the alphabet in symbols 10 to 12",
        QStringLiteral("4JJCCDDCA1X38DC24FFF"), QString(), QString());
    // The call is a line of its own; the frame's line has the time of its S.
    wav("WAV, the station's call in front", Symbols, QStringLiteral("QX0ZZ DE QX0ZZ"), QString());
    wav("WAV, the station's call after", Symbols, QString(), QStringLiteral("DE QX0ZZ"));
    // Letters of the alphabet right after the frame are no symbols of it.
    wav("WAV, symbols' letters after", QStringLiteral("QPF4CCGPG2FCAD6CZA4P"), QString(), QStringLiteral("2A4"));
    wav("WAV, a second frame right after", Symbols, QString(), QStringLiteral("S KADRIN 7DQ84P27JZYPDY7646J2"));
}

void TestAudio::copies() {
    QFETCH(QString, suffix);
    QFETCH(double, rate);
    QFETCH(QString, channels);
    QFETCH(double, wpm);
    QFETCH(double, toneHz);
    QFETCH(QString, symbols);
    QFETCH(QString, front);
    QFETCH(QString, back);
    cwgen::Settings settings = clean(rate);
    settings.channels = channels == QLatin1String("mono") ? 1 : 2;
    settings.onlyChannel = channels == QLatin1String("right of two") ? 1 : -1;
    settings.wpm = wpm;
    settings.toneHz = toneHz;
    cwgen::Generator generator;
    const QString keyed = (front.isEmpty() ? QString() : front + ' ') + QStringLiteral("S KADRIN ");
    QVERIFY(generator.plan(settings, {keyed + symbols + (back.isEmpty() ? QString() : ' ' + back)}));
    const QString path = write(generator, QStringLiteral("pass_2026-12-05T21-07-50.") + suffix);
    const Run run = decode({QStringLiteral("--audio"), QStringLiteral("--copy"), path});
    QCOMPARE(run.status, 0);
    const cwgen::Transmission &sent = generator.transmissions()[0];
    const qsizetype s = front.size() - front.count(' ');
    QCOMPARE(run.out, (front.isEmpty() ? QString() : logTime(sent.start) + "  " + front + '\n') +
                          logTime(sent.characters[size_t(s)].start) +
                          QStringLiteral("  S KADRIN ") + symbols + '\n' +
                          (back.isEmpty() ? QString()
                                          : logTime(sent.characters[size_t(s) + 27].start) + "  " +
                                                back + '\n'));
    const QRegularExpressionMatch figures =
        QRegularExpression(QStringLiteral(R"(tone ([0-9.]+) Hz .*, ([0-9]+) WPM)")).match(run.err);
    QVERIFY2(figures.hasMatch(), qPrintable(run.err));
    QVERIFY2(std::abs(figures.captured(1).toDouble() - toneHz) <= 2, qPrintable(run.err));
    QVERIFY2(std::abs(figures.captured(2).toDouble() - wpm) <= 1, qPrintable(run.err));
    const int lines = 1 + !front.isEmpty() + !back.isEmpty();
    const int frames = 1 + back.startsWith(QStringLiteral("S KADRIN"));
    QVERIFY2(run.err.contains(QStringLiteral("%1 line%2, %3 frame%4")
                                  .arg(lines).arg(lines > 1 ? "s" : "").arg(frames).arg(frames > 1 ? "s" : "")),
             qPrintable(run.err));
}

// A symbol lost in a deep fade is written '#', never guessed; a letter of the name keyed wrong does not lose the frame.
void TestAudio::weakSymbolAndDamagedName() {
    const QString text = QStringLiteral("S KADRIM ") + Symbols;
    cwgen::Settings settings = clean();
    settings.amplitude = 0.3;
    cwgen::Generator noisy, keyed;
    QVERIFY(noisy.plan(settings, {text}));
    settings.snrDb = std::numeric_limits<double>::infinity();
    QVERIFY(keyed.plan(settings, {text}));
    std::vector<float> samples = noisy.samples();
    const std::vector<float> tone = keyed.samples();
    // Characters: S, K A D R I M, then the symbols; the 5th symbol is lost.
    const cwgen::Keyed &weak = keyed.transmissions()[0].characters[7 + 4];
    for (qint64 i = qint64(weak.start * 8000) - 40; i < qint64(weak.end * 8000) + 40; ++i)
        samples[size_t(i)] -= tone[size_t(i)];
    const QStringList lines = copied(samples);
    QString expected = QStringLiteral("S KADRIN ") + Symbols + QStringLiteral(" (frame)");
    expected[9 + 4] = '#';
    QCOMPARE(lines, QStringList{expected});
}

// The frames found. Where the letters do not spell the name, its Morse
// pattern must fit the signal nearly as well as the letters read: a frame
// at -12 dB whose name reads as other letters is found, read right; calls
// at -10 dB are no frame. Audio without any noise is copied too (a drifting
// tone: tst_receiver).
void TestAudio::framesFound_data() {
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<double>("snrDb");
    QTest::addColumn<int>("seed");
    QTest::addColumn<QStringList>("frames");
    const QString frame = QStringLiteral("S KADRIN YQPY86742JJZP674ZGAC");
    QTest::newRow("name too weak to spell, -12 dB") << QStringList{frame} << -12.0 << 2 << QStringList{frame};
    QTest::newRow("calls at -10 dB")
        << QStringList{QStringLiteral("CQ CQ CQ DE QX0ZZ QX0ZZ QX0ZZ PSE K"),
                       QStringLiteral("TEST DE QX0ZZ QX0ZZ QX0ZZ 5NN 73 TU")}
        << -10.0 << 2 << QStringList{};
    QTest::newRow("no noise at all")
        << QStringList{frame} << std::numeric_limits<double>::infinity() << 1 << QStringList{frame};
}

void TestAudio::framesFound() {
    QFETCH(QStringList, texts);
    QFETCH(double, snrDb);
    QFETCH(int, seed);
    QFETCH(QStringList, frames);
    cwgen::Settings settings = clean();
    settings.snrDb = snrDb;
    settings.gapSeconds = 2;
    settings.seed = quint64(seed);
    cwgen::Generator generator;
    QVERIFY(generator.plan(settings, texts));
    QCOMPARE(framesOf(copied(generator.samples())), frames);
}

// --start gives the first sample's time; the lines --copy writes are a log
// that kadrin-decode reads back as frames. CSV and JSON end a frame's row
// with its line's tone and SNR, in tenths.
void TestAudio::startOptionAndCopyReadBack() {
    cwgen::Generator generator;
    QVERIFY(generator.plan(clean(), {QStringLiteral("S KADRIN ") + Symbols,
                                     QStringLiteral("CQ DE QX0ZZ <SK>")}));
    const QString path = write(generator, QStringLiteral("no-time-in-name.wav"));
    const Run run = decode({QStringLiteral("--audio"), QStringLiteral("--copy"),
                            QStringLiteral("--start"), QStringLiteral("2026-12-05T21:07:50Z"), path});
    QCOMPARE(run.status, 0);
    const QString log = logTime(generator.transmissions()[0].start) + QStringLiteral("  S KADRIN ") +
                        Symbols + '\n' + logTime(generator.transmissions()[1].start) +
                        QStringLiteral("  CQ DE QX0ZZ <SK>\n");
    QCOMPARE(run.out, log);
    QFile file(dir_.filePath(QStringLiteral("copied.log")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(run.out.toUtf8()) == run.out.size());
    file.close();
    const Run back = decode({QStringLiteral("--status"), file.fileName()});
    QCOMPARE(back.out, file.fileName() + QStringLiteral(":1: frame 1\n") + file.fileName() +
                           QStringLiteral(":2: other\n"));

    const Run untimed = decode({QStringLiteral("--audio"), QStringLiteral("--copy"), path});
    QCOMPARE(untimed.out, QStringLiteral("S KADRIN ") + Symbols + QStringLiteral("\nCQ DE QX0ZZ <SK>\n"));
    QVERIFY2(untimed.err.contains(path + QStringLiteral(": no start time")), qPrintable(untimed.err));

    const QRegularExpression csv(R"(,line,tone_hz,snr_db\r\n.*,1,([0-9]+\.[0-9]),([0-9]+\.[0-9])\r\n$)");
    const QRegularExpression json(R"("line":1,"tone_hz":([0-9]+\.[0-9]),"snr_db":([0-9]+\.[0-9])\}\n$)");
    for (const auto &[format, row] : {std::pair{"--csv", csv}, std::pair{"--json", json}}) {
        const Run rows = decode({QStringLiteral("--audio"), format, path});
        const QRegularExpressionMatch signal = row.match(rows.out);
        QVERIFY2(signal.hasMatch() && std::abs(signal.captured(1).toDouble() - 800) <= 2 &&
                     std::abs(signal.captured(2).toDouble() - 10) <= 2,
                 qPrintable(rows.out));
    }
}

// Files that hold no CW to copy are named with the reason; the good file
// given with them is still copied, and the exit status is that of an
// unreadable file.
void TestAudio::refused_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("not audio") << "text" << "not an audio file";
    QTest::newRow("truncated") << "truncated" << "truncated";
    QTest::newRow("silence") << "silence" << "only silence";
}

void TestAudio::refused() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QString bad = dir_.filePath(kind + QStringLiteral(".wav"));
    cwgen::Generator generator;
    if (kind == QLatin1String("text")) {
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("S KADRIN 2J64\n") == 14);
    } else {
        cwgen::Settings settings = clean();
        if (kind == QLatin1String("silence"))
            settings.snrDb = std::numeric_limits<double>::infinity();
        QVERIFY(generator.plan(settings, kind == QLatin1String("silence") ? QStringList()
                                                                          : QStringList{Symbols}));
        QCOMPARE(write(generator, kind + QStringLiteral(".wav")), bad);
        if (kind == QLatin1String("truncated"))
            QVERIFY(QFile::resize(bad, QFile(bad).size() / 2));
    }
    QVERIFY(generator.plan(clean(), {QStringLiteral("S KADRIN ") + Symbols}));
    const QString good = write(generator, QStringLiteral("good.wav"));
    const Run run = decode({QStringLiteral("--audio"), QStringLiteral("--copy"), bad, good});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(bad + QStringLiteral(": cannot read: ")) && run.err.contains(reason),
             qPrintable(run.err));
    QCOMPARE(run.out.count(QStringLiteral("S KADRIN ") + Symbols), 1);
}

// Three minutes of noise, with the tone's level set as if a signal were
// there: nothing copied is a frame.
void TestAudio::noiseGivesNoFrame() {
    cwgen::Settings settings = clean();
    settings.snrDb = -6;
    settings.gapSeconds = 180;
    settings.amplitude = 0.05;
    cwgen::Generator generator;
    QVERIFY(generator.plan(settings, {}));
    QCOMPARE(framesOf(copied(generator.samples())), QStringList());
}

// Weak frames at each rate the copier takes are found (at -12 dB a frame
// with a run of unsure symbols may be none), at the signal to noise ratio
// recorded: within 1 dB for a rate's frames, 0.5 dB on average over all. A noise estimate too strong makes every symbol seem
// less sure than it is; noise from above the band that the low-pass before
// decimation lets through folds into the band and does the same.
void TestAudio::weakSignalLevel_data() {
    QTest::addColumn<QList<double>>("rates");
    QTest::addColumn<double>("toleranceDb");
    for (double rate : WeakRates)
        QTest::addRow("%g kHz", rate / 1000) << QList<double>{rate} << 1.0;
    QTest::newRow("all five rates") << WeakRates << 0.5;
}

void TestAudio::weakSignalLevel() {
    QFETCH(QList<double>, rates);
    QFETCH(double, toleranceDb);
    std::vector<double> snr;
    for (double rate : rates) {
        QVERIFY(!weak(rate).frames.empty());
        for (const CopiedLine &line : weak(rate).frames)
            snr.push_back(line.snrDb);
    }
    const double mean = std::accumulate(snr.begin(), snr.end(), 0.0) / double(snr.size());
    QVERIFY2(std::abs(mean + 12) <= toleranceDb, qPrintable(QString::number(mean)));
}

// Of the symbols written in the frames found of those ten (eight at least),
// at most one is another symbol than the one sent: one less than 90 % sure
// is '#'. Each is compared with the frame sent it is nearest.
void TestAudio::weakFramesWrongSymbols() {
    int wrong = 0, found = 0;
    for (double rate : WeakRates) {
        const Weak &copy = weak(rate);
        found += int(copy.frames.size());
        for (const CopiedLine &frame : copy.frames) {
            int least = 20;
            for (const QString &sent : copy.sent) {
                int differ = 0;
                for (int k = 9; k < 29; ++k)
                    differ += frame.text[k] != '#' && frame.text[k] != sent[k];
                least = std::min(least, differ);
            }
            wrong += least;
        }
    }
    QVERIFY2(found >= 8, qPrintable(QString::number(found)));
    QVERIFY2(wrong <= 1, qPrintable(QString::number(wrong)));
}

// A plain 1,000 Hz sine peaks in the column nearest 1,000 Hz, at the lowest
// and the highest rate (the FFT size differs between them).
void TestAudio::spectrogramPeak_data() {
    QTest::addColumn<double>("rate");
    QTest::newRow("8 kHz") << 8000.0;
    QTest::newRow("48 kHz") << 48000.0;
}

void TestAudio::spectrogramPeak() {
    QFETCH(double, rate);
    Spectrogram spectrogram(rate);
    std::vector<float> sine(static_cast<size_t>(rate)); // one second
    for (size_t i = 0; i < sine.size(); ++i)
        sine[i] = float(0.5 * std::sin(2 * M_PI * 1000.0 * double(i) / rate));
    int rows = 0, peak = -1;
    spectrogram.feed(sine.data(), qsizetype(sine.size()), [&](const float *power, int bins) {
        ++rows;
        peak = int(std::max_element(power, power + bins) - power);
    });
    QVERIFY(rows >= 50); // a row about every 16 ms
    const double width = spectrogram.binHz(1) - spectrogram.binHz(0);
    QVERIFY2(width > 5 && width < 15, qPrintable(QString::number(width)));
    QVERIFY2(std::abs(spectrogram.binHz(peak) - 1000.0) <= width / 2,
             qPrintable(QString::number(spectrogram.binHz(peak))));
}

// Through Rayleigh fading of about 3 s (+6 dB on average) the amplitude is
// followed through the fades: two of these four frames are copied as sent
// (a symbol is written only where it also reads at 0.4 of the amplitude
// followed; the others hold a '#'), and no symbol is written as another.
void TestAudio::fading() {
    cwgen::Settings settings = clean();
    settings.snrDb = 6;
    settings.fadingSeconds = 3;
    settings.seed = 4;
    std::mt19937_64 random(settings.seed);
    QStringList frames;
    for (int i = 0; i < 4; ++i)
        frames << cwgen::randomFrame(random);
    cwgen::Generator generator;
    QVERIFY(generator.plan(settings, frames));
    const QStringList frameLines = framesOf(copied(generator.samples()));
    int asSent = 0;
    for (const QString &line : frameLines) {
        const auto sent = std::find_if(frames.begin(), frames.end(), [&](const QString &frame) {
            for (int k = 9; k < 29; ++k)
                if (line.at(k) != '#' && line.at(k) != frame.at(k))
                    return false;
            return true;
        });
        QVERIFY2(sent != frames.end(), qPrintable(line));
        asSent += line == *sent;
    }
    QVERIFY2(frameLines.size() == 4 && asSent >= 2, qPrintable(frameLines.join('\n')));
}

// Another station the tracker takes up before, during or after the frame,
// 100 Hz or more from it: the tone followed there is no estimate of the
// beacon's pitch, and must not turn the frame's carrier phase. "before": a
// carrier as strong as the beacon ending 0.8 s before the frame; "after":
// one from 0.6 s after it; "during": a call keyed at half the beacon's
// amplitude from 5 s into the frame to beyond its end. The carriers last
// 3 s, or to the end of the recording.
void TestAudio::anotherStation_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<double>("snrDb");
    QTest::addColumn<int>("seed");
    QTest::addColumn<QString>("where");
    QTest::addColumn<double>("otherHz");
    const QString a = QStringLiteral("S KADRIN Q68CQ4PJ4JCAZPJLPG7Z");
    for (int seed = 1; seed <= 3; ++seed)
        QTest::addRow("carrier at 1,500 Hz after, -6 dB, seed %d", seed) << a << -6.0 << seed << "after" << 1500.0;
    QTest::newRow("carrier at 650 Hz before, -3 dB") << a << -3.0 << 1 << "before" << 650.0;
    QTest::newRow("call at 1,300 Hz during, -3 dB")
        << QStringLiteral("S KADRIN ZAZ6YDZLQYZ6FDGG68Q4") << -3.0 << 100 << "during" << 1300.0;
    QTest::newRow("call at 1,000 Hz during, -3 dB")
        << QStringLiteral("S KADRIN GZQJ7J4G2DY6LGYY8ZQ2") << -3.0 << 102 << "during" << 1000.0;
}

void TestAudio::anotherStation() {
    QFETCH(QString, frame);
    QFETCH(double, snrDb);
    QFETCH(int, seed);
    QFETCH(QString, where);
    QFETCH(double, otherHz);
    cwgen::Settings settings = clean();
    settings.snrDb = snrDb;
    settings.seed = quint64(seed);
    settings.gapSeconds = where == QLatin1String("before") ? 4 : where == QLatin1String("during") ? 3 : 2.5;
    cwgen::Generator generator;
    QVERIFY(generator.plan(settings, {frame}));
    std::vector<float> samples = generator.samples();
    const cwgen::Transmission &sent = generator.transmissions()[0];
    if (where == QLatin1String("during")) {
        cwgen::Settings call;
        call.toneHz = otherHz;
        call.wpm = 22;
        call.amplitude = generator.amplitude() / 2;
        call.gapSeconds = sent.start + 5;
        cwgen::Generator other;
        QVERIFY(other.plan(call, {QStringLiteral("CQ CQ DE QX0ZZ QX0ZZ K CQ CQ DE QX0ZZ K")}));
        const std::vector<float> keyed = other.samples();
        samples.resize(std::max(samples.size(), keyed.size()));
        for (size_t i = 0; i < keyed.size(); ++i)
            samples[i] += keyed[i];
    } else {
        const double from = where == QLatin1String("after") ? sent.end + 0.6 : sent.start - 3.8;
        const std::int64_t to = std::min(std::int64_t(samples.size()), std::int64_t((from + 3) * 8000));
        for (std::int64_t i = std::int64_t(from * 8000); i < to; ++i)
            samples[size_t(i)] += float(generator.amplitude() * std::sin(2 * M_PI * otherHz * double(i) / 8000));
    }
    QCOMPARE(framesOf(copied(samples)), QStringList{frame});
}

// Audio that ends inside the last character, or before a letter gap after
// it could show it complete, gives '#' for it, never the letter its first
// elements spell; a line that ended before the audio is copied whole. The
// cut is this many dots from the end of the last character ('7' of the
// frame, 13 dots long; 'Z' of the call).
void TestAudio::cutOff_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("dots");
    QTest::addColumn<QStringList>("lines");
    const QString frame = QStringLiteral("S KADRIN ") + Symbols, call = QStringLiteral("DE QX0ZZ");
    const QStringList cut{frame.chopped(1) + "# (frame)"}, whole{frame + " (frame)"};
    QTest::newRow("frame, inside the first element") << frame << -11.5 << cut;
    QTest::newRow("frame, key up inside the character") << frame << -5.5 << cut;
    QTest::newRow("frame, inside the last element") << frame << -0.5 << cut;
    QTest::newRow("frame, 1.5 dots after the last element") << frame << 1.5 << cut;
    QTest::newRow("frame, 16 dots after the last element") << frame << 16.0 << whole;
    QTest::newRow("call, inside the last element") << call << -0.5 << QStringList{QStringLiteral("DE QX0Z#")};
    QTest::newRow("frame and the call after it, inside the call's last element")
        << frame + ' ' + call << -0.5 << whole + QStringList{QStringLiteral("DE QX0Z#")};
}

void TestAudio::cutOff() {
    QFETCH(QString, text);
    QFETCH(double, dots);
    QFETCH(QStringList, lines);
    cwgen::Generator generator;
    QVERIFY(generator.plan(clean(), {text}));
    std::vector<float> samples = generator.samples();
    samples.resize(size_t((generator.transmissions()[0].end + dots * generator.dotSeconds()) * 8000));
    QCOMPARE(copied(samples), lines);
}

QTEST_GUILESS_MAIN(TestAudio)
#include "tst_audio.moc"
