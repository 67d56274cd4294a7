// The copier through what a receiver delivers, each condition a short
// recording from the generator: another station beside the beacon, a
// drifting tone, a tumbling satellite's nulls, static crashes, digital
// silence, transmissions of more or fewer symbols than a frame. Then some of
// its stages on their own: finding the carriers, blanking the crashes,
// following a weak tone's phase.

#include "cwaudio/cwcopier.h"
#include "cwgen/generator.h"
#include "cwgen/morse.h"
#include "decoder/linescanner.h"

#include "blanker.h"
#include "carrierfinder.h"
#include "tickevidence.h"

#include <QtTest>

#include <cmath>
#include <functional>
#include <random>

namespace {

struct Copy {
    QStringList sent;            // the frames keyed
    std::vector<CopiedLine> lines;
    CopyFigures figures;
    // A frame line that is the frame sent[i], or (i < 0) any frame sent,
    // but for symbols written '#'.
    bool sentAsIs(const QString &frame, int i = -1) const {
        return std::any_of(sent.begin(), sent.end(), [&](const QString &s) {
            if (i >= 0 && s != sent[i])
                return false;
            for (int k = 9; k < 29; ++k)
                if (frame.at(k) != '#' && frame.at(k) != s.at(k))
                    return false;
            return true;
        });
    }
    QStringList frames() const { // the beacon lines, and lines a decoder takes for frames
        QStringList out;
        for (const CopiedLine &line : lines)
            if (line.beacon || LineScanner::judge(line.text).isFrame())
                out << line.text;
        return out;
    }
};

// `frames` random frames (and `texts` after them) through the settings,
// handed to the copier all at once or in blocks of `block` samples.
Copy copied(cwgen::Settings settings, int frames, const QStringList &texts = {}, qsizetype block = 0) {
    Copy copy;
    std::mt19937_64 random(settings.seed);
    for (int i = 0; i < frames; ++i)
        copy.sent << cwgen::randomFrame(random);
    cwgen::Generator generator;
    if (!generator.plan(settings, copy.sent + texts))
        qFatal("%s", qPrintable(generator.error()));
    const std::vector<float> samples = generator.samples();
    CwCopier copier(settings.sampleRate);
    copier.setLineHandler([&copy](const CopiedLine &line) { copy.lines.push_back(line); });
    const qsizetype size = qsizetype(samples.size());
    for (qsizetype at = 0; at < size; at += block > 0 ? block : size)
        copier.feed(samples.data() + at, std::min(size - at, block > 0 ? block : size));
    copier.finish();
    copy.figures = copier.figures();
    return copy;
}

// Another station keying a call over and over beside the beacon.
void otherStation(cwgen::Settings &s, double offsetHz, double levelDb) {
    s.otherText = QStringLiteral("CQ CQ DE QX0ZZ QX0ZZ K");
    s.otherWpm = 16;
    s.otherOffsetHz = offsetHz;
    s.otherDb = levelDb;
}

cwgen::Settings at(double snrDb, std::uint64_t seed) {
    cwgen::Settings s;
    s.snrDb = snrDb;
    s.seed = seed;
    s.gapSeconds = 2.5;
    return s;
}

} // namespace

class TestReceiver : public QObject {
    Q_OBJECT
private slots:
    void besideAnother_data();
    void besideAnother();
    void besideAnotherToTheEnd();
    void drifting_data();
    void drifting();
    void spinFollowed();
    void nullIsUnsure();
    void rayleighFade_data();
    void rayleighFade();
    void weakSpin_data();
    void weakSpin();
    void spinTurnsPhase();
    void nameInNull();
    void crashes_data();
    void crashes();
    void silenceAtBothEnds();
    void clipped();
    void notTwentySymbols_data();
    void notTwentySymbols();
    void carriersFound();
    void crashBlanked();
    void pitchFollowed();
    void phaseTurn_data();
    void phaseTurn();
};

// The beacon beside another station or a receiver's birdie is copied on a
// channel of its own: the frames as sent at their tone, the other's text
// in lines of its own at its tone, a steady carrier in none.
void TestReceiver::besideAnother_data() {
    QTest::addColumn<double>("offsetHz");
    QTest::addColumn<double>("levelDb");
    QTest::addColumn<bool>("keyed");
    QTest::newRow("a station 6 dB stronger 80 Hz above") << 80.0 << 6.0 << true;
    QTest::newRow("a station as strong 50 Hz below") << -50.0 << 0.0 << true;
    QTest::newRow("a steady carrier as strong 30 Hz above") << 30.0 << 0.0 << false;
}

