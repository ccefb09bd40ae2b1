#pragma once

#include <QPlainTextDocumentLayout>

namespace irlearn {

// The log pane's layout. A line added at the end goes in after the last line's end, and the
// plain-text layout takes that as a change to the last line too: it threw away the last line's
// layout and laid it out again, once more for every line after it. A record's reply is ten rows
// of hex, and laying it out twice was the largest thing the window did per record. Here a line
// added at the end leaves the lines before it as they are laid out.
class LogLayout : public QPlainTextDocumentLayout
{
public:
    explicit LogLayout(QTextDocument *document);

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;
};

} // namespace irlearn
