#include "protocol/exchange.h"

#include "protocol/frames.h"
#include "serial/devicelink.h"

namespace irlearn {

Exchange::Exchange(DeviceLink &link, QObject *parent) : QObject(parent), m_link(link)
{
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, &Exchange::expire);
    connect(&m_link, &DeviceLink::received, this, &Exchange::receive);
}

bool Exchange::send(const QString &frame)
{
    if (frame.isEmpty())
        return false;
    const QString failed = QStringLiteral("端口连接失败！");
    if (!m_link.isOpen()) {
        emit logLine(QStringLiteral("端口未打开"));
        return false;
    }
    if (!m_link.discardPending()) {
        emit logLine(failed);
        return false;
    }
    emit logLine(QStringLiteral("--== 输出指令[") + frame + QStringLiteral("] ==--"));
    if (!m_link.write(frames::toBytes(frame))) {
        emit logLine(failed);
        return false;
    }
    return true;
}

bool Exchange::request(const QString &frame, const QString &tag, int bytes, int windowMs,
                       int completeMs)
{
    // Registered before anything is written, so that a quick reply finds it.
    m_tag = tag;
    m_reply.clear();
    m_bytes = qMax(bytes, 1);
    m_completeMs = completeMs;
    m_late = false;
    m_deadline.start(windowMs);
    if (!send(frame))
        return false;
    m_link.expect(m_bytes);
    return true;
}

void Exchange::cancel()
{
    m_deadline.stop();
    m_tag.clear();
    m_reply.clear();
    m_late = false;
}

void Exchange::begin()
{
    m_forgotten = !m_tag.isEmpty();
    cancel();
}

void Exchange::receive(const QByteArray &bytes)
{
    if (m_tag.isEmpty()) {
        if (m_forgotten)
            emit logLine(QStringLiteral("忽略迟到的应答：") + frames::toText(bytes));
        emit stray(int(bytes.size()));
        return;
    }
    if (m_reply.isEmpty() && m_completeMs > 0 && !m_late)
        m_deadline.start(m_completeMs);
    m_reply += bytes;
    if (m_reply.size() < m_bytes)
        return;

    m_deadline.stop();
    const QString tag = m_tag;
    const QString reply = frames::toText(m_reply);
    const bool late = m_late;
    cancel();
    emit logLine(QStringLiteral("收到参数：") + reply);
    emit replied(tag, reply, late);
}

void Exchange::expire()
{
    if (m_tag.isEmpty() || m_late)
        return;
    const int received = int(m_reply.size());
    // A late reply starts afresh: the bytes that came too few are not the beginning of it.
    m_reply.clear();
    m_late = true;
    emit timedOut(m_tag, received);
}

} // namespace irlearn