void TestReceiver::besideAnother() {
    QFETCH(double, offsetHz);
    QFETCH(double, levelDb);
    QFETCH(bool, keyed);
    cwgen::Settings s = at(-6, 3);
    if (keyed) {
        otherStation(s, offsetHz, levelDb);
    } else {
        s.carrier = true;
        s.carrierOffsetHz = offsetHz;
        s.carrierDb = levelDb;
    }
    const Copy copy = copied(s, 1);
    QCOMPARE(copy.frames(), QStringList(copy.sent));
    int others = 0;
    for (const CopiedLine &line : copy.lines) {
        const double hz = line.beacon ? 800 : 800 + offsetHz;
        QVERIFY2(std::abs(line.toneHz - hz) < 3, qPrintable(line.text));
        // The other's keying is no noise of the beacon's.
        QVERIFY2(!line.beacon || std::abs(line.snrDb + 6) < 1.5, qPrintable(QString::number(line.snrDb)));
        others += !line.beacon;
        QVERIFY2(line.beacon || line.text.startsWith(QLatin1String("CQ CQ DE QX0ZZ")),
                 qPrintable(line.text));
    }
    QCOMPARE(others > 0, keyed);
    // The same, handed in as a sound card does, a block at a time (the
    // carrier is taken out as the spectra reach the audio).
    if (!keyed)
        QCOMPARE(copied(s, 1, {}, 441).frames(), copy.frames());
}

// After the beacon's last element its channel hears the skirt of a station
// as strong 50 Hz away: those tone estimates, pulled together, are left out
// of the line's tone, and the last symbols keep their phase (seed 178: the
// last symbol of the third frame was '#').
void TestReceiver::besideAnotherToTheEnd() {
    cwgen::Settings s = at(10, 178);
    otherStation(s, -50, 0);
    const Copy copy = copied(s, 3);
    QCOMPARE(copy.frames(), QStringList(copy.sent));
}

// A tone drifting fast from the start of each frame, or sweeping as a pass
// makes it, is followed: the frames as sent, and nothing else.
void TestReceiver::drifting_data() {
    QTest::addColumn<double>("snrDb");
    QTest::addColumn<double>("driftHzPerSecond");
    QTest::addColumn<double>("sweepHz");
    QTest::newRow("50 Hz/s through each frame, -6 dB") << -6.0 << 50.0 << 0.0;
    QTest::newRow("-30 Hz/s through each frame, +10 dB") << 10.0 << -30.0 << 0.0;
    QTest::newRow("a pass's S-curve of +-300 Hz, +10 dB") << 10.0 << 0.0 << 300.0;
}

void TestReceiver::drifting() {
    QFETCH(double, snrDb);
    QFETCH(double, driftHzPerSecond);
    QFETCH(double, sweepHz);
    cwgen::Settings s = at(snrDb, 5);
    s.toneHz = driftHzPerSecond < 0 ? 1500 : 800;
    s.driftHzPerSecond = driftHzPerSecond;
    s.dopplerHz = sweepHz;
    s.dopplerPerTransmission = true;
    const Copy copy = copied(s, 1);
    QCOMPARE(copy.frames(), QStringList(copy.sent));
    QCOMPARE(int(copy.lines.size()), 1); // its trail through the spectra makes no line
}

// A tumbling satellite's nulls come at a steady rate and are followed:
// one a second, 20 dB deep, +6 dB on average, every symbol holds (seed 3
// puts nulls on symbols).
void TestReceiver::spinFollowed() {
    cwgen::Settings s = at(6, 3);
    s.spinNullsPerSecond = 1;
    s.spinDepthDb = 20;
    const Copy copy = copied(s, 3);
    QCOMPARE(copy.frames(), QStringList(copy.sent));
}

// Where a null takes a symbol it is written '#', never another symbol
// (40 dB deep: the signal is gone there).
void TestReceiver::nullIsUnsure() {
    cwgen::Settings s = at(6, 3);
    s.spinNullsPerSecond = 1;
    s.spinDepthDb = 40;
    const Copy copy = copied(s, 3);
    int unsure = 0;
    for (const QString &frame : copy.frames()) {
        QVERIFY2(copy.sentAsIs(frame), qPrintable(frame));
        unsure += int(frame.count(QLatin1Char('#')));
    }
    QVERIFY(!copy.frames().isEmpty());
    QVERIFY(unsure > 0);
}

