// The test recordings measure what they claim: PARIS timing, the signal to
// noise ratio in 2,500 Hz and what the receiver channel adds, measured on the
// samples.

#include "cwgen/generator.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <complex>
#include <tuple>
#include <utility>

class TestCwGen : public QObject {
    Q_OBJECT
private slots:
    void parisTiming_data();
    void parisTiming();
    void snr_data();
    void snr();
    void spinFading_data();
    void spinFading();
    void otherStation();
    void passband_data();
    void passband();
    void agcRecovers();
    void crashRate();
    void digitalSilence();
};

// "PARIS PARIS" takes 50 dots for the first word with its word gap and 43
// for the second (no gap after it); a dot is 1.2 / WPM seconds. Measured from
// the first to the last sample at half the amplitude or more (the key edges
// are centred there), so within one tone period.
void TestCwGen::parisTiming_data() {
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("wpm");
    QTest::addColumn<double>("seconds");
    QTest::newRow("8 kHz, 20 WPM") << 8000.0 << 20.0 << 5.58;
    QTest::newRow("48 kHz, 30 WPM") << 48000.0 << 30.0 << 3.72;
    QTest::newRow("8 kHz, 12 WPM") << 8000.0 << 12.0 << 9.3;
}

void TestCwGen::parisTiming() {
    QFETCH(double, rate);
    QFETCH(double, wpm);
    QFETCH(double, seconds);
    cwgen::Settings settings;
    settings.sampleRate = rate;
    settings.wpm = wpm;
    settings.gapSeconds = 0.5;
    cwgen::Generator generator;
    QVERIFY(generator.plan(settings, {QStringLiteral("PARIS PARIS")}));
    const std::vector<float> samples = generator.samples();
    const float half = float(generator.amplitude() / 2);
    auto loud = [half](float x) { return std::abs(x) >= half; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud);
    const double measured = double(samples.rend() - last - 1 - (first - samples.begin())) / rate;
    QVERIFY2(std::abs(measured - seconds) <= 1.5 / 800,
             qPrintable(QStringLiteral("%1 s").arg(measured)));
}

// SNR = signal power while the key is down / noise power in 2,500 Hz, with
// the noise taken as the difference from the same recording without it.
// Fading makes the signal power vary; its average is the stated one.
void TestCwGen::snr_data() {
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("snrDb");
    QTest::addColumn<double>("fadingSeconds");
    QTest::addColumn<double>("toleranceDb");
    QTest::newRow("8 kHz, -10 dB") << 8000.0 << -10.0 << 0.0 << 0.1;
    QTest::newRow("48 kHz, +6 dB") << 48000.0 << 6.0 << 0.0 << 0.1;
    QTest::newRow("8 kHz, 0 dB fading 3 s") << 8000.0 << 0.0 << 3.0 << 0.75;
}

void TestCwGen::snr() {
    QFETCH(double, rate);
    QFETCH(double, snrDb);
    QFETCH(double, fadingSeconds);
    QFETCH(double, toleranceDb);
    cwgen::Settings settings;
    settings.sampleRate = rate;
    settings.fadingSeconds = fadingSeconds;
    settings.amplitude = 0.05; // the same with and without noise
    // Long dashes, 6 minutes of them when fading needs its average.
    const QString text = fadingSeconds > 0 ? QString(400, QLatin1Char('0')) : QStringLiteral("TTTT");
    cwgen::Generator generator;
    QVERIFY(generator.plan(settings, {text}));
    const std::vector<float> clean = generator.samples();
    settings.snrDb = snrDb;
    QVERIFY(generator.plan(settings, {text}));
    const std::vector<float> noisy = generator.samples();
    QCOMPARE(noisy.size(), clean.size());

    double noise = 0;
    for (std::size_t i = 0; i < clean.size(); ++i)
        noise += double(noisy[i] - clean[i]) * double(noisy[i] - clean[i]);
    noise /= double(clean.size());
    const double n0 = 2 * noise / rate;

    double signal = 0;
    std::size_t down = 0;
    for (const cwgen::Transmission &tx : generator.transmissions()) {
        for (const cwgen::Element &element : tx.elements) {
            if (!element.on)
                continue;
            // The middle of each dash, away from the shaped edges.
            for (auto i = std::size_t((element.start + 0.01) * rate);
                 i < std::size_t((element.end - 0.01) * rate); ++i, ++down)
                signal += double(clean[i]) * double(clean[i]);
        }
    }
    signal /= double(down);
    const double measured = 10 * std::log10(signal / (n0 * 2500));
    QVERIFY2(std::abs(measured - snrDb) <= toleranceDb,
             qPrintable(QStringLiteral("%1 dB").arg(measured)));
}

