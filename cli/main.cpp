// kadrin-decode: decodes beacon logs with the same decoder as the window.

#include "cli/archiverun.h"
#include "cli/audiorun.h"
#include "cli/decoderun.h"
#include "cli/networkrun.h"
#include "cli/sidsrun.h"
#include "cwaudio/recordingtime.h"
#include "decoder/utctime.h"
#include "decoder/version.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>
#include <csignal>
#include <cstdio>

namespace {

constexpr char Usage[] =
    "Usage: kadrin-decode [--csv | --json | --status] [--follow] [FILE ...]\n"
    "       kadrin-decode --sids URL --callsign CALL --latitude DEG --longitude DEG\n"
    "                     --norad ID [--sids-journal FILE] [--dry-run] ... [FILE ...]\n"
    "       kadrin-decode --audio [--start TIME] [--csv | --json | --status | --copy]\n"
    "                     [--sids ...] [--store] FILE ...\n"
    "       kadrin-decode --stored [--from TIME] [--to TIME] [--csv | --json]\n"
    "       kadrin-decode --network URL --norad ID [--from TIME] [--to TIME] [--store]\n"
    "                     [--jobs N] [--cache-mb N] [--max-mb N] [--csv | --json | ...]\n"
    "       kadrin-decode --shared URL --norad ID [--token TOKEN] [--from TIME] [--to TIME]\n"
    "                     [--store] [--csv | --json | ...]\n"
    "Decodes KADRIN CW beacon text, one beacon per line, from each FILE in turn\n"
    "(standard input when no FILE is given or FILE is \"-\"). Frames are numbered\n"
    "from 1 in input order across all files.\n"
    "\n"
    "  (default)  each frame's report, frames separated by an empty line\n"
    "  --csv      one CSV row per frame: record, frame, each field's value,\n"
    "             time (UTC), file and line\n"
    "  --json     one JSON object per line per frame\n"
    "  --status   one line per input line: FILE:LINE: frame N, near miss: why,\n"
    "             or other; a summary on standard error\n"
    "  --follow   with one FILE: keep reading it as it grows, like tail -f,\n"
    "             until interrupted (SIGINT or SIGTERM)\n"
    "  --audio    each FILE is a recording (WAV, FLAC, OGG, Opus; 8 to 48 kHz):\n"
    "             copy its CW and decode the lines copied, each with its UTC time;\n"
    "             --csv and --json end each row with its tone_hz and snr_db\n"
    "  --start TIME  with --audio: the UTC time of the first sample\n"
    "             (2026-12-05T21:07:53Z); else a name ..._YYYY-MM-DDTHH-MM-SS.ogg\n"
    "             gives it\n"
    "  --copy     with --audio: write the copied lines themselves, a log\n"
    "  --sids URL send every frame that has a UTC time and no unreadable symbol\n"
    "             to a telemetry database (SiDS), once: a journal keeps what was\n"
    "             delivered; --callsign, --latitude and --longitude (degrees,\n"
    "             north and east positive) and --norad are needed with it\n"
    "  --sids-journal FILE  the journal (default: kadrin/sids-journal.txt in\n"
    "             the user's data folder, shared with the window)\n"
    "  --dry-run  print each request instead of sending it and of the frames\n"
    "  --store    keep every frame with a UTC time in the archive as well,\n"
    "             each frame once, with where it was received; standard error\n"
    "             says how many were new and how many known\n"
    "  --stored   print the archive's frames in time order, as --csv (default)\n"
    "             or --json, each with its receptions: how many, their sources\n"
    "             and callsigns\n"
    "  --from TIME, --to TIME  with --stored, --network, --shared: only frames\n"
    "             (observations) from or up to TIME\n"
    "  --network URL  the observations the network of stations recorded of the\n"
    "             satellite --norad: each recording downloaded (into\n"
    "             kadrin/recordings in the cache folder, at most --cache-mb MB,\n"
    "             2000) and copied as --audio does, --jobs at a time (all cores);\n"
    "             with --store, an observation copied before is skipped\n"
    "  --max-mb N the largest recording fetched (500)\n"
    "  --shared URL  the frames stations shared with the telemetry database;\n"
    "             --token TOKEN or KADRIN_SIDS_TOKEN, sent over HTTPS only\n"
    "  --archive FILE  the archive (default: kadrin/archive.sqlite in the\n"
    "             user's data folder, shared with the window); a\n"
    "             postgresql://user@host/database URL keeps it in PostgreSQL\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "\n"
    "Exit status: 0 when at least one frame was decoded, 1 when none,\n"
    "2 for a usage error, a file that cannot be read or output that cannot\n"
    "be written, 3 when frames remain unsent to the database, 130 or 143\n"
    "when SIGINT or SIGTERM stopped the reading (what was read is written).\n";

int usageError(const QByteArray &message) {
    printError(message);
    std::fputs(Usage, stderr);
    return 2;
}

// The options that take a value, with their names as typed.
const QStringList ValueOptions = {QStringLiteral("sids"),     QStringLiteral("callsign"),
                                  QStringLiteral("latitude"), QStringLiteral("longitude"),
                                  QStringLiteral("norad"),    QStringLiteral("sids-journal"),
                                  QStringLiteral("start"),    QStringLiteral("archive"),
                                  QStringLiteral("from"),     QStringLiteral("to"),
                                  QStringLiteral("network"),  QStringLiteral("shared"),
                                  QStringLiteral("token"),    QStringLiteral("jobs"),
                                  QStringLiteral("cache-mb"), QStringLiteral("max-mb")};

// The FILE arguments as the bytes given: names that are not UTF-8 must not
// be decoded to text and back.
QList<QByteArray> fileArguments(int argc, char *argv[]) {
    QList<QByteArray> files;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (optionsEnded || argument == "-" || !argument.startsWith('-')) {
            files.append(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (!argument.contains('=') &&
                   ValueOptions.contains(QString::fromLatin1(argument.mid(2)))) {
            ++i; // the option's value
        }
    }
    return files;
}

// The argument in which the parser found an unknown option name.
QByteArray optionAsTyped(int argc, char *argv[], const QString &name) {
    for (int i = 1; i < argc; ++i) {
        QByteArray argument(argv[i]);
        argument =
            argument.left(argument.indexOf('=') < 0 ? argument.size() : argument.indexOf('='));
        if (argument.startsWith('-') && QString::fromLocal8Bit(argument).endsWith(name))
            return argument;
    }
    return name.toLocal8Bit();
}

// --archive, else the default file (the window's too, unless its conf.ini
// names another).
QString archiveLocation(const QString &given) {
    return given.isEmpty() ? Archive::defaultLocation() : given;
}

} // namespace

int main(int argc, char *argv[]) {
    CheckedOutput::guardStandardDescriptors();
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption csv(QStringLiteral("csv"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption status(QStringLiteral("status"));
    const QCommandLineOption follow(QStringLiteral("follow"));
    const QCommandLineOption help(QStringLiteral("help"));
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption audio(QStringLiteral("audio"));
    const QCommandLineOption start(QStringLiteral("start"), QString(), QStringLiteral("TIME"));
    const QCommandLineOption copy(QStringLiteral("copy"));
    const QCommandLineOption store(QStringLiteral("store"));
    const QCommandLineOption stored(QStringLiteral("stored"));
    const QCommandLineOption archiveOption(QStringLiteral("archive"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption fromOption(QStringLiteral("from"), QString(), QStringLiteral("TIME"));
    const QCommandLineOption toOption(QStringLiteral("to"), QString(), QStringLiteral("TIME"));
    parser.addOptions({csv, json, status, follow, help, version, audio, start, copy, store, stored,
                       archiveOption, fromOption, toOption});
    NetworkOptions networkOptions(parser);
    SidsOptions sidsOptions(parser);
    if (!parser.parse(app.arguments())) {
        const QStringList unknown = parser.unknownOptionNames();
        if (unknown.isEmpty())
            return usageError(parser.errorText().toLocal8Bit());
        return usageError("unknown option " + optionAsTyped(argc, argv, unknown.first()));
    }
    if (parser.isSet(help)) {
        std::fputs(Usage, stdout);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 2;
    }
    if (parser.isSet(version)) {
        std::printf("kadrin-decode %s (%s)\n", kadrin::VersionText, kadrin::VersionDate);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 2;
    }

    std::optional<qint64> from, to;
    for (const auto &[option, value] : {std::pair{&fromOption, &from}, std::pair{&toOption, &to}}) {
        if (!parser.isSet(*option))
            continue;
        const std::optional<double> t = parseUtcTime(parser.value(*option));
        if (!t)
            return usageError("--" + option->names().first().toLatin1() +
                              " needs a UTC time such as 2026-12-05T21:07:53Z, not " +
                              parser.value(*option).toLocal8Bit());
        *value = qint64(std::floor(*t));
    }
    QByteArray networkError;
    if (!networkOptions.read(parser, &networkError))
        return usageError(networkError);
    if ((from || to) && !parser.isSet(stored) && !networkOptions.enabled())
        return usageError("--from and --to go with --stored, --network or --shared");
    if (networkOptions.enabled() && (parser.isSet(audio) || parser.isSet(follow) || parser.isSet(stored) ||
                                     !parser.positionalArguments().isEmpty()))
        return usageError("--network and --shared read no FILE, and go without --audio, --follow and --stored");
    if (parser.isSet(stored)) {
        if (parser.isSet(status) || parser.isSet(copy) || parser.isSet(audio) || parser.isSet(follow) ||
            parser.isSet(store) || !parser.positionalArguments().isEmpty())
            return usageError("--stored takes only --from, --to, --csv, --json and --archive");
        Archive archive;
        if (!archive.open(archiveLocation(parser.value(archiveOption)))) {
            printError(archive.error().toLocal8Bit());
            return 2;
        }
        CheckedOutput output;
        qint64 frames = 0;
        if (!printStored(archive, parser.isSet(json) ? OutputFormat::Json : OutputFormat::Csv, from, to,
                         output, &frames))
            return 2;
        return frames > 0 ? 0 : 1;
    }
    if (parser.isSet(archiveOption) && !parser.isSet(store))
        return usageError("--archive goes with --store or --stored");

    DecodeRun::Options options;
    QByteArrayList formats;
    for (const auto &[option, format] :
         {std::pair{&csv, OutputFormat::Csv}, std::pair{&json, OutputFormat::Json},
          std::pair{&status, OutputFormat::Status}}) {
        if (parser.isSet(*option)) {
            formats.append("--" + option->names().first().toLatin1());
            options.format = format;
        }
    }
    if (parser.isSet(copy)) {
        formats.append("--copy");
        options.format = OutputFormat::None;
    }
    if (formats.size() > 1)
        return usageError(formats.join(" and ") + " cannot be used together");
    options.follow = parser.isSet(follow);
    options.audio = parser.isSet(audio);
    options.files = fileArguments(argc, argv);
    if (options.files.size() != parser.positionalArguments().size())
        return usageError("cannot tell the FILE arguments apart");
    if (options.files.isEmpty())
        options.files.append("-");
    if (options.follow && (options.files.size() != 1 || options.files.first() == "-"))
        return usageError("--follow needs exactly one FILE, not standard input");

    AudioRun::Options audioOptions;
    audioOptions.copy = parser.isSet(copy);
    if (parser.isSet(audio)) {
        if (options.follow)
            return usageError("--audio and --follow cannot be used together");
        if (options.files.contains("-"))
            return usageError("--audio needs FILE arguments, not standard input");
        if (parser.isSet(start)) {
            audioOptions.start = parseUtcTime(parser.value(start));
            if (!audioOptions.start)
                return usageError("--start needs a UTC time such as 2026-12-05T21:07:53Z, not " +
                                  parser.value(start).toLocal8Bit());
        }
    } else if (parser.isSet(start) || (parser.isSet(copy) && !networkOptions.enabled())) {
        return usageError(QByteArray(parser.isSet(start) ? "--start" : "--copy") +
                          " goes with --audio");
    }

    if (!DecodeRun::catchStopSignals()) {
        printError("cannot catch SIGINT and SIGTERM");
        return 2;
    }
    if (parser.isSet(audio) && audioOptions.start) {
        // Lines must stay within the years a log line's time can carry.
        for (const QByteArray &name : options.files)
            if (*audioOptions.start + AudioRun::lengthOf(name) > double(LatestUtcSecond) + 1)
                return usageError("--start " + parser.value(start).toLocal8Bit() + ": the lines of " +
                                  name + " would be dated after 9999-12-31 23:59:59, the latest "
                                  "time a log line can carry");
    }

    QByteArray sidsError;
    if (!sidsOptions.read(parser, formats.size() > 0, &sidsError, networkOptions.enabled()))
        return usageError(sidsError);
    if (sidsOptions.dryRun())
        options.format = OutputFormat::None;

    CheckedOutput output;
    DecodeRun run(options, output);
    AudioRun audioRun(audioOptions, run);
    if (parser.isSet(audio))
        run.setFileReader([&](const QByteArray &name) { return audioRun.readFile(name); });
    SidsRun sids(sidsOptions, run);
    if (!sids.start())
        return 2;
    Archive archive;
    std::optional<StoreRun> storeRun;
    if (parser.isSet(store)) {
        if (!archive.open(archiveLocation(parser.value(archiveOption)))) {
            printError(archive.error().toLocal8Bit());
            return 2;
        }
        storeRun.emplace(archive, run, parser.isSet(audio));
    }
    std::optional<NetworkRun> network;
    if (networkOptions.enabled()) {
        network.emplace(networkOptions.options(from, to, parser.isSet(copy)), run,
                        storeRun ? &archive : nullptr);
        if (storeRun)
            storeRun->setReceptionOf([&](const QByteArray &name, qint64 line) { return network->receptionOf(name, line); });
        run.setFileReader([&](const QByteArray &name) {
            const bool read = network->read(name);
            if (storeRun)
                storeRun->sourceDone(network->doneKey(name));
            return read;
        });
        if (!network->prepare())
            return 3;
        run.setFiles(network->names());
    }
    bool ok = run.run();
    sids.finish();
    if (storeRun && !storeRun->finish())
        ok = false;
    if (options.format == OutputFormat::Status)
        std::fprintf(stderr, "%s\n", run.summary().toUtf8().constData());
    if (const int signal = DecodeRun::stopSignal(); signal && !options.follow && !run.outputFailed()) {
        printError(QByteArray("interrupted by ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") +
                   "; what was read before is decoded and written");
        return 128 + signal;
    }
    if (!ok)
        return 2;
    if (sids.undelivered() || (network && network->incomplete()))
        return 3;
    return run.frames() > 0 ? 0 : 1;
}
