#pragma once

#include "app/beaconedit.h"

#include <QString>
#include <QStringView>

class TelemetryHistory;

// What the window tells about the lines and records of its store: the mark
// of a line in the margin of the input box, and the tooltips of a line and
// of a bar of the chart.

// Green for a frame, amber for a frame with unreadable symbols (those
// symbols underlined where they stand in the line as typed), red for a near
// miss; no mark for any other line.
LineMark lineMark(const TelemetryHistory &history, int line, QStringView text);
// "frame 7, 2026-12-05 21:07:53 UTC", "near miss: 19 symbols, 20 needed";
// empty for a line that is neither.
QString lineTip(const TelemetryHistory &history, int line);
// "record 12, 2026-12-05 21:08:16 UTC: Battery Voltage Cell 1: 3514 mV ..
// 3599 mV"; empty outside the records.
QString barTip(const TelemetryHistory &history, int record, int channel);
