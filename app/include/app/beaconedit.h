#pragma once

#include "textdoc/linedocument.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QColor>
#include <QList>
#include <QPair>
#include <QString>
#include <QTextLayout>

#include <functional>
#include <vector>

class QLabel;
class QLineEdit;
class QToolButton;

// How a line is marked in the narrow margin left of the text, and which of
// its characters are underlined.
struct LineMark {
    QColor margin;                     // invalid: no mark
    QList<QPair<int, int>> underlines; // column, length
};

// The beacon text box: a view over a LineDocument that lays out only the
// lines in view. A log of a million lines loads in a fraction of a second
// and a key costs the same as with ten lines; a single line of 50 MB is
// drawn and edited without laying out more than the part in view. Tab moves
// the focus; a tab character can be pasted. Ctrl+F opens a find bar at the
// top right, which moves the text down while it is open.
class BeaconEdit : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit BeaconEdit(QWidget *parent = nullptr);
    ~BeaconEdit() override;

    LineDocument *document() const { return document_; }

    // The whole text, lines joined by LF.
    QString toPlainText() const { return document_->toPlainText(); }
    // Replaces the whole text; clears the undo history.
    void setPlainText(const QString &text);
    // Replaces the whole text by lines that hold no line break.
    void setLines(std::vector<QString> lines);
    // Adds complete lines at the end of the text, where the cursor is not
    // disturbed: into the empty last line if there is one, else after the
    // last line. Not undoable: received text is kept. Returns the index of
    // the first line added.
    int appendLines(const QStringList &lines);

    int lineCount() const { return document_->lineCount(); }
    const QString &line(int index) const { return document_->line(index); }

    TextPosition cursorPosition() const { return cursor_; }
    TextPosition anchorPosition() const { return anchor_; }
    void setCursorPosition(TextPosition position, bool keepAnchor = false);
    QString selectedText() const;

    // Typed or changed since the last setModified(false).
    bool isModified() const { return document_->isModified(); }
    void setModified(bool modified) { document_->setModified(modified); }

    // Where the marks come from: asked for the lines in view at each repaint.
    void setMarkSource(std::function<LineMark(int line)> source);
    // Where the tooltip of a line comes from, asked when the mouse rests on
    // it; an empty text shows none.
    void setTooltipSource(std::function<QString(int line)> source) {
        tooltips_ = std::move(source);
    }

    // The margin left of the text where the marks are drawn, in pixels.
    static constexpr int MarginWidth = 6;
    // The part of a line where word boundaries are looked for around a
    // column (start, length): all of it, unless the line is long.
    static QPair<int, int> wordWindow(const QString &line, int column);

public slots:
    void undo();
    void redo();
    void cut();
    void copy();
    void paste();
    void selectAll();
    // The find bar: open it (the focus goes to it), close it (the focus
    // comes back), and go to the next or previous match of its text.
    void openFind();
    void closeFind();
    void findNext() { find(false); }
    void findPrevious() { find(true); }

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
    bool eventFilter(QObject *watched, QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    friend class BeaconEditAccessible;

    // An edit at the cursor or of a range, recorded for undo.
    void edit(TextPosition from, TextPosition to, const QString &text, bool typing = false);
    void insertAtCursor(const QString &text, bool typing = false);
    void deleteSelection();
    void afterUndo(TextPosition end);
    bool hasSelection() const { return anchor_ != cursor_; }
    TextPosition selectionStart() const { return std::min(anchor_, cursor_); }
    TextPosition selectionEnd() const { return std::max(anchor_, cursor_); }
    TextPosition clamp(TextPosition position) const { return document_->clamp(position); }
    void select(TextPosition anchor, TextPosition cursor);

    // Moves within the text.
    TextPosition nextCharacter(TextPosition p) const;
    TextPosition previousCharacter(TextPosition p) const;
    TextPosition nextWord(TextPosition p) const;
    TextPosition previousWord(TextPosition p) const;
    TextPosition lineBelow(TextPosition p, int lines) const;
    bool moveKey(QKeyEvent *event);

    // Find.
    void find(bool backwards);
    void findFrom(TextPosition from, bool backwards);
    void placeFindBar();
    Qt::CaseSensitivity findSensitivity() const;

    // Geometry.
    bool isLong(int line) const;
    // preeditAt >= 0: with the text being composed there.
    void layOut(QTextLayout &layout, int line, int firstColumn, int columns,
                int preeditAt = -1) const;
    int columnX(int line, int column) const; // content x, unscrolled
    TextPosition positionAt(const QPoint &viewportPoint) const;
    QRect cursorRect() const; // in the viewport
    QRect characterRect(TextPosition position) const; // in the viewport
    int lineHeight() const { return lineHeight_; }
    int visibleLines() const;
    int firstVisibleLine() const;
    void updateScrollBars();
    void ensureCursorVisible();
    void restartBlinking();
    void copySelectionTo(int mode) const;
    void noteChanged(TextPosition from, const QString &removed, const QString &inserted);
    void noteCursorMoved();

    LineDocument *document_;
    TextPosition cursor_;
    TextPosition anchor_;
    int preferredX_ = -1; // kept while moving up and down
    std::function<LineMark(int)> marks_;
    std::function<QString(int)> tooltips_;

    // An input method's text being composed at the cursor, not yet in the
    // document, and where its own cursor is (-1: hidden).
    QString preedit_;
    QList<QTextLayout::FormatRange> preeditFormats_;
    int preeditCursor_ = 0;

    QWidget *findBar_ = nullptr;
    QLineEdit *findText_ = nullptr;
    QToolButton *findCase_ = nullptr;
    QLabel *findStatus_ = nullptr;

    int lineHeight_ = 1;
    int charWidth_ = 1;
    bool cursorShown_ = true;
    QBasicTimer blinkTimer_;
    int blinksLeft_ = 0;
    QBasicTimer dragScrollTimer_;
    QPoint lastDragPoint_;
    bool selectingWithMouse_ = false;
    qint64 lastDoubleClick_ = 0;
    QPoint lastDoubleClickPoint_;
};
