#pragma once

#include <QLabel>
#include <QObject>
#include <QRect>
#include <QString>

// The bottom row's two labels: the record position ("3/12") keeps its right
// edge and grows to the left when the numbers get long, over the unused end
// of the status line, whose text is elided in the middle where both would
// touch (its tooltip then holds it whole).
class StatusRow : public QObject {
    Q_OBJECT
public:
    StatusRow(QLabel *position, const QRect &positionPlace, QLabel *status,
              const QRect &statusPlace, QObject *parent);

public slots:
    void setPosition(const QString &text);
    void setStatus(const QString &text);

private:
    void layOut();

    QLabel *position_;
    QRect positionPlace_;
    QLabel *status_;
    QRect statusPlace_;
    QString statusText_; // whole, as the label may show it elided
};
