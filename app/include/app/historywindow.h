#pragma once

#include "archive/archive.h"
#include "archive/envelope.h"

#include <QHash>
#include <QPointer>
#include <QWidget>

class QCheckBox;
class QCPAxis;
class QCustomPlot;
class QLabel;
class QMessageBox;
class QTimer;
class QTreeWidget;

// View, History: the archive's frames against time (UTC), any span from a
// pass to everything, one value axis per unit. Each pixel column shows the
// lowest and the highest value its frames reached; nothing received leaves
// a gap. Limits from conf.ini are drawn, and frames outside them marked.
class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    HistoryWindow(const QString &archive, const QHash<int, ChannelLimits> &limits,
                  QWidget *parent = nullptr);

    // The span shown, UTC seconds.
    void showSpan(qint64 from, qint64 to);
    // Spans at a click, up to the last frame received.
    enum class Span { LastPass, Day, Week, Month, Everything };
    void showLast(Span span);
    void setChannels(const QList<int> &channels);
    // The archive grew: drawn again, following the newest frame when the
    // span shown reaches it.
    void refresh();
    // What a pointer at a time (UTC seconds) tells: the nearest frame's time,
    // the values of the channels shown, who received it. Empty when none.
    QString noteAt(double time) const;
    // The frame nearest the time, its report shown (a click).
    void showReportAt(double time);
    QMessageBox *report() const { return report_; }
    bool exportCsv(const QString &path, QString *error) const;
    QCustomPlot *plot() const { return plot_; }
    QTreeWidget *passList() const { return passes_; }
    QString archiveError() const { return archive_.error(); }

private:
    void redraw();
    void listPasses();
    QCPAxis *axisFor(const QString &unit);
    qint64 within() const; // how near a frame must be to the pointer

    mutable Archive archive_;
    QHash<int, ChannelLimits> limits_;
    QList<int> channels_{1};
    QCustomPlot *plot_ = nullptr;
    QTreeWidget *passes_ = nullptr;
    QLabel *status_ = nullptr;
    QTimer *redrawTimer_ = nullptr;
    QTimer *passTimer_ = nullptr; // the passes listed once the view rests
    QPointer<QMessageBox> report_;
    QList<QCheckBox *> channelBoxes_;
    qint64 lastKnown_ = 0; // the newest frame's time when last drawn
};
