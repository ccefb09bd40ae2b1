#include "workflows/codetableread.h"

#include "protocol/devicestate.h"
#include "protocol/exchange.h"
#include "protocol/frames.h"
#include "serial/commcontrol.h"
#include "serial/frameio.h"
#include "workflows/deviceview.h"

namespace irlearn {

CodeTableRead::CodeTableRead(DeviceState &state, CommControl &comm, FrameIO &io, Exchange &exchange,
                             DeviceView &view)
    : m_state(state), m_comm(comm), m_io(io), m_exchange(exchange), m_view(view)
{
    QObject::connect(&m_state.Timer1, &QTimer::timeout, &m_state.Timer1,
                     [this] { Timer1_Timer(); });
    QObject::connect(&m_state.Timer2, &QTimer::timeout, &m_state.Timer2,
                     [this] { Timer2_Timer(); });
}

void CodeTableRead::Command5_Click()
{
    m_view.showWaitNotice(QStringLiteral("正在读取数据，请稍等..."));
    m_comm.setRThreshold(readThreshold);
    m_state.readBytes = 0;
    m_exchange.sendOpening(frames::readSelect(m_view.deviceNumberText()));
    m_exchange.SendCommand(frames::openStart, frames::tagRecord, recordLength);
    m_state.Timer2.start(Exchange::transferNoticeMs);
}

void CodeTableRead::Timer1_Timer()
{
    m_state.Timer1.stop();
    m_state.replyLen = recordLength;
    m_state.replyTag = frames::tagRecord;
    m_comm.setRThreshold(readThreshold);
    m_io.Comm_Output(frames::nextRecord, FrameIO::hexMode());
}

void CodeTableRead::Timer2_Timer()
{
    m_state.Timer2.stop();
    m_view.hideWaitNotice();
}

} // namespace irlearn
