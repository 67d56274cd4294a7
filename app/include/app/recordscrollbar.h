#pragma once

#include <QScrollBar>

// The record browser's scroll bar. A horizontal scroll bar's own keys run
// backwards for Left and Right; the browser goes forward with Right and
// Page Down, and takes the focus by Tab so the keys can browse.
class RecordScrollBar : public QScrollBar {
public:
    explicit RecordScrollBar(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
