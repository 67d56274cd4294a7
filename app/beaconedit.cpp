#include "app/beaconedit.h"

#include "beaconeditaccessible.h"
#include "decoder/lines.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStringMatcher>
#include <QStyleHints>
#include <QTextBoundaryFinder>
#include <QToolButton>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

// Lines longer than this are drawn and hit-tested by column from a fixed
// character width, laying out only the part in view.
constexpr int LongLine = 4096;
// Space between the margin and the first character.
constexpr int TextGap = 2;
// Caret blinks stop after this many changes (10 s), so an idle window
// does no work at all.
constexpr int Blinks = 20;
// Word boundaries in a long line are looked for this far around a column.
constexpr int WordWindow = 512;
// The ground of the matches in view other than the current one.
const QColor MatchGround(255, 226, 110);

} // namespace

QPair<int, int> BeaconEdit::wordWindow(const QString &line, int column) {
    if (line.size() <= LongLine)
        return {0, int(line.size())};
    const int from = std::max(column - WordWindow, 0);
    return {from, std::min(int(line.size()), column + WordWindow) - from};
}

BeaconEdit::BeaconEdit(QWidget *parent)
    : QAbstractScrollArea(parent), document_(new LineDocument(this)) {
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(accessibleBeaconEdit);
        return true;
    }();
    Q_UNUSED(accessibleInstalled);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(document_, &LineDocument::linesChanged, this, [this](int first, int removed, int added) {
        updateScrollBars();
        viewport()->update();
        emit linesChanged(first, removed, added);
    });
    connect(document_, &LineDocument::modificationChanged, this,
            &BeaconEdit::modificationChanged);
    connect(document_, &LineDocument::edited, this, &BeaconEdit::noteChanged);

    // The find bar, hidden until Ctrl+F.
    findBar_ = new QFrame(this);
    findBar_->setObjectName(QStringLiteral("findBar"));
    static_cast<QFrame *>(findBar_)->setFrameShape(QFrame::StyledPanel);
    findBar_->setAutoFillBackground(true);
    auto *layout = new QHBoxLayout(findBar_);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(2);
    findText_ = new QLineEdit(findBar_);
    findText_->setObjectName(QStringLiteral("findText"));
    findText_->setPlaceholderText(tr("Find"));
    findText_->setAccessibleName(tr("Find"));
    findText_->installEventFilter(this);
    const auto button = [this, layout](const QString &text, const QString &name, const QString &keys) {
        auto *b = new QToolButton(findBar_);
        b->setText(text);
        b->setAccessibleName(name);
        b->setToolTip(keys.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, keys));
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(b);
        return b;
    };
    layout->addWidget(findText_);
    findCase_ = button(QStringLiteral("Aa"), tr("Match case"), QString());
    findCase_->setObjectName(QStringLiteral("findCase"));
    findCase_->setCheckable(true);
    connect(button(QStringLiteral("\u25B2"), tr("Previous match"), QStringLiteral("Shift+F3")),
            &QToolButton::clicked, this, &BeaconEdit::findPrevious);
    connect(button(QStringLiteral("\u25BC"), tr("Next match"), QStringLiteral("F3")),
            &QToolButton::clicked, this, &BeaconEdit::findNext);
    findStatus_ = new QLabel(findBar_);
    findStatus_->setObjectName(QStringLiteral("findStatus"));
    findStatus_->setMinimumWidth(findStatus_->fontMetrics().horizontalAdvance(tr("wrapped ")));
    layout->insertWidget(1, findStatus_);
    connect(button(QStringLiteral("\u2715"), tr("Close the find bar"), QStringLiteral("Escape")),
            &QToolButton::clicked, this, &BeaconEdit::closeFind);
    // Typing searches from where the current match starts, so that it grows.
    connect(findText_, &QLineEdit::textEdited, this,
            [this] { findFrom(selectionStart(), false); });
    connect(findCase_, &QToolButton::toggled, this, [this] {
        findFrom(selectionStart(), false);
    });
    findBar_->hide();
}

BeaconEdit::~BeaconEdit() = default;

// ---- the text ------------------------------------------------------------

void BeaconEdit::setPlainText(const QString &text) {
    std::vector<QString> lines;
    forEachLine(text, [&lines](QStringView line) { lines.push_back(line.toString()); });
    setLines(std::move(lines));
}

void BeaconEdit::setLines(std::vector<QString> lines) {
    cursor_ = anchor_ = {};
    preferredX_ = -1;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    document_->setLines(std::move(lines));
}

