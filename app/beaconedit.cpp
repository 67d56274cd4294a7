#include "app/beaconedit.h"

#include "decoder/lines.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QInputMethodEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextLayout>
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

// The pieces of inserted text between line breaks; at least one.
std::vector<QString> piecesOf(const QString &text) {
    std::vector<QString> pieces;
    forEachLine(text, [&pieces](QStringView line) { pieces.push_back(line.toString()); });
    if (pieces.empty())
        pieces.emplace_back();
    return pieces;
}

// The text with every line break as LF; the same string when it has no other.
QString withLineFeeds(const QString &text) {
    const bool otherBreaks = std::any_of(
        text.begin(), text.end(), [](QChar c) { return c != u'\n' && isLineBreak(c.unicode()); });
    if (!otherBreaks)
        return text;
    const std::vector<QString> pieces = piecesOf(text);
    QString joined;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            joined += u'\n';
        joined += pieces[i];
    }
    return joined;
}

// Where text inserted at from ends; text holds LF line breaks only.
TextPosition endOf(TextPosition from, const QString &text) {
    const qsizetype lastBreak = text.lastIndexOf(u'\n');
    if (lastBreak < 0)
        return {from.line, from.column + int(text.size())};
    return {from.line + int(text.count(u'\n')), int(text.size() - lastBreak - 1)};
}

bool isWordCharacter(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}

} // namespace

// One undoable change: removed replaced by inserted at from. Typed
// characters that follow each other merge into one step.
class BeaconEdit::EditCommand : public QUndoCommand {
public:
    EditCommand(BeaconEdit *edit, TextPosition from, QString removed, QString inserted, bool typing)
        : edit_(edit), from_(from), removed_(std::move(removed)), inserted_(std::move(inserted)),
          typing_(typing) {}

    void undo() override { apply(inserted_, removed_); }
    void redo() override {
        if (done_)
            apply(removed_, inserted_);
        done_ = true;
    }
    int id() const override { return typing_ ? 1 : -1; }
    bool mergeWith(const QUndoCommand *other) override {
        const auto *next = static_cast<const EditCommand *>(other);
        if (!next->typing_ || !next->removed_.isEmpty() || next->from_ != endOf(from_, inserted_))
            return false;
        inserted_ += next->inserted_;
        return true;
    }

private:
    // Replaces what this command left (present) by the other side (wanted),
    // if the text still holds it; text appended since then is not touched.
    void apply(const QString &present, const QString &wanted) {
        const TextPosition end = endOf(from_, present);
        if (edit_->textBetween(from_, end) != present)
            return;
        edit_->applyingUndo_ = true;
        const TextPosition cursor = edit_->replace(from_, end, wanted);
        edit_->applyingUndo_ = false;
        edit_->anchor_ = edit_->cursor_ = cursor;
        edit_->ensureCursorVisible();
    }

    BeaconEdit *edit_;
    TextPosition from_;
    QString removed_;
    QString inserted_;
    bool typing_;
    bool done_ = false;
};

BeaconEdit::BeaconEdit(QWidget *parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(&undoStack_, &QUndoStack::cleanChanged, this, [this](bool clean) {
        modified_ = !clean;
        emit modificationChanged(modified_);
    });
}

BeaconEdit::~BeaconEdit() {
    undoStack_.clear();
}

// ---- the text ------------------------------------------------------------

QString BeaconEdit::toPlainText() const {
    qsizetype size = qsizetype(lines_.size()) - 1;
    for (const QString &line : lines_)
        size += line.size();
    QString text;
    text.reserve(size);
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (i > 0)
            text += u'\n';
        text += lines_[i];
    }
    return text;
}

void BeaconEdit::setPlainText(const QString &text) {
    setLines(piecesOf(text));
}

