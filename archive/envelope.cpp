#include "archive/envelope.h"

#include "decoder/fieldtables.h"
#include "history/chartlogic.h"

#include <cmath>
#include <limits>

ChannelEnvelope envelopeOf(const std::vector<TimeCell> &cells, int channel,
                           const std::optional<ChannelLimits> &limits) {
    ChannelEnvelope e;
    const FrameField *field = fieldOfChannel(channel);
    const double none = std::numeric_limits<double>::quiet_NaN();
    for (const TimeCell &cell : cells) {
        double low = none, high = none;
        const quint16 mask = field && channel <= ArchiveChannels ? cell.levels[size_t(channel - 1)] : 0;
        for (int level = 0; level < 16; ++level) {
            if (!(mask & (1u << level)))
                continue;
            const double value = field->levels->rows[size_t(level)].value;
            low = std::isnan(low) ? value : std::min(low, value);
            high = std::isnan(high) ? value : std::max(high, value);
        }
        const double middle = 0.5 * double(cell.start + cell.end);
        e.time.push_back(middle);
        e.low.push_back(low);
        e.high.push_back(high);
        if (limits && !std::isnan(low)) {
            for (const double v : {low, high}) {
                if (v < limits->low || v > limits->high) {
                    e.outTime.push_back(middle);
                    e.outValue.push_back(v);
                }
                if (low == high)
                    break;
            }
        }
    }
    return e;
}

QString channelUnit(int channel) {
    if (channel >= 1 && channel <= 2)
        return QStringLiteral("mV");
    if (channel >= 12 && channel <= 14)
        return QStringLiteral("rad/s");
    return QStringLiteral("C");
}

QString limitKey(int channel) {
    return QStringLiteral("LIMIT_") + channelCaption(channel).toUpper().replace(QLatin1Char(' '), QLatin1Char('_'));
}

std::optional<ChannelLimits> parseLimits(const QString &text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 2)
        return std::nullopt;
    bool okLow = false, okHigh = false;
    const double low = parts[0].trimmed().toDouble(&okLow);
    const double high = parts[1].trimmed().toDouble(&okHigh);
    if (!okLow || !okHigh || !(low <= high))
        return std::nullopt;
    return ChannelLimits{low, high};
}
