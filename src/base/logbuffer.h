#pragma once

#include <QObject>
#include <QString>

namespace irlearn {

// The log: every frame written and every reply read, one line each, ended by CR LF. Once it holds
// more than `limit` characters the next line starts it afresh, so it stays bounded however long
// the program runs. The window's log pane shows it.
//
// Time-stamped, every line added from then on starts with the time of day to the millisecond
// ("hh:mm:ss.zzz "), counted in the limit like the rest of the line.
class LogBuffer : public QObject
{
    Q_OBJECT

public:
    static constexpr int limit = 15000;

    using QObject::QObject;

    void append(const QString &tStr);
    void clear();
    QString text() const { return m_text; }

    void setTimeStamped(bool on) { m_timeStamped = on; }

signals:
    void appended(const QString &line);  // line (without CR LF) added at the end
    void restarted(const QString &line); // the whole log replaced by this line
    void cleared();

private:
    QString m_text;
    bool m_timeStamped = false;
};

} // namespace irlearn
