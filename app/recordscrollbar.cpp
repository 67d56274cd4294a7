#include "app/recordscrollbar.h"

#include <QHash>
#include <QKeyEvent>

RecordScrollBar::RecordScrollBar(QWidget *parent) : QScrollBar(Qt::Horizontal, parent) {
    setTracking(false); // the view follows when the thumb is released
    setFocusPolicy(Qt::StrongFocus);
    setRange(0, 0); // no record before the first decode pass
    setEnabled(false);
}

void RecordScrollBar::keyPressEvent(QKeyEvent *event) {
    static const QHash<int, SliderAction> actions = {
        {Qt::Key_Left, SliderSingleStepSub}, {Qt::Key_Right, SliderSingleStepAdd},
        {Qt::Key_PageUp, SliderPageStepSub}, {Qt::Key_PageDown, SliderPageStepAdd},
        {Qt::Key_Home, SliderToMinimum},     {Qt::Key_End, SliderToMaximum}};
    const auto action = actions.find(event->key());
    if (action == actions.end())
        return QScrollBar::keyPressEvent(event);
    triggerAction(*action);
    event->accept();
}