void BeaconEdit::setLines(std::vector<QString> lines) {
    if (lines.empty())
        lines.emplace_back();
    const int removed = lineCount();
    lines_ = std::move(lines);
    cursor_ = anchor_ = {};
    preferredX_ = -1;
    countLengths();
    undoStack_.clear();
    undoStack_.setClean();
    if (modified_) {
        modified_ = false;
        emit modificationChanged(false);
    }
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
    emit linesChanged(0, removed, lineCount());
}

int BeaconEdit::appendLines(const QStringList &lines) {
    const int last = lineCount() - 1;
    const int first = lines_.back().isEmpty() ? last : last + 1;
    if (lines.isEmpty())
        return first;
    const TextPosition end{last, int(lines_.back().size())};
    const bool cursorAtEnd = cursor_ == end && anchor_ == end;
    const bool endInView = last < firstVisibleLine() + visibleLines();
    QString text = lines.join(u'\n');
    TextPosition from = end;
    if (lines_.back().isEmpty())
        text += u'\n'; // fill the empty last line and keep one after it
    else
        text.prepend(u'\n');
    const TextPosition cursor = cursor_;
    const TextPosition anchor = anchor_;
    const TextPosition newEnd = replace(from, end, text);
    cursor_ = cursorAtEnd ? newEnd : cursor;
    anchor_ = cursorAtEnd ? newEnd : anchor;
    if (endInView)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    return first;
}

TextPosition BeaconEdit::replace(TextPosition from, TextPosition to, const QString &text) {
    from = clamp(from);
    to = clamp(to);
    if (to < from)
        std::swap(from, to);
    std::vector<QString> pieces = piecesOf(text);
    const int first = from.line;
    const int removed = to.line - from.line + 1;
    const int added = int(pieces.size());

    std::vector<int> removedLengths;
    removedLengths.reserve(size_t(removed));
    for (int i = from.line; i <= to.line; ++i)
        removedLengths.push_back(int(lines_[size_t(i)].size()));

    TextPosition end;
    if (added == 1 && from.line == to.line) {
        // The common case, a key in a line: changed in place, which for a
        // line of megabytes saves copying it.
        lines_[size_t(from.line)].replace(from.column, to.column - from.column, pieces.front());
        end = {from.line, from.column + int(pieces.front().size())};
    } else {
        end = {from.line + added - 1, int(pieces.back().size())};
        pieces.front().prepend(lines_[size_t(from.line)].left(from.column));
        if (added == 1)
            end.column = int(pieces.front().size());
        pieces.back() += lines_[size_t(to.line)].mid(to.column);
        const auto at = lines_.begin() + from.line;
        const size_t common = std::min(size_t(removed), pieces.size());
        std::move(pieces.begin(), pieces.begin() + qsizetype(common), at);
        if (size_t(removed) > common)
            lines_.erase(at + qsizetype(common), at + removed);
        else
            lines_.insert(at + qsizetype(common),
                          std::make_move_iterator(pieces.begin() + qsizetype(common)),
                          std::make_move_iterator(pieces.end()));
    }
    noteLengthsChanged(first, added, removedLengths);
    updateScrollBars();
    viewport()->update();
    emit linesChanged(first, removed, added);
    return end;
}

void BeaconEdit::edit(TextPosition from, TextPosition to, const QString &text, bool typing) {
    from = clamp(from);
    to = clamp(to);
    if (to < from)
        std::swap(from, to);
    const QString removed = textBetween(from, to);
    const QString inserted = withLineFeeds(text);
    if (removed.isEmpty() && inserted.isEmpty())
        return;
    const TextPosition end = replace(from, to, inserted);
    undoStack_.push(new EditCommand(this, from, removed, inserted, typing));
    anchor_ = cursor_ = end;
    preferredX_ = -1;
    ensureCursorVisible();
    restartBlinking();
}

void BeaconEdit::insertAtCursor(const QString &text, bool typing) {
    edit(selectionStart(), selectionEnd(), text, typing);
}

void BeaconEdit::deleteSelection() {
    if (hasSelection())
        edit(selectionStart(), selectionEnd(), QString());
}

