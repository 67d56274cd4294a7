// The main window driven as the operator drives it: typing, pasting,
// browsing, choosing channels.

#include "app/channelchart.h"
#include "app/form1.h"
#include "app/module1.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>

#include <memory>

namespace {

const QString Twos = QStringLiteral("SKADRIN22222222222222222222");

// A frame whose battery voltage cell 1 (position 8) and gyro Z (26) carry
// the given symbols.
QString frame(char cell1, char gyroZ = '2') {
    QString line = Twos;
    line[8] = QLatin1Char(cell1);
    line[26] = QLatin1Char(gyroZ);
    return line;
}

QString confPath() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/conf.ini");
}

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void layout_data();
    void layout();
    void windowAtStart();
    void tabOrder();
    void typingAFrame();
    void pastingALog();
    void lineBreaksOfTheTextBox_data();
    void lineBreaksOfTheTextBox();
    void reDecodeOnEdit();
    void browserMoves();
    void browserPositionKeptOrClamped();
    void optionClicks();
    void passResetsChartToChannelOne();
    void noFrameEmptiesChart();
    void optionBeforeAnyFrame();
    void missingValueIsGap();
    void moreThanHundredFrames();
    void configuration_data();
    void configuration();
    void exitClosesWindow();

private:
    template <typename T> T *control(const char *name) {
        return window->findChild<T *>(QLatin1String(name));
    }
    QPlainTextEdit *text2() { return control<QPlainTextEdit>("Text2"); }
    QString text3() { return control<QPlainTextEdit>("Text3")->toPlainText(); }
    QString label2() { return control<QLabel>("Label2")->text(); }
    QString frameCaption() { return control<QGroupBox>("Frame8")->title(); }
    QVector<QPair<double, double>> bars() { return control<ChannelChart>("MSChart1")->barData(); }
    QRadioButton *option(int i) {
        return qobject_cast<QRadioButton *>(control<QButtonGroup>("Option1")->button(i));
    }
    void setInput(const QString &text) { text2()->setPlainText(text); }

    std::unique_ptr<Form1> window;
};

void TestForm1::init() {
    window = std::make_unique<Form1>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestForm1::cleanup() {
    window.reset();
    QFile::remove(confPath());
}

void TestForm1::layout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("place"); // pixels: twips / 15

    QTest::newRow("Text2") << "Text2" << QRect(8, 0, 377, 105);
    QTest::newRow("Option1(1)") << "Option1(1)" << QRect(408, 0, 105, 13);
    QTest::newRow("Option1(3)") << "Option1(3)" << QRect(408, 32, 129, 13);
    QTest::newRow("Option1(4)") << "Option1(4)" << QRect(408, 48, 121, 13);
    QTest::newRow("Option1(7)") << "Option1(7)" << QRect(408, 96, 105, 13);
    QTest::newRow("Option1(8)") << "Option1(8)" << QRect(544, 0, 105, 13);
    QTest::newRow("Option1(14)") << "Option1(14)" << QRect(544, 96, 105, 13);
    QTest::newRow("Option1(0)") << "Option1(0)" << QRect(760, 544, 105, 13);
    QTest::newRow("Text3") << "Text3" << QRect(8, 128, 641, 321);
    QTest::newRow("Frame8") << "Frame8" << QRect(8, 464, 641, 289);
    QTest::newRow("MSChart1 inside Frame8") << "MSChart1" << QRect(8, 16, 625, 265);
    QTest::newRow("Command1") << "Command1" << QRect(8, 760, 33, 17);
    QTest::newRow("Label3") << "Label3" << QRect(48, 760, 473, 17);
    QTest::newRow("Label2") << "Label2" << QRect(528, 760, 41, 17);
    QTest::newRow("HScroll1") << "HScroll1" << QRect(576, 760, 73, 17);
    QTest::newRow("Picture2 fills the inner area") << "Picture2" << QRect(0, 0, 655, 783);
}

void TestForm1::layout() {
    QFETCH(QString, name);
    QFETCH(QRect, place);
    const QWidget *widget = window->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), place);
}

