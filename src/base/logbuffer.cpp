#include "base/logbuffer.h"

#include <QTime>

namespace irlearn {

void LogBuffer::append(const QString &text)
{
    const QString tStr = m_timeStamped
                             ? QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz ")) + text
                             : text;
    const QString line = tStr + QLatin1String("\r\n");
    // Tested before the line is added: the log may hold the limit plus one line.
    if (m_text.size() > limit) {
        m_text = line;
        emit restarted(tStr);
    } else {
        m_text += line;
        emit appended(tStr);
    }
}

void LogBuffer::clear()
{
    m_text.clear();
    emit cleared();
}

} // namespace irlearn
