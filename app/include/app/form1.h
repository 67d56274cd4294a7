#pragma once

#include "app/configuration.h"
#include "app/screenshotexport.h"
#include "history/telemetryhistory.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

struct LineMark;
class BeaconEdit;
class LogFollowing;
class QThread;
class SidsUploader;
struct LoadedLog;
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
    explicit Form1(const Configuration &configuration, QWidget *parent = nullptr);
    ~Form1() override;

    // Opens a log file as Open Log does, once the operator has kept or
    // saved the text; also what dropping a file does.
    void openLog(const QString &path);
    // Follows a log as Follow Log does; false when it cannot be read.
    bool followLog(const QString &path);

    ScreenshotExport &screenshotExport() { return screenshotExport_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void buildMenus();
    void buildControls();
    void setTabOrder();
    // Label2 keeps its right edge and grows to the left over the unused end
    // of Label3, whose text is elided in the middle where both would touch.
    void layOutStatusRow();
    void setStatus(const QString &text);
    LineMark markOf(int line) const;
    QString lineTip(int line) const;
    QString chartTip(const QPoint &at) const;
    // Asks "Save the beacon text?" when the text was typed or changed since
    // it was opened or saved. False when the operator cancels.
    bool keepOrSaveText();
    // The log to open, once the text is kept or saved; empty: none.
    QString askForLog(const QString &title);
    bool saveTextAs();
    void showLog(const QString &path, LoadedLog &log, const QString &status);
    void stopFollowing();
    void appendReceived(const QStringList &lines);
    // Starts sharing followed frames when conf.ini names a database.
    void startSharing();
    void stopSharing();
    void warn(const QString &text);

    void Form_Load(const Configuration &configuration);
    void Form_Resize();
    void Text2_Change(int firstLine, int removedLines, int addedLines);
    void HScroll1_Change();
    void Option1_Click(int index);
    void Draw_Chart(int index);
    void Command1_Click();
    void MnuOpen_Click();
    void MnuFollow_Click();
    void MnuSave_Click();
    void MnuExport_Click();
    void MnuExit_Click();
    void MnuInfo_Click();

    TelemetryHistory history_;
    ScreenshotExport screenshotExport_;
    QPointer<Form2> aboutWindow_; // owned by nobody; deletes itself when closed
    QString status_;              // the whole text of Label3, which may show it elided
    QString sourcePath_;          // the file the text came from; empty: none
    std::unique_ptr<LogFollowing> following_;
    Configuration configuration_;
    QThread *sharingThread_ = nullptr; // the uploader's, so the window never waits
    SidsUploader *uploader_ = nullptr; // lives in sharingThread_
    QString followStatus_;
    int chartChannel_ = 1;
    QAction *MnuFollow = nullptr;

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
