#include "history/chartlogic.h"

#include "history/telemetryhistory.h"

#include <algorithm>
#include <cmath>
#include <limits>

const std::array<const char *, ChartChannelCount> ChannelCaptions = {"empty",
                                                                     "Battery Volt Cell 1",
                                                                     "Battery Volt Cell 2",
                                                                     "Battery Temp Cell 1",
                                                                     "Battery Temp Cell 2",
                                                                     "Solar 1 Temp",
                                                                     "Solar 2 Temp",
                                                                     "Solar 3 Temp",
                                                                     "Solar 4 Temp",
                                                                     "PWRS Temp",
                                                                     "OBDH Temp",
                                                                     "ADCS Temp",
                                                                     "Gyro X",
                                                                     "Gyro Y",
                                                                     "Gyro Z"};

QString channelCaption(int channel) {
    if (channel < 0 || channel >= ChartChannelCount)
        return QString();
    return QLatin1String(ChannelCaptions[channel]);
}

ChartBars chartBars(const TelemetryHistory &history, int channel, int pixelColumns) {
    ChartBars bars;
    const int count = history.RecordCount();
    if (count < 1)
        return bars;
    pixelColumns = std::max(pixelColumns, 1);

    if (2 * count <= pixelColumns) {
        bars.keys.reserve(count);
        bars.values.reserve(count);
        for (int i = 1; i <= count; ++i) {
            const double v = history.value(i, channel);
            if (std::isnan(v))
                continue;
            bars.keys.append(i);
            bars.values.append(v);
        }
        return bars;
    }

    // Column c covers keys 0.5 + c * count / columns up to the next column.
    bars.perColumn = true;
    const int columns = std::min(pixelColumns, count);
    bars.width = double(count) / columns;
    bars.keys.reserve(2 * columns);
    bars.values.reserve(2 * columns);
    int record = 1;
    for (int c = 0; c < columns; ++c) {
        // Records whose key lies in this column: up to the column's right edge.
        const int last =
            c + 1 == columns ? count : int(std::floor(0.5 + double(c + 1) * count / columns));
        double highest = std::nan("");
        double lowest = std::nan("");
        for (; record <= last; ++record) {
            const double v = history.value(record, channel);
            if (std::isnan(v))
                continue;
            if (std::isnan(highest) || v > highest)
                highest = v;
            if (std::isnan(lowest) || v < lowest)
                lowest = v;
        }
        if (std::isnan(highest))
            continue; // no value in this column: a gap
        const double centre = 0.5 + (c + 0.5) * bars.width;
        if (highest > 0 || lowest >= 0) {
            bars.keys.append(centre);
            bars.values.append(highest > 0 ? highest : 0.0);
        }
        if (lowest < 0) {
            bars.keys.append(centre);
            bars.values.append(lowest);
        }
    }
    return bars;
}

namespace {
// Rounds count / 20 to the nearest integer, ties to the even one.
int twentiethRoundedToEven(int count) {
    const int quotient = count / 20;
    const int remainder = count % 20;
    if (remainder > 10 || (remainder == 10 && quotient % 2 == 1))
        return quotient + 1;
    return quotient;
}
} // namespace

int categoryTickStep(int recordCount, int plotWidth, int labelWidth) {
    if (recordCount < 1)
        return 1;
    constexpr int Gap = 6; // pixels between neighbouring labels
    const int slot = std::max(labelWidth + Gap, 1);
    const int fitting = std::max(plotWidth / slot, 1);
    const int narrowest = (recordCount + fitting - 1) / fitting; // smallest step that fits
    if (recordCount <= 100) {
        for (int step : {1, 2, 5, 10, 20, 50, 100})
            if (step >= narrowest)
                return step;
        return narrowest;
    }
    // Widened in whole multiples, so the labels stay on round numbers.
    const int base = std::max(twentiethRoundedToEven(recordCount), 1);
    return base * ((narrowest + base - 1) / base);
}

ValueRange valueAxisRange(const QVector<double> &values) {
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -std::numeric_limits<double>::infinity();
    for (double v : values) {
        if (std::isnan(v))
            continue;
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
    }
    if (lowest > highest)
        return {0, 1}; // nothing to show
    if (lowest == highest) {
        const double margin = std::max(std::abs(lowest) * 0.05, 1.0);
        return {lowest - margin, highest + margin};
    }
    // Fit the data so that differences between frames show; a range that
    // crosses zero keeps zero inside, since the bars start there.
    const double margin = (highest - lowest) * 0.1;
    ValueRange range{lowest - margin, highest + margin};
    if (lowest >= 0 && range.lower < 0)
        range.lower = 0;
    if (highest <= 0 && range.upper > 0)
        range.upper = 0;
    return range;
}
