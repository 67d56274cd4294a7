#include "cli/sidsrun.h"

#include "cli/decoderun.h"

#include <QEventLoop>

#include <cstdio>

SidsOptions::SidsOptions(QCommandLineParser &parser)
    : sids_(QStringLiteral("sids"), QString(), QStringLiteral("URL")),
      callsign_(QStringLiteral("callsign"), QString(), QStringLiteral("CALL")),
      latitude_(QStringLiteral("latitude"), QString(), QStringLiteral("DEG")),
      longitude_(QStringLiteral("longitude"), QString(), QStringLiteral("DEG")),
      norad_(QStringLiteral("norad"), QString(), QStringLiteral("ID")),
      journalOption_(QStringLiteral("sids-journal"), QString(), QStringLiteral("FILE")),
      dryRunOption_(QStringLiteral("dry-run")) {
    parser.addOptions(
        {sids_, callsign_, latitude_, longitude_, norad_, journalOption_, dryRunOption_});
}

bool SidsOptions::read(const QCommandLineParser &parser, bool formatChosen, QByteArray *error,
                       bool noradTaken) {
    enabled_ = parser.isSet(sids_);
    dryRun_ = parser.isSet(dryRunOption_);
    if (!enabled_) {
        for (const QCommandLineOption *option :
             {&callsign_, &latitude_, &longitude_, &norad_, &journalOption_, &dryRunOption_}) {
            if (parser.isSet(*option) && !(noradTaken && option == &norad_)) {
                *error = "--" + option->names().first().toLatin1() + " needs --sids URL";
                return false;
            }
        }
        return true;
    }
    if (dryRun_ && formatChosen) {
        *error = "--dry-run prints the requests instead of the frames: not with --csv, --json or "
                 "--status";
        return false;
    }
    const QString problem =
        readSidsStation(parser.value(sids_), parser.value(callsign_), parser.value(latitude_),
                        parser.value(longitude_), parser.value(norad_), &station_);
    if (!problem.isEmpty()) {
        *error = "--sids: " + problem.toUtf8();
        return false;
    }
    journal_ =
        parser.isSet(journalOption_) ? parser.value(journalOption_) : SidsJournal::defaultPath();
    // Tests shorten the waits; a station has no need to.
    for (const auto &[name, value] : {std::pair{"KADRIN_SIDS_ANSWER_MS", &timing_.answerMs},
                                      std::pair{"KADRIN_SIDS_RETRY_MS", &timing_.firstDelayMs}}) {
        if (!qEnvironmentVariableIsSet(name))
            continue;
        bool ok = false;
        *value = qEnvironmentVariableIntValue(name, &ok);
        if (!ok || *value <= 0) {
            *error = QByteArray(name) + " is not a positive number of milliseconds";
            return false;
        }
    }
    return true;
}

SidsRun::SidsRun(const SidsOptions &options, DecodeRun &run) : options_(options), run_(run) {
    if (!options.enabled())
        return;
    run.addFrameHook([this](const LineVerdict &verdict, qint64, const LineSignal *) {
        switch (sidsVerdict(verdict)) {
        case SidsVerdict::Unreadable:
            ++unreadable_;
            return;
        case SidsVerdict::WithoutTime:
            ++withoutTime_;
            return;
        case SidsVerdict::NotAFrame: // the hook sees frames only; the run counts near misses
            return;
        case SidsVerdict::Share:
            break;
        }
        if (options_.dryRun()) {
            const QByteArray fields = sidsFields(options_.station(), *verdict.frame, *verdict.time);
            OutputBuffer &out = run_.output();
            out += "POST ";
            out += sidsRequestUrl(options_.station(), fields).toEncoded();
            out += "\nContent-Type: application/x-www-form-urlencoded\n\n";
            out += fields;
            out += "\n\n";
            ++printed_;
        } else {
            uploader_->send(*verdict.frame, *verdict.time);
        }
    });
}

SidsRun::~SidsRun() = default;

bool SidsRun::start() {
    if (!options_.enabled() || options_.dryRun())
        return true;
    uploader_ = std::make_unique<SidsUploader>(options_.station());
    QString error;
    if (!uploader_->open(options_.journal(), &error)) {
        printError("SiDS journal: " + error.toLocal8Bit());
        return false;
    }
    // Following runs for hours: a frame is tried until it goes through.
    uploader_->setMaxTries(run_.following() ? 0 : 3);
    uploader_->setTiming(options_.timing());
    const auto print = [](const QString &text) { printError("SiDS: " + text.toLocal8Bit()); };
    QObject::connect(uploader_.get(), &SidsUploader::message, print);
    QObject::connect(uploader_.get(), &SidsUploader::stopped, print);
    return true;
}

void SidsRun::finish() {
    if (!options_.enabled())
        return;
    const qint64 nearMisses = run_.nearMisses();
    const QByteArray notSent = QByteArray::number(withoutTime_) + " without a time, " +
                               QByteArray::number(unreadable_) + " with unreadable symbols, " +
                               QByteArray::number(nearMisses) +
                               (nearMisses == 1 ? " near miss" : " near misses");
    if (options_.dryRun()) {
        std::fprintf(stderr, "SiDS dry run: %lld requests printed, nothing sent; not sent: %s\n",
                     printed_, notSent.constData());
        return;
    }
    // A following run ends by a signal: what is not answered yet waits for
    // the next run.
    if (!run_.following() && !uploader_->idle() && !uploader_->gaveUp() &&
        !uploader_->hasStopped()) {
        QEventLoop loop;
        QObject::connect(uploader_.get(), &SidsUploader::becameIdle, &loop, &QEventLoop::quit);
        QObject::connect(uploader_.get(), &SidsUploader::stopped, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const SidsUploader::Counts counts = uploader_->counts();
    std::fprintf(stderr, "SiDS: %d sent, %d rejected, %d unsent, %d sent before; not sent: %s\n",
                 counts.sent, counts.rejected, counts.waiting, counts.earlier, notSent.constData());
}

bool SidsRun::undelivered() const {
    return uploader_ && (uploader_->hasStopped() || !uploader_->idle());
}
