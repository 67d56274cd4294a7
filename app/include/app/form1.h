#pragma once

#include "app/configuration.h"
#include "app/screenshotexport.h"
#include "history/telemetryhistory.h"

#include <QMainWindow>
#include <QPointer>

class BeaconDocument;
class BeaconEdit;
class ChannelChart;
class Form2;
class HistoryWindow;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;
class SourceSwitch;
class StatusRow;

// The main window: beacon text in, decoded reports, record browser and
// channel chart out. Its handlers call the store, the document and the
// sources of received text, and refresh the views.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(const Configuration &configuration, QWidget *parent = nullptr);

    // Where received text comes from: open, follow, copy, listen.
    SourceSwitch &sources() { return *sources_; }
    ScreenshotExport &screenshotExport() { return screenshotExport_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus(const Configuration &configuration);
    void buildControls();
    void appendReceived(const QStringList &lines);

    void Form_Load(const Configuration &configuration);
    void Form_Resize();
    void Text2_Change(int firstLine, int removedLines, int addedLines);
    void HScroll1_Change();
    void Option1_Click(int index);
    void Draw_Chart(int index);
    void Command1_Click();
    void MnuExit_Click();
    void MnuInfo_Click();

    TelemetryHistory history_;
    ScreenshotExport screenshotExport_;
    BeaconDocument *document_ = nullptr;
    SourceSwitch *sources_ = nullptr;
    QPointer<Form2> aboutWindow_;    // owned by nobody; deletes itself when closed
    QPointer<HistoryWindow> historyWindow_;
    StatusRow *statusRow_ = nullptr; // lays out Label2 and Label3

    QWidget *inner_ = nullptr;
    BeaconEdit *Text2 = nullptr;
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