// Through slow Rayleigh fading (about 3 s, +6 dB on average) the amplitude
// in a fade is followed down: its key down stays key down. Each seed put a
// fade on a symbol that was lost to it.
void TestReceiver::rayleighFade_data() {
    QTest::addColumn<int>("seed");
    QTest::newRow("a fade between strong stretches") << 1;
    QTest::newRow("a fade's bottom, measured from its own elements") << 10;
    QTest::newRow("a symbol the same at half the amplitude") << 38;
}

void TestReceiver::rayleighFade() {
    QFETCH(int, seed);
    cwgen::Settings s = at(6, std::uint64_t(seed));
    s.fadingSeconds = 3;
    const Copy copy = copied(s, 2);
    QCOMPARE(copy.frames(), QStringList(copy.sent));
}

// In a weaker signal the nulls still come at a steady rate: what falls in
// one is '#', never another symbol. At 0 dB, seed 6 made 11 wrong symbols
// in two frames read as a steady signal; at -6 dB, seed 16 made one on a
// null's slope written from 0.9 sure.
void TestReceiver::weakSpin_data() {
    QTest::addColumn<double>("snrDb");
    QTest::addColumn<double>("nullsPerSecond");
    QTest::addColumn<int>("seed");
    QTest::newRow("0 dB, 0.3 nulls a second") << 0.0 << 0.3 << 6;
    QTest::newRow("-6 dB, 0.5 nulls a second") << -6.0 << 0.5 << 16;
}

void TestReceiver::weakSpin() {
    QFETCH(double, snrDb);
    QFETCH(double, nullsPerSecond);
    QFETCH(int, seed);
    cwgen::Settings s = at(snrDb, std::uint64_t(seed));
    s.spinNullsPerSecond = nullsPerSecond;
    s.spinDepthDb = 20;
    const Copy copy = copied(s, 2);
    QVERIFY(!copy.frames().isEmpty());
    for (const QString &frame : copy.frames())
        QVERIFY2(copy.sentAsIs(frame), qPrintable(frame));
}

// Nulls that turn the carrier's phase by half a cycle (a spinning linear
// antenna, received on one of another polarisation), 1 a second at +6 dB
// average: both frames copied whole (seed 5; with the phase taken from
// 0.3 s, neither, and a symbol written wrong).
void TestReceiver::spinTurnsPhase() {
    cwgen::Settings s = at(6, 5);
    s.spinNullsPerSecond = 1;
    s.spinDepthDb = 20;
    s.spinTurnsPhase = true;
    const Copy copy = copied(s, 2);
    QCOMPARE(copy.frames(), copy.sent);
}

// A frame whose name falls partly in a null is still found where its
// symbols hold (seed 2: a null takes a letter of the first frame's name).
void TestReceiver::nameInNull() {
    cwgen::Settings s = at(6, 2);
    s.spinNullsPerSecond = 1;
    s.spinDepthDb = 20;
    const Copy copy = copied(s, 2);
    const QStringList frames = copy.frames();
    QCOMPARE(frames.size(), 2);
    for (int i = 0; i < 2; ++i)
        QVERIFY2(copy.sentAsIs(frames[i], i), qPrintable(frames[i]));
}

// Static crashes are blanked: alone they make no line, with the beacon the
// frames are copied as sent; so are they through a receiver's passband and
// AGC (the noise pumping up between transmissions). What was blanked is
// neither key down nor key up (seed 5: a crash blanked within an element
// read as key up turned a frame into text).
void TestReceiver::crashes_data() {
    QTest::addColumn<int>("frames");
    QTest::addColumn<double>("crashesPerSecond");
    QTest::addColumn<bool>("agc");
    QTest::addColumn<double>("snrDb");
    QTest::addColumn<int>("seed");
    QTest::newRow("crashes alone, 20 s") << 0 << 1.0 << false << -6.0 << 4;
    QTest::newRow("crashes, -6 dB") << 2 << 1.0 << false << -6.0 << 4;
    QTest::newRow("passband and AGC, -6 dB") << 2 << 0.0 << true << -6.0 << 4;
    QTest::newRow("crashes through passband and AGC, +10 dB") << 2 << 1.0 << true << 10.0 << 5;
}

