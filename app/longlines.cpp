#include "app/longlines.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

void keepLongLineLayouts(QTextDocument *document, int position, int charsAdded) {
    const QTextBlock last = document->findBlock(position + charsAdded);
    for (QTextBlock block = document->findBlock(position); block.isValid(); block = block.next()) {
        if (block.length() > LongLine)
            block.layout()->setCacheEnabled(true);
        if (block == last)
            break;
    }
}
