// kadrin-decode: decodes saved beacon logs in batch with the same decode
// pass as the window.

#include "cli/frameoutput.h"
#include "decoder/decodepass.h"
#include "decoder/version.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringDecoder>

#include <cstdio>

namespace {

constexpr char Usage[] =
    "Usage: kadrin-decode [--csv | --json] [FILE ...]\n"
    "Decodes KADRIN CW beacon text, one beacon per line, from each FILE in turn\n"
    "(standard input when no FILE is given or FILE is \"-\"). Frames are numbered\n"
    "from 1 in input order across all files.\n"
    "\n"
    "  (default)  each frame's report, frames separated by an empty line\n"
    "  --csv      one CSV row per frame: record, frame and each field's value\n"
    "  --json     one JSON object per line per frame\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "\n"
    "Exit status: 0 when at least one frame was decoded, 1 when none,\n"
    "2 for a usage error or a file that cannot be read.\n";

constexpr qsizetype FlushThreshold = 1 << 20;

void flush(QByteArray &out) {
    if (!out.isEmpty())
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    out.clear();
}

void printError(const QString &message) {
    std::fprintf(stderr, "kadrin-decode: %s\n", message.toLocal8Bit().constData());
}

struct Source {
    QString name; // as given; "-" for standard input
};

// Reads one source completely; false (with a message) when it cannot.
bool readSource(const Source &source, QString &text) {
    QFile file;
    const bool isStdin = source.name == QLatin1String("-");
    const bool opened = isStdin ? file.open(stdin, QIODevice::ReadOnly)
                                : (file.setFileName(source.name), file.open(QIODevice::ReadOnly));
    const QString shownName = isStdin ? QStringLiteral("standard input") : source.name;
    if (!opened) {
        printError(QStringLiteral("%1: cannot read: %2").arg(shownName, file.errorString()));
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        printError(QStringLiteral("%1: cannot read: %2").arg(shownName, file.errorString()));
        return false;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    text = decoder(bytes);
    if (decoder.hasError())
        printError(
            QStringLiteral("%1: not valid UTF-8; undecodable bytes read as U+FFFD").arg(shownName));
    return true;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);

    OutputFormat format = OutputFormat::Report;
    bool formatChosen = false;
    bool optionsEnded = false;
    QList<Source> sources;
    const QStringList arguments = app.arguments().mid(1);
    for (const QString &argument : arguments) {
        if (!optionsEnded && argument.startsWith(QLatin1String("--"))) {
            if (argument == QLatin1String("--")) {
                optionsEnded = true;
            } else if (argument == QLatin1String("--help")) {
                std::fputs(Usage, stdout);
                return 0;
            } else if (argument == QLatin1String("--version")) {
                std::printf("kadrin-decode %s (%s)\n", kadrin::VersionText, kadrin::VersionDate);
                return 0;
            } else if (argument == QLatin1String("--csv") || argument == QLatin1String("--json")) {
                const OutputFormat chosen =
                    argument == QLatin1String("--csv") ? OutputFormat::Csv : OutputFormat::Json;
                if (formatChosen && chosen != format) {
                    printError(QStringLiteral("--csv and --json cannot be used together"));
                    std::fputs(Usage, stderr);
                    return 2;
                }
                format = chosen;
                formatChosen = true;
            } else {
                printError(QStringLiteral("unknown option %1").arg(argument));
                std::fputs(Usage, stderr);
                return 2;
            }
        } else if (!optionsEnded && argument.startsWith(QLatin1Char('-')) &&
                   argument != QLatin1String("-")) {
            printError(QStringLiteral("unknown option %1").arg(argument));
            std::fputs(Usage, stderr);
            return 2;
        } else {
            sources.append({argument});
        }
    }
    if (sources.isEmpty())
        sources.append({QStringLiteral("-")});

    const FrameWriter writer(format);
    QByteArray out;
    writer.begin(out);
    qint64 frames = 0;
    bool failed = false;
    for (const Source &source : sources) {
        QString text;
        if (!readSource(source, text)) {
            failed = true;
            continue;
        }
        forEachBeaconFrame(text, [&](const BeaconFrame &frame) {
            writer.write(out, ++frames, frame);
            if (out.size() >= FlushThreshold)
                flush(out);
        });
    }
    flush(out);
    std::fflush(stdout);
    if (failed)
        return 2;
    return frames > 0 ? 0 : 1;
}
