#include "cli/audiorun.h"

#include "cwaudio/audiofile.h"
#include "cwaudio/cwcopier.h"
#include "cwaudio/recordingtime.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>
#include <unistd.h>

AudioRun::AudioRun(const Options &options, DecodeRun &run) : options_(options), run_(run) {}

double AudioRun::lengthOf(const QByteArray &name) {
    AudioFile audio;
    if (!QFileInfo(QFile::decodeName(name)).isFile() || !audio.open(name) || audio.frames() < 0)
        return 0;
    return double(audio.frames()) / audio.sampleRate();
}

bool AudioRun::readFile(const QByteArray &name) {
    AudioFile audio;
    if (!audio.open(name)) {
        if (!DecodeRun::stopSignal()) // else a FIFO's writer was waited for in vain
            printError(name + ": cannot read: " + audio.error().toLocal8Bit());
        return false;
    }
    if (!audio.note().isEmpty())
        printError(name + ": " + audio.note().toLocal8Bit());
    std::optional<double> start = options_.start;
    if (!start)
        start = recordingStartFromName(QString::fromLocal8Bit(name));
    if (!start && !toldNoTime_) {
        toldNoTime_ = true;
        printError(name + ": no start time (give --start, or name the recording "
                          "..._YYYY-MM-DDTHH-MM-SS.ogg); copied lines have no time");
    }

    CwCopier copier(audio.sampleRate());
    copier.setLineHandler([&](const CopiedLine &line) {
        const QString text =
            timedLogLine(start ? std::optional<double>(*start + line.start) : std::nullopt, line.text);
        if (options_.copy) {
            run_.output().append(text.toUtf8());
            run_.output().append('\n');
        }
        run_.text(text);
        run_.lineEnd({line.toneHz, line.snrDb});
        run_.flushNow(); // each line as soon as it is copied
    });

    const bool progress = ::isatty(STDERR_FILENO) == 1 && audio.frames() > 60 * audio.sampleRate();
    QElapsedTimer shown;
    shown.start();
    const FileCopy copied = copyAudioFile(audio, copier, [&](const float *, qsizetype) {
        if (progress && shown.elapsed() >= 1000) {
            shown.restart();
            const QByteArray line = "\r" + name + ": " +
                                    QByteArray::number(100 * audio.framesRead() / audio.frames()) +
                                    " %";
            std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        }
        return !run_.outputFailed() && !DecodeRun::stopSignal();
    });
    if (progress)
        std::fputs("\r\033[K", stderr);
    if (copied.stopped && !run_.outputFailed())
        copier.finish(); // interrupted: the transmission under way, as far as it was heard
    const bool ok = !copied.readError;
    if (!ok)
        printError(name + ": cannot read: " + audio.error().toLocal8Bit());
    const CopyFigures f = copier.figures();
    if (copied.silent) {
        printError(name + ": cannot read: it holds only silence (" + clockDuration(f.seconds) + ")");
        return false;
    }
    if (!audio.unreadableNote().isEmpty())
        printError(name + ": " + audio.unreadableNote().toLocal8Bit());
    printError(summary(name, f,
                       !copied.stopped       ? ""
                       : run_.outputFailed() ? " (stopped: the output cannot be written)"
                                             : " (interrupted)"));
    return ok && !run_.outputFailed();
}

QByteArray AudioRun::summary(const QByteArray &name, const CopyFigures &f, const char *stop) const {
    QByteArray text = name + ": " + clockDuration(f.seconds) + " of audio" + stop + ", ";
    if (f.lines == 0) {
        text += "no CW copied";
    } else {
        text += "tone " + tenths(f.toneHz) + " Hz (drift " + tenths(f.driftHzPerSecond) +
                " Hz/s), " + QByteArray::number(f.wpm, 'f', 0) + " WPM, SNR " + tenths(f.snrDb) +
                " dB in 2500 Hz";
    }
    return text + ", " + QByteArray::number(f.lines) + (f.lines == 1 ? " line, " : " lines, ") +
           QByteArray::number(f.frames) + (f.frames == 1 ? " frame" : " frames");
}
