#include "app/statusrow.h"

#include <algorithm>

namespace {
constexpr int RightMargin = 6; // pixels right of the browser in the laid-out area
}

StatusRow::StatusRow(QLabel *position, const QRect &positionPlace, QLabel *status,
                     const QRect &statusPlace, QWidget *browser, const QRect &browserPlace,
                     QObject *parent)
    : QObject(parent), position_(position), positionPlace_(positionPlace), status_(status),
      statusPlace_(statusPlace), browser_(browser), browserPlace_(browserPlace) {
    position_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layOut();
}

void StatusRow::setAreaWidth(int width) {
    const int shift = std::max(width - (browserPlace_.right() + 1 + RightMargin), 0);
    if (shift == shift_)
        return;
    shift_ = shift;
    layOut();
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
    browser_->setGeometry(browserPlace_.translated(shift_, 0));
    const QRect place = positionPlace_.translated(shift_, 0);
    const int needed = position_->fontMetrics().horizontalAdvance(position_->text()) + 4;
    const int width = std::max(place.width(), needed);
    position_->setGeometry(place.right() - width + 1, place.top(), width, place.height());
    const int right = std::min(statusPlace_.right() + shift_, position_->x() - 4);
    const int statusWidth = std::max(right - statusPlace_.left() + 1, 0);
    status_->setGeometry(statusPlace_.left(), statusPlace_.top(), statusWidth,
                         statusPlace_.height());
    const QString shown =
        status_->fontMetrics().elidedText(statusText_, Qt::ElideRight, statusWidth);
    status_->setText(shown);
    status_->setToolTip(shown == statusText_ ? QString() : statusText_);
}
