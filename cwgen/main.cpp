// kadrin-cwgen: writes a test recording of CW, text or beacon frames in
// noise, and lists on standard output when each transmission was keyed.

#include "cwgen/generator.h"
#include "cwgen/morse.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

int usageError(const QString &message) {
    std::fprintf(stderr, "kadrin-cwgen: %s\n", qPrintable(message));
    return 2;
}

bool number(const QCommandLineParser &parser, const QString &name, double *value, QString *error) {
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    *value = parser.value(name).toDouble(&ok);
    if (!ok)
        *error = QStringLiteral("--%1 takes a number, not \"%2\"").arg(name, parser.value(name));
    return ok;
}


// The recording as 16-bit little-endian samples on standard output, every
// channel the same, or on one channel with the others silent.
bool writeRaw(cwgen::Generator &generator, std::int64_t *clipped) {
    const int channels = generator.settings().channels, only = generator.settings().onlyChannel;
    std::vector<float> mono(4096);
    std::vector<unsigned char> bytes;
    for (;;) {
        const std::int64_t got = generator.render(mono.data(), std::int64_t(mono.size()));
        if (got == 0)
            return true;
        bytes.clear();
        for (std::int64_t i = 0; i < got; ++i) {
            const float v = mono[std::size_t(i)];
            *clipped += std::abs(v) > 1;
            const auto s = std::int16_t(std::lround(std::clamp(v, -1.0f, 32767.0f / 32768) * 32768));
            for (int c = 0; c < channels; ++c) {
                const std::int16_t out = only < 0 || c == only ? s : 0;
                bytes.push_back(static_cast<unsigned char>(out & 0xff));
                bytes.push_back(static_cast<unsigned char>((out >> 8) & 0xff));
            }
        }
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
            std::fprintf(stderr, "kadrin-cwgen: cannot write the samples to standard output: %s\n",
                         std::strerror(errno));
            return false;
        }
    }
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kadrin-cwgen"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes a recording of CW in white noise: texts (--text), beacon frames (--frame) or\n"
        "random beacon frames (--frames), in this order, each its own transmission with\n"
        "--gap seconds of noise before, between and after. The format follows OUTPUT's\n"
        "suffix: .wav, .flac or .ogg; OUTPUT - writes raw 16-bit little-endian samples\n"
        "to standard output, as a sound card delivers them. Standard output (standard\n"
        "error for -) lists each transmission as \"START END TEXT\" (seconds from the\n"
        "first sample, key down to key up).\n\n"
        "The options from --doppler on make it sound as through a receiver: the beacon\n"
        "with its Doppler and fading, the noise, crashes, another station and a carrier\n"
        "go through the passband, then the AGC, then the clipping; the silence comes\n"
        "around it all."));
    const QCommandLineOption help = parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("OUTPUT"), QStringLiteral("the file to write"));
    const QList<QCommandLineOption> options = {
        {QStringLiteral("text"), QStringLiteral("A transmission of TEXT (prosigns as <SK>); repeatable."), QStringLiteral("TEXT")},
        {QStringLiteral("frame"), QStringLiteral("A beacon frame of these 20 symbols; repeatable."), QStringLiteral("SYMBOLS")},
        {QStringLiteral("frames"), QStringLiteral("N random beacon frames."), QStringLiteral("N")},
        {QStringLiteral("wpm"), QStringLiteral("Speed, words per minute, PARIS (20)."), QStringLiteral("WPM")},
        {QStringLiteral("tone"), QStringLiteral("Tone, Hz (800)."), QStringLiteral("HZ")},
        {QStringLiteral("snr"), QStringLiteral("Signal to noise ratio in 2,500 Hz, dB (none: no noise)."), QStringLiteral("DB")},
        {QStringLiteral("rate"), QStringLiteral("Sample rate, Hz (8000)."), QStringLiteral("HZ")},
        {QStringLiteral("channels"), QStringLiteral("Channels, all the same (1)."), QStringLiteral("N")},
        {QStringLiteral("only-channel"), QStringLiteral("The recording on channel N only (from 0), the others silent."), QStringLiteral("N")},
        {QStringLiteral("drift"), QStringLiteral("Tone drift from each transmission's start, Hz/s (0)."), QStringLiteral("HZS")},
        {QStringLiteral("fading"), QStringLiteral("Period of slow Rayleigh fading, s (0: none)."), QStringLiteral("S")},
        {QStringLiteral("jitter"), QStringLiteral("Timing jitter of hand keying, fraction of each length (0)."), QStringLiteral("F")},
        {QStringLiteral("seed"), QStringLiteral("Seed of the noise, the timing and the random frames (1)."), QStringLiteral("N")},
        {QStringLiteral("gap"), QStringLiteral("Seconds of noise between transmissions (3)."), QStringLiteral("S")},
        {QStringLiteral("amplitude"), QStringLiteral("Peak of the tone, full scale 1 (automatic: nothing clips)."), QStringLiteral("A")},
        {QStringLiteral("doppler"), QStringLiteral("Doppler of a pass: the tone sweeps from +HZ to -HZ, fastest at the recording's middle (0)."), QStringLiteral("HZ")},
        {QStringLiteral("doppler-time"), QStringLiteral("The sweep's time constant, s (a quarter of the recording or transmission)."), QStringLiteral("S")},
        {QStringLiteral("doppler-per-transmission"), QStringLiteral("The sweep at each transmission's middle instead.")},
        {QStringLiteral("pass-drift"), QStringLiteral("Tone drift from the recording's start, Hz/s (0); both turn back at 200 and 3000 Hz or at the passband's edges."), QStringLiteral("HZS")},
        {QStringLiteral("spin"), QStringLiteral("Spin fading, nulls a second (0: none); the SNR stays the average."), QStringLiteral("N")},
        {QStringLiteral("spin-depth"), QStringLiteral("Depth of the spin fading's nulls, dB (20)."), QStringLiteral("DB")},
        {QStringLiteral("spin-turns-phase"), QStringLiteral("The carrier's phase turns by half a cycle through each spin null.")},
        {QStringLiteral("crashes"), QStringLiteral("Static crashes a second, at random (0); needs --snr."), QStringLiteral("N")},
        {QStringLiteral("crash-level"), QStringLiteral("A crash's peak power over the noise, dB (20)."), QStringLiteral("DB")},
        {QStringLiteral("other"), QStringLiteral("Another station keying TEXT over and over, the whole recording."), QStringLiteral("TEXT")},
        {QStringLiteral("other-wpm"), QStringLiteral("Its speed, WPM (20)."), QStringLiteral("WPM")},
        {QStringLiteral("other-offset"), QStringLiteral("Its tone from the beacon's, Hz (80)."), QStringLiteral("HZ")},
        {QStringLiteral("other-level"), QStringLiteral("Its level from the beacon's, dB (0)."), QStringLiteral("DB")},
        {QStringLiteral("carrier"), QStringLiteral("A steady carrier HZ from the beacon's tone."), QStringLiteral("HZ")},
        {QStringLiteral("carrier-level"), QStringLiteral("Its level from the beacon's, dB (0)."), QStringLiteral("DB")},
        {QStringLiteral("passband"), QStringLiteral("The receiver's passband, 4-pole edges, e.g. 300,2700 (none)."), QStringLiteral("LOW,HIGH")},
        {QStringLiteral("agc"), QStringLiteral("The receiver's AGC: 10 ms attack, 500 ms decay, after the passband.")},
        {QStringLiteral("agc-attack"), QStringLiteral("AGC with this attack time, s."), QStringLiteral("S")},
        {QStringLiteral("agc-decay"), QStringLiteral("AGC with this decay time, s."), QStringLiteral("S")},
        {QStringLiteral("clip"), QStringLiteral("Samples clipped at +-LEVEL, full scale 1, after the AGC (none)."), QStringLiteral("LEVEL")},
        {QStringLiteral("silence"), QStringLiteral("Seconds of exact zeros at the start and at the end (0)."), QStringLiteral("S")},
    };
    parser.addOptions(options);
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(help))
        parser.showHelp(0);

    const QStringList outputs = parser.positionalArguments();
    if (outputs.size() != 1)
        return usageError(QStringLiteral("name one OUTPUT file (see --help)"));

    cwgen::Settings settings;
    QString error;
    double channels = settings.channels, onlyChannel = settings.onlyChannel;
    double seed = double(settings.seed);
    double frames = 0;
    if (!number(parser, QStringLiteral("wpm"), &settings.wpm, &error)
        || !number(parser, QStringLiteral("tone"), &settings.toneHz, &error)
        || !number(parser, QStringLiteral("snr"), &settings.snrDb, &error)
        || !number(parser, QStringLiteral("rate"), &settings.sampleRate, &error)
        || !number(parser, QStringLiteral("channels"), &channels, &error)
        || !number(parser, QStringLiteral("only-channel"), &onlyChannel, &error)
        || !number(parser, QStringLiteral("drift"), &settings.driftHzPerSecond, &error)
        || !number(parser, QStringLiteral("fading"), &settings.fadingSeconds, &error)
        || !number(parser, QStringLiteral("jitter"), &settings.jitter, &error)
        || !number(parser, QStringLiteral("seed"), &seed, &error)
        || !number(parser, QStringLiteral("gap"), &settings.gapSeconds, &error)
        || !number(parser, QStringLiteral("amplitude"), &settings.amplitude, &error)
        || !number(parser, QStringLiteral("frames"), &frames, &error)
        || !number(parser, QStringLiteral("doppler"), &settings.dopplerHz, &error)
        || !number(parser, QStringLiteral("doppler-time"), &settings.dopplerSeconds, &error)
        || !number(parser, QStringLiteral("pass-drift"), &settings.passDriftHzPerSecond, &error)
        || !number(parser, QStringLiteral("spin"), &settings.spinNullsPerSecond, &error)
        || !number(parser, QStringLiteral("spin-depth"), &settings.spinDepthDb, &error)
        || !number(parser, QStringLiteral("crashes"), &settings.crashesPerSecond, &error)
        || !number(parser, QStringLiteral("crash-level"), &settings.crashDb, &error)
        || !number(parser, QStringLiteral("other-wpm"), &settings.otherWpm, &error)
        || !number(parser, QStringLiteral("other-offset"), &settings.otherOffsetHz, &error)
        || !number(parser, QStringLiteral("other-level"), &settings.otherDb, &error)
        || !number(parser, QStringLiteral("carrier"), &settings.carrierOffsetHz, &error)
        || !number(parser, QStringLiteral("carrier-level"), &settings.carrierDb, &error)
        || !number(parser, QStringLiteral("agc-attack"), &settings.agcAttackSeconds, &error)
        || !number(parser, QStringLiteral("agc-decay"), &settings.agcDecaySeconds, &error)
        || !number(parser, QStringLiteral("clip"), &settings.clipLevel, &error)
        || !number(parser, QStringLiteral("silence"), &settings.silenceSeconds, &error))
        return usageError(error);
    settings.dopplerPerTransmission = parser.isSet(QStringLiteral("doppler-per-transmission"));
    settings.otherText = parser.value(QStringLiteral("other"));
    settings.carrier = parser.isSet(QStringLiteral("carrier"));
    settings.spinTurnsPhase = parser.isSet(QStringLiteral("spin-turns-phase"));
    if ((parser.isSet(QStringLiteral("agc")) || parser.isSet(QStringLiteral("agc-decay")))
        && !parser.isSet(QStringLiteral("agc-attack")))
        settings.agcAttackSeconds = 0.01;
    if (parser.isSet(QStringLiteral("passband"))) {
        const QStringList edges = parser.value(QStringLiteral("passband")).split(QLatin1Char(','));
        bool low = false, high = false;
        if (edges.size() == 2) {
            settings.passbandLowHz = edges.at(0).toDouble(&low);
            settings.passbandHighHz = edges.at(1).toDouble(&high);
        }
        if (!low || !high)
            return usageError(QStringLiteral("--passband takes LOW,HIGH in Hz, not \"%1\"")
                                  .arg(parser.value(QStringLiteral("passband"))));
    }
    if (channels != int(channels) || onlyChannel != int(onlyChannel) || seed < 0
        || seed != double(std::uint64_t(seed)) || frames < 0 || frames > 1e6 || frames != int(frames))
        return usageError(QStringLiteral("--channels, --only-channel, --seed and --frames take whole numbers"));
    settings.channels = int(channels);
    settings.onlyChannel = int(onlyChannel);
    settings.seed = std::uint64_t(seed);

    QStringList texts = parser.values(QStringLiteral("text"));
    for (const QString &symbols : parser.values(QStringLiteral("frame"))) {
        const QString upper = symbols.toUpper();
        if (upper.size() != 20)
            return usageError(QStringLiteral("--frame takes 20 symbols, not %1").arg(upper.size()));
        for (QChar c : upper) {
            if (c.unicode() > 127 || !std::strchr(cwgen::FrameSymbols, c.toLatin1()))
                return usageError(QStringLiteral("'%1' is no frame symbol (%2)")
                                      .arg(c)
                                      .arg(QLatin1String(cwgen::FrameSymbols)));
        }
        texts.append(cwgen::frameText(upper));
    }
    std::mt19937_64 random(settings.seed);
    for (int i = 0; i < int(frames); ++i)
        texts.append(cwgen::randomFrame(random));
    if (texts.isEmpty())
        return usageError(QStringLiteral("nothing to send: give --text, --frame or --frames"));

    cwgen::Generator generator;
    if (!generator.plan(settings, texts))
        return usageError(generator.error());
    std::int64_t clipped = 0;
    if (outputs.front() == QLatin1String("-")) {
        if (!writeRaw(generator, &clipped))
            return 1;
        for (const cwgen::Transmission &tx : generator.transmissions())
            std::fprintf(stderr, "%.4f %.4f %s\n", tx.start, tx.end, qPrintable(tx.text));
        return 0;
    }
    if (!cwgen::writeFile(generator, outputs.front(), &error, &clipped)) {
        std::fprintf(stderr, "kadrin-cwgen: %s\n", qPrintable(error));
        return 1;
    }
    if (clipped > 0)
        std::fprintf(stderr, "kadrin-cwgen: warning: %lld samples clipped\n", (long long)clipped);
    for (const cwgen::Transmission &tx : generator.transmissions())
        std::printf("%.4f %.4f %s\n", tx.start, tx.end, qPrintable(tx.text));
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "kadrin-cwgen: cannot write the list to standard output: %s\n",
                     std::strerror(errno));
        return 1;
    }
    return 0;
}