// Nulls of spin fading, seen on slow dashes (1 WPM: 3.6 s) in 5 ms blocks of
// 4 tone periods: n a second apart (or a whole number of those apart across
// the gaps), the depth stated below the peaks, the power averaging 1.
void TestCwGen::spinFading_data() {
    QTest::addColumn<double>("nulls");
    QTest::addColumn<double>("depthDb");
    QTest::newRow("1 a second, 20 dB") << 1.0 << 20.0;
    QTest::newRow("0.3 a second, 25 dB") << 0.3 << 25.0;
}

void TestCwGen::spinFading() {
    QFETCH(double, nulls);
    QFETCH(double, depthDb);
    cwgen::Settings settings;
    settings.wpm = 1;
    settings.spinNullsPerSecond = nulls;
    settings.spinDepthDb = depthDb;
    cwgen::Generator generator;
    QVERIFY(generator.plan(settings, {QStringLiteral("0000")}));
    const std::vector<float> x = generator.samples();
    const double a = generator.amplitude();
    std::vector<double> power, at, nullAt; // per block, in the beacon's power
    for (const cwgen::Element &e : generator.transmissions().front().elements) {
        for (double t = e.start + 0.01; e.on && t + 0.005 < e.end - 0.01; t += 0.005) {
            double sum = 0;
            for (auto i = std::size_t(t * 8000); i < std::size_t(t * 8000) + 40; ++i)
                sum += double(x[i]) * double(x[i]);
            power.push_back(2 * sum / 40 / (a * a));
            at.push_back(t + e.start * 1e-9); // blocks of two elements never neighbours
        }
    }
    const double peak = *std::max_element(power.begin(), power.end());
    double mean = 0;
    for (std::size_t k = 0; k < power.size(); ++k) {
        mean += power[k] / double(power.size());
        if (k > 0 && k + 1 < power.size() && at[k + 1] - at[k - 1] < 0.011
            && power[k] < 0.1 * peak && power[k] < power[k - 1] && power[k] < power[k + 1])
            nullAt.push_back(at[k]);
    }
    QVERIFY(nullAt.size() > 10);
    for (std::size_t k = 1; k < nullAt.size(); ++k) {
        const double periods = (nullAt[k] - nullAt[k - 1]) * nulls;
        QVERIFY2(periods > 0.9 && std::abs(periods - std::round(periods)) * 1000 / nulls < 10,
                 qPrintable(QStringLiteral("%1 s apart").arg(nullAt[k] - nullAt[k - 1])));
    }
    const double depth = 10 * std::log10(peak / *std::min_element(power.begin(), power.end()));
    QVERIFY2(std::abs(depth - depthDb) < 0.5, qPrintable(QStringLiteral("%1 dB deep").arg(depth)));
    QVERIFY2(std::abs(10 * std::log10(mean)) < 0.3, qPrintable(QString::number(mean)));
}

// Without a beacon the other station alone: the strongest frequency is the
// beacon's tone plus the offset, the peak the beacon's amplitude moved by
// the level.
void TestCwGen::otherStation() {
    for (const auto &[offsetHz, levelDb] : {std::pair{80.0, -6.0}, std::pair{-50.0, 6.0}}) {
        cwgen::Settings settings;
        settings.gapSeconds = 10;
        settings.otherText = QStringLiteral("CQ DE QX0ZZ");
        settings.otherOffsetHz = offsetHz;
        settings.otherDb = levelDb;
        cwgen::Generator generator;
        QVERIFY(generator.plan(settings, {}));
        const std::vector<float> x = generator.samples();
        double strongest = 0, bestHz = 0;
        for (double hz = 700; hz <= 900; hz += 1) {
            std::complex<double> sum, rotor = 1;
            const std::complex<double> turn = std::polar(1.0, -2 * M_PI * hz / 8000);
            for (std::size_t i = 0; i < x.size(); ++i, rotor *= turn)
                sum += double(x[i]) * rotor;
            if (std::abs(sum) > strongest)
                std::tie(strongest, bestHz) = std::pair{std::abs(sum), hz};
        }
        QCOMPARE(bestHz, 800 + offsetHz);
        const float peak = *std::max_element(x.begin(), x.end());
        QVERIFY(std::abs(20 * std::log10(peak / generator.amplitude()) - levelDb) < 0.1);
    }
}

