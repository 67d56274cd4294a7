#pragma once

#include "history/chartlogic.h"

#include <qcustomplot.h>

#include <QVector>

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

    // What is drawn, read back from the plot: (key, value) of every bar.
    QVector<QPair<double, double>> barData() const;
    double categoryTickStep() const;

private:
    QCPBars *bars_;
    QSharedPointer<QCPAxisTickerFixed> categoryTicker_;
};
