#include "app/legacylook.h"

#include <QPlainTextEdit>
#include <QStringList>

namespace {
QFont fontOf(const QStringList &families, QFont::StyleHint hint, qreal points, bool bold) {
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(hint);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}
} // namespace

QFont courierNew(qreal points, bool bold) {
    return fontOf({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")},
                  QFont::Monospace, points, bold);
}

QFont msSansSerif(qreal points, bool bold) {
    return fontOf({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")},
                  QFont::SansSerif, points, bold);
}

void paintGrey(QWidget *widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, WindowGrey);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QPlainTextEdit *reportView(QWidget *parent) {
    auto *view = new QPlainTextEdit(parent);
    view->setFont(courierNew(9));
    view->setReadOnly(true);
    view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    return view;
}

void setKeyboardOrder(const QList<QWidget *> &order) {
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}
