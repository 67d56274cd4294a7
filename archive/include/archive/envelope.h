#pragma once

#include "archive/archive.h"

#include <QString>

#include <optional>
#include <vector>

// What a chart of the archive draws for one channel: per time cell the
// lowest and the highest value its frames reached (NaN where nothing was
// received: a gap), and the cells whose frames went outside the limits.
struct ChannelEnvelope {
    std::vector<double> time; // cell middles, UTC seconds
    std::vector<double> low, high;
    std::vector<double> outTime, outValue; // each extreme outside the limits
};

struct ChannelLimits {
    double low = 0, high = 0;
};

ChannelEnvelope envelopeOf(const std::vector<TimeCell> &cells, int channel,
                           const std::optional<ChannelLimits> &limits = std::nullopt);

// The unit a channel's values are in: "mV", "C" or "rad/s".
QString channelUnit(int channel);
// The conf.ini key of a channel's limits: "LIMIT_BATTERY_VOLT_CELL_1".
QString limitKey(int channel);
// "3300, 4200" as limits; nothing when it is not two numbers, low first.
std::optional<ChannelLimits> parseLimits(const QString &text);
