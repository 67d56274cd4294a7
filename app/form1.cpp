#include "app/form1.h"

#include "app/audiosession.h"
#include "app/beacondocument.h"
#include "app/beaconedit.h"
#include "app/channelchart.h"
#include "app/followsession.h"
#include "app/form2.h"
#include "app/historywindow.h"
#include "app/networkpasses.h"
#include "archive/archivewriter.h"
#include "app/sourceswitch.h"
#include "app/legacylook.h"
#include "app/linemarks.h"
#include "app/module1.h"
#include "app/recordscrollbar.h"
#include "app/statusrow.h"
#include "history/chartlogic.h"
#include "history/recordbrowser.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

namespace {

constexpr int InnerWidth = 655;  // 9825 twips
constexpr int InnerHeight = 783; // 11745 twips

// Places of Option1(0) to Option1(14) in twips: left, top, width; all are
// 195 twips high. Element 0 lies outside the inner area.
constexpr int OptionPlaces[ChartChannelCount][3] = {
    {11400, 8160, 1575}, {6120, 0, 1575},    {6120, 240, 1575},  {6120, 480, 1935},
    {6120, 720, 1815},   {6120, 960, 1575},  {6120, 1200, 1575}, {6120, 1440, 1575},
    {8160, 0, 1575},     {8160, 240, 1575},  {8160, 480, 1575},  {8160, 720, 1575},
    {8160, 960, 1575},   {8160, 1200, 1575}, {8160, 1440, 1575}};

// The bottom row: Label3 from 720 twips, 7095 wide; Label2 ends at 8535.
const QRect Label3Place = twips(720, 11400, 7095, 255);
const QRect Label2Place = twips(7920, 11400, 615, 255);
const QRect HScroll1Place = twips(8640, 11400, 1095, 255);

} // namespace

Form1::Form1(const Configuration &configuration, QWidget *parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("KADRIN CW Telemetry Decoder [QX0ZZ]"));
    setWindowIcon(QIcon(QStringLiteral(":/kadrin/kadrin-icon.png")));
    setFont(msSansSerif(8.25));
    paintGrey(this);
    inner_ = new QWidget(this);
    inner_->setObjectName(QStringLiteral("inner"));
    paintGrey(inner_);
    setCentralWidget(inner_);
    inner_->installEventFilter(this);
    buildControls();
    document_ = new BeaconDocument(Text2, this);
    connect(document_, &BeaconDocument::status, statusRow_, &StatusRow::setStatus);
    sources_ = new SourceSwitch(configuration, document_, this);
    connect(document_, &BeaconDocument::dropped, sources_, &SourceSwitch::openDropped);
    connect(sources_, &SourceSwitch::linesArrived, this, &Form1::appendReceived);
    connect(sources_, &SourceSwitch::status, statusRow_, &StatusRow::setStatus);
    connect(sources_, &SourceSwitch::followed, this, [this] {
        // As tail -f: the end of the log in sight, the newest record shown.
        Text2->setCursorPosition({Text2->lineCount() - 1, 0});
        HScroll1->setValue(HScroll1->maximum());
    });
    buildMenus(configuration);
    Form_Load(configuration);
    resize(InnerWidth, InnerHeight + menuBar()->sizeHint().height());
}

