// The beacon text box on its own: the find bar, what assistive tools read,
// text being composed by an input method, word moves and double-clicks.

#include "app/beaconedit.h"

#include <QAccessible>
#include <QApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

namespace {

// The ground the box gives the matches in view other than the current one.
const QColor MatchGround(255, 226, 110);

// Whether a pixel of line row of a grab of the text has the colour.
bool rowHas(const QImage &image, int row, int rowHeight, QColor colour) {
    for (int y = row * rowHeight; y < (row + 1) * rowHeight; ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == colour)
                return true;
    return false;
}

} // namespace

class TestBeaconEdit : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup() { delete window_; }
    void find_data();
    void find();
    void findBar();
    void findScrollsOnlyWhenNeeded();
    void accessible();
    void preedit();
    void wordMoves_data();
    void wordMoves();
    void doubleClickSelectsWord();

private:
    QWidget *window_ = nullptr;
    BeaconEdit *edit_ = nullptr;
};

void TestBeaconEdit::init() {
    // The box and a control after it, where the focus could go.
    window_ = new QWidget;
    edit_ = new BeaconEdit(window_);
    edit_->resize(400, 200);
    (new QLineEdit(window_))->move(0, 210);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    edit_->setFocus();
}

void TestBeaconEdit::find_data() {
    QTest::addColumn<int>("fromLine");
    QTest::addColumn<QString>("needle"); // typed into the bar; "Aa" before it: match case
    QTest::addColumn<QString>("keys");   // then pressed there
    QTest::addColumn<QPoint>("found");   // column, line
    QTest::addColumn<QString>("status");
    // Text: "S KADRIN 2467" / "frame kadrin" / "KADRIN" / "nothing"
    QTest::addRow("typing finds") << 0 << "kadrin" << "" << QPoint(2, 0) << "";
    QTest::addRow("typing finds from the cursor") << 1 << "kadrin" << "" << QPoint(6, 1) << "";
    QTest::addRow("Enter: next") << 0 << "kadrin" << "Return" << QPoint(6, 1) << "";
    QTest::addRow("F3: next") << 1 << "kadrin" << "F3" << QPoint(0, 2) << "";
    QTest::addRow("Enter at the last: wraps") << 2 << "kadrin" << "Return" << QPoint(2, 0) << "wrapped";
    QTest::addRow("Shift+Enter: previous") << 1 << "kadrin" << "Shift+Return" << QPoint(2, 0) << "";
    QTest::addRow("Shift+F3 at the first: wraps") << 0 << "kadrin" << "Shift+F3" << QPoint(0, 2) << "wrapped";
    QTest::addRow("match case") << 1 << "AaKADRIN" << "" << QPoint(0, 2) << "";
    // The selection stays on the last match, of "kadri".
    QTest::addRow("no match") << 0 << "kadrim" << "" << QPoint(2, 0) << "no match";
}

void TestBeaconEdit::find() {
    QFETCH(int, fromLine);
    QFETCH(QString, needle);
    QFETCH(QString, keys);
    QFETCH(QPoint, found);
    QFETCH(QString, status);
    edit_->setPlainText(QStringLiteral("S KADRIN 2467\nframe kadrin\nKADRIN\nnothing"));
    edit_->setCursorPosition({fromLine, 0});
    QTest::keyClick(edit_, Qt::Key_F, Qt::ControlModifier);
    auto *text = edit_->findChild<QLineEdit *>(QStringLiteral("findText"));
    QVERIFY(text->hasFocus());
    if (needle.startsWith(QLatin1String("Aa")))
        edit_->findChild<QToolButton *>(QStringLiteral("findCase"))->setChecked(true);
    QTest::keyClicks(text, needle.mid(needle.startsWith(QLatin1String("Aa")) ? 2 : 0));
    if (!keys.isEmpty())
        QTest::keySequence(text, QKeySequence(keys));
    QCOMPARE(QPoint(edit_->anchorPosition().column, edit_->anchorPosition().line), found);
    QCOMPARE(edit_->selectedText().toLower(), status == "no match" ? "kadri" : "kadrin");
    QCOMPARE(edit_->findChild<QLabel *>(QStringLiteral("findStatus"))->text(), status);
}

// The bar sits over a strip at the top that the text leaves free; every
// match in view has a ground of its own, the current one is selected;
// Escape closes the bar and gives the text the focus.
void TestBeaconEdit::findBar() {
    edit_->setPlainText(QStringLiteral("kadrin\nkadrin\nkadrin"));
    const QRect box = edit_->geometry();
    const int textTop = edit_->viewport()->geometry().top();
    QTest::keyClick(edit_, Qt::Key_F, Qt::ControlModifier);
    auto *bar = edit_->findChild<QWidget *>(QStringLiteral("findBar"));
    QVERIFY(bar->isVisible());
    QCOMPARE(edit_->viewport()->geometry().top(), textTop + bar->height());
    QVERIFY(bar->geometry().right() > edit_->width() / 2);
    QCOMPARE(edit_->geometry(), box);
    QTest::keyClicks(edit_->findChild<QLineEdit *>(QStringLiteral("findText")), "kadrin");
    const QImage view = edit_->viewport()->grab().toImage();
    const int row = edit_->fontMetrics().lineSpacing();
    QVERIFY(rowHas(view, 0, row, edit_->palette().highlight().color()));
    QVERIFY(!rowHas(view, 0, row, MatchGround));
    QVERIFY(rowHas(view, 1, row, MatchGround) && rowHas(view, 2, row, MatchGround));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QVERIFY(edit_->hasFocus());
    QCOMPARE(edit_->viewport()->geometry().top(), textTop);
}