QString BeaconEdit::textBetween(TextPosition from, TextPosition to) const {
    from = clamp(from);
    to = clamp(to);
    if (to < from)
        std::swap(from, to);
    if (from.line == to.line)
        return lines_[size_t(from.line)].mid(from.column, to.column - from.column);
    QString text = lines_[size_t(from.line)].mid(from.column);
    for (int i = from.line + 1; i < to.line; ++i) {
        text += u'\n';
        text += lines_[size_t(i)];
    }
    text += u'\n';
    text += lines_[size_t(to.line)].left(to.column);
    return text;
}

TextPosition BeaconEdit::clamp(TextPosition p) const {
    p.line = std::clamp(p.line, 0, lineCount() - 1);
    p.column = std::clamp(p.column, 0, int(lines_[size_t(p.line)].size()));
    return p;
}

QString BeaconEdit::selectedText() const {
    return textBetween(selectionStart(), selectionEnd());
}

void BeaconEdit::setCursorPosition(TextPosition position, bool keepAnchor) {
    cursor_ = clamp(position);
    if (!keepAnchor)
        anchor_ = cursor_;
    ensureCursorVisible();
    restartBlinking();
    viewport()->update();
}

void BeaconEdit::setModified(bool modified) {
    if (modified)
        undoStack_.resetClean();
    else
        undoStack_.setClean();
}

void BeaconEdit::setMarkSource(std::function<LineMark(int)> source) {
    marks_ = std::move(source);
    viewport()->update();
}

void BeaconEdit::undo() {
    undoStack_.undo();
}

void BeaconEdit::redo() {
    undoStack_.redo();
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
    cursor_ = {lineCount() - 1, int(lines_.back().size())};
    copySelectionTo(QClipboard::Selection);
    viewport()->update();
}

// ---- moving within the text -------------------------------------------

TextPosition BeaconEdit::nextCharacter(TextPosition p) const {
    const QString &line = lines_[size_t(p.line)];
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
    const QString &line = lines_[size_t(p.line)];
    if (p.column <= 0)
        return p.line > 0 ? TextPosition{p.line - 1, int(lines_[size_t(p.line - 1)].size())} : p;
    if (!isLong(p.line)) {
        QTextLayout layout;
        layOut(layout, p.line, 0, int(line.size()));
        return {p.line, layout.previousCursorPosition(p.column)};
    }
    const bool pair = p.column >= 2 && line[p.column - 1].isLowSurrogate() &&
                      line[p.column - 2].isHighSurrogate();
    return {p.line, p.column - (pair ? 2 : 1)};
}

TextPosition BeaconEdit::nextWord(TextPosition p) const {
    const QString &line = lines_[size_t(p.line)];
    if (p.column >= line.size())
        return nextCharacter(p);
    int c = p.column;
    while (c < line.size() && isWordCharacter(line[c]))
        ++c;
    while (c < line.size() && !isWordCharacter(line[c]))
        ++c;
    return {p.line, c == p.column ? c + 1 : c};
}

TextPosition BeaconEdit::previousWord(TextPosition p) const {
    if (p.column == 0)
        return previousCharacter(p);
    const QString &line = lines_[size_t(p.line)];
    int c = p.column;
    while (c > 0 && !isWordCharacter(line[c - 1]))
        --c;
    while (c > 0 && isWordCharacter(line[c - 1]))
        --c;
    return {p.line, c};
}