void TestForm1::windowAtStart() {
    QCOMPARE(window->windowTitle(), QStringLiteral("KADRIN CW Telemetry Decoder [QX0ZZ]"));
    QCOMPARE(window->centralWidget()->size(), QSize(655, 783));
    QCOMPARE(window->palette().color(QPalette::Window), QColor(240, 240, 240));
    QCOMPARE(window->menuBar()->actions().size(), 2);
    QCOMPARE(window->menuBar()->actions()[0]->text(), QStringLiteral("File"));
    QCOMPARE(window->menuBar()->actions()[0]->menu()->actions()[0]->text(), QStringLiteral("Exit"));
    QCOMPARE(window->menuBar()->actions()[1]->text(), QStringLiteral("Info"));

    const QStringList captions = {"empty",
                                  "Battery Volt Cell 1",
                                  "Battery Volt Cell 2",
                                  "Battery Temp Cell 1",
                                  "Battery Temp Cell 2",
                                  "Solar 1 Temp",
                                  "Solar 2 Temp",
                                  "Solar 3 Temp",
                                  "Solar 4 Temp",
                                  "PWRS Temp",
                                  "OBDH Temp",
                                  "ADCS Temp",
                                  "Gyro X",
                                  "Gyro Y",
                                  "Gyro Z"};
    for (int i = 0; i < 15; ++i)
        QCOMPARE(option(i)->text(), captions[i]);
    QVERIFY(option(1)->isChecked());

    const auto *scroll = control<QScrollBar>("HScroll1");
    QVERIFY(!scroll->isEnabled());
    QCOMPARE(scroll->maximum(), 0);
    QCOMPARE(scroll->minimum(), 0);
    QVERIFY(label2().isEmpty());
    QVERIFY(frameCaption().isEmpty());
    QVERIFY(text3().isEmpty());
    QVERIFY(control<QPlainTextEdit>("Text3")->isReadOnly());
    QVERIFY(control<QPushButton>("Command1")->isVisible());
    QCOMPARE(control<QPushButton>("Command1")->text(), QStringLiteral("S"));
    QVERIFY(!control<QLabel>("Picture2")->isVisible());
    QCOMPARE(text2()->font().family(), QStringLiteral("Courier New"));
    QVERIFY(text2()->font().bold());
    QCOMPARE(text2()->font().pointSizeF(), 8.25);
    QCOMPARE(QFontInfo(text2()->font()).family(), QStringLiteral("Liberation Mono"));
}

void TestForm1::tabOrder() {
    // The controls the keyboard reaches, in their order (the frame and the
    // hidden buffer take no focus).
    QStringList expected = {"HScroll1", "Text2", "Command1", "Text3"};
    for (int i = 0; i < 15; ++i)
        expected.append(QStringLiteral("Option1(%1)").arg(i));
    QStringList found;
    QWidget *w = window->findChild<QWidget *>(QStringLiteral("Frame8"));
    for (int steps = 0; steps < 500 && found.size() < expected.size(); ++steps) {
        if (expected.contains(w->objectName()) && !found.contains(w->objectName()))
            found.append(w->objectName());
        w = w->nextInFocusChain();
    }
    QCOMPARE(found, expected);
}

void TestForm1::typingAFrame() {
    text2()->setFocus();
    QTest::keyClicks(text2(), QStringLiteral("21:14:07 s kadrin 2222 2222 2222 2222 2222"));
    QCOMPARE(label2(), QStringLiteral("1/1"));
    const QStringList lines = text3().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 18);
    QCOMPARE(lines[0], QStringLiteral("CW beacon: SKADRIN22222222222222222222"));
    QCOMPARE(lines[1], QStringLiteral("Satellite Mode: Normal Mode"));
    QCOMPARE(lines[17], QStringLiteral("Gyro Z: <= -32 rad/s"));
    QCOMPARE(frameCaption(), QStringLiteral("Battery Volt Cell 1"));
    QCOMPARE(bars(), (QVector<QPair<double, double>>{{1, 2958}}));
    // One more key makes 21 symbols: no frame any more.
    QTest::keyClick(text2(), Qt::Key_4);
    QCOMPARE(label2(), QStringLiteral("0/0"));
    QVERIFY(text3().isEmpty());
    QVERIFY(bars().isEmpty());
    QTest::keyClick(text2(), Qt::Key_Backspace);
    QCOMPARE(label2(), QStringLiteral("1/1"));
    QCOMPARE(text2()->toPlainText(), QStringLiteral("21:14:07 s kadrin 2222 2222 2222 2222 2222"));
}

void TestForm1::pastingALog() {
    const QString log = QStringLiteral("# pass 12\r\n") + frame('4') + QStringLiteral("\r\n") +
                        QStringLiteral("QRM\r\n") + frame('Z').toLower() + QStringLiteral("\r\n") +
                        QStringLiteral("21:02 ") + frame('8') + QStringLiteral("\r\n");
    QApplication::clipboard()->setText(log);
    text2()->setFocus();
    QTest::keySequence(text2(), QKeySequence::Paste);
    QCOMPARE(label2(), QStringLiteral("1/3"));
    QCOMPARE(bars(), (QVector<QPair<double, double>>{{1, 3042}, {2, 4242}, {3, 3299}}));
    QVERIFY(text3().startsWith(QLatin1String("CW beacon: SKADRIN24222222222222222222\n")));
    // The box holds what was pasted, its line breaks its own.
    QString pasted = log;
    pasted.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QCOMPARE(text2()->toPlainText(), pasted);
}

