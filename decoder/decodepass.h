#pragma once

#include "decoder/beaconframe.h"

#include <QStringView>

// Calls onLine(QStringView) for every line of text, first to last. A line
// break is CR LF or a lone LF; a lone CR stays in its line. An empty text
// has no lines; a text ending with a line break has an empty last line.
template <typename OnLine> void forEachLine(QStringView text, OnLine &&onLine) {
    if (text.isEmpty())
        return;
    qsizetype start = 0;
    for (;;) {
        const qsizetype lineFeed = text.indexOf(u'\n', start);
        if (lineFeed < 0) {
            onLine(text.mid(start));
            return;
        }
        qsizetype end = lineFeed;
        if (end > start && text[end - 1] == u'\r')
            --end;
        onLine(text.mid(start, end - start));
        start = lineFeed + 1;
    }
}

// The decode pass over a whole text: calls onFrame(const BeaconFrame &) for
// every line that carries a frame, in input order. Other lines are skipped.
template <typename OnFrame> void forEachBeaconFrame(QStringView text, OnFrame &&onFrame) {
    forEachLine(text, [&onFrame](QStringView line) {
        if (const auto frame = BeaconFrame::recognize(line))
            onFrame(*frame);
    });
}
