#include "app/historywindow.h"

#include "archive/storedoutput.h"
#include "decoder/decodeframe.h"
#include "decoder/linescanner.h"
#include "decoder/utctime.h"
#include "history/chartlogic.h"

#include <qcustomplot.h>

#include <QCheckBox>
#include <QDateTime>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cmath>

namespace {
const QColor ChannelColors[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf",
                                "#393b79", "#637939", "#8c6d31", "#843c39"};
constexpr qint64 Day = 86400;
// Passes are listed while the span is at most this long.
constexpr qint64 PassListSpan = 31 * Day;

// The decoded frame of stored symbols.
DecodedFrame decoded(const StoredFrame &frame) {
    return decodeFrame(*LineScanner::judge(QStringLiteral("S KADRIN") + frame.symbols).frame);
}

QString receivedBy(const StoredFrame &frame) {
    QStringList who;
    for (const StoredReception &r : frame.receptions) {
        QString one = r.callsign.isEmpty() ? QStringLiteral("this station") : r.callsign;
        one += QStringLiteral(" (%1 %2").arg(receptionKindName(r.kind), r.source);
        if (r.line > 0)
            one += QStringLiteral(" line %1").arg(r.line);
        if (r.snrDb)
            one += QStringLiteral(", SNR %1 dB").arg(*r.snrDb, 0, 'f', 1);
        who.append(one + QLatin1Char(')'));
    }
    return QStringLiteral("Received by ") + who.join(QStringLiteral("; "));
}
} // namespace

HistoryWindow::HistoryWindow(const QString &archive, const QHash<int, ChannelLimits> &limits,
                             QWidget *parent)
    : QWidget(parent, Qt::Window), limits_(limits), plot_(new QCustomPlot(this)),
      passes_(new QTreeWidget(this)), status_(new QLabel(this)), redrawTimer_(new QTimer(this)),
      passTimer_(new QTimer(this)) {
    setObjectName(QStringLiteral("History"));
    setWindowTitle(QStringLiteral("History"));
    resize(1000, 640);

    auto *spans = new QHBoxLayout;
    const std::pair<const char *, Span> buttons[] = {{"Last pass", Span::LastPass}, {"Day", Span::Day},
                                                     {"Week", Span::Week},          {"Month", Span::Month},
                                                     {"Everything", Span::Everything}};
    for (const auto &[caption, span] : buttons) {
        auto *button = new QPushButton(QLatin1String(caption), this);
        connect(button, &QPushButton::clicked, this, [this, span = span] { showLast(span); });
        spans->addWidget(button);
    }
    spans->addStretch();
    auto *exportButton = new QPushButton(QStringLiteral("Export CSV..."), this);
    connect(exportButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"),
                                                          QStringLiteral("history.csv"));
        QString error;
        if (!path.isEmpty() && !exportCsv(path, &error))
            QMessageBox::warning(this, QStringLiteral("Export CSV"), error);
    });
    spans->addWidget(exportButton);

    auto *channels = new QVBoxLayout;
    for (int channel = 1; channel <= ArchiveChannels; ++channel) {
        auto *box = new QCheckBox(channelCaption(channel), this);
        box->setChecked(channels_.contains(channel));
        connect(box, &QCheckBox::toggled, this, [this] {
            QList<int> chosen;
            for (int i = 0; i < int(channelBoxes_.size()); ++i)
                if (channelBoxes_[i]->isChecked())
                    chosen.append(i + 1);
            channels_ = chosen;
            redraw();
        });
        channelBoxes_.append(box);
        channels->addWidget(box);
    }
    channels->addStretch();

    passes_->setHeaderLabels({QStringLiteral("Pass (UTC)"), QStringLiteral("Frames"),
                              QStringLiteral("Best SNR"), QStringLiteral("Stations")});
    passes_->setRootIsDecorated(false);
    passes_->setMaximumHeight(140);
    connect(passes_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) {
        const qint64 start = item->data(0, Qt::UserRole).toLongLong();
        const qint64 end = item->data(1, Qt::UserRole).toLongLong();
        const qint64 margin = std::max<qint64>(60, (end - start) / 20);
        showSpan(start - margin, end + margin);
    });

    auto *grid = new QGridLayout(this);
    grid->addLayout(spans, 0, 0, 1, 2);
    grid->addLayout(channels, 1, 0);
    grid->addWidget(plot_, 1, 1);
    grid->addWidget(passes_, 2, 0, 1, 2);
    grid->addWidget(status_, 3, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);

    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeSpec(Qt::UTC);
    ticker->setDateTimeFormat(QStringLiteral("yyyy-MM-dd\nhh:mm:ss"));
    plot_->xAxis->setTicker(ticker);
    plot_->xAxis->setLabel(QStringLiteral("UTC"));
    plot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot_->axisRect()->setRangeDrag(Qt::Horizontal);
    plot_->axisRect()->setRangeZoom(Qt::Horizontal);
    plot_->setMouseTracking(true);
    plot_->legend->setVisible(true);
    plot_->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    redrawTimer_->setSingleShot(true);
    redrawTimer_->setInterval(20);
    connect(redrawTimer_, &QTimer::timeout, this, &HistoryWindow::redraw);
    // The passes of a month take longer to gather than the chart to draw:
    // listed when zooming and panning have paused.
    passTimer_->setSingleShot(true);
    passTimer_->setInterval(150);
    connect(passTimer_, &QTimer::timeout, this, &HistoryWindow::listPasses);
    connect(plot_->xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), redrawTimer_,
            qOverload<>(&QTimer::start));
    connect(plot_, &QCustomPlot::mouseMove, this, [this](QMouseEvent *event) {
        if (event->buttons() == Qt::NoButton)
            QToolTip::showText(event->globalPosition().toPoint(),
                               noteAt(plot_->xAxis->pixelToCoord(event->position().x())), plot_);
    });
    auto pressedAt = std::make_shared<QPointF>();
    connect(plot_, &QCustomPlot::mousePress, this,
            [pressedAt](QMouseEvent *event) { *pressedAt = event->position(); });
    connect(plot_, &QCustomPlot::mouseRelease, this, [this, pressedAt](QMouseEvent *event) {
        if ((event->position() - *pressedAt).manhattanLength() < 4)
            showReportAt(plot_->xAxis->pixelToCoord(event->position().x()));
    });

    if (!archive_.open(archive))
        status_->setText(archive_.error());
    showLast(Span::Day);
}

