#include "serial/frameio.h"

#include "serial/commcontrol.h"
#include "base/logpane.h"
#include "serial/waits.h"

#include <QCoreApplication>

namespace irlearn {

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

const QString portNotOpen = QStringLiteral("端口未打开");
const QString portFailed = QStringLiteral("端口连接失败！");

} // namespace

FrameIO::FrameIO(CommControl &comm, LogPane &log) : m_comm(comm), m_log(log)
{
}

QByteArray FrameIO::hexToBytes(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size() / 2 + 1);
    for (qsizetype i = 0; i < text.size(); i += 2) {
        int value = 0;
        for (qsizetype j = i; j < qMin(i + 2, text.size()); ++j) {
            const int d = hexDigit(text.at(j));
            if (d < 0)
                break;
            value = value * 16 + d;
        }
        bytes.append(char(value));
    }
    return bytes;
}

QString FrameIO::bytesToHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex()).toUpper();
}

void FrameIO::Comm_Output(const QString &StrZL, const QString &txFS)
{
    if (StrZL.isEmpty())
        return;
    const bool hex = txFS == hexMode();
    const QByteArray bytes = hex ? hexToBytes(StrZL) : StrZL.toLatin1();

    if (!m_comm.PortOpen()) {
        m_log.PrintStr(portNotOpen);
        return;
    }
    if (!m_comm.setInBufferCount(0) || !m_comm.setOutBufferCount(0)) {
        m_log.PrintStr(portFailed);
        return;
    }
    m_log.PrintStr(QStringLiteral("--== 输出指令[") + StrZL + QStringLiteral("] ==--"));
    if (!m_comm.Output(bytes))
        m_log.PrintStr(portFailed);
}

QString FrameIO::Comm_Input(const qint32 &sLen, const QString &txFS)
{
    const bool hex = txFS == hexMode();
    m_comm.setInputMode(hex ? comm::InputModeBinary : comm::InputModeText);
    m_comm.setInputLen(0);

    if (sLen < 999) {
        // Whole seconds, as the time of day would count them: the time-out ends the wait
        // between 3 and 4 seconds after it began.
        const qint64 startSecond = waits::nowMs() / 1000;
        for (;;) {
            QCoreApplication::processEvents();
            if (waits::nowMs() / 1000 - startSecond > 3)
                return QString();
            if (m_comm.InBufferCount() >= sLen)
                break;
            waits::sleepUntil((startSecond + 4) * 1000);
        }
    } else {
        waits::DelayAll(1);
    }

    const QVariant data = m_comm.Input();
    if (hex)
        return bytesToHex(data.toByteArray());
    const QString text = data.toString();
    if (text == QLatin1String("\r"))
        return QString();
    return text.trimmed();
}

} // namespace irlearn
