#pragma once

#include <QColor>
#include <QFont>
#include <QRect>

// The window layouts are given in twips: 15 twips to a pixel.
constexpr QRect twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

// Background of the main window and of the controls that share it.
inline const QColor WindowGrey(240, 240, 240);

// "Courier New", falling back to the metric-compatible Liberation Mono.
QFont courierNew(qreal points, bool bold = false);
// "MS Sans Serif", falling back to Liberation Sans.
QFont msSansSerif(qreal points, bool bold = false);