void TestReceiver::crashes() {
    QFETCH(int, frames);
    QFETCH(double, crashesPerSecond);
    QFETCH(bool, agc);
    QFETCH(double, snrDb);
    QFETCH(int, seed);
    cwgen::Settings s = at(snrDb, std::uint64_t(seed));
    s.crashesPerSecond = crashesPerSecond;
    s.crashDb = 30;
    if (agc) {
        s.passbandLowHz = 300;
        s.passbandHighHz = 2700;
        s.agcAttackSeconds = 0.01;
    }
    if (frames == 0)
        s.gapSeconds = 20;
    const Copy copy = copied(s, frames);
    QCOMPARE(int(copy.lines.size()), frames);
    QCOMPARE(copy.frames(), QStringList(copy.sent));
}

// Digital silence before and after the noise makes no line, and the
// summary tells the beacon's tone, speed and drift.
void TestReceiver::silenceAtBothEnds() {
    cwgen::Settings s = at(-6, 6);
    s.silenceSeconds = 3;
    const Copy copy = copied(s, 2);
    QCOMPARE(int(copy.lines.size()), 2);
    QCOMPARE(copy.frames(), QStringList(copy.sent));
    QVERIFY2(std::abs(copy.figures.toneHz - 800) < 1, qPrintable(QString::number(copy.figures.toneHz)));
    QVERIFY2(std::abs(copy.figures.wpm - 20) < 1, qPrintable(QString::number(copy.figures.wpm)));
    QVERIFY(std::abs(copy.figures.driftHzPerSecond) < 0.5);
}

// Audio clipped hard: the beacon's harmonics key with it, weaker, and are
// copied on channels of their own. Each frame is handed on once, at the
// beacon's tone (seed 20: the third harmonic's copy differs in a symbol).
void TestReceiver::clipped() {
    cwgen::Settings s = at(10, 20);
    s.amplitude = 0.3;
    s.clipLevel = 0.15;
    const Copy copy = copied(s, 1);
    QCOMPARE(copy.frames(), QStringList(copy.sent));
    QVERIFY(std::abs(copy.lines.front().toneHz - 800) < 3);
}

// Transmissions of 21 or 19 symbols after the name are copied as what they
// are, never squeezed or stretched into a frame.
void TestReceiver::notTwentySymbols_data() {
    QTest::addColumn<int>("symbols");
    QTest::addColumn<double>("snrDb");
    QTest::newRow("21 symbols, +10 dB") << 21 << 10.0;
    QTest::newRow("19 symbols, +10 dB") << 19 << 10.0;
    QTest::newRow("21 symbols, -6 dB") << 21 << -6.0;
    QTest::newRow("19 symbols, -6 dB") << 19 << -6.0;
    QTest::newRow("21 symbols, -10 dB") << 21 << -10.0;
    QTest::newRow("19 symbols, -10 dB") << 19 << -10.0;
}

void TestReceiver::notTwentySymbols() {
    QFETCH(int, symbols);
    QFETCH(double, snrDb);
    std::mt19937_64 random(7);
    QStringList texts;
    for (int i = 0; i < 2; ++i)
        texts << cwgen::randomFrame(random).left(9 + symbols) + (symbols > 20 ? QStringLiteral("A") : QString());
    const Copy copy = copied(at(snrDb, 3), 0, texts);
    QCOMPARE(copy.frames(), QStringList());
    QCOMPARE(int(copy.lines.size()), 2);
    for (int i = 0; snrDb > 0 && i < 2; ++i)
        QCOMPARE(copy.lines[size_t(i)].text, texts[i]);
}

// Two stations and a tone drifting 30 Hz/s, in noise: the finder follows
// each at its own frequency, the drifting one with its drift.
void TestReceiver::carriersFound() {
    const double rate = 8000;
    std::mt19937_64 random(9);
    std::normal_distribution<double> noise(0, 0.1);
    std::vector<float> x(static_cast<size_t>(rate * 6));
    double phase = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double t = double(i) / rate;
        phase += 2 * M_PI * (1500 + 30 * t) / rate;
        x[i] = float(noise(random) + 0.1 * std::sin(2 * M_PI * 700 * t) +
                     0.1 * std::sin(2 * M_PI * 1000 * t) + 0.1 * std::sin(phase));
    }
    cwcopier::CarrierFinder finder(rate);
    for (qint64 at = 0; at + finder.fftSize() <= qint64(x.size()); at += finder.hop())
        finder.add(x.data() + at, at);
    const double now = double(finder.centre()) / rate;
    QCOMPARE(int(finder.carriers().size()), 3);
    for (const cwcopier::Carrier &c : finder.carriers()) {
        const double hz = c.hz > 1200 ? 1500 + 30 * now : c.hz > 850 ? 1000 : 700;
        QVERIFY2(std::abs(c.hz - hz) < 1, qPrintable(QString::number(c.hz)));
        QVERIFY2(std::abs(c.driftHzPerSecond - (hz > 1200 ? 30 : 0)) < 3,
                 qPrintable(QString::number(c.driftHzPerSecond)));
    }
}

