#include "textdoc/linedocument.h"

#include "decoder/lines.h"


#include <algorithm>

namespace {

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

// Looks for one needle in many lines (Boyer-Moore-Horspool). Its tables are
// indexed by the UTF-16 code unit as it is in the text, so that the search
// case-folds only where the last character of the needle already matches:
// over a million lines that is several times faster than folding every
// character looked at.
class Matcher {
public:
    Matcher(const QString &needle, Qt::CaseSensitivity sensitivity)
        : needle_(fold(needle, sensitivity)), sensitivity_(sensitivity),
          skip_(65536, quint16(std::min<qsizetype>(needle_.size(), 65535))), last_(65536) {
        const qsizetype m = needle_.size();
        for (int c = 0; c < 65536; ++c) {
            const char16_t folded = sensitivity == Qt::CaseSensitive
                                        ? char16_t(c)
                                        : QChar::toCaseFolded(char16_t(c));
            for (qsizetype i = 0; i + 1 < m; ++i)
                if (needle_[i] == folded)
                    skip_[size_t(c)] = quint16(std::min<qsizetype>(m - 1 - i, 65535));
            last_[size_t(c)] = needle_[m - 1] == folded;
        }
    }

    qsizetype indexIn(QStringView text, qsizetype from = 0) const {
        const qsizetype m = needle_.size();
        const char16_t *p = text.utf16();
        for (qsizetype at = from; at + m <= text.size(); at += skip_[p[at + m - 1]])
            if (last_[p[at + m - 1]] && matchesAt(p + at))
                return at;
        return -1;
    }

private:
    static QString fold(const QString &text, Qt::CaseSensitivity sensitivity) {
        if (sensitivity == Qt::CaseSensitive)
            return text;
        QString folded = text;
        for (QChar &c : folded)
            c = c.toCaseFolded();
        return folded;
    }
    bool matchesAt(const char16_t *p) const {
        for (qsizetype i = 0; i < needle_.size(); ++i) {
            const char16_t c = sensitivity_ == Qt::CaseSensitive ? p[i] : QChar::toCaseFolded(p[i]);
            if (c != needle_[i].unicode())
                return false;
        }
        return true;
    }

    QString needle_;
    Qt::CaseSensitivity sensitivity_;
    std::vector<quint16> skip_;
    std::vector<bool> last_;
};

} // namespace

LineDocument::LineDocument(QObject *parent) : QObject(parent) {}

TextPosition LineDocument::clamp(TextPosition p) const {
    p.line = std::clamp(p.line, 0, lineCount() - 1);
    p.column = std::clamp(p.column, 0, int(lines_[size_t(p.line)].size()));
    return p;
}