int BeaconEdit::appendLines(const QStringList &lines) {
    if (lines.isEmpty())
        return document_->appendLines(lines);
    const TextPosition end = document_->end();
    const bool cursorAtEnd = cursor_ == end && anchor_ == end;
    const bool endInView = end.line < firstVisibleLine() + visibleLines();
    const int first = document_->appendLines(lines);
    if (cursorAtEnd)
        cursor_ = anchor_ = document_->end();
    if (endInView)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    return first;
}

void BeaconEdit::edit(TextPosition from, TextPosition to, const QString &text, bool typing) {
    const TextPosition end = document_->replace(
        from, to, text, typing ? LineDocument::Edit::Typing : LineDocument::Edit::Paste);
    anchor_ = cursor_ = end;
    preferredX_ = -1;
    ensureCursorVisible();
    restartBlinking();
    noteCursorMoved();
}

void BeaconEdit::insertAtCursor(const QString &text, bool typing) {
    edit(selectionStart(), selectionEnd(), text, typing);
}

void BeaconEdit::deleteSelection() {
    if (hasSelection())
        edit(selectionStart(), selectionEnd(), QString());
}

// Accessibility events, only when a tool listens: an offset costs a walk
// over the lines before it the first time.
void BeaconEdit::noteChanged(TextPosition from, const QString &removed, const QString &inserted) {
    if (!QAccessible::isActive())
        return;
    const int at = int(document_->offsetOf(from));
    if (!removed.isEmpty()) {
        QAccessibleTextRemoveEvent event(this, at, removed);
        QAccessible::updateAccessibility(&event);
    }
    if (!inserted.isEmpty()) {
        QAccessibleTextInsertEvent event(this, at, inserted);
        QAccessible::updateAccessibility(&event);
    }
}

void BeaconEdit::noteCursorMoved() {
    if (!QAccessible::isActive())
        return;
    QAccessibleTextCursorEvent event(this, int(document_->offsetOf(cursor_)));
    QAccessible::updateAccessibility(&event);
}

QString BeaconEdit::selectedText() const {
    return document_->textBetween(selectionStart(), selectionEnd());
}

void BeaconEdit::setCursorPosition(TextPosition position, bool keepAnchor) {
    cursor_ = clamp(position);
    if (!keepAnchor)
        anchor_ = cursor_;
    ensureCursorVisible();
    restartBlinking();
    viewport()->update();
    noteCursorMoved();
}

void BeaconEdit::select(TextPosition anchor, TextPosition cursor) {
    anchor_ = clamp(anchor);
    setCursorPosition(cursor, true);
}

void BeaconEdit::setMarkSource(std::function<LineMark(int)> source) {
    marks_ = std::move(source);
    viewport()->update();
}

void BeaconEdit::afterUndo(TextPosition end) {
    if (end.line < 0)
        return;
    anchor_ = cursor_ = end;
    ensureCursorVisible();
    noteCursorMoved();
}

void BeaconEdit::undo() {
    afterUndo(document_->undo());
}

void BeaconEdit::redo() {
    afterUndo(document_->redo());
}

void BeaconEdit::cut() {
    if (!hasSelection())
        return;
    copy();
    deleteSelection();
}

void BeaconEdit::copy() {
    copySelectionTo(QClipboard::Clipboard);
}

void BeaconEdit::copySelectionTo(int mode) const {
    if (mode == QClipboard::Selection && !QGuiApplication::clipboard()->supportsSelection())
        return;
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText(), QClipboard::Mode(mode));
}

void BeaconEdit::paste() {
    const QString text = QGuiApplication::clipboard()->text();
    if (!text.isEmpty())
        insertAtCursor(text);
}

void BeaconEdit::selectAll() {
    anchor_ = {};
    cursor_ = document_->end();
    copySelectionTo(QClipboard::Selection);
    viewport()->update();
}

// ---- find ------------------------------------------------------------------

void BeaconEdit::openFind() {
    if (hasSelection() && selectionStart().line == selectionEnd().line)
        findText_->setText(selectedText());
    findBar_->show();
    placeFindBar();
    findText_->selectAll();
    findText_->setFocus();
    viewport()->update();
}

void BeaconEdit::closeFind() {
    findBar_->hide();
    setViewportMargins(0, 0, 0, 0);
    setFocus();
    viewport()->update();
}

// At the top right, over a strip the text moves down to leave free.
void BeaconEdit::placeFindBar() {
    if (findBar_->isHidden())
        return;
    const QSize size = findBar_->sizeHint();
    const int right = width() - frameWidth() -
                      (verticalScrollBar()->isVisible() ? verticalScrollBar()->width() : 0);
    findBar_->setGeometry(std::max(right - size.width(), frameWidth()), frameWidth(),
                          std::min(size.width(), right - frameWidth()), size.height());
    setViewportMargins(0, size.height(), 0, 0);
}