// A burst of 4 ms, 30 dB over the noise, is made silence; a tone keyed on
// in the noise is not, and every sample is handed on.
void TestReceiver::crashBlanked() {
    const double rate = 8000;
    std::mt19937_64 random(3);
    std::normal_distribution<double> noise(0, 0.01);
    std::vector<float> x(static_cast<size_t>(rate));
    for (size_t i = 0; i < x.size(); ++i) {
        x[i] = float(noise(random));
        if (i >= 2000 && i < 2032)
            x[i] *= 31.6f; // the crash
        if (i >= 5000)
            x[i] += float(0.3 * std::sin(2 * M_PI * 800 * double(i) / rate)); // key down
    }
    cwcopier::Blanker blanker(rate);
    std::vector<float> out;
    blanker.process(x.data(), x.size() / 2, out);
    blanker.process(x.data() + x.size() / 2, x.size() - x.size() / 2, out);
    blanker.flush(out);
    QCOMPARE(out.size(), x.size());
    for (size_t i = 2000; i < 2032; ++i)
        QCOMPARE(out[i], 0.0f);
    for (size_t i = 4900; i < x.size(); ++i)
        QCOMPARE(out[i], x[i]);
}

// Ticks of 15 ms keyed two on, two off, each on tick a carrier of 20
// samples at amplitude 1 whose pitch is off by `hz(seconds)` and whose
// phase turns by `turn` radians at `turnAt` seconds, in a null of half a
// second (nothing heard).
linecopier::Ticks keyedTicks(int count, const std::function<double(double)> &hz, double turn = 0,
                             double turnAt = 1e9) {
    linecopier::Ticks ticks;
    double phase = 0;
    for (int t = 0; t < count; ++t) {
        const double seconds = t * 0.015;
        const bool on = t % 4 < 2 && std::abs(seconds - turnAt) > 0.25;
        ticks.sum.push_back(on ? std::polar(20.0, phase + (seconds >= turnAt ? turn : 0)) : 0);
        ticks.samples.push_back(20);
        ticks.first.push_back(20 * t);
        phase += 2 * M_PI * hz(seconds) * 0.015;
    }
    return ticks;
}

// A weak tone's pitch left over after mixing (0.6 Hz, moving to -0.4 Hz
// over 9 s) is followed from its key down: over the second a weak tone's
// phase is taken from, its ticks keep their phase.
void TestReceiver::pitchFollowed() {
    linecopier::Ticks ticks = keyedTicks(600, [](double s) { return 0.6 - s / 9; });
    std::vector<double> weight;
    for (int t = 0; t < ticks.size(); ++t)
        weight.push_back(t % 4 < 2 ? 1 : 0);
    linecopier::followPitch(ticks, weight, 0.015);
    for (int t = 68; t < ticks.size(); t += 4) {
        const double turned = std::arg(ticks.sum[size_t(t)] * std::conj(ticks.sum[size_t(t - 68)]));
        QVERIFY2(std::abs(turned) < 0.1, qPrintable(QStringLiteral("%1 rad at tick %2").arg(turned).arg(t)));
    }
}

// A spinning antenna's null turns the carrier's phase by half a cycle; a
// pitch left over (0.3 Hz) turns it slowly and is no turn.
void TestReceiver::phaseTurn_data() {
    QTest::addColumn<double>("pitchHz");
    QTest::addColumn<double>("turn");
    QTest::addColumn<bool>("turns");
    QTest::newRow("half a cycle at a null") << 0.0 << M_PI << true;
    QTest::newRow("a third of a cycle at a null") << 0.0 << 2 * M_PI / 3 << true;
    QTest::newRow("0.3 Hz left over") << 0.3 << 0.0 << false;
}

void TestReceiver::phaseTurn() {
    QFETCH(double, pitchHz);
    QFETCH(double, turn);
    QFETCH(bool, turns);
    const linecopier::Ticks ticks = keyedTicks(400, [pitchHz](double) { return pitchHz; }, turn, 3);
    std::vector<std::pair<int, int>> marks;
    for (int t = 0; t < ticks.size(); t += 4)
        marks.push_back({t, t + 2});
    QCOMPARE(linecopier::phaseTurns(ticks, marks, 1.0, 20), turns);
}

QTEST_GUILESS_MAIN(TestReceiver)
#include "tst_receiver.moc"
