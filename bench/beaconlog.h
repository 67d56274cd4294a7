#pragma once

// Synthetic beacon logs for the benchmarks: the same seed gives the same text.

#include "decoder/symbolalphabet.h"

#include <QFile>
#include <QRandomGenerator>
#include <QString>

namespace beaconlog {

// One well-formed beacon line with random symbols.
inline QString frameLine(QRandomGenerator &random) {
    QString line = QStringLiteral("SKADRIN");
    for (int i = 0; i < 20; ++i)
        line += QLatin1Char(SymbolAlphabet[random.bounded(int(SymbolAlphabet.size()))]);
    return line;
}

// A line of the same length that carries no frame.
inline QString noiseLine(QRandomGenerator &random) {
    QString line = QStringLiteral("QST DE QX0ZZ ");
    for (int i = 0; i < 14; ++i)
        line += QLatin1Char(char('A' + random.bounded(26)));
    return line;
}

// frames frame lines and noise non-frame lines, interleaved, LF-ended.
inline QString log(int frames, int noise, quint32 seed = 1) {
    QRandomGenerator random(seed);
    QString text;
    text.reserve(qsizetype(frames + noise) * 28);
    int f = 0;
    int n = 0;
    while (f < frames || n < noise) {
        if (f < frames) {
            text += frameLine(random);
            text += QLatin1Char('\n');
            ++f;
        }
        if (n < noise) {
            text += noiseLine(random);
            text += QLatin1Char('\n');
            ++n;
        }
    }
    return text;
}

// Writes a log of frames frame lines to path, in parts: a process that
// built it whole would lend its size to every child it starts.
inline bool writeLog(const QString &path, int frames) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (int part = 0; part < frames / 10000; ++part)
        file.write(log(10000, 0, quint32(part + 1)).toUtf8());
    return true;
}

} // namespace beaconlog