TextPosition BeaconEdit::lineBelow(TextPosition p, int lines) const {
    const int x = preferredX_ >= 0 ? preferredX_ : columnX(p.line, p.column);
    const int target = std::clamp(p.line + lines, 0, lineCount() - 1);
    if (target == p.line)
        return lines < 0 ? TextPosition{p.line, 0}
                         : TextPosition{p.line, int(lines_[size_t(p.line)].size())};
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
             return TextPosition{p.line, int(lines_[size_t(p.line)].size())};
         },
         false},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument,
         [](TextPosition) { return TextPosition{}; }, false},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument,
         [this](TextPosition) {
             return TextPosition{lineCount() - 1, int(lines_.back().size())};
         },
         false},
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
    if (moveKey(event))
        return;
    if (event->matches(QKeySequence::Undo)) {
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

void BeaconEdit::inputMethodEvent(QInputMethodEvent *event) {
    if (!event->commitString().isEmpty())
        insertAtCursor(event->commitString(), true);
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
        return isLong(cursor_.line) ? QString() : lines_[size_t(cursor_.line)];
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
        anchor_ = {at.line, 0};
        setCursorPosition(at.line + 1 < lineCount()
                              ? TextPosition{at.line + 1, 0}
                              : TextPosition{at.line, int(lines_[size_t(at.line)].size())},
                          true);
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

void BeaconEdit::mouseDoubleClickEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton)
        return;
    const TextPosition at = positionAt(event->position().toPoint());
    const QString &line = lines_[size_t(at.line)];
    int start = at.column;
    int end = at.column;
    while (start > 0 && isWordCharacter(line[start - 1]))
        --start;
    while (end < line.size() && isWordCharacter(line[end]))
        ++end;
    anchor_ = {at.line, start};
    setCursorPosition({at.line, end}, true);
    copySelectionTo(QClipboard::Selection);
    lastDoubleClick_ = QDateTime::currentMSecsSinceEpoch();
    lastDoubleClickPoint_ = event->position().toPoint();
}

void BeaconEdit::contextMenuEvent(QContextMenuEvent *event) {
    QMenu menu(this);
    const bool selection = hasSelection();
    menu.addAction(tr("&Undo"), QKeySequence::Undo, this, &BeaconEdit::undo)
        ->setEnabled(undoStack_.canUndo());
    menu.addAction(tr("&Redo"), QKeySequence::Redo, this, &BeaconEdit::redo)
        ->setEnabled(undoStack_.canRedo());
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
    return lines_[size_t(line)].size() > LongLine;
}

void BeaconEdit::layOut(QTextLayout &layout, int line, int firstColumn, int columns) const {
    const QString &text = lines_[size_t(line)];
    layout.setText(firstColumn == 0 && columns >= text.size() ? text
                                                              : text.mid(firstColumn, columns));
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
    layOut(layout, line, 0, int(lines_[size_t(line)].size()));
    return qRound(layout.lineAt(0).cursorToX(column));
}

TextPosition BeaconEdit::positionAt(const QPoint &point) const {
    const int row = point.y() < 0 ? -1 - (-point.y() - 1) / lineHeight_ : point.y() / lineHeight_;
    const int line = std::clamp(firstVisibleLine() + row, 0, lineCount() - 1);
    const int x = point.x() - MarginWidth - TextGap + horizontalScrollBar()->value();
    if (isLong(line))
        return clamp({line, int(std::lround(double(std::max(x, 0)) / charWidth_))});
    QTextLayout layout;
    layOut(layout, line, 0, int(lines_[size_t(line)].size()));
    return {line, layout.lineAt(0).xToCursor(x)};
}

QRect BeaconEdit::cursorRect() const {
    const int x = MarginWidth + TextGap + columnX(cursor_.line, cursor_.column) -
                  horizontalScrollBar()->value();
    const int y = (cursor_.line - firstVisibleLine()) * lineHeight_;
    return QRect(x - 1, y, 3, lineHeight_);
}

int BeaconEdit::visibleLines() const {
    return std::max(viewport()->height() / lineHeight_, 1);
}

int BeaconEdit::firstVisibleLine() const {
    return verticalScrollBar()->value();
}

void BeaconEdit::noteLengthsChanged(int first, int added, const std::vector<int> &removedLengths) {
    for (int length : removedLengths)
        if (--lengths_[length] == 0)
            lengths_.erase(length);
    for (int i = first; i < first + added; ++i)
        ++lengths_[int(lines_[size_t(i)].size())];
}