void TestForm1::lineBreaksOfTheTextBox_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caption");

    QTest::newRow("CR LF") << Twos + QStringLiteral("\r\n") + Twos << QStringLiteral("1/2");
    QTest::newRow("LF") << Twos + QStringLiteral("\n") + Twos << QStringLiteral("1/2");
    QTest::newRow("lone CR is a line break in the box")
        << Twos + QStringLiteral("\r") + Twos << QStringLiteral("1/2");
    QTest::newRow("line separator")
        << Twos + QChar(QChar::LineSeparator) + Twos << QStringLiteral("1/2");
    QTest::newRow("no-break space is not a blank")
        << QStringLiteral("SKADRIN\u00a022222222222222222222") << QStringLiteral("0/0");
    QTest::newRow("tab is not a blank")
        << QStringLiteral("SKADRIN\t22222222222222222222") << QStringLiteral("0/0");
}

void TestForm1::lineBreaksOfTheTextBox() {
    QFETCH(QString, text);
    QFETCH(QString, caption);
    QApplication::clipboard()->setText(text);
    text2()->paste();
    QCOMPARE(label2(), caption);
}

void TestForm1::reDecodeOnEdit() {
    setInput(frame('4') + QStringLiteral("\n") + frame('6'));
    QCOMPARE(bars(), (QVector<QPair<double, double>>{{1, 3042}, {2, 3128}}));
    QTextCursor cursor = text2()->textCursor();
    cursor.movePosition(QTextCursor::Start);
    text2()->setTextCursor(cursor);
    QTest::keyClicks(text2(), frame('Z'));
    QTest::keyClick(text2(), Qt::Key_Return);
    QCOMPARE(label2(), QStringLiteral("1/3"));
    QCOMPARE(bars(), (QVector<QPair<double, double>>{{1, 4242}, {2, 3042}, {3, 3128}}));
    QVERIFY(text3().startsWith(QLatin1String("CW beacon: SKADRIN2Z222222222222222222")));
}

void TestForm1::browserMoves() {
    QStringList lines;
    for (char c : {'2', '4', '6', '7', '8', 'A', 'C'})
        lines.append(frame(c));
    setInput(lines.join(QLatin1Char('\n')));
    auto *scroll = control<QScrollBar>("HScroll1");
    QVERIFY(scroll->isEnabled());
    QCOMPARE(scroll->minimum(), 1);
    QCOMPARE(scroll->maximum(), 7);
    for (int i = 0; i < 3; ++i)
        scroll->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(label2(), QStringLiteral("4/7"));
    QVERIFY(text3().contains(QLatin1String("Battery Voltage Cell 1: 3172 mV .. 3256 mV\n")));
    scroll->triggerAction(QAbstractSlider::SliderToMaximum);
    QCOMPARE(label2(), QStringLiteral("7/7"));
    QVERIFY(text3().contains(QLatin1String("Battery Voltage Cell 1: 3429 mV .. 3513 mV\n")));
    // Dragging does not change the view until the thumb is released.
    scroll->setSliderDown(true);
    scroll->setSliderPosition(2);
    QCOMPARE(label2(), QStringLiteral("7/7"));
    scroll->setSliderDown(false);
    QCOMPARE(label2(), QStringLiteral("2/7"));
}

void TestForm1::browserPositionKeptOrClamped() {
    QStringList lines;
    for (int i = 0; i < 7; ++i)
        lines.append(frame("2468ACD"[i]));
    setInput(lines.join(QLatin1Char('\n')));
    auto *scroll = control<QScrollBar>("HScroll1");
    scroll->setValue(4);
    QCOMPARE(label2(), QStringLiteral("4/7"));
    setInput(lines.mid(0, 6).join(QLatin1Char('\n')));
    QCOMPARE(label2(), QStringLiteral("4/6"));
    setInput(lines.mid(0, 2).join(QLatin1Char('\n')));
    QCOMPARE(label2(), QStringLiteral("2/2"));
    QVERIFY(text3().contains(QLatin1String("Battery Voltage Cell 1: 3001 mV .. 3085 mV\n")));
    setInput(QString());
    QCOMPARE(label2(), QStringLiteral("0/0"));
    QVERIFY(text3().isEmpty()); // records of the longer pass are never shown
    setInput(lines.join(QLatin1Char('\n')));
    QCOMPARE(label2(), QStringLiteral("1/7"));
}

void TestForm1::optionClicks() {
    QStringList lines;
    const char gyro[] = "2DFZJ";
    for (int i = 0; i < 5; ++i)
        lines.append(frame('2', gyro[i]));
    setInput(lines.join(QLatin1Char('\n')));
    QTest::mouseClick(option(14), Qt::LeftButton, {}, QPoint(5, 6));
    QVERIFY(option(14)->isChecked());
    QCOMPARE(frameCaption(), QStringLiteral("Gyro Z"));
    QCOMPARE(bars(),
             (QVector<QPair<double, double>>{{1, -45}, {2, -2.3}, {3, 2.25}, {4, 33}, {5, 11.45}}));
    QTest::mouseClick(option(3), Qt::LeftButton, {}, QPoint(5, 6));
    QCOMPARE(frameCaption(), QStringLiteral("Battery Temp Cell 1"));
    QCOMPARE(bars().size(), 5);
    QCOMPARE(bars()[0].second, -22.0);
}

