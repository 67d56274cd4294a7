// The test recordings measure what they claim: PARIS timing and the signal
// to noise ratio in 2,500 Hz, measured on the samples.

#include "cwgen/generator.h"

#include <QTest>

#include <algorithm>
#include <cmath>

class TestCwGen : public QObject {
    Q_OBJECT
private slots:
    void parisTiming_data();
    void parisTiming();
    void snr_data();
    void snr();
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

QTEST_GUILESS_MAIN(TestCwGen)
#include "tst_cwgen.moc"