void BeaconEdit::countLengths() {
    lengths_.clear();
    for (const QString &line : lines_)
        ++lengths_[int(line.size())];
}

int BeaconEdit::longestLine() const {
    return lengths_.empty() ? 0 : lengths_.rbegin()->first;
}

void BeaconEdit::updateScrollBars() {
    const QFontMetrics metrics(font());
    lineHeight_ = std::max(metrics.lineSpacing(), 1);
    charWidth_ = std::max(metrics.horizontalAdvance(QLatin1Char('M')), 1);
    ascent_ = metrics.ascent();
    const int visible = visibleLines();
    verticalScrollBar()->setRange(0, std::max(lineCount() - visible, 0));
    verticalScrollBar()->setPageStep(visible);
    verticalScrollBar()->setSingleStep(1);
    const qint64 width =
        qint64(longestLine()) * charWidth_ + MarginWidth + 2 * TextGap + charWidth_;
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

    QScrollBar *horizontal = horizontalScrollBar();
    const int x = columnX(cursor_.line, cursor_.column);
    const int room = viewport()->width() - MarginWidth - 2 * TextGap - charWidth_;
    if (x < horizontal->value())
        horizontal->setValue(std::max(x - room / 4, 0));
    else if (x > horizontal->value() + room)
        horizontal->setValue(x - room + room / 4);
}

void BeaconEdit::resizeEvent(QResizeEvent *event) {
    // A view that showed the end keeps showing it, as a log that grows
    // needs (a horizontal scroll bar that comes takes a line or two).
    QScrollBar *vertical = verticalScrollBar();
    const int visibleBefore = std::max(event->oldSize().height() / lineHeight_, 1);
    const bool atEnd = vertical->value() > 0 && vertical->value() >= lineCount() - visibleBefore;
    QAbstractScrollArea::resizeEvent(event);
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

    for (int row = std::max(area.top() / lineHeight_, 0);; ++row) {
        const int line = first + row;
        const int y = row * lineHeight_;
        if (line >= lineCount() || y > area.bottom())
            break;
        const LineMark mark = marks_ ? marks_(line) : LineMark();
        if (mark.margin.isValid())
            painter.fillRect(QRect(0, y, MarginWidth - 2, lineHeight_), mark.margin);

        // The part of the line in view: all of it, unless it is long.
        const int length = int(lines_[size_t(line)].size());
        int firstColumn = 0;
        int columns = length;
        if (isLong(line)) {
            firstColumn = std::min(std::max(xOffset / charWidth_ - 2, 0), length);
            columns = width / charWidth_ + 4;
        }
        QTextLayout layout;
        layOut(layout, line, firstColumn, columns);

        QList<QTextLayout::FormatRange> formats;
        for (const auto &[column, size] : mark.underlines) {
            QTextLayout::FormatRange range;
            range.start = column - firstColumn;
            range.length = size;
            // A light ground and an underline in the mark's colour.
            const QColor colour = mark.margin.isValid() ? mark.margin : QColor(Qt::red);
            range.format.setUnderlineStyle(QTextCharFormat::SingleUnderline);
            range.format.setUnderlineColor(colour);
            range.format.setBackground(colour.lighter(185));
            formats.append(range);
        }
        const bool selected = hasSelection() && selFrom.line <= line && line <= selTo.line;
        if (selected) {
            const int from = line == selFrom.line ? selFrom.column : 0;
            const int to = line == selTo.line ? selTo.column : length;
            QTextLayout::FormatRange range;
            range.start = from - firstColumn;
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

    if (hasFocus() && cursorShown_ && !hasSelection()) {
        const QRect caret = cursorRect();
        if (caret.left() >= MarginWidth)
            painter.fillRect(caret.adjusted(1, 0, -1, 0), palette().text());
    }
}
