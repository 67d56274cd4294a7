#include "history/chartlogic.h"

#include "history/telemetryhistory.h"

#include <algorithm>
#include <cmath>

QString channelCaption(int channel) {
    static constexpr std::array<const char *, ChartChannelCount> Captions = {"empty",
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
    if (channel < 0 || channel >= ChartChannelCount)
        return QString();
    return QLatin1String(Captions[size_t(channel)]);
}

namespace {

void widen(ChartBars &bars, double value) {
    bars.lowest = std::min(bars.lowest, value);
    bars.highest = std::max(bars.highest, value);
}

// Records 1..count fall into columns of equal width; column c ends after
// record round((c + 1) * count / columns).
class ColumnBinner {
public:
    ColumnBinner(ChartBars &bars, int count, int columns)
        : bars_(bars), count_(count), columns_(columns) {
        bars.perColumn = true;
        bars.width = double(count) / columns;
        bars.keys.reserve(2 * columns);
        bars.values.reserve(2 * columns);
        lastOfColumn_ = columnEnd(0);
    }

    void add(double value) {
        ++record_;
        if (!std::isnan(value)) {
            lowest_ = std::isnan(lowest_) ? value : std::min(lowest_, value);
            highest_ = std::isnan(highest_) ? value : std::max(highest_, value);
        }
        if (record_ == lastOfColumn_) {
            closeColumn();
            ++column_;
            lastOfColumn_ = columnEnd(column_);
        }
    }

private:
    int columnEnd(int column) const {
        return column + 1 >= columns_
                   ? count_
                   : int(std::floor(0.5 + double(column + 1) * count_ / columns_));
    }

    void closeColumn() {
        if (!std::isnan(highest_)) {
            const double centre = 0.5 + (column_ + 0.5) * bars_.width;
            widen(bars_, lowest_);
            widen(bars_, highest_);
            if (lowest_ >= 0 || highest_ <= 0) {
                const bool positive = lowest_ >= 0;
                bars_.keys.append(centre);
                bars_.values.append(positive ? highest_ : lowest_);
                if (lowest_ != highest_) {
                    bars_.nearKeys.append(centre);
                    bars_.nearValues.append(positive ? lowest_ : highest_);
                }
            } else {
                bars_.keys.append({centre, centre});
                bars_.values.append({highest_, lowest_});
            }
        }
        lowest_ = highest_ = std::nan("");
    }

    ChartBars &bars_;
    const int count_;
    const int columns_;
    int record_ = 0;
    int column_ = 0;
    int lastOfColumn_ = 0;
    double lowest_ = std::nan("");
    double highest_ = std::nan("");
};

} // namespace

ChartBars chartBars(const TelemetryHistory &history, int channel, int pixelColumns) {
    ChartBars bars;
    const int count = history.recordCount();
    if (count < 1)
        return bars;
    pixelColumns = std::max(pixelColumns, 1);

    if (2 * count <= pixelColumns) {
        int key = 0;
        history.forEachValue(channel, [&](double value) {
            ++key;
            if (std::isnan(value))
                return; // no value: a gap
            bars.keys.append(key);
            bars.values.append(value);
            widen(bars, value);
        });
        return bars;
    }
    ColumnBinner binner(bars, count, std::min(pixelColumns, count));
    history.forEachValue(channel, [&binner](double value) { binner.add(value); });
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

ValueRange valueAxisRange(const ChartBars &bars) {
    if (bars.lowest == 0 && bars.highest == 0)
        return {0, 1}; // nothing but zeros, or nothing at all
    const double margin = (bars.highest - bars.lowest) / 20;
    return {bars.lowest < 0 ? bars.lowest - margin : 0.0,
            bars.highest > 0 ? bars.highest + margin : 0.0};
}
