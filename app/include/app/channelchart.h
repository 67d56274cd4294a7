#pragma once

#include "history/chartlogic.h"

#include <qcustomplot.h>

#include <functional>

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
    // Where the tooltip of a bar comes from, asked with the record under the
    // mouse; an empty text shows none.
    void setTipSource(std::function<QString(int record)> source) { tips_ = std::move(source); }

protected:
    bool event(QEvent *event) override;

private:
    QCPBars *bars_;     // to each record's value, or a column's value farthest from 0
    QCPBars *nearBars_; // a column's value nearest to 0, darker, over the others
    QSharedPointer<QCPAxisTickerFixed> categoryTicker_;
    std::function<QString(int)> tips_;
};
