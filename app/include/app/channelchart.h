#pragma once

#include "history/chartlogic.h"

#include <qcustomplot.h>

// The bar chart of one channel over all stored frames: one category per
// frame, labelled with its record number, drawn flat for speed.
class ChannelChart : public QCustomPlot {
    Q_OBJECT
public:
    explicit ChannelChart(QWidget *parent = nullptr);

    // Shows bars for recordCount categories (none: an empty chart).
    void showBars(const ChartBars &bars, int recordCount);
    // Pixel columns of the plot area: one bar per column at most.
    int plotColumns() const;

private:
    QCPBars *bars_;     // to each record's value, or a column's value farthest from 0
    QCPBars *nearBars_; // a column's value nearest to 0, darker, over the others
    QSharedPointer<QCPAxisTickerFixed> categoryTicker_;
};
