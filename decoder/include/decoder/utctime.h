#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>

// UTC times of beacon lines, in whole seconds since 1970-01-01 00:00:00 UTC.

// The latest time a line can carry: 9999-12-31 23:59:59.
inline constexpr qint64 LatestUtcSecond = 253402300799;

// The time a line starts with (after any blanks or tabs), read as UTC:
//   YYYY-MM-DD HH:MM:SS or YYYY-MM-DDTHH:MM:SS, optionally followed by a
//   fraction (dropped) and "Z"; YYYY-MM-DD HH:MM, seconds 0; the receive-log
//   prefix "RX (YYYY-MM-DD HH:MMZ): ".
// Nothing when the line does not start with one, when the date or the time
// does not exist (2026-02-30, 24:00), when a digit follows directly, or when
// a UTC offset other than Z follows (such a time is not UTC).
std::optional<qint64> leadingUtcTime(QStringView line);

// "2026-12-05T21:07:53Z"
QByteArray isoUtcTime(qint64 seconds);
// The same 20 characters written to out.
void writeIsoUtcTime(qint64 seconds, char *out);
// "2026-12-05 21:07:53 UTC", as the window shows it
QString displayUtcTime(qint64 seconds);
// "2026-12-05T21:07:53.000Z"
QByteArray isoUtcTimeMilliseconds(qint64 seconds);
