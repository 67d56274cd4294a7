#include "decoder/linescanner.h"

#include "decoder/decodeframe.h"
#include "decoder/utctime.h"

#include <QChar>

#include <vector>

namespace {
constexpr int NameLength = BeaconFrame::NameLength;
} // namespace

void LineScanner::add(QStringView piece) {
    const char16_t *p = piece.utf16();
    const char16_t *const end = p + piece.size();
    if (prefixLength_ < TimePrefixLength) {
        const int n = int(std::min<qsizetype>(TimePrefixLength - prefixLength_, piece.size()));
        std::copy(p, p + n, prefix_.begin() + prefixLength_);
        prefixLength_ += n;
    }
    for (; p != end; ++p) {
        const char16_t u = *p;
        if (!QChar::isSurrogate(u) && !pendingHigh_) {
            take(u);
            if (overflow_ && nameAfterS_)
                return; // decided: text after the 20th symbol
            continue;
        }
        if (pendingHigh_) {
            const char16_t high = pendingHigh_;
            pendingHigh_ = 0;
            if (QChar::isLowSurrogate(u)) {
                take(QChar::surrogateToUcs4(high, u));
                continue;
            }
            take(high); // a lone surrogate counts as one character
        }
        if (QChar::isHighSurrogate(u))
            pendingHigh_ = u;
        else
            take(u);
    }
}

void LineScanner::nameMatched() {
    if (!nameFound_) {
        nameFound_ = true;
        for (int i = 0; i < NameLength; ++i)
            frame_.set(i + 1, Name[i]);
        collected_ = NameLength;
    }
    nameAfterS_ = nameAfterS_ || matchAfterS_;
    matched_ = 0;
}

LineVerdict LineScanner::finish() {
    if (pendingHigh_) {
        take(pendingHigh_);
        pendingHigh_ = 0;
    }
    LineVerdict verdict;
    using Kind = LineVerdict::Kind;
    using Miss = LineVerdict::Miss;
    if (!nameFound_) {
        verdict.kind = Kind::Other;
    } else if (!nameAfterS_) {
        verdict.kind = Kind::NearMiss;
        verdict.miss = Miss::NoS;
    } else if (overflow_) {
        verdict.kind = Kind::NearMiss;
        verdict.miss = Miss::TextAfterFrame;
    } else if (collected_ < BeaconFrame::Length) {
        verdict.kind = Kind::NearMiss;
        verdict.miss = Miss::TooFewSymbols;
        verdict.symbols = quint8(collected_ - NameLength);
    } else {
        verdict.kind = allFieldsRead(frame_) ? Kind::Frame : Kind::FrameWithUnreadable;
        verdict.frame = frame_;
        verdict.time = leadingUtcTime(QStringView(prefix_.data(), prefixLength_));
    }
    collected_ = 0;
    overflow_ = nameFound_ = nameAfterS_ = matchAfterS_ = false;
    matched_ = 0;
    previous_ = 0;
    prefixLength_ = 0;
    return verdict;
}

std::array<int, BeaconFrame::Length> frameColumns(QStringView line) {
    // The normalised line as (character, index as typed), then the first
    // "KADRIN" in it.
    std::vector<std::pair<char32_t, int>> normal;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const int at = int(i);
        char32_t c = line[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < line.size() && line[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(line[i].unicode(), line[i + 1].unicode());
            ++i;
        }
        if (c != U' ')
            normal.emplace_back(upperCaseOf(c), at);
    }
    std::array<int, BeaconFrame::Length> columns{};
    for (size_t start = 0; start + BeaconFrame::Length <= normal.size(); ++start) {
        bool name = true;
        for (int i = 0; i < NameLength && name; ++i)
            name = normal[start + size_t(i)].first == LineScanner::Name[i];
        if (!name)
            continue;
        for (size_t p = 0; p < columns.size(); ++p)
            columns[p] = normal[start + p].second;
        break;
    }
    return columns;
}

QString nearMissText(const LineVerdict &verdict) {
    switch (verdict.miss) {
    case LineVerdict::Miss::NoS:
        return QStringLiteral("no S before KADRIN");
    case LineVerdict::Miss::TextAfterFrame:
        return QStringLiteral("text after the 20th symbol");
    case LineVerdict::Miss::TooFewSymbols:
        return QStringLiteral("%1 %2, 20 needed")
            .arg(verdict.symbols)
            .arg(verdict.symbols == 1 ? QLatin1String("symbol") : QLatin1String("symbols"));
    case LineVerdict::Miss::None:
        break;
    }
    return QString();
}

QString unreadableText(const BeaconFrame &frame) {
    QStringList parts;
    for (const FrameField &field : FrameFields) {
        const FieldReading reading = readField(frame, field);
        if (!reading.known())
            parts.append(QStringLiteral("%1 '%2'")
                             .arg(field.position)
                             .arg(QString::fromUcs4(&reading.symbol, 1)));
    }
    if (parts.isEmpty())
        return QString();
    return (parts.size() == 1 ? QLatin1String("position ") : QLatin1String("positions ")) +
           parts.join(QLatin1String(", "));
}

QString verdictText(const LineVerdict &verdict, qint64 record) {
    switch (verdict.kind) {
    case LineVerdict::Kind::Frame:
        return QStringLiteral("frame %1").arg(record);
    case LineVerdict::Kind::FrameWithUnreadable:
        return QStringLiteral("frame %1 with unreadable symbols: %2")
            .arg(record)
            .arg(unreadableText(*verdict.frame));
    case LineVerdict::Kind::NearMiss:
        return QLatin1String("near miss: ") + nearMissText(verdict);
    case LineVerdict::Kind::Other:
        break;
    }
    return QStringLiteral("other");
}
