#include "app/form1.h"

#include "app/beaconedit.h"
#include "app/channelchart.h"
#include "app/form2.h"
#include "app/legacylook.h"
#include "app/logfile.h"
#include "app/module1.h"
#include "decoder/decodeframe.h"
#include "decoder/utctime.h"
#include "history/chartlogic.h"
#include "history/recordbrowser.h"
#include "sids/sidsuploader.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QThread>
#include <QToolTip>

namespace {

constexpr int InnerWidth = 655;  // 9825 twips
constexpr int InnerHeight = 783; // 11745 twips

struct OptionPlace {
    int left, top, width;
};

// Places of Option1(0) to Option1(14) in twips; all are 195 twips high.
constexpr OptionPlace OptionPlaces[ChartChannelCount] = {
    {11400, 8160, 1575}, // element 0 lies outside the inner area
    {6120, 0, 1575},     {6120, 240, 1575},  {6120, 480, 1935},  {6120, 720, 1815},
    {6120, 960, 1575},   {6120, 1200, 1575}, {6120, 1440, 1575}, {8160, 0, 1575},
    {8160, 240, 1575},   {8160, 480, 1575},  {8160, 720, 1575},  {8160, 960, 1575},
    {8160, 1200, 1575},  {8160, 1440, 1575}};

// The bottom row: Label3 from 720 twips, 7095 wide; Label2 ends at 8535.
const QRect Label3Place = twips(720, 11400, 7095, 255);
const QRect Label2Place = twips(7920, 11400, 615, 255);

// Line marks: frames, frames with unreadable symbols, near misses.
const QColor FrameMark(0x2e, 0x8b, 0x57);
const QColor UnreadableMark(0xe0, 0x8a, 0x00);
const QColor NearMissMark(0xcc, 0x22, 0x22);

QString absolute(const QString &path) {
    return QFileInfo(path).absoluteFilePath();
}

void paintGrey(QWidget *widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, WindowGrey);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

Form1::Form1(const Configuration &configuration, QWidget *parent)
    : QMainWindow(parent), configuration_(configuration) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("KADRIN CW Telemetry Decoder [QX0ZZ]"));
    setWindowIcon(QIcon(QStringLiteral(":/kadrin/kadrin-icon.png")));
    setFont(msSansSerif(8.25));
    paintGrey(this);

    inner_ = new QWidget(this);
    inner_->setObjectName(QStringLiteral("inner"));
    paintGrey(inner_);
    setCentralWidget(inner_);
    buildMenus();
    buildControls();
    setTabOrder();
    inner_->installEventFilter(this);

    setAcceptDrops(true);

    Form_Load(configuration);
    resize(InnerWidth, InnerHeight + menuBar()->sizeHint().height());
}

Form1::~Form1() {
    stopSharing();
}

void Form1::buildMenus() {
    QMenu *file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("MnuFile"));
    const auto item = [&](const char *name, const QString &caption, const QKeySequence &keys,
                          void (Form1::*handler)()) {
        QAction *action = file->addAction(caption);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(keys);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    item("MnuOpen", QStringLiteral("Open Log..."), QKeySequence(QStringLiteral("Ctrl+O")),
         &Form1::MnuOpen_Click);
    MnuFollow = item("MnuFollow", QStringLiteral("Follow Log..."),
                     QKeySequence(QStringLiteral("Ctrl+L")), &Form1::MnuFollow_Click);
    item("MnuSave", QStringLiteral("Save Text As..."), QKeySequence(QStringLiteral("Ctrl+S")),
         &Form1::MnuSave_Click);
    item("MnuExport", QStringLiteral("Export CSV..."), QKeySequence(QStringLiteral("Ctrl+E")),
         &Form1::MnuExport_Click);
    file->addSeparator();
    item("MnuExit", QStringLiteral("Exit"), QKeySequence(), &Form1::MnuExit_Click);
    QAction *info = menuBar()->addAction(QStringLiteral("Info"));
    info->setObjectName(QStringLiteral("MnuInfo"));
    connect(info, &QAction::triggered, this, &Form1::MnuInfo_Click);
}

