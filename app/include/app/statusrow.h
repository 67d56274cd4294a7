#pragma once

#include <QLabel>
#include <QObject>
#include <QRect>
#include <QString>

class QWidget;

// The bottom row: the status line, the record position ("3/12") and the
// record scroll bar. The position keeps its right edge against the scroll
// bar and grows to the left when the numbers get long, over the unused end
// of the status line. In a window wider than its layout the position and
// the scroll bar keep to the right edge and the status line takes the width
// between. A status text too long for its line is cut at its end (what
// matters comes first) and its tooltip holds it whole.
class StatusRow : public QObject {
    Q_OBJECT
public:
    StatusRow(QLabel *position, const QRect &positionPlace, QLabel *status,
              const QRect &statusPlace, QWidget *browser, const QRect &browserPlace,
              QObject *parent);

    // The width of the area the row lies in; the row's places are those of
    // an area as wide as the browser's right edge and a margin.
    void setAreaWidth(int width);

public slots:
    void setPosition(const QString &text);
    void setStatus(const QString &text);

private:
    void layOut();

    QLabel *position_;
    QRect positionPlace_;
    QLabel *status_;
    QRect statusPlace_;
    QWidget *browser_;
    QRect browserPlace_;
    int shift_ = 0;      // how far right the position and the browser moved
    QString statusText_; // whole, as the label may show it cut
};