void HistoryWindow::setChannels(const QList<int> &channels) {
    for (int i = 0; i < int(channelBoxes_.size()); ++i) {
        const QSignalBlocker block(channelBoxes_[i]);
        channelBoxes_[i]->setChecked(channels.contains(i + 1));
    }
    channels_ = channels;
    redraw();
}

void HistoryWindow::showSpan(qint64 from, qint64 to) {
    const QSignalBlocker block(plot_->xAxis);
    plot_->xAxis->setRange(double(from), double(std::max(to, from + 1)));
    redraw();
}

void HistoryWindow::showLast(Span span) {
    const auto extent = archive_.extent();
    const qint64 last = extent ? extent->second : QDateTime::currentSecsSinceEpoch();
    const qint64 first = extent ? extent->first : last - Day;
    switch (span) {
    case Span::LastPass: {
        std::vector<Pass> passes;
        if (archive_.passes(last - Day, last, &passes) && !passes.empty()) {
            const Pass &pass = passes.back();
            const qint64 margin = std::max<qint64>(60, (pass.end - pass.start) / 20);
            return showSpan(pass.start - margin, pass.end + margin);
        }
        return showSpan(last - 3600, last + 60);
    }
    case Span::Day:
        return showSpan(last - Day, last + 60);
    case Span::Week:
        return showSpan(last - 7 * Day, last + 600);
    case Span::Month:
        return showSpan(last - 30 * Day, last + 3600);
    case Span::Everything: {
        const qint64 margin = std::max<qint64>(60, (last - first) / 50);
        return showSpan(first - margin, last + margin);
    }
    }
}

void HistoryWindow::refresh() {
    const auto extent = archive_.extent();
    if (!extent)
        return;
    const QCPRange range = plot_->xAxis->range();
    if (range.upper >= double(lastKnown_) && extent->second > lastKnown_ && lastKnown_ > 0) {
        const double shift = std::max(0.0, double(extent->second) + 60 - range.upper);
        return showSpan(qint64(range.lower + shift), qint64(range.upper + shift));
    }
    redraw();
}

