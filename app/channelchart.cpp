#include "app/channelchart.h"

#include "app/legacylook.h"

namespace {
// Fixed margins keep the plot area, and so the bar binning, independent of
// the value labels.
const QMargins PlotMargins(52, 8, 12, 22);
} // namespace

ChannelChart::ChannelChart(QWidget *parent)
    : QCustomPlot(parent), bars_(new QCPBars(xAxis, yAxis)),
      categoryTicker_(new QCPAxisTickerFixed) {
    setAntialiasedElements(QCP::aeNone);
    setNotAntialiasedElements(QCP::aeAll);
    setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);
    axisRect()->setAutoMargins(QCP::msNone);
    axisRect()->setMargins(PlotMargins);
    legend->setVisible(false);

    const QFont tickFont = msSansSerif(8.25);
    xAxis->setTickLabelFont(tickFont);
    yAxis->setTickLabelFont(tickFont);
    categoryTicker_->setScaleStrategy(QCPAxisTickerFixed::ssNone);
    categoryTicker_->setTickStep(1);
    xAxis->setTicker(categoryTicker_);
    xAxis->setSubTicks(false);
    xAxis->grid()->setVisible(false);
    xAxis->setRange(0.5, 1.5);
    yAxis->setRange(0, 1);

    bars_->setAntialiased(false);
    bars_->setAntialiasedFill(false);
    bars_->setPen(Qt::NoPen);
    bars_->setBrush(QColor(0x33, 0x66, 0xcc));
    bars_->setWidthType(QCPBars::wtPlotCoords);
}

int ChannelChart::plotColumns() const {
    return std::max(width() - PlotMargins.left() - PlotMargins.right(), 1);
}

void ChannelChart::showBars(const ChartBars &bars, int recordCount) {
    bars_->setWidth(bars.width);
    bars_->setData(bars.keys, bars.values, true);

    const int categories = std::max(recordCount, 1);
    xAxis->setRange(0.5, categories + 0.5);
    const int labelWidth =
        QFontMetrics(xAxis->tickLabelFont()).horizontalAdvance(QString::number(categories));
    categoryTicker_->setTickStep(::categoryTickStep(recordCount, plotColumns(), labelWidth));

    const ValueRange range = valueAxisRange(bars.values);
    yAxis->setRange(range.lower, range.upper);
    replot(QCustomPlot::rpQueuedReplot);
}

QVector<QPair<double, double>> ChannelChart::barData() const {
    QVector<QPair<double, double>> data;
    for (auto it = bars_->data()->constBegin(); it != bars_->data()->constEnd(); ++it)
        data.append({it->key, it->value});
    return data;
}

double ChannelChart::categoryTickStep() const {
    return categoryTicker_->tickStep();
}
