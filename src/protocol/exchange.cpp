#include "protocol/exchange.h"

#include "protocol/devicestate.h"
#include "serial/frameio.h"
#include "serial/waits.h"

#include <QThread>

namespace irlearn {

Exchange::Exchange(DeviceState &state, FrameIO &io) : m_state(state), m_io(io)
{
}

QString Exchange::SendCommand(const QString &cmdStr, const QString &xxZL, qint32 reLong)
{
    // Registered before anything is written, so that a quick reply finds it.
    m_state.waitReply = true;
    m_state.replyTag = xxZL;
    m_state.lastReply.clear();
    m_state.replyLen = reLong;
    m_io.Comm_Output(cmdStr, FrameIO::hexMode());
    waits::Delay(2, m_state.waitReply);
    return m_state.lastReply;
}

void Exchange::sendOpening(const QString &selectFrame)
{
    m_io.Comm_Output(selectFrame, FrameIO::hexMode());
    QThread::msleep(openingPauseMs);
    m_io.Comm_Output(frames::openSelect, FrameIO::hexMode());
    QThread::msleep(openingPauseMs);
}

} // namespace irlearn