void Form1::buildMenus(const Configuration &configuration) {
    QMenu *file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("MnuFile"));
    const auto item = [&](const char *name, const char *caption, const char *keys, auto handler) {
        QAction *action = file->addAction(QLatin1String(caption));
        action->setObjectName(QLatin1String(name));
        action->setShortcut(QKeySequence(QLatin1String(keys)));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    item("MnuOpen", "Open Log...", "Ctrl+O", [this] { sources_->askForLog(); });
    QAction *follow = item("MnuFollow", "Follow Log...", "Ctrl+L", [this] { sources_->toggleFollowing(); });
    connect(sources_, &SourceSwitch::followingChanged, follow, [follow](bool active) {
        follow->setText(active ? QStringLiteral("Stop Following") : QStringLiteral("Follow Log..."));
    });
    item("MnuSave", "Save Text As...", "Ctrl+S",
         [this] { document_->saveAs(sources_->following().active()); });
    item("MnuExport", "Export CSV...", "Ctrl+E", [this] { document_->exportCsv(history_); });
    file->addSeparator();
    item("MnuRecording", "Open Recording...", "Ctrl+R", [this] { sources_->askForRecording(); });
    QAction *listen = item("MnuListen", "Listen...", "Ctrl+Shift+L", [this] { sources_->toggleListening(); });
    connect(sources_, &SourceSwitch::listeningChanged, listen, [listen](bool active) {
        listen->setText(active ? QStringLiteral("Stop Listening") : QStringLiteral("Listen..."));
    });
    item("MnuNetwork", "Network Passes...", "Ctrl+Shift+N", [this] { sources_->networkPasses().ask(sources_->archive().location()); });
    file->addSeparator();
    item("MnuExit", "Exit", "", &Form1::MnuExit_Click);
    file = menuBar()->addMenu(QStringLiteral("View"));
    item("MnuHistory", "History...", "Ctrl+H", [this, limits = configuration.limits] {
        if (!historyWindow_) {
            historyWindow_ = new HistoryWindow(sources_->archive().location(), limits, this);
            connect(&sources_->archive(), &ArchiveWriter::stored, historyWindow_, &HistoryWindow::refresh);
            connect(&sources_->networkPasses(), &NetworkPasses::stored, historyWindow_, &HistoryWindow::refresh);
        }
        historyWindow_->show();
        historyWindow_->raise();
    });
    QAction *info = menuBar()->addAction(QStringLiteral("Info"));
    info->setObjectName(QStringLiteral("MnuInfo"));
    connect(info, &QAction::triggered, this, &Form1::MnuInfo_Click);
}

void Form1::buildControls() {
    Text2 = placed(new BeaconEdit(inner_), "Text2", twips(120, 0, 5655, 1575));
    Text2->setFont(courierNew(8.25, true));
    Text2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text2->setMarkSource([this](int line) { return lineMark(history_, line, Text2->line(line)); });
    Text2->setTooltipSource([this](int line) {
        const QString tip = lineTip(history_, line);
        const QString note = sources_->audio().noteOf(Text2->line(line));
        return note.isEmpty() || tip.isEmpty() ? tip + note : tip + QLatin1Char('\n') + note;
    });
    connect(Text2, &BeaconEdit::linesChanged, this, &Form1::Text2_Change);

    Option1 = new QButtonGroup(this);
    Option1->setObjectName(QStringLiteral("Option1"));
    for (int i = 0; i < ChartChannelCount; ++i) {
        const int *place = OptionPlaces[i];
        auto *button = placed(new QRadioButton(channelCaption(i), inner_),
                              qPrintable(QStringLiteral("Option1(%1)").arg(i)),
                              twips(place[0], place[1], place[2], 195));
        paintGrey(button);
        // A narrow gap after the indicator keeps the longest captions inside
        // their fixed widths.
        button->setStyleSheet(QStringLiteral("QRadioButton { spacing: 3px; }"));
        Option1->addButton(button, i);
    }
    Option1->button(0)->hide(); // element 0 is never seen, nor reached by Tab or a screen reader
    Option1->button(1)->setChecked(true);
    connect(Option1, &QButtonGroup::idClicked, this, &Form1::Option1_Click);

    Text3 = placed(reportView(inner_), "Text3", twips(120, 1920, 9615, 4815));
    Text3->setAccessibleName(QStringLiteral("Report"));

    Frame8 = placed(new QGroupBox(inner_), "Frame8", twips(120, 6960, 9615, 4335));
    Frame8->setFont(msSansSerif(8.25, true));
    paintGrey(Frame8);
    MSChart1 = placed(new ChannelChart(Frame8), "MSChart1", twips(120, 240, 9375, 3975));
    MSChart1->setFont(msSansSerif(8.25));
    MSChart1->setTipSource(
        [this](int record) { return barTip(history_, record, Option1->checkedId()); });

    Command1 = placed(new QPushButton(QStringLiteral("S"), inner_), "Command1",
                      twips(120, 11400, 495, 255));
    Command1->setAccessibleName(QStringLiteral("Screenshot"));
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    Label3 = placed(new QLabel(inner_), "Label3", Label3Place);
    Label2 = placed(new QLabel(inner_), "Label2", Label2Place);
    for (QLabel *label : {Label2, Label3})
        paintGrey(label);
    HScroll1 = placed(new RecordScrollBar(inner_), "HScroll1", HScroll1Place);
    HScroll1->setAccessibleName(QStringLiteral("Record"));
    statusRow_ = new StatusRow(Label2, Label2Place, Label3, Label3Place, HScroll1, HScroll1Place, this);
    connect(HScroll1, &QScrollBar::valueChanged, this, &Form1::HScroll1_Change);
    Picture2 = placed(new QLabel(inner_), "Picture2", twips(12960, 600, 1335, 855));

    QList<QWidget *> order = {Frame8, HScroll1, Text2, Command1, Picture2, Text3};
    for (QAbstractButton *button : Option1->buttons())
        order.append(button);
    setKeyboardOrder(order);
}

