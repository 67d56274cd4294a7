#pragma once

#include <QString>

// The record browser's range after a decode pass: 1 to the number of
// frames, or 0 to 0 when there is none.
struct BrowserRange {
    int minimum = 0;
    int maximum = 0;

    static BrowserRange afterPass(int recordCount) {
        return recordCount > 0 ? BrowserRange{1, recordCount} : BrowserRange{0, 0};
    }
};

// The position label beside the browser: "3/12".
inline QString browserCaption(int position, int maximum) {
    return QString::number(position) + QLatin1Char('/') + QString::number(maximum);
}
