#pragma once

class QTextDocument;

// A text box lays out and shapes a visible line again for every repaint;
// for a pasted line of megabytes that takes seconds per key. Lines longer
// than LongLine characters keep their layout between repaints instead.
inline constexpr int LongLine = 10000;

// Call for each change of the document: looks only at the changed lines.
void keepLongLineLayouts(QTextDocument *document, int position, int charsAdded);
