#pragma once

#include <QString>
#include <QVector>

#include <array>

class TelemetryHistory;

// The chart option caption of each channel 0..14; the chart frame shows
// the caption of the channel drawn.
inline constexpr int ChartChannelCount = 15;
QString channelCaption(int channel);

// The bars of one channel over records 1..recordCount(), ready to draw with
// the category axis running from 0.5 to recordCount() + 0.5. Every bar grows
// from 0 to its value.
struct ChartBars {
    QVector<double> keys;       // bar centres
    QVector<double> values;     // bar ends; a record without a value has no bar
    QVector<double> nearKeys;   // one bar per pixel column only: the bars to
    QVector<double> nearValues; // the value nearer to 0, drawn over the others
    double width = 0.8;         // in key units
    bool perColumn = false;     // bars stand for pixel columns, not records
    double lowest = 0;          // the range of all values drawn, 0 included
    double highest = 0;
};

// One bar per record while each record gets at least two pixel columns.
// Beyond that one bar per pixel column to the value of its records farthest
// from 0, and a second bar over it to the value nearest to 0 (where all have
// one sign; a column with values on both sides of 0 gets a bar to each
// extreme), so a single narrow spike still shows.
ChartBars chartBars(const TelemetryHistory &history, int channel, int pixelColumns);

// Step between labelled categories. Up to 100 records: the smallest of
// 1, 2, 5, 10, 20, 50 whose labels fit. Beyond: recordCount / 20, rounded
// with ties to even, widened to a multiple of that only if the labels would
// still overlap.
int categoryTickStep(int recordCount, int plotWidth, int labelWidth);

// The value axis: always from 0 or below to 0 or above, so a bar's length is
// its value, covering every value drawn with a margin of a twentieth of the
// range on the sides away from 0.
struct ValueRange {
    double lower = 0;
    double upper = 1;
};
ValueRange valueAxisRange(const ChartBars &bars);
