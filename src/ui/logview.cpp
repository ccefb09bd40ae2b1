#include "logview.h"

#include "appearance.h"
#include "loglayout.h"
#include "logscrollbar.h"

#include <QTextDocument>

namespace irlearn {

LogView::LogView(QWidget *parent) : QPlainTextEdit(parent), m_bar(new LogScrollBar)
{
    auto *lines = new QTextDocument(this);
    lines->setDocumentLayout(new LogLayout(lines));
    setDocument(lines);
    setReadOnly(true);
    // A record's reply is one long run of hex digits with nowhere to break a word: looking for
    // one first only added to the pane's layout work for each of them.
    setWordWrapMode(QTextOption::WrapAnywhere);
    setFont(logFont());
    setVerticalScrollBar(m_bar);
}

void LogView::appendLine(const QString &line)
{
    // The newest line in view through the scroll bar alone: moving the text cursor there as well
    // cost each line a cursor update and a second pass at scrolling.
    m_bar->hold();
    m_adding = true;
    appendPlainText(line);
    m_bar->setValue(m_bar->maximum());
    m_adding = false;
    m_bar->release();
}

void LogView::scrollContentsBy(int dx, int dy)
{
    // Each scroll moves the whole picture of the pane. While lines are added only the scroll bar
    // moves at once; the text, and its picture with it, catch up before the pane is next drawn
    // (drawing waits for the events posted before it).
    if (m_adding && dx == 0) {
        if (!m_catchUpDue) {
            m_catchUpDue = true;
            QMetaObject::invokeMethod(this, &LogView::catchUp, Qt::QueuedConnection);
        }
        return;
    }
    QPlainTextEdit::scrollContentsBy(dx, dy);
}

void LogView::catchUp()
{
    m_catchUpDue = false;
    // The text's place is taken from the scroll bar, whatever it moved by meanwhile.
    QPlainTextEdit::scrollContentsBy(0, 0);
}

} // namespace irlearn
