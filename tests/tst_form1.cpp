// The main window driven as the operator drives it: typing, pasting,
// browsing, choosing channels, the keyboard, the about window.

#include "app/beaconedit.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/sourceswitch.h"
#include "windowtest.h"

#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyleHints>
#include <QTemporaryDir>
#include <QTest>
#include <qcustomplot.h>

#include <memory>

namespace {

// A frame whose battery voltage cell 1 (position 8) and gyro Z (26) carry
// the given symbols.
QString frame(char cell1, char gyroZ = '2') {
    QString line = QStringLiteral("SKADRIN22222222222222222222");
    line[8] = QLatin1Char(cell1);
    line[26] = QLatin1Char(gyroZ);
    return line;
}

// Counts the repaints of a widget.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void typingAFrame();
    void keyboardOrderAndBrowsing();
    void editsKeepTheBrowserInRange();
    void optionClicksAndTheResetToChannel1();
    void positionLabelStaysReadable();
    void statusLineUsesTheWidth();
    void screenReadersNameEveryControl();
    void undoAndRedo();
    void longLineKeptExactly();
    void idleWindowDoesNoWork();
    void oneAboutWindowWithItsVersion();

private:
    template <typename T> T *control(const char *name) {
        return window->findChild<T *>(QLatin1String(name));
    }
    BeaconEdit *text2() { return control<BeaconEdit>("Text2"); }
    QString label2() { return control<QLabel>("Label2")->text(); }
    QString text3() { return control<QPlainTextEdit>("Text3")->toPlainText(); }
    QString frameCaption() { return control<QGroupBox>("Frame8")->title(); }
    QAbstractButton *option(int i) { return control<QButtonGroup>("Option1")->button(i); }
    QScrollBar *browser() { return control<QScrollBar>("HScroll1"); }
    // What the chart draws: (key, value) of every bar.
    QVector<QPair<double, double>> bars() {
        QVector<QPair<double, double>> found;
        auto *bars = qobject_cast<QCPBars *>(control<QCustomPlot>("MSChart1")->plottable(0));
        for (auto it = bars->data()->constBegin(); it != bars->data()->constEnd(); ++it)
            found.append({it->key, it->value});
        return found;
    }
    void paste(const QString &text) {
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(text2(), Qt::Key_V, Qt::ControlModifier);
    }

    std::unique_ptr<Form1> window;
};

void TestForm1::init() {
    window = std::make_unique<Form1>(Configuration{QStringLiteral("/tmp/"), true});
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    text2()->setFocus();
}

void TestForm1::cleanup() {
    window.reset();
}

void TestForm1::typingAFrame() {
    const QString typed = QStringLiteral("21:14:07 s kadrin 2222 2222 2222 2222 2222");
    QTest::keyClicks(text2(), typed);
    QCOMPARE(label2(), "1/1");
    const QStringList lines = text3().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 18);
    QCOMPARE(lines[0], "CW beacon: SKADRIN22222222222222222222");
    QCOMPARE(bars(), (QVector<QPair<double, double>>{{1, 2958}}));
    // The bar grows from 0: its length is its value.
    QCOMPARE(control<QCustomPlot>("MSChart1")->yAxis->range().lower, 0.0);

    QTest::keyClick(text2(), Qt::Key_Backspace);
    QCOMPARE(label2(), "0/0");
    QVERIFY(text3().isEmpty());
    QVERIFY(bars().isEmpty());
}

// Tab and Shift+Tab follow the window's keyboard order and never put a tab
// into the beacon text (with the whole text selected it would replace it).
// The record scroll bar takes the focus, and its arrow keys browse.
void TestForm1::keyboardOrderAndBrowsing() {
    const QString text = QStringList{frame('2'), frame('4'), frame('6'), frame('7'),
                                     frame('8'), frame('A'), frame('C')}
                             .join('\n');
    paste(text);
    QCOMPARE(label2(), "1/7");
    QTest::keyClick(text2(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(text2(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), control<QPushButton>("Command1"));
    QCOMPARE(text2()->toPlainText(), text);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), text2());
    QTest::keyClick(text2(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), browser());
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(browser(), Qt::Key_Right);
    QCOMPARE(label2(), "4/7");
    QVERIFY(text3().contains("Battery Voltage Cell 1: 3172 mV .. 3256 mV\n"));
    QTest::keyClick(browser(), Qt::Key_End);
    QCOMPARE(label2(), "7/7");
}

// After an edit the browser keeps its position where it still exists.
void TestForm1::editsKeepTheBrowserInRange() {
    paste(QStringList(6, frame('4')).join(QLatin1Char('\n')) + QLatin1Char('\n') + frame('Z'));
    browser()->setValue(4);
    QCOMPARE(label2(), "4/7");
    QTest::keyClick(text2(), Qt::Key_Backspace); // the last frame loses a symbol
    QCOMPARE(label2(), "4/6");
    browser()->setValue(6);
    QTest::keyClick(text2(), Qt::Key_A, Qt::ControlModifier);
    paste(frame('4') + QLatin1Char('\n') + frame('6'));
    QCOMPARE(label2(), "2/2");
    QVERIFY(text3().contains("Battery Voltage Cell 1: 3086 mV .. 3171 mV\n"));
}

void TestForm1::optionClicksAndTheResetToChannel1() {
    paste(frame('2', 'Z') + QLatin1Char('\n') + frame('4', '1') + QLatin1Char('\n') +
          frame('6', 'A'));
    QTest::mouseClick(option(14), Qt::LeftButton, {}, QPoint(4, 6));
    QCOMPARE(frameCaption(), "Gyro Z");
    QVERIFY(option(14)->isChecked());
    QCOMPARE(bars(), (QVector<QPair<double, double>>{{1, 33}, {3, -11.45}})); // record 2: a gap
    QTest::keyClick(text2(), Qt::Key_Space);
    QCOMPARE(frameCaption(), "Battery Volt Cell 1");
    QVERIFY(option(1)->isChecked());
    QCOMPARE(bars().size(), 3);
}

