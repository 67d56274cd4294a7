#pragma once

#include "app/configuration.h"
#include "app/screenshotexport.h"
#include "history/telemetryhistory.h"

#include <QMainWindow>
#include <QPointer>

class AudioSession;
class BeaconDocument;
class BeaconEdit;
class ChannelChart;
class FollowSession;
class Form2;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;
class StatusRow;

// The main window: beacon text in, decoded reports, record browser and
// channel chart out. Its handlers call the store, the document and the
// follow session, and refresh the views.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(const Configuration &configuration, QWidget *parent = nullptr);

    // Opens a log as Open Log does, without asking first (as a drop does).
    void openLog(const QString &path);
    // Follows a log as Follow Log does; false when it cannot be read.
    bool followLog(const QString &path);
    // Copies a recording as Open Recording does, without asking first.
    void openRecording(const QString &path);
    AudioSession &audio() { return *audio_; }

    ScreenshotExport &screenshotExport() { return screenshotExport_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    void buildControls();
    void appendReceived(const QStringList &lines);

    void Form_Load(const Configuration &configuration);
    void Form_Resize();
    void Text2_Change(int firstLine, int removedLines, int addedLines);
    void HScroll1_Change();
    void Option1_Click(int index);
    void Draw_Chart(int index);
    void Command1_Click();
    void MnuOpen_Click();
    void MnuFollow_Click();
    void MnuRecording_Click();
    void MnuListen_Click();
    void openDropped(const QString &path);
    void showRecording(const QString &path, const QStringList &lines, const QString &status);
    void MnuExit_Click();
    void MnuInfo_Click();

    TelemetryHistory history_;
    ScreenshotExport screenshotExport_;
    BeaconDocument *document_ = nullptr;
    FollowSession *following_ = nullptr;
    AudioSession *audio_ = nullptr;
    QPointer<Form2> aboutWindow_;    // owned by nobody; deletes itself when closed
    StatusRow *statusRow_ = nullptr; // lays out Label2 and Label3
    QAction *MnuFollow = nullptr;
    QAction *MnuListen = nullptr;

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
