#pragma once

#include <QString>
#include <QVector>

#include <array>

class TelemetryHistory;

// The chart option caption of each channel 0..14; the chart frame shows
// the caption of the channel drawn.
inline constexpr int ChartChannelCount = 15;
extern const std::array<const char *, ChartChannelCount> ChannelCaptions;
QString channelCaption(int channel);

// The bars of one channel over records 1..RecordCount, ready to draw with
// the category axis running from 0.5 to RecordCount + 0.5.
struct ChartBars {
    QVector<double> keys;   // bar centres
    QVector<double> values; // bar heights; a record without a value has no bar
    double width = 0.8;     // in key units
    bool perColumn = false; // true when bars stand for pixel columns, not records
};

// One bar per record while each record gets at least two pixel columns;
// beyond that one bar per pixel column holding the column's highest and
// lowest value, so a single narrow spike, positive or negative, still shows.
ChartBars chartBars(const TelemetryHistory &history, int channel, int pixelColumns);

// Step between labelled categories. Up to 100 records: the smallest of
// 1, 2, 5, 10, 20, 50 whose labels fit. Beyond: RecordCount / 20, rounded
// with ties to even, widened to a multiple of that only if the labels would
// still overlap.
int categoryTickStep(int recordCount, int plotWidth, int labelWidth);

// Value axis range fitted to the given values with a margin of a tenth of
// their spread; it reaches zero only where the values do (the bars start
// at zero). NaN values are ignored.
struct ValueRange {
    double lower = 0;
    double upper = 1;
};
ValueRange valueAxisRange(const QVector<double> &values);
