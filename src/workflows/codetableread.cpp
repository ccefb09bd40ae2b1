#include "workflows/codetableread.h"

#include "protocol/devicestate.h"
#include "protocol/exchange.h"
#include "protocol/frames.h"
#include "serial/commcontrol.h"
#include "serial/frameio.h"
#include "workflows/deviceview.h"

#include <QThread>

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
    // The pauses block on purpose: whatever the device answers to the first two frames arrives
    // meanwhile and is discarded by the next write, never reaching the reply handler.
    m_io.Comm_Output(frames::readSelect(m_view.deviceNumberText()), FrameIO::hexMode());
    QThread::msleep(openingPauseMs);
    m_io.Comm_Output(frames::openSelect, FrameIO::hexMode());
    QThread::msleep(openingPauseMs);
    m_exchange.SendCommand(frames::openStart, frames::tagRecord, recordLength);
    m_state.Timer2.start(noticeMs);
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