// The whole "p/m" stays readable: Label2 keeps its right edge and grows to
// the left.
void TestForm1::positionLabelStaysReadable() {
    paste(QString(frame('4') + QLatin1Char('\n')).repeated(10000));
    browser()->setValue(10000);
    const QLabel *label = control<QLabel>("Label2");
    QCOMPARE(label->text(), "10000/10000");
    QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(label->text()));
    QCOMPARE(label->geometry().right(), 568); // 8535 twips
    QVERIFY(control<QLabel>("Label3")->geometry().right() < label->x());
}

// A status text too long for its line shows its start (what matters comes
// first) and is whole in the tooltip; a wider window gives the line its
// width, and nothing outside the layout comes into sight.
void TestForm1::statusLineUsesTheWidth() {
    QTemporaryDir dir;
    const QString log = dir.filePath(QString(60, 'p') + ".log");
    QVERIFY(windowtest::writeFile(log, "x\n"));
    window->sources().openLog(log);
    const QLabel *status = control<QLabel>("Label3");
    QVERIFY2(status->text().startsWith(QStringLiteral("Opened ") + dir.path()) &&
                 status->text().endsWith(QChar(0x2026)),
             qPrintable(status->text()));
    QCOMPARE(status->toolTip(), QStringLiteral("Opened ") + log);
    window->resize(1100, window->height());
    QTRY_COMPARE(status->text(), QStringLiteral("Opened ") + log);
    QVERIFY(status->geometry().right() < control<QLabel>("Label2")->x());
    QCOMPARE(browser()->geometry().right(), window->width() - 7);
    QVERIFY(!option(0)->isVisible());
}

// A screen reader names every control it can reach in words, not symbols.
void TestForm1::screenReadersNameEveryControl() {
    QTest::keyClick(text2(), Qt::Key_F, Qt::ControlModifier); // the find bar's too
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        if (!widget->isVisible() ||
            (widget->focusPolicy() == Qt::NoFocus && !qobject_cast<QAbstractButton *>(widget)))
            continue;
        const QString name = QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
        QVERIFY2(name.contains(QRegularExpression("[A-Za-z]{2}")),
                 qPrintable(widget->objectName() + ' ' + widget->metaObject()->className()));
    }
}

void TestForm1::undoAndRedo() {
    QTest::keyClicks(text2(), frame('4'));
    QTest::keyClick(text2(), Qt::Key_Return);
    QTest::keyClicks(text2(), frame('Z'));
    QCOMPARE(label2(), "1/2");
    QTest::keyClick(text2(), Qt::Key_Z, Qt::ControlModifier); // the typed second frame
    QCOMPARE(text2()->toPlainText(), frame('4') + QLatin1Char('\n'));
    QCOMPARE(label2(), "1/1");
    QTest::keyClick(text2(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(text2()->toPlainText(), frame('4') + QLatin1Char('\n') + frame('Z'));
    QCOMPARE(label2(), "1/2");
}

// A pasted line of megabytes is kept to the character; a key inside it lands
// where the cursor is.
void TestForm1::longLineKeptExactly() {
    const QString junk = QString(5'000'000, QLatin1Char('7'));
    paste(frame('4') + QLatin1Char('\n') + junk);
    text2()->setCursorPosition({1, 2'500'000});
    QTest::keyClick(text2(), Qt::Key_X);
    QString expected = frame('4') + QLatin1Char('\n') + junk;
    expected.insert(frame('4').size() + 1 + 2'500'000, QLatin1Char('x'));
    QCOMPARE(text2()->toPlainText(), expected);
}

// An idle window does no work: the caret stops blinking after a while.
void TestForm1::idleWindowDoesNoWork() {
    QGuiApplication::styleHints()->setCursorFlashTime(20);
    QTest::keyClick(text2(), Qt::Key_2);
    PaintCounter counter;
    text2()->viewport()->installEventFilter(&counter);
    QTest::qWait(150);
    QVERIFY(counter.paints > 0); // blinking
    QTest::qWait(400);
    counter.paints = 0;
    QTest::qWait(300);
    QCOMPARE(counter.paints, 0);
    QGuiApplication::styleHints()->setCursorFlashTime(1000);
}

// "Info" twice leaves one about window; closed, it is built afresh with the
// same content; Exit closes the main window only.
void TestForm1::oneAboutWindowWithItsVersion() {
    const auto aboutWindows = [] {
        QList<Form2 *> found;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *about = qobject_cast<Form2 *>(w); about && about->isVisible())
                found.append(about);
        return found;
    };
    QAction *info = control<QAction>("MnuInfo");
    info->trigger();
    info->trigger();
    QCOMPARE(aboutWindows().size(), 1);
    QPointer<Form2> first = aboutWindows().first();
    QCOMPARE(first->windowTitle(), " Info");
    QVERIFY(!first->parent() && !first->isModal());
    QApplication::setActiveWindow(first);
    QTest::keyClick(first, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(first.isNull());
    info->trigger();
    QCOMPARE(aboutWindows().first()->findChild<QLabel *>("Label2")->text(),
             "Version Ver. 0.1    (30 June 2014)");
    control<QAction>("MnuExit")->trigger();
    QVERIFY(!window->isVisible());
    QCOMPARE(aboutWindows().size(), 1);
    delete aboutWindows().first();
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
