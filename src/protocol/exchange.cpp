#include "protocol/exchange.h"

#include "protocol/devicestate.h"
#include "serial/frameio.h"
#include "serial/waits.h"

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

} // namespace irlearn
