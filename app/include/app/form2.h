#pragma once

#include <QWidget>

class QLabel;

// The about window: name, maker, version.
class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(QWidget *parent = nullptr);

private:
    void Form_Load();

    QLabel *Label2 = nullptr;
};
