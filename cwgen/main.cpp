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
        "first sample, key down to key up)."));
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
        || !number(parser, QStringLiteral("frames"), &frames, &error))
        return usageError(error);
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
