#include "loglayout.h"

#include <QTextBlock>
#include <QTextDocument>

namespace irlearn {

LogLayout::LogLayout(QTextDocument *document) : QPlainTextDocumentLayout(document)
{
}

void LogLayout::documentChanged(int from, int charsRemoved, int charsAdded)
{
    const QTextDocument *doc = document();
    // A line added: the change starts with the separator that ends what was the last line and
    // runs to the end of the text. The line before the separator kept every character.
    const bool appended = charsRemoved == 0 && charsAdded > 1 && from > 0 &&
                          from + charsAdded == doc->characterCount() - 1 &&
                          doc->characterAt(from) == QChar::ParagraphSeparator &&
                          doc->findBlock(from).next().position() == from + 1;
    if (appended)
        QPlainTextDocumentLayout::documentChanged(from + 1, 0, charsAdded - 1);
    else
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
}

} // namespace irlearn