void TestForm1::passResetsChartToChannelOne() {
    setInput(frame('4', 'Z'));
    QTest::mouseClick(option(14), Qt::LeftButton, {}, QPoint(5, 6));
    QCOMPARE(frameCaption(), QStringLiteral("Gyro Z"));
    QTest::keyClick(text2(), Qt::Key_End);
    QTest::keyClick(text2(), Qt::Key_Space); // a blank changes nothing but the text
    QCOMPARE(frameCaption(), QStringLiteral("Battery Volt Cell 1"));
    QVERIFY(option(1)->isChecked());
    QCOMPARE(bars(), (QVector<QPair<double, double>>{{1, 3042}}));
}

void TestForm1::noFrameEmptiesChart() {
    setInput(frame('4'));
    QCOMPARE(bars().size(), 1);
    setInput(QStringLiteral("no frame"));
    QVERIFY(bars().isEmpty());
    QCOMPARE(frameCaption(), QStringLiteral("Battery Volt Cell 1"));
}

void TestForm1::optionBeforeAnyFrame() {
    QTest::mouseClick(option(12), Qt::LeftButton, {}, QPoint(5, 6));
    QCOMPARE(frameCaption(), QStringLiteral("Gyro X"));
    QVERIFY(bars().isEmpty());
    QVERIFY(label2().isEmpty());
}

void TestForm1::missingValueIsGap() {
    setInput(frame('Z') + QStringLiteral("\n") + frame('X') + QStringLiteral("\n") + frame('4'));
    QCOMPARE(bars(), (QVector<QPair<double, double>>{{1, 4242}, {3, 3042}}));
    control<QScrollBar>("HScroll1")->setValue(2);
    QVERIFY(text3().contains(QLatin1String("Battery Voltage Cell 1: unknown(X)\n")));
}

void TestForm1::moreThanHundredFrames() {
    QStringList lines;
    for (int i = 0; i < 150; ++i)
        lines.append(frame(i == 120 ? 'Z' : '4'));
    setInput(lines.join(QLatin1String("\n")));
    QCOMPARE(label2(), QStringLiteral("1/150"));
    const auto drawn = bars();
    QCOMPARE(drawn.size(), 150);
    QCOMPARE(drawn[120], (QPair<double, double>(121, 4242)));
    QCOMPARE(drawn[149], (QPair<double, double>(150, 3042)));
    QCOMPARE(control<ChannelChart>("MSChart1")->categoryTickStep(), 8.0); // 150 / 20 = 7.5
    control<QScrollBar>("HScroll1")->setValue(121);
    QCOMPARE(label2(), QStringLiteral("121/150"));
    QVERIFY(text3().contains(QLatin1String("Battery Voltage Cell 1: >= 4200 mV\n")));
}

void TestForm1::configuration_data() {
    QTest::addColumn<QByteArray>("conf");
    QTest::addColumn<bool>("buttonVisible");
    QTest::addColumn<QString>("imageDirectory"); // empty: the program's directory

    QTest::newRow("no conf.ini") << QByteArray() << true << QString();
    QTest::newRow("SCREENSHOT = no") << QByteArray("SCREENSHOT = no\r\n") << false << QString();
    QTest::newRow("SCREENSHOT = YES") << QByteArray("SCREENSHOT = YES\n") << true << QString();
    QTest::newRow("IMAGE_PATH") << QByteArray("IMAGE_PATH = /srv/Shots/\n") << true
                                << QStringLiteral("/srv/Shots/");
}

void TestForm1::configuration() {
    QFETCH(QByteArray, conf);
    QFETCH(bool, buttonVisible);
    QFETCH(QString, imageDirectory);
    window.reset();
    if (!conf.isEmpty()) {
        QFile file(confPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(conf);
    }
    init();
    QCOMPARE(control<QPushButton>("Command1")->isVisible(), buttonVisible);
    QCOMPARE(Module1::ConfigPath, confPath());
    QCOMPARE(Module1::ImageDirectory,
             imageDirectory.isEmpty() ? QCoreApplication::applicationDirPath() + QLatin1Char('/')
                                      : imageDirectory);
}

void TestForm1::exitClosesWindow() {
    QAction *exit = window->findChild<QAction *>(QStringLiteral("MnuExit"));
    QVERIFY(exit);
    exit->trigger();
    QVERIFY(!window->isVisible());
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
