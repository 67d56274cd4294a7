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

int pixelsOf(const QImage &image, QRect band, QColor colour) {
    int count = 0;
    band &= image.rect();
    for (int y = band.top(); y <= band.bottom(); ++y)
        for (int x = band.left(); x <= band.right(); ++x)
            count += image.pixelColor(x, y) == colour;
    return count;
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
    QTest::addColumn<QString>("needle");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("status");
    // Text: "S KADRIN 2467" / "frame kadrin" / "KADRIN" / "nothing"
    const int none = 0;
    const int shift = int(Qt::ShiftModifier);
    QTest::addRow("typing finds") << 0 << "kadrin" << none << none << false << 0 << 2 << "";
    QTest::addRow("typing finds from the cursor")
        << 1 << "kadrin" << none << none << false << 1 << 6 << "";
    QTest::addRow("Enter: next") << 0 << "kadrin" << int(Qt::Key_Return) << none << false << 1
                                 << 6 << "";
    QTest::addRow("F3: next") << 1 << "kadrin" << int(Qt::Key_F3) << none << false << 2 << 0
                              << "";
    QTest::addRow("Enter at the last: wraps")
        << 2 << "kadrin" << int(Qt::Key_Return) << none << false << 0 << 2 << "wrapped";
    QTest::addRow("Shift+Enter: previous")
        << 1 << "kadrin" << int(Qt::Key_Return) << shift << false << 0 << 2 << "";
    QTest::addRow("Shift+F3 at the first: wraps")
        << 0 << "kadrin" << int(Qt::Key_F3) << shift << false << 2 << 0 << "wrapped";
    QTest::addRow("match case") << 1 << "KADRIN" << none << none << true << 2 << 0 << "";
    // The selection stays on the last match, of "kadri".
    QTest::addRow("no match") << 0 << "kadrim" << none << none << false << 0 << 2 << "no match";
}

void TestBeaconEdit::find() {
    QFETCH(int, fromLine);
    QFETCH(QString, needle);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, matchCase);
    QFETCH(int, line);
    QFETCH(int, column);
    QFETCH(QString, status);
    edit_->setPlainText(QStringLiteral("S KADRIN 2467\nframe kadrin\nKADRIN\nnothing"));
    edit_->setCursorPosition({fromLine, 0});
    QTest::keyClick(edit_, Qt::Key_F, Qt::ControlModifier);
    auto *text = edit_->findChild<QLineEdit *>(QStringLiteral("findText"));
    QVERIFY(text->hasFocus());
    edit_->findChild<QToolButton *>(QStringLiteral("findCase"))->setChecked(matchCase);
    QTest::keyClicks(text, needle);
    if (key)
        QTest::keyClick(text, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    const TextPosition start = edit_->anchorPosition();
    QCOMPARE(start.line, line);
    QCOMPARE(start.column, column);
    QCOMPARE(edit_->selectedText().compare(needle, Qt::CaseInsensitive) == 0,
             status != QLatin1String("no match"));
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
    QCOMPARE(pixelsOf(view, QRect(0, 0, 200, row), MatchGround), 0);
    QVERIFY(pixelsOf(view, QRect(0, 0, 200, row), edit_->palette().highlight().color()) > 0);
    QVERIFY(pixelsOf(view, QRect(0, row, 200, row), MatchGround) > 0);
    QVERIFY(pixelsOf(view, QRect(0, 2 * row, 200, row), MatchGround) > 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QVERIFY(edit_->hasFocus());
    QCOMPARE(edit_->viewport()->geometry().top(), textTop);
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
    QCOMPARE(start, 2);
    QCOMPARE(end, 8);
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