Qt::CaseSensitivity BeaconEdit::findSensitivity() const {
    return findCase_->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
}

void BeaconEdit::find(bool backwards) {
    if (findText_->text().isEmpty()) {
        openFind();
        return;
    }
    findFrom(backwards ? selectionStart() : selectionEnd(), backwards);
}

// Selects the next match at or after from (before it, backwards).
void BeaconEdit::findFrom(TextPosition from, bool backwards) {
    const QString needle = findText_->text();
    viewport()->update();
    if (needle.isEmpty()) {
        findStatus_->clear();
        return;
    }
    bool wrapped = false;
    const TextPosition match =
        document_->find(needle, from, backwards, findSensitivity(), &wrapped);
    if (match.line < 0) {
        findStatus_->setText(tr("no match"));
        return;
    }
    findStatus_->setText(wrapped ? tr("wrapped") : QString());
    select(match, {match.line, match.column + int(needle.size())});
}

// ---- moving within the text -------------------------------------------

TextPosition BeaconEdit::nextCharacter(TextPosition p) const {
    const QString &line = document_->line(p.line);
    if (p.column >= line.size())
        return p.line + 1 < lineCount() ? TextPosition{p.line + 1, 0} : p;
    if (!isLong(p.line)) {
        QTextLayout layout;
        layOut(layout, p.line, 0, int(line.size()));
        return {p.line, layout.nextCursorPosition(p.column)};
    }
    const bool pair = line[p.column].isHighSurrogate() && p.column + 1 < line.size() &&
                      line[p.column + 1].isLowSurrogate();
    return {p.line, p.column + (pair ? 2 : 1)};
}

TextPosition BeaconEdit::previousCharacter(TextPosition p) const {
    const QString &line = document_->line(p.line);
    if (p.column <= 0)
        return p.line > 0 ? TextPosition{p.line - 1, int(document_->line(p.line - 1).size())} : p;
    if (!isLong(p.line)) {
        QTextLayout layout;
        layOut(layout, p.line, 0, int(line.size()));
        return {p.line, layout.previousCursorPosition(p.column)};
    }
    const bool pair = p.column >= 2 && line[p.column - 1].isLowSurrogate() &&
                      line[p.column - 2].isHighSurrogate();
    return {p.line, p.column - (pair ? 2 : 1)};
}

// The start of the next word in the line, else its end; at the end of a
// line, the start of the next.
TextPosition BeaconEdit::nextWord(TextPosition p) const {
    const QString &line = document_->line(p.line);
    if (p.column >= line.size())
        return nextCharacter(p);
    const QPair<int, int> window = wordWindow(line, p.column);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word,
                               QStringView(line).mid(window.first, window.second).toString());
    finder.setPosition(p.column - window.first);
    int at;
    while ((at = finder.toNextBoundary()) >= 0 && at < window.second &&
           !(finder.boundaryReasons() & QTextBoundaryFinder::StartOfItem)) {
    }
    return {p.line, window.first + (at < 0 ? window.second : at)};
}

// The start of the word before the column (or that it is in); at the start
// of a line, the end of the one before.
TextPosition BeaconEdit::previousWord(TextPosition p) const {
    if (p.column == 0)
        return previousCharacter(p);
    const QString &line = document_->line(p.line);
    const QPair<int, int> window = wordWindow(line, p.column);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word,
                               QStringView(line).mid(window.first, window.second).toString());
    finder.setPosition(p.column - window.first);
    int at;
    while ((at = finder.toPreviousBoundary()) > 0 &&
           !(finder.boundaryReasons() & QTextBoundaryFinder::StartOfItem)) {
    }
    return {p.line, window.first + std::max(at, 0)};
}

TextPosition BeaconEdit::lineBelow(TextPosition p, int lines) const {
    const int x = preferredX_ >= 0 ? preferredX_ : columnX(p.line, p.column);
    const int target = std::clamp(p.line + lines, 0, lineCount() - 1);
    if (target == p.line)
        return lines < 0 ? TextPosition{p.line, 0}
                         : TextPosition{p.line, int(document_->line(p.line).size())};
    const QPoint point(x + MarginWidth + TextGap - horizontalScrollBar()->value(),
                       (target - firstVisibleLine()) * lineHeight_ + lineHeight_ / 2);
    TextPosition found = positionAt(point);
    found.line = target;
    return clamp(found);
}

