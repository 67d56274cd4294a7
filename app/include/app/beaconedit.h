#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QColor>
#include <QList>
#include <QPair>
#include <QString>
#include <QUndoStack>

#include <functional>
#include <map>
#include <vector>

class QTextLayout;

// A place in the text: a line (0-based) and a UTF-16 column in it.
struct TextPosition {
    int line = 0;
    int column = 0;

    bool operator==(const TextPosition &o) const { return line == o.line && column == o.column; }
    bool operator!=(const TextPosition &o) const { return !(*this == o); }
    bool operator<(const TextPosition &o) const {
        return line < o.line || (line == o.line && column < o.column);
    }
};

// How a line is marked in the narrow margin left of the text, and which of
// its characters are underlined.
struct LineMark {
    QColor margin;                     // invalid: no mark
    QList<QPair<int, int>> underlines; // column, length
};

// The beacon text box: a plain text editor that keeps its text as a list of
// lines and lays out only the lines in view. A log of a million lines loads
// in a fraction of a second and a key costs the same as with ten lines; a
// single line of 50 MB is drawn and edited without laying out more than the
// part in view. Lines end as the decoder says (CR LF, LF, a lone CR, U+2028,
// U+2029): inserted text is split there, so each line of the box is one line
// of the decode pass. Tab moves the focus; a tab character can be pasted.
class BeaconEdit : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit BeaconEdit(QWidget *parent = nullptr);
    ~BeaconEdit() override;

    // The whole text, lines joined by LF.
    QString toPlainText() const;
    // Replaces the whole text; clears the undo history.
    void setPlainText(const QString &text);
    // Replaces the whole text by lines that hold no line break.
    void setLines(std::vector<QString> lines);
    // Adds complete lines at the end of the text, where the cursor is not
    // disturbed: into the empty last line if there is one, else after the
    // last line. Not undoable: received text is kept. Returns the index of
    // the first line added.
    int appendLines(const QStringList &lines);

    int lineCount() const { return int(lines_.size()); }
    const QString &line(int index) const { return lines_[size_t(index)]; }

    TextPosition cursorPosition() const { return cursor_; }
    void setCursorPosition(TextPosition position, bool keepAnchor = false);
    QString selectedText() const;

    // Typed or changed since the last setModified(false).
    bool isModified() const { return modified_; }
    void setModified(bool modified);

    // Where the marks come from: asked for the lines in view at each repaint.
    void setMarkSource(std::function<LineMark(int line)> source);
    // Where the tooltip of a line comes from, asked when the mouse rests on
    // it; an empty text shows none.
    void setTooltipSource(std::function<QString(int line)> source) {
        tooltips_ = std::move(source);
    }

    // The margin left of the text where the marks are drawn, in pixels.
    static constexpr int MarginWidth = 6;

public slots:
    void undo();
    void redo();
    void cut();
    void copy();
    void paste();
    void selectAll();

signals:
    // Lines [first, first + removed) of the text were replaced by lines
    // [first, first + added).
    void linesChanged(int first, int removed, int added);
    void modificationChanged(bool modified);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    bool viewportEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    class EditCommand;
    friend class EditCommand;

    // The one way the text changes: [from, to) replaced by text. Returns
    // where the inserted text ends.
    TextPosition replace(TextPosition from, TextPosition to, const QString &text);
    // replace(), recorded for undo; typing merges into one step.
    void edit(TextPosition from, TextPosition to, const QString &text, bool typing = false);
    void insertAtCursor(const QString &text, bool typing = false);
    void deleteSelection();
    bool hasSelection() const { return anchor_ != cursor_; }
    TextPosition selectionStart() const { return std::min(anchor_, cursor_); }
    TextPosition selectionEnd() const { return std::max(anchor_, cursor_); }
    QString textBetween(TextPosition from, TextPosition to) const;
    TextPosition clamp(TextPosition position) const;

    // Moves within the text.
    TextPosition nextCharacter(TextPosition p) const;
    TextPosition previousCharacter(TextPosition p) const;
    TextPosition nextWord(TextPosition p) const;
    TextPosition previousWord(TextPosition p) const;
    TextPosition lineBelow(TextPosition p, int lines) const;
    bool moveKey(QKeyEvent *event);

    // Geometry.
    bool isLong(int line) const;
    void layOut(QTextLayout &layout, int line, int firstColumn, int columns) const;
    int columnX(int line, int column) const; // content x, unscrolled
    TextPosition positionAt(const QPoint &viewportPoint) const;
    QRect cursorRect() const; // in the viewport
    int lineHeight() const { return lineHeight_; }
    int visibleLines() const;
    int firstVisibleLine() const;
    void updateScrollBars();
    void ensureCursorVisible();
    void noteLengthsChanged(int first, int added, const std::vector<int> &removedLengths);
    void countLengths();
    int longestLine() const;
    void restartBlinking();
    void copySelectionTo(int mode) const;

    std::vector<QString> lines_{QString()};
    TextPosition cursor_;
    TextPosition anchor_;
    int preferredX_ = -1; // kept while moving up and down
    bool modified_ = false;
    QUndoStack undoStack_;
    bool applyingUndo_ = false;
    std::function<LineMark(int)> marks_;
    std::function<QString(int)> tooltips_;

    // How many lines have each length: the longest gives the width of the
    // text for the horizontal scroll bar.
    std::map<int, int> lengths_{{0, 1}};

    int lineHeight_ = 1;
    int charWidth_ = 1;
    int ascent_ = 0;
    bool cursorShown_ = true;
    QBasicTimer blinkTimer_;
    int blinksLeft_ = 0;
    QBasicTimer dragScrollTimer_;
    QPoint lastDragPoint_;
    bool selectingWithMouse_ = false;
    qint64 lastDoubleClick_ = 0;
    QPoint lastDoubleClickPoint_;
};
