#pragma once

#include "cli/decoderun.h"

#include <QByteArray>
#include <QString>

#include <optional>

struct CopyFigures;

// kadrin-decode --audio: copies the CW of each audio FILE and hands every
// copied line to the decode run as a log line, written at once: its UTC
// time (when known) and the text,
// "2026-12-05 21:07:53  S KADRIN 28CAA22221238CC22FFF".
class AudioRun {
public:
    struct Options {
        std::optional<double> start; // UTC seconds of the first sample, for every file
        bool copy = false;           // write the lines themselves
    };

    AudioRun(const Options &options, DecodeRun &run);
    // Copies one file; false (with a message naming it) when it cannot be
    // read, is truncated or holds only silence. What was copied before a
    // read error is handed on all the same. A stop signal ends the copy
    // after the lines heard so far are written.
    bool readFile(const QByteArray &name);

    // Seconds of audio the regular file holds, as its header says; 0 when
    // that is not known.
    static double lengthOf(const QByteArray &name);

private:
    QByteArray summary(const QByteArray &name, const CopyFigures &figures, const char *stop) const;

    Options options_;
    DecodeRun &run_;
    bool toldNoTime_ = false;
};
