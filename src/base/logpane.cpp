#include "base/logpane.h"

namespace irlearn {

void LogPane::PrintStr(const QString &tStr)
{
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

void LogPane::clear()
{
    m_text.clear();
    emit cleared();
}

} // namespace irlearn