// Cursor keys, with Shift extending the selection. True when handled.
bool BeaconEdit::moveKey(QKeyEvent *event) {
    struct Move {
        QKeySequence::StandardKey plain;
        QKeySequence::StandardKey select;
        std::function<TextPosition(TextPosition)> to;
        bool vertical;
    };
    const int page = std::max(visibleLines() - 1, 1);
    const Move moves[] = {
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar,
         [this](TextPosition p) { return nextCharacter(p); }, false},
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar,
         [this](TextPosition p) { return previousCharacter(p); }, false},
        {QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord,
         [this](TextPosition p) { return nextWord(p); }, false},
        {QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord,
         [this](TextPosition p) { return previousWord(p); }, false},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine,
         [this](TextPosition p) { return lineBelow(p, 1); }, true},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine,
         [this](TextPosition p) { return lineBelow(p, -1); }, true},
        {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage,
         [this, page](TextPosition p) { return lineBelow(p, page); }, true},
        {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage,
         [this, page](TextPosition p) { return lineBelow(p, -page); }, true},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine,
         [](TextPosition p) {
             return TextPosition{p.line, 0};
         },
         false},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine,
         [this](TextPosition p) {
             return TextPosition{p.line, int(document_->line(p.line).size())};
         },
         false},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument,
         [](TextPosition) { return TextPosition{}; }, false},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument,
         [this](TextPosition) { return document_->end(); }, false},
    };
    for (const Move &move : moves) {
        const bool select = event->matches(move.select);
        if (!select && !event->matches(move.plain))
            continue;
        TextPosition target;
        if (!select && hasSelection() &&
            (move.plain == QKeySequence::MoveToNextChar ||
             move.plain == QKeySequence::MoveToPreviousChar))
            target = move.plain == QKeySequence::MoveToNextChar ? selectionEnd() : selectionStart();
        else
            target = move.to(cursor_);
        const int x = preferredX_ >= 0 ? preferredX_ : columnX(cursor_.line, cursor_.column);
        setCursorPosition(target, select);
        preferredX_ = move.vertical ? x : -1;
        if (select)
            copySelectionTo(QClipboard::Selection);
        return true;
    }
    return false;
}

// ---- keys, mouse and input methods --------------------------------------

void BeaconEdit::keyPressEvent(QKeyEvent *event) {
    const bool findNextKey = event->matches(QKeySequence::FindNext) ||
                             (event->key() == Qt::Key_F3 && !(event->modifiers() & ~Qt::ShiftModifier));
    if (moveKey(event))
        return;
    if (event->matches(QKeySequence::Find)) {
        openFind();
    } else if (findNextKey || event->matches(QKeySequence::FindPrevious)) {
        if (event->matches(QKeySequence::FindPrevious) || (event->modifiers() & Qt::ShiftModifier))
            findPrevious();
        else
            findNext();
    } else if (event->key() == Qt::Key_Escape && findBar_->isVisible()) {
        closeFind();
    } else if (event->matches(QKeySequence::Undo)) {
        undo();
    } else if (event->matches(QKeySequence::Redo)) {
        redo();
    } else if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::Cut)) {
        cut();
    } else if (event->matches(QKeySequence::Paste)) {
        paste();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->matches(QKeySequence::DeleteStartOfWord)) {
        if (!hasSelection())
            anchor_ = previousWord(cursor_);
        deleteSelection();
    } else if (event->matches(QKeySequence::DeleteEndOfWord)) {
        if (!hasSelection())
            anchor_ = nextWord(cursor_);
        deleteSelection();
    } else if (event->matches(QKeySequence::Delete) ||
               (event->key() == Qt::Key_Backspace &&
                !(event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)))) {
        if (!hasSelection())
            anchor_ = event->key() == Qt::Key_Backspace ? previousCharacter(cursor_)
                                                        : nextCharacter(cursor_);
        deleteSelection();
    } else if (event->matches(QKeySequence::InsertParagraphSeparator) ||
               event->matches(QKeySequence::InsertLineSeparator)) {
        insertAtCursor(QStringLiteral("\n"));
    } else {
        QString text = event->text();
        const bool printable =
            !text.isEmpty() && std::all_of(text.begin(), text.end(),
                                           [](QChar c) { return c.isPrint() || c.isSurrogate(); });
        if (!printable || (event->modifiers() & Qt::ControlModifier)) {
            event->ignore();
            return;
        }
        insertAtCursor(text, true);
    }
    event->accept();
}

// The keys of the find bar's text: Enter and F3 go to the next match, with
// Shift to the previous; Escape closes the bar.
bool BeaconEdit::eventFilter(QObject *watched, QEvent *event) {
    if (watched != findText_ || event->type() != QEvent::KeyPress)
        return QAbstractScrollArea::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    const bool shift = key->modifiers() & Qt::ShiftModifier;
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_F3 ||
        key->matches(QKeySequence::FindNext) || key->matches(QKeySequence::FindPrevious)) {
        find(shift || key->matches(QKeySequence::FindPrevious));
    } else if (key->key() == Qt::Key_Escape) {
        closeFind();
    } else if (key->matches(QKeySequence::Find)) {
        findText_->selectAll();
    } else {
        return false;
    }
    return true;
}

