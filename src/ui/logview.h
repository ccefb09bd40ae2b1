#pragma once

#include <QPlainTextEdit>

namespace irlearn {

class LogScrollBar;

// The log pane: every frame and message of the session, a line each, the newest in view. Lines
// arrive in bursts (a record's reply and the lines it brings come together), and the pane moves
// its picture up once for a burst, before it is drawn, not once for each line.
class LogView : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit LogView(QWidget *parent = nullptr);

    // Adds a line at the end and brings it into view.
    void appendLine(const QString &line);

protected:
    void scrollContentsBy(int dx, int dy) override;

private:
    void catchUp();

    LogScrollBar *m_bar = nullptr;
    bool m_adding = false;     // within appendLine()
    bool m_catchUpDue = false; // the text has moved and the picture not yet
};

} // namespace irlearn