QCPAxis *HistoryWindow::axisFor(const QString &unit) {
    if (unit == QLatin1String("mV"))
        return plot_->yAxis;
    if (unit == QLatin1String("C"))
        return plot_->yAxis2;
    const QList<QCPAxis *> right = plot_->axisRect()->axes(QCPAxis::atRight);
    return right.size() > 1 ? right[1] : plot_->axisRect()->addAxis(QCPAxis::atRight);
}

void HistoryWindow::redraw() {
    plot_->clearPlottables();
    plot_->clearItems();
    const QCPRange range = plot_->xAxis->range();
    const qint64 from = qint64(std::floor(range.lower)), to = qint64(std::ceil(range.upper));
    std::vector<TimeCell> cells;
    if (archive_.isOpen() && !archive_.cells(from, to, std::max(plot_->axisRect()->width(), 50), &cells))
        status_->setText(archive_.error());
    if (const auto extent = archive_.extent())
        lastKnown_ = extent->second;
    QSet<QCPAxis *> used;
    for (QCPAxis *axis : plot_->axisRect()->axes(QCPAxis::atLeft | QCPAxis::atRight))
        axis->setVisible(false);
    for (const int channel : std::as_const(channels_)) {
        const QString unit = channelUnit(channel);
        QCPAxis *axis = axisFor(unit);
        axis->setVisible(true);
        axis->setLabel(unit);
        const auto limits = limits_.contains(channel) ? std::optional(limits_.value(channel)) : std::nullopt;
        const ChannelEnvelope e = envelopeOf(cells, channel, limits);
        const QColor color = ChannelColors[(channel - 1) % 14];
        QCPGraph *low = plot_->addGraph(plot_->xAxis, axis);
        QCPGraph *high = plot_->addGraph(plot_->xAxis, axis);
        low->setName(channelCaption(channel) + QStringLiteral(" lowest"));
        high->setName(channelCaption(channel));
        low->removeFromLegend();
        for (QCPGraph *g : {low, high}) {
            g->setPen(QPen(color, 1.5));
            g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, color, 3));
        }
        QColor fill = color;
        fill.setAlpha(70);
        high->setBrush(fill);
        high->setChannelFillGraph(low);
        low->setData(QVector<double>(e.time.begin(), e.time.end()), QVector<double>(e.low.begin(), e.low.end()), true);
        high->setData(QVector<double>(e.time.begin(), e.time.end()), QVector<double>(e.high.begin(), e.high.end()), true);
        // Each column's extremes as a stroke: a column between gaps has no
        // neighbour to fill towards.
        auto *strokes = new QCPErrorBars(plot_->xAxis, axis);
        strokes->setDataPlottable(high);
        strokes->removeFromLegend();
        strokes->setWhiskerWidth(0);
        strokes->setPen(QPen(color, 2));
        QVector<double> below(int(e.time.size())), above(int(e.time.size()), 0.0);
        for (size_t i = 0; i < e.time.size(); ++i)
            below[int(i)] = e.high[i] - e.low[i];
        strokes->setData(below, above);
        bool found = false;
        QCPRange values = high->getValueRange(found);
        if (found)
            values.expand(low->getValueRange(found));
        if (limits) {
            for (const double v : {limits->low, limits->high}) {
                auto *line = new QCPItemStraightLine(plot_);
                line->point1->setAxes(plot_->xAxis, axis);
                line->point2->setAxes(plot_->xAxis, axis);
                line->point1->setCoords(range.lower, v);
                line->point2->setCoords(range.upper, v);
                line->setPen(QPen(color, 1, Qt::DashLine));
                values = found ? (values.expand(v), values) : QCPRange(v, v);
                found = true;
            }
            QCPGraph *outside = plot_->addGraph(plot_->xAxis, axis);
            outside->setName(channelCaption(channel) + QStringLiteral(" outside its limits"));
            outside->removeFromLegend();
            outside->setLineStyle(QCPGraph::lsNone);
            outside->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCross, Qt::red, 9));
            outside->setData(QVector<double>(e.outTime.begin(), e.outTime.end()),
                             QVector<double>(e.outValue.begin(), e.outValue.end()));
        }
        if (found) {
            const double margin = std::max(values.size() * 0.05, 1.0);
            axis->setRange(used.contains(axis) ? axis->range().expanded(values) : values);
            axis->setRange(axis->range().lower - margin, axis->range().upper + margin);
        }
        used.insert(axis);
    }
    qint64 frames = 0;
    for (const TimeCell &cell : cells)
        frames += cell.frames;
    if (archive_.isOpen())
        status_->setText(QStringLiteral("%1 frames from %2 to %3")
                             .arg(frames)
                             .arg(displayUtcTime(from), displayUtcTime(to)));
    plot_->replot();
    passTimer_->start();
}