// Text being composed is shown at the cursor, underlined, and enters the
// document only when the input method commits it.
void BeaconEdit::inputMethodEvent(QInputMethodEvent *event) {
    const QString commit = event->commitString();
    if (event->replacementLength() > 0 && !hasSelection()) {
        const int from = std::max(cursor_.column + event->replacementStart(), 0);
        anchor_ = clamp({cursor_.line, from});
        cursor_ = clamp({cursor_.line, from + event->replacementLength()});
    }
    if (!commit.isEmpty() || event->replacementLength() > 0 ||
        (!event->preeditString().isEmpty() && hasSelection()))
        insertAtCursor(commit, true);
    preedit_ = event->preeditString();
    preeditCursor_ = int(preedit_.size());
    preeditFormats_.clear();
    for (const QInputMethodEvent::Attribute &attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor) {
            preeditCursor_ = attribute.length > 0 ? attribute.start : -1;
        } else if (attribute.type == QInputMethodEvent::TextFormat) {
            const QTextCharFormat format =
                qvariant_cast<QTextFormat>(attribute.value).toCharFormat();
            if (format.isValid())
                preeditFormats_.append({attribute.start, attribute.length, format});
        }
    }
    viewport()->update();
    event->accept();
}

QVariant BeaconEdit::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return cursorRect().translated(viewport()->pos());
    case Qt::ImFont:
        return font();
    case Qt::ImCursorPosition:
        return cursor_.column;
    case Qt::ImAnchorPosition:
        return anchor_.line == cursor_.line ? anchor_.column : cursor_.column;
    case Qt::ImSurroundingText:
        return isLong(cursor_.line) ? QString() : document_->line(cursor_.line);
    case Qt::ImCurrentSelection:
        return selectedText();
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void BeaconEdit::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::MiddleButton) {
        const QString text = QGuiApplication::clipboard()->text(QClipboard::Selection);
        if (!text.isEmpty()) {
            setCursorPosition(positionAt(event->position().toPoint()));
            insertAtCursor(text);
        }
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - lastDoubleClick_ < QGuiApplication::styleHints()->mouseDoubleClickInterval() &&
        (event->position().toPoint() - lastDoubleClickPoint_).manhattanLength() < 6) {
        // A third click selects the whole line, with its line break.
        const TextPosition at = positionAt(event->position().toPoint());
        select({at.line, 0}, at.line + 1 < lineCount()
                                 ? TextPosition{at.line + 1, 0}
                                 : TextPosition{at.line, int(document_->line(at.line).size())});
        copySelectionTo(QClipboard::Selection);
        return;
    }
    setCursorPosition(positionAt(event->position().toPoint()),
                      event->modifiers() & Qt::ShiftModifier);
    preferredX_ = -1;
    selectingWithMouse_ = true;
}

void BeaconEdit::mouseMoveEvent(QMouseEvent *event) {
    if (!selectingWithMouse_ || !(event->buttons() & Qt::LeftButton))
        return;
    lastDragPoint_ = event->position().toPoint();
    setCursorPosition(positionAt(lastDragPoint_), true);
    if (viewport()->rect().contains(lastDragPoint_))
        dragScrollTimer_.stop();
    else if (!dragScrollTimer_.isActive())
        dragScrollTimer_.start(50, this);
}

void BeaconEdit::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton)
        return;
    selectingWithMouse_ = false;
    dragScrollTimer_.stop();
    copySelectionTo(QClipboard::Selection);
}

// Selects the word (or the blanks between words) at the click: the one that
// ends there when the click is at a word's end.
void BeaconEdit::mouseDoubleClickEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton)
        return;
    const TextPosition at = positionAt(event->position().toPoint());
    const QString &line = document_->line(at.line);
    const QPair<int, int> window = wordWindow(line, at.column);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word,
                               QStringView(line).mid(window.first, window.second).toString());
    const int column = at.column - window.first;
    finder.setPosition(column);
    int start = column;
    int end = column;
    if (finder.isAtBoundary() && (finder.boundaryReasons() & QTextBoundaryFinder::EndOfItem)) {
        start = std::max(int(finder.toPreviousBoundary()), 0);
    } else if (column < window.second) {
        start = finder.isAtBoundary() ? column : std::max(int(finder.toPreviousBoundary()), 0);
        finder.setPosition(start);
        end = finder.toNextBoundary();
        if (end < 0)
            end = window.second;
    }
    select({at.line, window.first + start}, {at.line, window.first + end});
    copySelectionTo(QClipboard::Selection);
    lastDoubleClick_ = QDateTime::currentMSecsSinceEpoch();
    lastDoubleClickPoint_ = event->position().toPoint();
}