// A carrier of the beacon's level through the passband of 300 to 2,700 Hz,
// two 4-pole Butterworth edges made digital by the bilinear transform, which
// maps f to w = tan(pi f / fs): |H|^2 = 1 / (1 + (w(300) / w(f))^8) on the low
// edge and 1 / (1 + (w(f) / w(2700))^8) on the high one.
void TestCwGen::passband_data() {
    QTest::addColumn<double>("hz");
    QTest::newRow("100 Hz") << 100.0;
    QTest::newRow("2,700 Hz") << 2700.0;
    QTest::newRow("3,500 Hz") << 3500.0;
}

void TestCwGen::passband() {
    QFETCH(double, hz);
    cwgen::Settings settings;
    settings.carrier = true;
    settings.carrierOffsetHz = hz - settings.toneHz;
    settings.passbandLowHz = 300;
    settings.passbandHighHz = 2700;
    cwgen::Generator generator;
    QVERIFY(generator.plan(settings, {}));
    const std::vector<float> x = generator.samples();
    double power = 0; // over the last second, whole periods
    for (auto v = x.end() - 8000; v != x.end(); ++v)
        power += double(*v) * double(*v) / 8000;
    auto w = [](double f) { return std::tan(M_PI * f / 8000); };
    const double expected =
        -10 * std::log10((1 + std::pow(w(300) / w(hz), 8)) * (1 + std::pow(w(hz) / w(2700), 8)));
    const double measured = 10 * std::log10(2 * power) - 20 * std::log10(generator.amplitude());
    QVERIFY2(std::abs(measured - expected) < 0.05, qPrintable(QString::number(measured)));
}

// After a strong transmission the AGC's detector discharges with its decay
// time, far above the noise: the noise it lets through grows as e^(t / 0.5 s),
// 2.72 times from 0.3 s to 0.8 s after the key-up.
void TestCwGen::agcRecovers() {
    cwgen::Settings settings;
    settings.snrDb = 30;
    settings.agcAttackSeconds = 0.01;
    settings.agcDecaySeconds = 0.5;
    cwgen::Generator generator;
    QVERIFY(generator.plan(settings, {QStringLiteral("TTT")}));
    const std::vector<float> x = generator.samples();
    auto rms = [&](double t) {
        double sum = 0;
        for (auto i = std::size_t((t - 0.1) * 8000); i < std::size_t((t + 0.1) * 8000); ++i)
            sum += double(x[i]) * double(x[i]);
        return std::sqrt(sum / 1600);
    };
    const double end = generator.transmissions().front().end;
    const double rise = rms(end + 0.8) / rms(end + 0.3);
    QVERIFY2(std::abs(rise / std::exp(1.0) - 1) < 0.1, qPrintable(QString::number(rise)));
}

// Crashes 30 dB over the noise, one a second for 400 s: each a burst beyond
// 8 sigma (noise alone gets there once in 10^15 samples); bursts 20 ms apart
// or less count once, which loses 2 %. Poisson: 400 +- 20.
void TestCwGen::crashRate() {
    cwgen::Settings settings;
    settings.snrDb = 0;
    settings.gapSeconds = 400;
    settings.crashesPerSecond = 1;
    settings.crashDb = 30;
    cwgen::Generator generator;
    QVERIFY(generator.plan(settings, {}));
    const std::vector<float> x = generator.samples();
    std::ptrdiff_t bursts = 0, lastLoud = -1000;
    for (std::ptrdiff_t i = 0; i < std::ptrdiff_t(x.size()); ++i) {
        if (std::abs(x[std::size_t(i)]) > 8 * generator.noiseSigma())
            bursts += i - std::exchange(lastLoud, i) > 160;
    }
    QVERIFY2(std::abs(bursts - 400) < 60, qPrintable(QString::number(bursts)));
}

// Digital silence is exact zeros for its time at both ends, even after a
// ringing passband and the AGC's gain; the transmissions' times count it.
void TestCwGen::digitalSilence() {
    cwgen::Settings settings;
    settings.snrDb = 0;
    settings.silenceSeconds = 1.5;
    settings.passbandLowHz = 300;
    settings.passbandHighHz = 2700;
    settings.agcAttackSeconds = 0.01;
    cwgen::Generator generator;
    QVERIFY(generator.plan(settings, {QStringLiteral("E")}));
    const std::vector<float> x = generator.samples();
    auto nonzero = [](float v) { return v != 0; };
    QCOMPARE(std::find_if(x.begin(), x.end(), nonzero) - x.begin(), 12000);
    QCOMPARE(std::find_if(x.rbegin(), x.rend(), nonzero) - x.rbegin(), 12000);
    QCOMPARE(generator.transmissions().front().start, 1.5 + settings.gapSeconds);
}

QTEST_GUILESS_MAIN(TestCwGen)
#include "tst_cwgen.moc"