void Form1::buildControls() {
    Text2 = new BeaconEdit(inner_);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setGeometry(twips(120, 0, 5655, 1575));
    Text2->setFont(courierNew(8.25, true));
    Text2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text2->setMarkSource([this](int line) { return markOf(line); });
    Text2->setTooltipSource([this](int line) { return lineTip(line); });
    connect(Text2, &BeaconEdit::linesChanged, this, &Form1::Text2_Change);

    Option1 = new QButtonGroup(this);
    Option1->setObjectName(QStringLiteral("Option1"));
    for (int i = 0; i < ChartChannelCount; ++i) {
        auto *button = new QRadioButton(channelCaption(i), inner_);
        button->setObjectName(QStringLiteral("Option1(%1)").arg(i));
        const OptionPlace &place = OptionPlaces[i];
        button->setGeometry(twips(place.left, place.top, place.width, 195));
        paintGrey(button);
        // A narrow gap after the indicator keeps the longest captions inside
        // their fixed widths.
        button->setStyleSheet(QStringLiteral("QRadioButton { spacing: 3px; }"));
        Option1->addButton(button, i);
    }
    Option1->button(1)->setChecked(true);
    connect(Option1, &QButtonGroup::idClicked, this, &Form1::Option1_Click);

    Text3 = new QPlainTextEdit(inner_);
    Text3->setObjectName(QStringLiteral("Text3"));
    Text3->setGeometry(twips(120, 1920, 9615, 4815));
    Text3->setFont(courierNew(9));
    Text3->setReadOnly(true);
    Text3->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Text3->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text3->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text3->setLineWrapMode(QPlainTextEdit::NoWrap);

    Frame8 = new QGroupBox(inner_);
    Frame8->setObjectName(QStringLiteral("Frame8"));
    Frame8->setGeometry(twips(120, 6960, 9615, 4335));
    Frame8->setFont(msSansSerif(8.25, true));
    paintGrey(Frame8);

    MSChart1 = new ChannelChart(Frame8);
    MSChart1->setObjectName(QStringLiteral("MSChart1"));
    MSChart1->setGeometry(twips(120, 240, 9375, 3975));
    MSChart1->setFont(msSansSerif(8.25));
    MSChart1->installEventFilter(this); // tooltips of the bars

    Command1 = new QPushButton(QStringLiteral("S"), inner_);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twips(120, 11400, 495, 255));
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);

    Label3 = new QLabel(inner_);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(Label3Place);
    paintGrey(Label3);

    Label2 = new QLabel(inner_);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(Label2Place);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    paintGrey(Label2);

    HScroll1 = new QScrollBar(Qt::Horizontal, inner_);
    HScroll1->setObjectName(QStringLiteral("HScroll1"));
    HScroll1->setGeometry(twips(8640, 11400, 1095, 255));
    HScroll1->setTracking(false);              // the view follows when the thumb is released
    HScroll1->setFocusPolicy(Qt::StrongFocus); // its arrow keys browse the records
    HScroll1->setRange(0, 0);
    HScroll1->setEnabled(false);
    connect(HScroll1, &QScrollBar::valueChanged, this, &Form1::HScroll1_Change);
    HScroll1->installEventFilter(this); // arrow keys browse in reading order

    Picture2 = new QLabel(inner_);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setGeometry(twips(12960, 600, 1335, 855));
}