void BeaconEdit::contextMenuEvent(QContextMenuEvent *event) {
    QMenu menu(this);
    const bool selection = hasSelection();
    menu.addAction(tr("&Undo"), QKeySequence::Undo, this, &BeaconEdit::undo)
        ->setEnabled(document_->canUndo());
    menu.addAction(tr("&Redo"), QKeySequence::Redo, this, &BeaconEdit::redo)
        ->setEnabled(document_->canRedo());
    menu.addSeparator();
    menu.addAction(tr("Cu&t"), QKeySequence::Cut, this, &BeaconEdit::cut)->setEnabled(selection);
    menu.addAction(tr("&Copy"), QKeySequence::Copy, this, &BeaconEdit::copy)->setEnabled(selection);
    menu.addAction(tr("&Paste"), QKeySequence::Paste, this, &BeaconEdit::paste)
        ->setEnabled(!QGuiApplication::clipboard()->text().isEmpty());
    menu.addAction(tr("Delete"), this, &BeaconEdit::deleteSelection)->setEnabled(selection);
    menu.addSeparator();
    menu.addAction(tr("Select All"), QKeySequence::SelectAll, this, &BeaconEdit::selectAll);
    menu.exec(event->globalPos());
}

void BeaconEdit::focusInEvent(QFocusEvent *event) {
    restartBlinking();
    QAbstractScrollArea::focusInEvent(event);
}

void BeaconEdit::focusOutEvent(QFocusEvent *event) {
    blinkTimer_.stop();
    cursorShown_ = false;
    viewport()->update(cursorRect());
    QAbstractScrollArea::focusOutEvent(event);
}

