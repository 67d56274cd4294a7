#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <map>
#include <vector>

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

// A text kept as a list of lines, at least one. Lines end as the decoder
// says (decoder/lines.h): inserted text is split there, so each line is one
// line of the decode pass. Every change goes through replace(); edits are
// recorded for undo, typed characters that follow each other merging into
// one step. Lines appended as received are not undoable, and undo never
// touches them.
class LineDocument : public QObject {
    Q_OBJECT
public:
    explicit LineDocument(QObject *parent = nullptr);

    int lineCount() const { return int(lines_.size()); }
    const QString &line(int index) const { return lines_[size_t(index)]; }
    TextPosition end() const { return {lineCount() - 1, int(lines_.back().size())}; }
    TextPosition clamp(TextPosition position) const;

    // The whole text, lines joined by LF.
    QString toPlainText() const;
    QString textBetween(TextPosition from, TextPosition to) const;
    // Replaces the whole text by lines that hold no line break; clears the
    // undo history and the modified state.
    void setLines(std::vector<QString> lines);

    // Replaces [from, to) by text, as an undoable edit unless nothing
    // changes. Returns where the inserted text ends.
    enum class Edit { Paste, Typing };
    TextPosition replace(TextPosition from, TextPosition to, const QString &text,
                         Edit kind = Edit::Paste);
    // Adds complete lines at the end: into the empty last line if there is
    // one (keeping an empty line after them), else after the last line. Not
    // undoable. Returns the index of the first line added.
    int appendLines(const QStringList &lines);

    bool canUndo() const { return done_ > 0; }
    bool canRedo() const { return done_ < int(steps_.size()); }
    // Undo and redo return where the changed text ends, for the cursor;
    // line -1 when nothing changed.
    TextPosition undo();
    TextPosition redo();

    // Changed since the last setModified(false): the undo history is not at
    // the step where it was marked clean.
    bool isModified() const { return done_ != clean_; }
    void setModified(bool modified);

    // The length of the longest line, in UTF-16 code units.
    int longestLine() const { return lengths_.empty() ? 0 : lengths_.rbegin()->first; }

    // Offsets count the text as lines joined by LF. Computed when asked,
    // from sums of line lengths kept up to the last line asked for since
    // the last change before it.
    qint64 offsetOf(TextPosition position) const;
    TextPosition positionOf(qint64 offset) const;
    qint64 characterCount() const { return offsetOf(end()); }

    // The next match of needle at or after from (before from, backwards),
    // within one line, wrapping around the end of the text. Returns the
    // start of the match, line -1 if there is none; *wrapped tells whether
    // the search went round.
    TextPosition find(const QString &needle, TextPosition from, bool backwards,
                      Qt::CaseSensitivity sensitivity, bool *wrapped = nullptr) const;

signals:
    // Lines [first, first + removed) were replaced by lines
    // [first, first + added).
    void linesChanged(int first, int removed, int added);
    void modificationChanged(bool modified);
    // An edit or its undo or redo: removed, at from, became inserted (LF
    // line breaks). Not sent for setLines() and appendLines().
    void edited(TextPosition from, const QString &removed, const QString &inserted);

private:
    // One undoable change: removed replaced by inserted at from.
    struct Step {
        TextPosition from;
        QString removed;
        QString inserted;
        bool typing;
    };
    TextPosition change(TextPosition from, TextPosition to, const QString &text);
    TextPosition apply(const Step &step, bool forward);
    void setDone(int done);

    std::vector<QString> lines_{QString()};
    std::vector<Step> steps_;
    int done_ = 0;  // steps_[0, done_) are applied
    int clean_ = 0; // done_ when last marked unmodified; -1 when out of reach
    // How many lines have each length.
    std::map<int, int> lengths_{{0, 1}};
    // starts_[i]: offset of line i, valid for i < starts_.size().
    mutable std::vector<qint64> starts_;
};
