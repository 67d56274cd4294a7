#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QWidget>

// The window layouts are given in twips: 15 twips to a pixel.
constexpr QRect twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

// Background of the main window and of the controls that share it.
inline const QColor WindowGrey(240, 240, 240);
void paintGrey(QWidget *widget);

// A control with its legacy name at its place.
template <typename T> T *placed(T *widget, const char *name, const QRect &place) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(place);
    return widget;
}

// "Courier New", falling back to the metric-compatible Liberation Mono.
QFont courierNew(qreal points, bool bold = false);
// "MS Sans Serif", falling back to Liberation Sans.
QFont msSansSerif(qreal points, bool bold = false);

// The report box: read-only, selectable, "Courier New" 9 pt, no wrapping and
// no scroll bars.
class QPlainTextEdit;
QPlainTextEdit *reportView(QWidget *parent);
// Tab and Shift+Tab go through the widgets in this order.
void setKeyboardOrder(const QList<QWidget *> &order);
