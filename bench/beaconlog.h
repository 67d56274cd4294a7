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

// "2026-12-05 HH:MM:SS  ", the receive time of a line second of the day.
inline QString timePrefix(int second) {
    second %= 86400;
    return QStringLiteral("2026-12-05 %1:%2:%3  ")
        .arg(second / 3600, 2, 10, QLatin1Char('0'))
        .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(second % 60, 2, 10, QLatin1Char('0'));
}

// frames frame lines and noise non-frame lines, interleaved, LF-ended. With
// firstSecond >= 0 every frame line starts with a time, one second apart.
inline QString log(int frames, int noise, quint32 seed = 1, int firstSecond = -1) {
    QRandomGenerator random(seed);
    QString text;
    text.reserve(qsizetype(frames + noise) * 28);
    int f = 0;
    int n = 0;
    while (f < frames || n < noise) {
        if (f < frames) {
            if (firstSecond >= 0)
                text += timePrefix(firstSecond + f);
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

// Writes a log of frames frame lines to path, timed or not, in parts: a
// process that built it whole would lend its size to every child it starts.
inline bool writeLog(const QString &path, int frames, bool timed = false) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (int part = 0; part < frames / 10000; ++part) {
        const QByteArray bytes =
            log(10000, 0, quint32(part + 1), timed ? part * 10000 : -1).toUtf8();
        if (file.write(bytes) != bytes.size())
            return false;
    }
    return file.flush();
}

} // namespace beaconlog
