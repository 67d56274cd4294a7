#include "app/statusrow.h"

#include <algorithm>

StatusRow::StatusRow(QLabel *position, const QRect &positionPlace, QLabel *status,
                     const QRect &statusPlace, QObject *parent)
    : QObject(parent), position_(position), positionPlace_(positionPlace), status_(status),
      statusPlace_(statusPlace) {
    position_->setGeometry(positionPlace);
    position_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    status_->setGeometry(statusPlace);
}

void StatusRow::setPosition(const QString &text) {
    position_->setText(text);
    layOut();
}

void StatusRow::setStatus(const QString &text) {
    statusText_ = text;
    layOut();
}

void StatusRow::layOut() {
    const int needed = position_->fontMetrics().horizontalAdvance(position_->text()) + 4;
    const int width = std::max(positionPlace_.width(), needed);
    position_->setGeometry(positionPlace_.right() - width + 1, positionPlace_.top(), width,
                           positionPlace_.height());
    const int right = std::min(statusPlace_.right(), position_->x() - 4);
    const int statusWidth = std::max(right - statusPlace_.left() + 1, 0);
    status_->setGeometry(statusPlace_.left(), statusPlace_.top(), statusWidth,
                         statusPlace_.height());
    const QString shown =
        status_->fontMetrics().elidedText(statusText_, Qt::ElideMiddle, statusWidth);
    status_->setText(shown);
    status_->setToolTip(shown == statusText_ ? QString() : statusText_);
}