void HistoryWindow::listPasses() {
    passes_->clear();
    const QCPRange range = plot_->xAxis->range();
    std::vector<Pass> passes;
    if (range.size() > double(PassListSpan)) {
        passes_->addTopLevelItem(new QTreeWidgetItem({QStringLiteral("Show a month or less to list its passes")}));
        return;
    }
    if (!archive_.passes(qint64(range.lower), qint64(range.upper), &passes))
        return;
    for (const Pass &pass : passes) {
        QStringList stations;
        for (const QString &s : pass.stations)
            stations.append(s.isEmpty() ? QStringLiteral("this station") : s);
        auto *item = new QTreeWidgetItem(
            {displayUtcTime(pass.start), QString::number(pass.frames),
             pass.bestSnrDb ? QStringLiteral("%1 dB").arg(*pass.bestSnrDb, 0, 'f', 1) : QString(),
             stations.join(QStringLiteral(", "))});
        item->setData(0, Qt::UserRole, pass.start);
        item->setData(1, Qt::UserRole, pass.end);
        passes_->addTopLevelItem(item);
    }
    passes_->header()->resizeSections(QHeaderView::ResizeToContents);
}

qint64 HistoryWindow::within() const {
    const double perPixel = plot_->xAxis->range().size() / std::max(plot_->axisRect()->width(), 1);
    return std::clamp<qint64>(qint64(perPixel * 6), 1, Day);
}

QString HistoryWindow::noteAt(double time) const {
    const auto frame = archive_.nearest(qint64(std::llround(time)), within());
    if (!frame)
        return QString();
    const DecodedFrame d = decoded(*frame);
    QStringList lines = {displayUtcTime(frame->time)};
    for (const int channel : channels_)
        for (const FieldReading &reading : d.readings)
            if (reading.field->channel == channel)
                lines.append(reading.statement());
    lines.append(receivedBy(*frame));
    return lines.join(QLatin1Char('\n'));
}

void HistoryWindow::showReportAt(double time) {
    const auto frame = archive_.nearest(qint64(std::llround(time)), within());
    if (!frame)
        return;
    if (!report_) {
        report_ = new QMessageBox(QMessageBox::Information, QStringLiteral("Frame"), QString(),
                                  QMessageBox::Close, this);
        report_->setObjectName(QStringLiteral("frameReport"));
        report_->setModal(false);
        report_->setAttribute(Qt::WA_DeleteOnClose);
    }
    report_->setText(reportLines(decoded(*frame)).join(QLatin1Char('\n')));
    report_->setInformativeText(displayUtcTime(frame->time) + QLatin1Char('\n') + receivedBy(*frame));
    report_->show();
}

bool HistoryWindow::exportCsv(const QString &path, QString *error) const {
    const QCPRange range = plot_->xAxis->range();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
        return false;
    }
    StoredWriter writer(OutputFormat::Csv);
    OutputBuffer out;
    writer.begin(out);
    qint64 record = 0;
    bool written = true;
    const bool read = archive_.forEachFrame(qint64(std::ceil(range.lower)), qint64(std::floor(range.upper)),
                                            [&](const StoredFrame &frame) {
                                                record += writer.write(out, frame, record + 1);
                                                if (out.size() > (1 << 20)) {
                                                    written = file.write(out.data(), out.size()) == out.size();
                                                    out.clear();
                                                }
                                                return written;
                                            });
    written = written && file.write(out.data(), out.size()) == out.size();
    if (!read || !written || !file.commit()) {
        file.cancelWriting();
        *error = read ? QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString())
                      : archive_.error();
        return false;
    }
    return true;
}