bool Form1::eventFilter(QObject *watched, QEvent *event) {
    if (watched == inner_ && event->type() == QEvent::Resize)
        Form_Resize();
    return QMainWindow::eventFilter(watched, event);
}

void Form1::appendReceived(const QStringList &lines) {
    // As tail -f keeps the end in sight: a browser on the last record
    // moves on to the new last one.
    const bool atLast = HScroll1->value() == HScroll1->maximum();
    const int first = Text2->appendLines(lines);
    if (atLast)
        HScroll1->setValue(HScroll1->maximum());
    sources_->share(history_, first, lines);
}

void Form1::closeEvent(QCloseEvent *event) {
    if (!document_->keepOrSave())
        event->ignore();
}

void Form1::Form_Load(const Configuration &configuration) {
    Module1::ImageDirectory = configuration.imageDirectory;
    Command1->setVisible(configuration.screenshotButtonVisible);
    Picture2->setVisible(false); // the screenshot buffer
}

void Form1::Form_Resize() {
    // The screenshot buffer always has the inner area's size.
    Picture2->setGeometry(0, 0, inner_->width(), inner_->height());
    statusRow_->setAreaWidth(inner_->width());
}

void Form1::Text2_Change(int firstLine, int removedLines, int addedLines) {
    const TelemetryHistory::Change change =
        history_.replaceLines(firstLine, removedLines, addedLines, [this, firstLine](int i) {
            return QStringView(Text2->line(firstLine + i));
        });
    const BrowserRange range = BrowserRange::afterPass(history_.recordCount());
    {
        const QSignalBlocker blocker(HScroll1);
        HScroll1->setEnabled(true);
        HScroll1->setRange(range.minimum, range.maximum);
    }
    HScroll1_Change();
    // The chart shows channel 1 after every change; drawn again only when
    // that changes what it shows.
    if (Option1->checkedId() != 1 || change.removedRecords > 0 || change.addedRecords > 0)
        Draw_Chart(1);
}

void Form1::HScroll1_Change() {
    const int position = HScroll1->value();
    statusRow_->setPosition(browserCaption(position, HScroll1->maximum()));
    const QString report = history_.record(position).reportLines().join(QLatin1Char('\n'));
    if (report != Text3->toPlainText())
        Text3->setPlainText(report);
}

void Form1::Option1_Click(int index) {
    Draw_Chart(index);
}

void Form1::Draw_Chart(int index) {
    Option1->button(index)->setChecked(true);
    Frame8->setTitle(channelCaption(index));
    MSChart1->showBars(chartBars(history_, index, MSChart1->plotColumns()), history_.recordCount());
}

void Form1::Command1_Click() {
    // What the operator sees in the inner area, as large as the buffer.
    Picture2->setPixmap(inner_->grab(QRect(QPoint(0, 0), Picture2->size())));
    const ScreenshotExport::Outcome done =
        screenshotExport_.take(Picture2->pixmap().toImage(), Module1::ImageDirectory);
    statusRow_->setStatus(done.status());
    if (done.problem().isEmpty())
        return;
    QMessageBox box(done.error.isEmpty() ? QMessageBox::Information : QMessageBox::Warning,
                    QStringLiteral("Error"), done.problem(), QMessageBox::Ok, this);
    box.exec();
}

void Form1::MnuExit_Click() {
    close();
}

void Form1::MnuInfo_Click() {
    if (!aboutWindow_)
        aboutWindow_ = new Form2; // no owner: it outlives the main window if left open
    aboutWindow_->show();
    aboutWindow_->raise();
    aboutWindow_->activateWindow();
}
