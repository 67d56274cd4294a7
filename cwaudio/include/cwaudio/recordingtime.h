#pragma once

#include <QString>

#include <optional>

// "2026-12-05T21:07:53Z", "2026-12-05 21:07:53.250" (UTC): seconds since 1970.
std::optional<double> parseUtcTime(const QString &text);

// The start time in a recording's name, as automatic stations name them:
// "..._2026-12-05T21-07-53.ogg".
std::optional<double> recordingStartFromName(const QString &path);

// A copied line as a log line: the UTC time of its first element, to the
// second, two blanks and the text ("2026-12-05 21:07:53  S KADRIN ..."); the
// text alone without a time.
QString timedLogLine(std::optional<double> seconds, const QString &text);
