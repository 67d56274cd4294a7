#include "cli/audiorun.h"

#include "cwaudio/audiofile.h"
#include "cwaudio/cwcopier.h"
#include "cwaudio/recordingtime.h"

#include <QElapsedTimer>

#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace {

QByteArray minutes(double seconds) {
    const qint64 s = qint64(std::llround(seconds));
    return QByteArray::number(s / 60) + ':' + QByteArray::number(s % 60).rightJustified(2, '0');
}

} // namespace

AudioRun::AudioRun(const Options &options, DecodeRun &run) : options_(options), run_(run) {}

bool AudioRun::readFile(const QByteArray &name) {
    AudioFile audio;
    if (!audio.open(name)) {
        printError(name + ": cannot read: " + audio.error().toLocal8Bit());
        return false;
    }
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
        run_.lineEnd();
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
        return true;
    });
    if (progress)
        std::fputs("\r\033[K", stderr);
    const bool ok = !copied.readError;
    if (!ok)
        printError(name + ": cannot read: " + audio.error().toLocal8Bit());
    const CopyFigures f = copier.figures();
    if (copied.silent) {
        printError(name + ": cannot read: it holds only silence (" + minutes(f.seconds) + ")");
        return false;
    }
    QByteArray summary = name + ": " + minutes(f.seconds) + " of audio, ";
    if (f.lines == 0) {
        summary += "no CW copied";
    } else {
        summary += "tone " + QByteArray::number(f.toneHz, 'f', 1) + " Hz (drift " +
                   QByteArray::number(f.driftHzPerSecond, 'f', 1) + " Hz/s), " +
                   QByteArray::number(f.wpm, 'f', 0) + " WPM, SNR " +
                   QByteArray::number(f.snrDb, 'f', 1) + " dB in 2500 Hz";
    }
    summary += ", " + QByteArray::number(f.lines) + (f.lines == 1 ? " line, " : " lines, ") +
               QByteArray::number(f.frames) + (f.frames == 1 ? " frame" : " frames");
    printError(summary);
    return ok;
}