// A match in view is shown where it is; one out of view is brought into it.
void TestBeaconEdit::findScrollsOnlyWhenNeeded() {
    const QFontMetrics metrics(edit_->font());
    const int room = edit_->viewport()->width() - BeaconEdit::MarginWidth - 4; // and the cursor
    QString line = QStringLiteral("qrm"); // ending in the last pixels in view
    while (metrics.horizontalAdvance(QLatin1Char('2') + line) <= room)
        line.prepend(QLatin1Char('2'));
    const int second = metrics.horizontalAdvance(line + QString(200, '2')); // where the next starts
    edit_->setPlainText(line + QString(200, '2') + QStringLiteral("qrm"));
    QTest::keyClick(edit_, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(edit_->findChild<QLineEdit *>(QStringLiteral("findText")), "qrm");
    QScrollBar *sideways = edit_->horizontalScrollBar();
    QCOMPARE(sideways->value(), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY2(sideways->value() <= second &&
                 second + metrics.horizontalAdvance(QStringLiteral("qrm")) <= sideways->value() + room,
             qPrintable(QString::number(sideways->value())));
}

void TestBeaconEdit::accessible() {
    edit_->setPlainText(QStringLiteral("S KADRIN\nab"));
    edit_->setCursorPosition({1, 1});
    QAccessibleInterface *box = QAccessible::queryAccessibleInterface(edit_);
    QVERIFY(box && box->textInterface() && box->editableTextInterface());
    QCOMPARE(box->role(), QAccessible::EditableText);
    QCOMPARE(box->text(QAccessible::Name), QStringLiteral("Beacon text"));
    QAccessibleTextInterface *text = box->textInterface();
    QCOMPARE(text->characterCount(), 11);
    QCOMPARE(text->text(0, 11), QStringLiteral("S KADRIN\nab"));
    QCOMPARE(text->cursorPosition(), 10);
    int start = 0, end = 0;
    QCOMPARE(text->textAtOffset(4, QAccessible::WordBoundary, &start, &end), "KADRIN");
    QCOMPARE(QPoint(start, end), QPoint(2, 8));
    QCOMPARE(text->textAtOffset(10, QAccessible::LineBoundary, &start, &end), "ab");
    QCOMPARE(text->textBeforeOffset(10, QAccessible::LineBoundary, &start, &end), "S KADRIN\n");
    text->setCursorPosition(3);
    QCOMPARE(edit_->cursorPosition(), (TextPosition{0, 3}));
    text->setSelection(0, 9, 11);
    QCOMPARE(edit_->selectedText(), "ab");
    box->editableTextInterface()->insertText(9, QStringLiteral("x"));
    QCOMPARE(edit_->toPlainText(), "S KADRIN\nxab");
}

// Composed text is drawn at the cursor and enters the text when committed.
void TestBeaconEdit::preedit() {
    edit_->setPlainText(QStringLiteral("S KADRIN"));
    edit_->setCursorPosition({0, 2});
    const QImage before = edit_->viewport()->grab().toImage();
    QInputMethodEvent compose(QStringLiteral("ka"), {});
    QApplication::sendEvent(edit_, &compose);
    QVERIFY(edit_->viewport()->grab().toImage() != before);
    QCOMPARE(edit_->toPlainText(), "S KADRIN");
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("\u304B"));
    QApplication::sendEvent(edit_, &commit);
    QCOMPARE(edit_->toPlainText(), "S \u304BKADRIN");
}

void TestBeaconEdit::wordMoves_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("text");
    // "cafe" + combining acute, a blank, two letters outside the BMP, a blank, "x".
    const QString line = QStringLiteral("cafe\u0301 \U0001D400\U0001D401 x");
    QTest::addRow("Ctrl+Right over an accent") << 0 << int(Qt::Key_Right) << 6 << line;
    QTest::addRow("Ctrl+Right over surrogate pairs") << 6 << int(Qt::Key_Right) << 11 << line;
    QTest::addRow("Ctrl+Left to the word start") << 11 << int(Qt::Key_Left) << 6 << line;
    QTest::addRow("Ctrl+Left over an accent") << 6 << int(Qt::Key_Left) << 0 << line;
    QTest::addRow("Ctrl+Backspace") << 10 << int(Qt::Key_Backspace) << 6
                                    << QStringLiteral("cafe\u0301  x");
    QTest::addRow("Ctrl+Delete") << 0 << int(Qt::Key_Delete) << 0
                                 << QStringLiteral("\U0001D400\U0001D401 x");
}

void TestBeaconEdit::wordMoves() {
    QFETCH(int, from);
    QFETCH(int, key);
    QFETCH(int, to);
    QFETCH(QString, text);
    edit_->setPlainText(QStringLiteral("cafe\u0301 \U0001D400\U0001D401 x"));
    edit_->setCursorPosition({0, from});
    QTest::keyClick(edit_, Qt::Key(key), Qt::ControlModifier);
    QCOMPARE(edit_->cursorPosition().column, to);
    QCOMPARE(edit_->toPlainText(), text);
}

void TestBeaconEdit::doubleClickSelectsWord() {
    edit_->setPlainText(QStringLiteral("x cafe\u0301 y"));
    const QFontMetrics metrics = edit_->fontMetrics();
    const QPoint onF(BeaconEdit::MarginWidth + 2 + metrics.horizontalAdvance(QStringLiteral("x ca")) +
                         metrics.horizontalAdvance(u'f') / 2,
                     metrics.lineSpacing() / 2);
    QTest::mouseDClick(edit_->viewport(), Qt::LeftButton, {}, onF);
    QCOMPARE(edit_->selectedText(), QStringLiteral("cafe\u0301"));
}

QTEST_MAIN(TestBeaconEdit)
#include "tst_beaconedit.moc"
