#include "decoder/utctime.h"

namespace {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and
// back (the usual era arithmetic: 400-year eras of 146,097 days).
qint64 daysFromCivil(int year, int month, int day) {
    year -= month <= 2;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return qint64(era) * 146097 + dayOfEra - 719468;
}

struct CivilDate {
    qint64 year;
    int month;
    int day;
};

CivilDate civilFromDays(qint64 days) {
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const int dayOfEra = int(days - era * 146097);
    const int yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const int month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    return {yearOfEra + era * 400 + (month <= 2), month, day};
}

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// Reads characters of a line prefix one by one; past the end reads as 0.
class Reader {
public:
    explicit Reader(QStringView text) : text_(text) {}
    char16_t peek(qsizetype ahead = 0) const {
        return pos_ + ahead < text_.size() ? text_[pos_ + ahead].unicode() : 0;
    }
    bool take(char16_t c) {
        if (peek() != c)
            return false;
        ++pos_;
        return true;
    }
    bool take(const char *literal) {
        qsizetype n = 0;
        for (; literal[n]; ++n)
            if (peek(n) != char16_t(literal[n]))
                return false;
        pos_ += n;
        return true;
    }
    // Exactly count decimal digits.
    bool number(int count, int &value) {
        value = 0;
        for (int i = 0; i < count; ++i) {
            const char16_t c = peek(i);
            if (c < u'0' || c > u'9')
                return false;
            value = value * 10 + (c - u'0');
        }
        pos_ += count;
        return true;
    }
    static bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

private:
    QStringView text_;
    qsizetype pos_ = 0;
};

struct Stamp {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;

    bool valid() const {
        return year >= 1 && month >= 1 && month <= 12 && day >= 1 &&
               day <= daysInMonth(year, month) && hour <= 23 && minute <= 59 && second <= 59;
    }
    qint64 seconds() const {
        return daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    }
};

bool readDate(Reader &in, Stamp &stamp) {
    return in.number(4, stamp.year) && in.take(u'-') && in.number(2, stamp.month) &&
           in.take(u'-') && in.number(2, stamp.day);
}

// HH:MM, then :SS if a colon follows.
bool readClock(Reader &in, Stamp &stamp) {
    if (!(in.number(2, stamp.hour) && in.take(u':') && in.number(2, stamp.minute)))
        return false;
    return in.peek() != u':' || (in.take(u':') && in.number(2, stamp.second));
}

// Nothing may follow a time that would make it another time: a digit, a
// colon, or a UTC offset.
bool endsCleanly(const Reader &in) {
    const char16_t next = in.peek();
    if (Reader::isDigit(next) || next == u':')
        return false;
    return !((next == u'+' || next == u'-') && Reader::isDigit(in.peek(1)));
}

void putDigits(char *out, qint64 value, int count) {
    for (int i = count - 1; i >= 0; --i, value /= 10)
        out[i] = char('0' + value % 10);
}

// "YYYY-MM-DD?HH:MM:SS" with the given separator between date and time:
// 19 characters.
void writeFormatted(qint64 seconds, char separator, char *p) {
    qint64 days = seconds / 86400;
    qint64 inDay = seconds % 86400;
    if (inDay < 0) {
        inDay += 86400;
        --days;
    }
    const CivilDate date = civilFromDays(days);
    putDigits(p, date.year, 4);
    p[4] = '-';
    putDigits(p + 5, date.month, 2);
    p[7] = '-';
    putDigits(p + 8, date.day, 2);
    p[10] = separator;
    putDigits(p + 11, inDay / 3600, 2);
    p[13] = ':';
    putDigits(p + 14, inDay / 60 % 60, 2);
    p[16] = ':';
    putDigits(p + 17, inDay % 60, 2);
}

QByteArray formatted(qint64 seconds, char separator) {
    QByteArray out(19, Qt::Uninitialized);
    writeFormatted(seconds, separator, out.data());
    return out;
}

} // namespace

std::optional<qint64> leadingUtcTime(QStringView line) {
    qsizetype start = 0;
    while (start < line.size() && (line[start] == u' ' || line[start] == u'\t'))
        ++start;
    Reader in(line.mid(start));
    Stamp stamp;
    if (in.take("RX (")) {
        if (!(readDate(in, stamp) && in.take(u' ') && readClock(in, stamp) && in.take(u'Z') &&
              in.take(u')')))
            return std::nullopt;
    } else {
        if (!readDate(in, stamp) || !(in.take(u' ') || in.take(u'T')) || !readClock(in, stamp))
            return std::nullopt;
        if (in.take(u'.')) {
            if (!Reader::isDigit(in.peek()))
                return std::nullopt;
            while (Reader::isDigit(in.peek()))
                in.take(in.peek());
        }
        in.take(u'Z');
        if (!endsCleanly(in))
            return std::nullopt;
    }
    if (!stamp.valid())
        return std::nullopt;
    return stamp.seconds();
}

void writeIsoUtcTime(qint64 seconds, char *out) {
    writeFormatted(seconds, 'T', out);
    out[19] = 'Z';
}

QByteArray isoUtcTime(qint64 seconds) {
    return formatted(seconds, 'T') + 'Z';
}

QByteArray isoUtcTimeMilliseconds(qint64 seconds) {
    return formatted(seconds, 'T') + ".000Z";
}

QString displayUtcTime(qint64 seconds) {
    return QString::fromLatin1(formatted(seconds, ' ') + " UTC");
}
