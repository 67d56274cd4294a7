#pragma once

#include "app/screenshotexport.h"
#include "history/telemetryhistory.h"

#include <QMainWindow>
#include <QPointer>

class ChannelChart;
class Form2;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;

// The main window: beacon text in, decoded reports, record browser and
// channel chart out. Its handlers only call the decoding core and refresh
// the views.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);

    const TelemetryHistory &history() const { return history_; }
    ScreenshotExport &screenshotExport() { return screenshotExport_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildMenus();
    void buildControls();
    void setTabOrder();

    void Form_Load();
    void Form_Resize();
    void Text2_Change();
    void HScroll1_Change();
    void Option1_Click(int index);
    void Draw_Chart(int index);
    void Command1_Click();
    void MnuExit_Click();
    void MnuInfo_Click();

    TelemetryHistory history_;
    ScreenshotExport screenshotExport_;
    QPointer<Form2> aboutWindow_; // owned by nobody; deletes itself when closed

    QWidget *inner_ = nullptr;
    QPlainTextEdit *Text2 = nullptr;
    QPlainTextEdit *Text3 = nullptr;
    QButtonGroup *Option1 = nullptr;
    QGroupBox *Frame8 = nullptr;
    ChannelChart *MSChart1 = nullptr;
    QPushButton *Command1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QScrollBar *HScroll1 = nullptr;
    QLabel *Picture2 = nullptr;
};
