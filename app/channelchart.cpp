#include "app/channelchart.h"

#include "app/legacylook.h"

#include <QHelpEvent>
#include <QToolTip>

namespace {
const QColor BarBlue(0x33, 0x66, 0xcc);
const QColor LightBlue(0x9d, 0xb8, 0xe8); // where a bar stands for many records
// Fixed margins keep the plot area, and so the bar binning, independent of
// the value labels.
const QMargins PlotMargins(52, 8, 12, 22);
} // namespace

ChannelChart::ChannelChart(QWidget *parent)
    : QCustomPlot(parent), bars_(new QCPBars(xAxis, yAxis)), nearBars_(new QCPBars(xAxis, yAxis)),
      categoryTicker_(new QCPAxisTickerFixed) {
    setAccessibleName(QStringLiteral("Channel chart"));
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

    for (QCPBars *bars : {bars_, nearBars_}) {
        bars->setAntialiased(false);
        bars->setAntialiasedFill(false);
        bars->setPen(Qt::NoPen);
        bars->setWidthType(QCPBars::wtPlotCoords);
    }
    nearBars_->setBrush(BarBlue);
}

int ChannelChart::plotColumns() const {
    return std::max(width() - PlotMargins.left() - PlotMargins.right(), 1);
}

void ChannelChart::showBars(const ChartBars &bars, int recordCount) {
    bars_->setBrush(bars.perColumn ? LightBlue : BarBlue);
    bars_->setWidth(bars.width);
    bars_->setData(bars.keys, bars.values, true);
    nearBars_->setWidth(bars.width);
    nearBars_->setData(bars.nearKeys, bars.nearValues, true);

    const int categories = std::max(recordCount, 1);
    xAxis->setRange(0.5, categories + 0.5);
    const int labelWidth =
        QFontMetrics(xAxis->tickLabelFont()).horizontalAdvance(QString::number(categories));
    categoryTicker_->setTickStep(categoryTickStep(recordCount, plotColumns(), labelWidth));

    const ValueRange range = valueAxisRange(bars);
    yAxis->setRange(range.lower, range.upper);
    replot(QCustomPlot::rpQueuedReplot);
}

bool ChannelChart::event(QEvent *event) {
    if (event->type() != QEvent::ToolTip)
        return QCustomPlot::event(event);
    const auto *help = static_cast<QHelpEvent *>(event);
    const QString tip = tips_ && axisRect()->rect().contains(help->pos())
                            ? tips_(qRound(xAxis->pixelToCoord(help->pos().x())))
                            : QString();
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), tip, this);
    return true;
}