void Form1::setTabOrder() {
    QList<QWidget *> order = {Frame8, HScroll1, Text2, Command1, Picture2, Text3};
    for (QAbstractButton *button : Option1->buttons())
        order.append(button);
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

bool Form1::eventFilter(QObject *watched, QEvent *event) {
    if (watched == inner_ && event->type() == QEvent::Resize)
        Form_Resize();
    if (watched == MSChart1 && event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        const QString tip = chartTip(help->pos());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, MSChart1);
        return true;
    }
    if (watched == HScroll1 && event->type() == QEvent::KeyPress) {
        // A scroll bar's own keys run backwards for Left and Right; the
        // browser goes forward with Right and Page Down.
        static const QHash<int, QAbstractSlider::SliderAction> actions = {
            {Qt::Key_Left, QAbstractSlider::SliderSingleStepSub},
            {Qt::Key_Right, QAbstractSlider::SliderSingleStepAdd},
            {Qt::Key_PageUp, QAbstractSlider::SliderPageStepSub},
            {Qt::Key_PageDown, QAbstractSlider::SliderPageStepAdd},
            {Qt::Key_Home, QAbstractSlider::SliderToMinimum},
            {Qt::Key_End, QAbstractSlider::SliderToMaximum}};
        const auto action = actions.find(static_cast<QKeyEvent *>(event)->key());
        if (action != actions.end()) {
            HScroll1->triggerAction(*action);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::layOutStatusRow() {
    const int right = Label2Place.right();
    const int needed = Label2->fontMetrics().horizontalAdvance(Label2->text()) + 4;
    const int width = std::max(Label2Place.width(), needed);
    Label2->setGeometry(right - width + 1, Label2Place.top(), width, Label2Place.height());

    const int label3Right = std::min(Label3Place.right(), Label2->x() - 4);
    const int label3Width = std::max(label3Right - Label3Place.left() + 1, 0);
    Label3->setGeometry(Label3Place.left(), Label3Place.top(), label3Width, Label3Place.height());
    const QString shown = Label3->fontMetrics().elidedText(status_, Qt::ElideMiddle, label3Width);
    Label3->setText(shown);
    Label3->setToolTip(shown == status_ ? QString() : status_);
}

void Form1::setStatus(const QString &text) {
    status_ = text;
    layOutStatusRow();
}

LineMark Form1::markOf(int line) const {
    LineMark mark;
    const LineVerdict verdict = history_.lineVerdict(line);
    if (verdict.kind == LineVerdict::Kind::NearMiss) {
        mark.margin = NearMissMark;
    } else if (verdict.isFrame()) {
        mark.margin = FrameMark;
        if (verdict.kind == LineVerdict::Kind::FrameWithUnreadable) {
            mark.margin = UnreadableMark;
            const QString &text = Text2->line(line);
            const auto columns = frameColumns(text);
            for (const FrameField &field : FrameFields) {
                if (readField(*verdict.frame, field).known())
                    continue;
                const int column = columns[size_t(field.position - 1)];
                mark.underlines.append({column, text[column].isHighSurrogate() ? 2 : 1});
            }
        }
    }
    return mark;
}

QString Form1::lineTip(int line) const {
    const LineVerdict verdict = history_.lineVerdict(line);
    if (verdict.kind == LineVerdict::Kind::NearMiss)
        return QLatin1String("near miss: ") + nearMissText(verdict);
    if (!verdict.isFrame())
        return QString();
    QString tip = QStringLiteral("frame %1").arg(history_.recordOfLine(line));
    if (verdict.time)
        tip += QLatin1String(", ") + displayUtcTime(*verdict.time);
    if (verdict.kind == LineVerdict::Kind::FrameWithUnreadable)
        tip += QLatin1String("\nunreadable symbols: ") + unreadableText(*verdict.frame);
    return tip;
}

QString Form1::chartTip(const QPoint &at) const {
    if (!MSChart1->axisRect()->rect().contains(at))
        return QString();
    const int record = qRound(MSChart1->xAxis->pixelToCoord(at.x()));
    if (record < 1 || record > history_.recordCount())
        return QString();
    const TelemetryRecord &found = history_.record(record);
    QString tip = QStringLiteral("record %1").arg(record);
    if (const auto time = found.time())
        tip += QLatin1String(", ") + displayUtcTime(*time);
    if (const FrameField *field = fieldOfChannel(chartChannel_))
        tip += QLatin1String(": ") + readField(found.frame(), *field).statement();
    return tip;
}

void Form1::warn(const QString &text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"), text, QMessageBox::Ok, this);
    box.exec();
}

bool Form1::keepOrSaveText() {
    if (!Text2->isModified())
        return true;
    QMessageBox box(QMessageBox::Question, windowTitle(), QStringLiteral("Save the beacon text?"),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Save:
        return saveTextAs();
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

bool Form1::saveTextAs() {
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save Text As"), sourcePath_);
    if (path.isEmpty())
        return false;
    QString error;
    if (!writeWholeFile(path, Text2->toPlainText().toUtf8(), &error)) {
        warn(QStringLiteral("The beacon text could not be saved as\n%1\n\n%2").arg(path, error));
        return false;
    }
    Text2->setModified(false);
    if (!following_)
        sourcePath_ = absolute(path);
    setStatus(QLatin1String("Saved ") + path);
    return true;
}

void Form1::showLog(const QString &path, LoadedLog &log, const QString &status) {
    sourcePath_ = absolute(path);
    Text2->setLines(std::move(log.lines));
    setStatus(status + (log.invalidUtf8 ? QLatin1String("; bytes that are not UTF-8 read as U+FFFD")
                                        : QString()));
}

void Form1::openLog(const QString &path) {
    LoadedLog log = readLogFile(path);
    if (!log.error.isEmpty()) {
        warn(QStringLiteral("%1: %2").arg(path, log.error));
        return;
    }
    stopFollowing();
    showLog(path, log, QLatin1String("Opened ") + path);
}

void Form1::stopFollowing() {
    if (!following_)
        return;
    stopSharing();
    setStatus(QLatin1String("Stopped following ") + following_->path());
    following_.reset();
    MnuFollow->setText(QStringLiteral("Follow Log..."));
}

void Form1::appendReceived(const QStringList &lines) {
    // As tail -f keeps the end in sight: a browser on the last record
    // moves on to the new last one.
    const bool atLast = HScroll1->value() == HScroll1->maximum();
    const int first = Text2->appendLines(lines);
    if (atLast)
        HScroll1->setValue(HScroll1->maximum());
    if (!uploader_)
        return;
    for (int line = first; line < first + int(lines.size()); ++line) {
        const LineVerdict verdict = history_.lineVerdict(line);
        if (verdict.kind == LineVerdict::Kind::Frame && verdict.time)
            QMetaObject::invokeMethod(uploader_,
                                      [uploader = uploader_, frame = *verdict.frame,
                                       time = *verdict.time] { uploader->send(frame, time); });
    }
}

void Form1::startSharing() {
    if (!configuration_.sharesFrames())
        return;
    SidsStation station;
    const QString problem =
        readSidsStation(configuration_.sidsUrl, configuration_.callsign, configuration_.latitude,
                        configuration_.longitude, configuration_.noradId, &station);
    QString error = problem;
    auto uploader = std::make_unique<SidsUploader>(station);
    if (error.isEmpty())
        uploader->open(configuration_.sidsJournal.isEmpty() ? SidsJournal::defaultPath()
                                                            : configuration_.sidsJournal,
                       &error);
    if (!error.isEmpty()) {
        warn(QStringLiteral("Frames are not shared with the telemetry database: %1").arg(error));
        return;
    }
    sharingThread_ = new QThread(this);
    uploader_ = uploader.release();
    uploader_->moveToThread(sharingThread_);
    connect(sharingThread_, &QThread::finished, uploader_, &QObject::deleteLater);
    connect(uploader_, &SidsUploader::countsChanged, this, [this](const SidsUploader::Counts &c) {
        setStatus(followStatus_ + QStringLiteral("; sent %1, waiting %2, rejected %3")
                                      .arg(c.sent)
                                      .arg(c.waiting)
                                      .arg(c.rejected));
    });
    sharingThread_->start();
}

void Form1::stopSharing() {
    if (!sharingThread_)
        return;
    sharingThread_->quit();
    sharingThread_->wait();
    delete sharingThread_;
    sharingThread_ = nullptr;
    uploader_ = nullptr;
}

void Form1::closeEvent(QCloseEvent *event) {
    if (!keepOrSaveText()) {
        event->ignore();
        return;
    }
    stopSharing();
    following_.reset();
    event->accept();
}

void Form1::dragEnterEvent(QDragEnterEvent *event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.first().isLocalFile())
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent *event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return;
    event->acceptProposedAction();
    if (keepOrSaveText())
        openLog(urls.first().toLocalFile());
}

void Form1::Form_Load(const Configuration &configuration) {
    Module1::ImageDirectory = configuration.imageDirectory;
    Command1->setVisible(configuration.screenshotButtonVisible);
    Picture2->setVisible(false); // the screenshot buffer
}

void Form1::Form_Resize() {
    // The screenshot buffer always has the inner area's size.
    Picture2->setGeometry(0, 0, inner_->width(), inner_->height());
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
    if (chartChannel_ != 1 || change.removedRecords > 0 || change.addedRecords > 0)
        Draw_Chart(1);
    Option1->button(1)->setChecked(true);
}

void Form1::HScroll1_Change() {
    const int position = HScroll1->value();
    Label2->setText(browserCaption(position, HScroll1->maximum()));
    layOutStatusRow();
    const QString report = history_.record(position).reportLines().join(QLatin1Char('\n'));
    if (report != Text3->toPlainText())
        Text3->setPlainText(report);
}

void Form1::Option1_Click(int index) {
    Draw_Chart(index);
}

void Form1::Draw_Chart(int index) {
    chartChannel_ = index;
    Frame8->setTitle(channelCaption(index));
    MSChart1->showBars(chartBars(history_, index, MSChart1->plotColumns()), history_.recordCount());
}

void Form1::Command1_Click() {
    // What the operator sees in the inner area, as large as the buffer.
    Picture2->setPixmap(inner_->grab(QRect(QPoint(0, 0), Picture2->size())));

    const QString path = screenshotExport_.savePath(Module1::ImageDirectory);
    QString error;
    if (!ScreenshotExport::saveBitmap(Picture2->pixmap().toImage(), path, &error)) {
        setStatus(QLatin1String("Not saved: ") + path);
        QMessageBox box(
            QMessageBox::Warning, QStringLiteral("Error"),
            QStringLiteral("The screenshot could not be saved as\n%1\n\n%2").arg(path, error),
            QMessageBox::Ok, this);
        box.exec();
        return;
    }
    setStatus(path + QLatin1String(" saved"));

    if (!ScreenshotExport::startConverter(path)) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Error"),
                        QStringLiteral("nconvert.exe not found"), QMessageBox::Ok, this);
        box.exec();
    }
}

QString Form1::askForLog(const QString &title) {
    if (!keepOrSaveText())
        return QString();
    return QFileDialog::getOpenFileName(this, title, sourcePath_);
}

void Form1::MnuOpen_Click() {
    const QString path = askForLog(QStringLiteral("Open Log"));
    if (!path.isEmpty())
        openLog(path);
}

void Form1::MnuFollow_Click() {
    if (following_) {
        stopFollowing();
        return;
    }
    const QString path = askForLog(QStringLiteral("Follow Log"));
    if (!path.isEmpty())
        followLog(path);
}

bool Form1::followLog(const QString &path) {
    auto following = std::make_unique<LogFollowing>(path, this);
    LoadedLog log = following->start();
    if (!log.error.isEmpty()) {
        warn(QStringLiteral("%1: %2").arg(path, log.error));
        return false;
    }
    stopFollowing();
    connect(following.get(), &LogFollowing::linesArrived, this, &Form1::appendReceived);
    connect(following.get(), &LogFollowing::fileRestarted, this,
            [this, path](LogReader::Restart why) {
                setStatus(QStringLiteral("Following %1 (%2; read again from its start)")
                              .arg(path, why == LogReader::Restart::Truncated
                                             ? QLatin1String("truncated")
                                             : QLatin1String("replaced")));
            });
    connect(following.get(), &LogFollowing::failed, this, [this, path](const QString &error) {
        stopFollowing();
        warn(QStringLiteral("%1: %2").arg(path, error));
    });
    following_ = std::move(following);
    MnuFollow->setText(QStringLiteral("Stop Following"));
    followStatus_ = QLatin1String("Following ") + path;
    showLog(path, log, followStatus_);
    // As tail -f: the end of the log in sight, the newest record shown.
    Text2->setCursorPosition({Text2->lineCount() - 1, 0});
    HScroll1->setValue(HScroll1->maximum());
    startSharing();
    return true;
}

void Form1::MnuSave_Click() {
    saveTextAs();
}

void Form1::MnuExport_Click() {
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), QString());
    if (path.isEmpty())
        return;
    QString error;
    if (!writeWholeFile(path,
                        csvOf(history_, sourcePath_.isEmpty() ? QStringLiteral("-") : sourcePath_),
                        &error))
        warn(QStringLiteral("The CSV could not be written to\n%1\n\n%2").arg(path, error));
    else
        setStatus(QLatin1String("Exported ") + path);
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
