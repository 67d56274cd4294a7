#include "beaconeditaccessible.h"

#include "app/beaconedit.h"

#include <QAccessibleWidget>
#include <QTextBoundaryFinder>

#include <algorithm>

// What screen readers and other assistive tools see of the box: an editable
// text whose offsets count the lines joined by LF.
class BeaconEditAccessible : public QAccessibleWidget,
                             public QAccessibleTextInterface,
                             public QAccessibleEditableTextInterface {
public:
    explicit BeaconEditAccessible(BeaconEdit *edit)
        : QAccessibleWidget(edit, QAccessible::EditableText, QStringLiteral("Beacon text")) {}

    void *interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = true;
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }

    // Selection: at most one.
    void selection(int index, int *start, int *end) const override {
        *start = *end = 0;
        if (index == 0 && edit()->hasSelection()) {
            *start = offset(edit()->selectionStart());
            *end = offset(edit()->selectionEnd());
        }
    }
    int selectionCount() const override { return edit()->hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override {
        if (index == 0)
            edit()->setCursorPosition(edit()->cursor_);
    }
    void setSelection(int index, int start, int end) override {
        if (index == 0)
            edit()->select(position(start), position(end));
    }

    int cursorPosition() const override { return offset(edit()->cursor_); }
    void setCursorPosition(int at) override { edit()->setCursorPosition(position(at)); }

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? document()->toPlainText() : QAccessibleWidget::text(t);
    }
    QString text(int start, int end) const override {
        return document()->textBetween(position(start), position(end));
    }
    int characterCount() const override { return int(document()->characterCount()); }

    QString textAtOffset(int at, QAccessible::TextBoundaryType type, int *start,
                         int *end) const override {
        const QPair<int, int> unit = unitAt(at, type);
        *start = unit.first;
        *end = unit.second;
        return text(unit.first, unit.second);
    }
    QString textBeforeOffset(int at, QAccessible::TextBoundaryType type, int *start,
                             int *end) const override {
        const int before = unitAt(at, type).first;
        if (before <= 0) {
            *start = *end = 0;
            return QString();
        }
        return textAtOffset(before - 1, type, start, end);
    }
    QString textAfterOffset(int at, QAccessible::TextBoundaryType type, int *start,
                            int *end) const override {
        const int after = unitAt(at, type).second;
        if (after >= characterCount()) {
            *start = *end = characterCount();
            return QString();
        }
        return textAtOffset(after, type, start, end);
    }

    QRect characterRect(int at) const override {
        const QRect rect = edit()->characterRect(position(at));
        return QRect(edit()->viewport()->mapToGlobal(rect.topLeft()), rect.size());
    }
    int offsetAtPoint(const QPoint &point) const override {
        const QPoint local = edit()->viewport()->mapFromGlobal(point);
        if (!edit()->viewport()->rect().contains(local))
            return -1;
        return offset(edit()->positionAt(local));
    }
    void scrollToSubstring(int start, int end) override {
        edit()->select(position(start), position(end));
    }
    QString attributes(int at, int *start, int *end) const override {
        *start = *end = at;
        return QString();
    }

    void deleteText(int start, int end) override {
        edit()->edit(position(start), position(end), QString());
    }
    void insertText(int at, const QString &text) override {
        edit()->edit(position(at), position(at), text);
    }
    void replaceText(int start, int end, const QString &text) override {
        edit()->edit(position(start), position(end), text);
    }

private:
    BeaconEdit *edit() const { return static_cast<BeaconEdit *>(widget()); }
    LineDocument *document() const { return edit()->document(); }
    int offset(TextPosition p) const { return int(document()->offsetOf(p)); }
    TextPosition position(int at) const { return document()->positionOf(at); }

    // The character, word or line (with its line break) that holds offset
    // at; the whole text for anything else.
    QPair<int, int> unitAt(int at, QAccessible::TextBoundaryType type) const {
        if (type == QAccessible::NoBoundary)
            return {0, characterCount()};
        const TextPosition p = position(at);
        const QString &line = document()->line(p.line);
        const int lineStart = at - p.column;
        const bool lastLine = p.line + 1 == document()->lineCount();
        if (type != QAccessible::CharBoundary && type != QAccessible::WordBoundary)
            return {lineStart, lineStart + int(line.size()) + (lastLine ? 0 : 1)};
        if (p.column >= line.size())
            return {at, lastLine ? at : at + 1}; // the line break
        const QPair<int, int> window = BeaconEdit::wordWindow(line, p.column);
        QTextBoundaryFinder finder(type == QAccessible::CharBoundary
                                       ? QTextBoundaryFinder::Grapheme
                                       : QTextBoundaryFinder::Word,
                                   QStringView(line).mid(window.first, window.second).toString());
        finder.setPosition(p.column - window.first);
        const int start = finder.isAtBoundary() ? finder.position() : finder.toPreviousBoundary();
        finder.setPosition(p.column - window.first);
        const int end = finder.toNextBoundary();
        return {lineStart + window.first + std::max(start, 0),
                lineStart + window.first + (end < 0 ? window.second : end)};
    }
};

QAccessibleInterface *accessibleBeaconEdit(const QString &className, QObject *object) {
    if (className == QLatin1String("BeaconEdit") && object && object->isWidgetType())
        return new BeaconEditAccessible(static_cast<BeaconEdit *>(object));
    return nullptr;
}