void BeaconEdit::timerEvent(QTimerEvent *event) {
    if (event->timerId() == blinkTimer_.timerId()) {
        cursorShown_ = !cursorShown_;
        if (--blinksLeft_ <= 0) {
            cursorShown_ = true;
            blinkTimer_.stop();
        }
        viewport()->update(cursorRect());
    } else if (event->timerId() == dragScrollTimer_.timerId()) {
        const QRect area = viewport()->rect();
        if (lastDragPoint_.y() < area.top())
            verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        else if (lastDragPoint_.y() > area.bottom())
            verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        if (lastDragPoint_.x() < area.left())
            horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        else if (lastDragPoint_.x() > area.right())
            horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        setCursorPosition(positionAt(lastDragPoint_), true);
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}

void BeaconEdit::restartBlinking() {
    cursorShown_ = true;
    if (!hasFocus())
        return;
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    blinksLeft_ = Blinks;
    if (flash > 0)
        blinkTimer_.start(flash / 2, this);
    viewport()->update(cursorRect());
}

bool BeaconEdit::viewportEvent(QEvent *event) {
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        const int line = firstVisibleLine() + help->pos().y() / lineHeight_;
        const QString tip = tooltips_ && line < lineCount() ? tooltips_(line) : QString();
        if (tip.isEmpty()) {
            QToolTip::hideText();
        } else {
            const QRect area(0, (line - firstVisibleLine()) * lineHeight_, viewport()->width(),
                             lineHeight_);
            QToolTip::showText(help->globalPos(), tip, viewport(), area);
        }
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

// ---- geometry and painting -----------------------------------------------

bool BeaconEdit::isLong(int line) const {
    return document_->line(line).size() > LongLine;
}

void BeaconEdit::layOut(QTextLayout &layout, int line, int firstColumn, int columns,
                        int preeditAt) const {
    const QString &text = document_->line(line);
    layout.setText(firstColumn == 0 && columns >= text.size() ? text
                                                              : text.mid(firstColumn, columns));
    if (preeditAt >= 0)
        layout.setPreeditArea(preeditAt, preedit_);
    layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(8 * charWidth_);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    QTextLine textLine = layout.createLine();
    if (textLine.isValid()) {
        textLine.setLineWidth(1e6);
        textLine.setPosition(QPointF(0, 0));
    }
    layout.endLayout();
}

int BeaconEdit::columnX(int line, int column) const {
    if (isLong(line) || column == 0)
        return column * charWidth_;
    QTextLayout layout;
    layOut(layout, line, 0, int(document_->line(line).size()));
    return qRound(layout.lineAt(0).cursorToX(column));
}

TextPosition BeaconEdit::positionAt(const QPoint &point) const {
    const int row = point.y() < 0 ? -1 - (-point.y() - 1) / lineHeight_ : point.y() / lineHeight_;
    const int line = std::clamp(firstVisibleLine() + row, 0, lineCount() - 1);
    const int x = point.x() - MarginWidth - TextGap + horizontalScrollBar()->value();
    if (isLong(line))
        return clamp({line, int(std::lround(double(std::max(x, 0)) / charWidth_))});
    QTextLayout layout;
    layOut(layout, line, 0, int(document_->line(line).size()));
    return {line, layout.lineAt(0).xToCursor(x)};
}

QRect BeaconEdit::characterRect(TextPosition p) const {
    p = clamp(p);
    const int x = MarginWidth + TextGap + columnX(p.line, p.column) - horizontalScrollBar()->value();
    const int next = p.column < document_->line(p.line).size()
                         ? MarginWidth + TextGap + columnX(p.line, p.column + 1) -
                               horizontalScrollBar()->value()
                         : x + charWidth_;
    return QRect(x, (p.line - firstVisibleLine()) * lineHeight_, std::max(next - x, 1),
                 lineHeight_);
}

QRect BeaconEdit::cursorRect() const {
    int x = MarginWidth + TextGap + columnX(cursor_.line, cursor_.column) -
            horizontalScrollBar()->value();
    if (!preedit_.isEmpty() && preeditCursor_ > 0)
        x += fontMetrics().horizontalAdvance(preedit_.left(preeditCursor_));
    const int y = (cursor_.line - firstVisibleLine()) * lineHeight_;
    return QRect(x - 1, y, 3, lineHeight_);
}

int BeaconEdit::visibleLines() const {
    return std::max(viewport()->height() / lineHeight_, 1);
}

int BeaconEdit::firstVisibleLine() const {
    return verticalScrollBar()->value();
}

void BeaconEdit::updateScrollBars() {
    const QFontMetrics metrics(font());
    lineHeight_ = std::max(metrics.lineSpacing(), 1);
    charWidth_ = std::max(metrics.horizontalAdvance(QLatin1Char('M')), 1);
    const int visible = visibleLines();
    verticalScrollBar()->setRange(0, std::max(lineCount() - visible, 0));
    verticalScrollBar()->setPageStep(visible);
    verticalScrollBar()->setSingleStep(1);
    const qint64 width =
        qint64(document_->longestLine()) * charWidth_ + MarginWidth + 2 * TextGap + charWidth_;
    const int room = viewport()->width();
    horizontalScrollBar()->setRange(0, int(std::clamp<qint64>(width - room, 0, INT_MAX)));
    horizontalScrollBar()->setPageStep(room);
    horizontalScrollBar()->setSingleStep(charWidth_);
}

void BeaconEdit::ensureCursorVisible() {
    QScrollBar *vertical = verticalScrollBar();
    const int visible = visibleLines();
    if (cursor_.line < vertical->value())
        vertical->setValue(cursor_.line);
    else if (cursor_.line >= vertical->value() + visible)
        vertical->setValue(cursor_.line - visible + 1);

    // Sideways only when the cursor, or a selection on its line that fits
    // (a match found), is out of view; then a quarter of the view further.
    QScrollBar *horizontal = horizontalScrollBar();
    const int x = columnX(cursor_.line, cursor_.column);
    const int room = viewport()->width() - MarginWidth - TextGap - 2; // the cursor is 2 px wide
    const int other = anchor_.line == cursor_.line ? columnX(anchor_.line, anchor_.column) : x;
    const bool both = std::abs(other - x) <= room;
    const int left = both ? std::min(x, other) : x, right = both ? std::max(x, other) : x;
    if (left < horizontal->value())
        horizontal->setValue(std::max(left - room / 4, 0));
    else if (right > horizontal->value() + room)
        horizontal->setValue(std::min(right - room + room / 4, left));
}

void BeaconEdit::resizeEvent(QResizeEvent *event) {
    // A view that showed the end keeps showing it, as a log that grows
    // needs (a horizontal scroll bar that comes takes a line or two).
    QScrollBar *vertical = verticalScrollBar();
    const int visibleBefore = std::max(event->oldSize().height() / lineHeight_, 1);
    const bool atEnd = vertical->value() > 0 && vertical->value() >= lineCount() - visibleBefore;
    QAbstractScrollArea::resizeEvent(event);
    placeFindBar();
    updateScrollBars();
    if (atEnd)
        vertical->setValue(vertical->maximum());
}

void BeaconEdit::scrollContentsBy(int, int) {
    viewport()->update();
}

void BeaconEdit::paintEvent(QPaintEvent *event) {
    QPainter painter(viewport());
    const QRect area = event->rect();
    painter.fillRect(area, palette().base());

    const int first = firstVisibleLine();
    const int xOffset = horizontalScrollBar()->value();
    const int textLeft = MarginWidth + TextGap - xOffset;
    const int width = viewport()->width();
    const TextPosition selFrom = selectionStart();
    const TextPosition selTo = selectionEnd();
    const QRect textArea(MarginWidth, 0, width - MarginWidth, viewport()->height());
    const QString needle = findBar_->isVisible() ? findText_->text() : QString();
    const QStringMatcher matcher(needle, findSensitivity());

    for (int row = std::max(area.top() / lineHeight_, 0);; ++row) {
        const int line = first + row;
        const int y = row * lineHeight_;
        if (line >= lineCount() || y > area.bottom())
            break;
        const LineMark mark = marks_ ? marks_(line) : LineMark();
        if (mark.margin.isValid())
            painter.fillRect(QRect(0, y, MarginWidth - 2, lineHeight_), mark.margin);

        // The part of the line in view: all of it, unless it is long.
        const QString &text = document_->line(line);
        const int length = int(text.size());
        int firstColumn = 0;
        int columns = length;
        if (isLong(line)) {
            firstColumn = std::min(std::max(xOffset / charWidth_ - 2, 0), length);
            columns = width / charWidth_ + 4;
        }
        QTextLayout layout;
        // Text being composed goes in at the cursor; what follows it moves.
        const bool composing = !preedit_.isEmpty() && line == cursor_.line &&
                               cursor_.column >= firstColumn &&
                               cursor_.column <= firstColumn + columns;
        const auto at = [&](int column) {
            return column - firstColumn +
                   (composing && column >= cursor_.column ? int(preedit_.size()) : 0);
        };
        layOut(layout, line, firstColumn, columns, composing ? cursor_.column - firstColumn : -1);

        QList<QTextLayout::FormatRange> formats;
        for (const auto &[column, size] : mark.underlines) {
            QTextLayout::FormatRange range;
            range.start = at(column);
            range.length = size;
            // A light ground and an underline in the mark's colour.
            const QColor colour = mark.margin.isValid() ? mark.margin : QColor(Qt::red);
            range.format.setUnderlineStyle(QTextCharFormat::SingleUnderline);
            range.format.setUnderlineColor(colour);
            range.format.setBackground(colour.lighter(185));
            formats.append(range);
        }
        if (!needle.isEmpty()) {
            // Every match in view; the current one is the selection.
            const QStringView part = QStringView(text).mid(
                firstColumn, std::min<qsizetype>(columns + needle.size(), length - firstColumn));
            for (qsizetype found = matcher.indexIn(part); found >= 0;
                 found = matcher.indexIn(part, found + needle.size())) {
                QTextLayout::FormatRange range;
                range.start = at(firstColumn + int(found));
                range.length = int(needle.size());
                range.format.setBackground(MatchGround);
                formats.append(range);
            }
        }
        if (composing) {
            QTextLayout::FormatRange range;
            range.start = cursor_.column - firstColumn;
            range.length = int(preedit_.size());
            range.format.setFontUnderline(true);
            formats.append(range);
            for (QTextLayout::FormatRange own : preeditFormats_) {
                own.start += cursor_.column - firstColumn;
                formats.append(own);
            }
        }
        const bool selected = hasSelection() && selFrom.line <= line && line <= selTo.line;
        if (selected) {
            const int from = line == selFrom.line ? selFrom.column : 0;
            const int to = line == selTo.line ? selTo.column : length;
            QTextLayout::FormatRange range;
            range.start = at(from);
            range.length = to - from;
            range.format.setBackground(palette().highlight());
            range.format.setForeground(palette().highlightedText());
            formats.append(range);
        }
        painter.save();
        painter.setClipRect(textArea);
        const QPointF origin(textLeft + firstColumn * charWidth_, y);
        layout.draw(&painter, origin, formats);
        if (selected && line < selTo.line) {
            // The selected line break: a little room after the last character.
            const qreal end = layout.lineCount() ? layout.lineAt(0).naturalTextWidth() : 0;
            painter.fillRect(QRectF(origin.x() + end, y, charWidth_ / 2.0, lineHeight_),
                             palette().highlight());
        }
        painter.restore();
    }

    if (hasFocus() && cursorShown_ && !hasSelection() && preeditCursor_ >= 0) {
        const QRect caret = cursorRect();
        if (caret.left() >= MarginWidth)
            painter.fillRect(caret.adjusted(1, 0, -1, 0), palette().text());
    }
}
