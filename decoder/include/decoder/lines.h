#pragma once

#include <QStringView>

// Where lines end, the same for the window and for kadrin-decode: CR LF, LF,
// a lone CR, U+2028 (line separator) and U+2029 (paragraph separator) each
// end a line.
constexpr bool isLineBreak(char16_t c) {
    return c <= u'\r' ? (c == u'\n' || c == u'\r') : (c == u'\u2028' || c == u'\u2029');
}

// Index of the first line break in text at or after from; text.size() if none.
inline qsizetype findLineBreak(QStringView text, qsizetype from) {
    const char16_t *p = text.utf16();
    const qsizetype size = text.size();
    while (from < size && !isLineBreak(p[from]))
        ++from;
    return from;
}

// Calls onLine(QStringView) for every line of a whole text, first to last,
// without its line break. An empty text has no lines; a text that ends with a
// line break has an empty last line.
template <typename OnLine> void forEachLine(QStringView text, OnLine &&onLine) {
    if (text.isEmpty())
        return;
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = findLineBreak(text, start);
        onLine(text.mid(start, end - start));
        if (end == text.size())
            return;
        start = end + 1;
        if (text[end] == u'\r' && start < text.size() && text[start] == u'\n')
            ++start;
    }
}

// The same rule for text that arrives in pieces, as a file read in blocks: a
// CR at the end of one piece and an LF at the start of the next make one
// line break.
class LineSplitter {
public:
    // Calls onText(QStringView) with the characters of the current line (a
    // line may arrive in several calls) and onBreak() at each line break.
    template <typename OnText, typename OnBreak>
    void feed(QStringView piece, OnText &&onText, OnBreak &&onBreak) {
        qsizetype start = 0;
        if (afterCr_ && !piece.isEmpty()) {
            afterCr_ = false;
            if (piece[0] == u'\n')
                start = 1;
        }
        while (start < piece.size()) {
            const qsizetype end = findLineBreak(piece, start);
            if (end > start) {
                onText(piece.mid(start, end - start));
                inLine_ = true;
            }
            if (end == piece.size())
                return;
            inLine_ = false;
            onBreak();
            start = end + 1;
            if (piece[end] == u'\r') {
                if (start == piece.size())
                    afterCr_ = true;
                else if (piece[start] == u'\n')
                    ++start;
            }
        }
    }
    // Characters have arrived since the last line break.
    bool inLine() const { return inLine_; }
    // Forgets everything: the next piece starts a new line.
    void reset() { afterCr_ = inLine_ = false; }

private:
    bool afterCr_ = false;
    bool inLine_ = false;
};