QString LineDocument::toPlainText() const {
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

QString LineDocument::textBetween(TextPosition from, TextPosition to) const {
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

void LineDocument::setLines(std::vector<QString> lines) {
    if (lines.empty())
        lines.emplace_back();
    const int removed = lineCount();
    lines_ = std::move(lines);
    lengths_.clear();
    for (const QString &line : lines_)
        ++lengths_[int(line.size())];
    starts_.clear();
    steps_.clear();
    const bool wasModified = isModified();
    done_ = clean_ = 0;
    if (wasModified)
        emit modificationChanged(false);
    emit linesChanged(0, removed, lineCount());
}

TextPosition LineDocument::change(TextPosition from, TextPosition to, const QString &text) {
    std::vector<QString> pieces = piecesOf(text);
    const int first = from.line;
    const int removed = to.line - from.line + 1;
    const int added = int(pieces.size());
    for (int i = from.line; i <= to.line; ++i) {
        const int length = int(lines_[size_t(i)].size());
        if (--lengths_[length] == 0)
            lengths_.erase(length);
    }
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
    for (int i = first; i < first + added; ++i)
        ++lengths_[int(lines_[size_t(i)].size())];
    // Offsets up to the changed line stay valid.
    if (starts_.size() > size_t(first) + 1)
        starts_.resize(size_t(first) + 1);
    emit linesChanged(first, removed, added);
    return end;
}

TextPosition LineDocument::replace(TextPosition from, TextPosition to, const QString &text,
                                   Edit kind) {
    from = clamp(from);
    to = clamp(to);
    if (to < from)
        std::swap(from, to);
    Step step{from, textBetween(from, to), withLineFeeds(text), kind == Edit::Typing};
    if (step.removed.isEmpty() && step.inserted.isEmpty())
        return from;
    const TextPosition end = change(from, to, step.inserted);
    const QString removed = step.removed; // shared, not copied
    const QString inserted = step.inserted;
    const bool wasModified = isModified();
    if (clean_ > done_)
        clean_ = -1; // the clean state was undone and is now overwritten
    steps_.resize(size_t(done_));
    // Typing merges into the step before, unless that step is where the text
    // was marked clean.
    Step *last = steps_.empty() ? nullptr : &steps_.back();
    if (step.typing && last && last->typing && step.removed.isEmpty() && done_ != clean_ &&
        step.from == endOf(last->from, last->inserted)) {
        last->inserted += step.inserted;
    } else {
        steps_.push_back(std::move(step));
        ++done_;
    }
    if (isModified() != wasModified)
        emit modificationChanged(isModified());
    emit edited(from, removed, inserted);
    return end;
}

int LineDocument::appendLines(const QStringList &lines) {
    const int last = lineCount() - 1;
    const bool fill = lines_.back().isEmpty();
    const int first = fill ? last : last + 1;
    if (lines.isEmpty())
        return first;
    QString text = lines.join(u'\n');
    if (fill)
        text += u'\n'; // fill the empty last line and keep one after it
    else
        text.prepend(u'\n');
    const TextPosition at = end();
    const TextPosition newEnd = change(at, at, text);
    // Recorded edits at or after the end now come after the received lines,
    // so that undo and redo leave those alone.
    const auto shift = [&](TextPosition &p) {
        if (p < at)
            return;
        p = p.line == at.line ? TextPosition{newEnd.line, newEnd.column + p.column - at.column}
                              : TextPosition{p.line + newEnd.line - at.line, p.column};
    };
    for (Step &step : steps_)
        shift(step.from);
    return first;
}

TextPosition LineDocument::apply(const Step &step, bool forward) {
    // Only if the text still holds what the step left.
    const QString &present = forward ? step.removed : step.inserted;
    const TextPosition end = endOf(step.from, present);
    if (clamp(end) != end || textBetween(step.from, end) != present)
        return {-1, 0};
    const QString &wanted = forward ? step.inserted : step.removed;
    const TextPosition changedEnd = change(step.from, end, wanted);
    emit edited(step.from, present, wanted);
    return changedEnd;
}

void LineDocument::setDone(int done) {
    const bool wasModified = isModified();
    done_ = done;
    if (isModified() != wasModified)
        emit modificationChanged(isModified());
}

TextPosition LineDocument::undo() {
    if (!canUndo())
        return {-1, 0};
    const TextPosition end = apply(steps_[size_t(done_ - 1)], false);
    setDone(done_ - 1);
    return end;
}

TextPosition LineDocument::redo() {
    if (!canRedo())
        return {-1, 0};
    const TextPosition end = apply(steps_[size_t(done_)], true);
    setDone(done_ + 1);
    return end;
}

void LineDocument::setModified(bool modified) {
    const bool wasModified = isModified();
    clean_ = modified ? -1 : done_;
    if (isModified() != wasModified)
        emit modificationChanged(isModified());
}

qint64 LineDocument::offsetOf(TextPosition position) const {
    position = clamp(position);
    if (starts_.empty())
        starts_.push_back(0);
    while (starts_.size() <= size_t(position.line)) {
        const size_t i = starts_.size();
        starts_.push_back(starts_[i - 1] + lines_[i - 1].size() + 1);
    }
    return starts_[size_t(position.line)] + position.column;
}

TextPosition LineDocument::positionOf(qint64 offset) const {
    offset = std::clamp<qint64>(offset, 0, characterCount());
    // characterCount() has filled in every line's offset.
    const auto next = std::upper_bound(starts_.begin(), starts_.end(), offset);
    const int line = int(next - starts_.begin()) - 1;
    return {line, int(offset - starts_[size_t(line)])};
}

TextPosition LineDocument::find(const QString &needle, TextPosition from, bool backwards,
                                Qt::CaseSensitivity sensitivity, bool *wrapped) const {
    if (wrapped)
        *wrapped = false;
    if (needle.isEmpty())
        return {-1, 0};
    from = clamp(from);
    // One matcher for all lines: its tables are made once.
    const Matcher matcher(needle, sensitivity);
    const int count = lineCount();
    for (int step = 0; step <= count; ++step) {
        int line = backwards ? from.line - step : from.line + step;
        if (line < 0 || line >= count) {
            if (wrapped)
                *wrapped = true;
            line += backwards ? count : -count;
        }
        const QString &text = lines_[size_t(line)];
        if (text.size() < needle.size())
            continue;
        if (!backwards) {
            const qsizetype start = step == 0 ? from.column : 0;
            const qsizetype at = matcher.indexIn(QStringView(text), start);
            if (at >= 0 && (step < count || at < from.column))
                return {line, int(at)};
            continue;
        }
        // Backwards: the matcher tells quickly whether the line has a match
        // at all; only then is its last one looked for.
        if (matcher.indexIn(QStringView(text)) < 0)
            continue;
        const qsizetype before = step == 0 ? from.column - 1 : text.size();
        qsizetype at = before < 0 ? -1 : text.lastIndexOf(needle, before, sensitivity);
        if (step == count && at < from.column)
            at = -1;
        if (at >= 0)
            return {line, int(at)};
    }
    return {-1, 0};
}
