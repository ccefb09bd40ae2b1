#include "protocol/replyhandler.h"

#include "protocol/devicestate.h"
#include "protocol/frames.h"
#include "protocol/replyview.h"
#include "serial/commcontrol.h"
#include "serial/frameio.h"
#include "base/logpane.h"

namespace irlearn {

ReplyHandler::ReplyHandler(DeviceState &state, CommControl &comm, FrameIO &io, LogPane &log,
                           ReplyView &view)
    : m_state(state), m_comm(comm), m_io(io), m_log(log), m_view(view)
{
}

void ReplyHandler::MSComm1_OnComm()
{
    if (m_comm.CommEvent() != comm::EvReceive)
        return;

    const QString reply = m_io.Comm_Input(m_state.replyLen, FrameIO::hexMode());
    m_state.replyLen = 0;
    // Nothing awaited, or a nested read took the reply first.
    if (m_state.replyTag.isEmpty() || reply.isEmpty())
        return;

    m_log.PrintStr(QStringLiteral("收到参数：") + reply);
    m_state.lastReply = reply;

    const QString tag = m_state.replyTag;
    if (tag == frames::tagLearn)
        learnResult(reply);
    else if (tag == frames::tagRecord)
        record(reply);
    else if (tag == frames::tagStore)
        storeAck(reply);

    m_state.waitReply = false;
    m_state.replyTag.clear();
}

void ReplyHandler::learnResult(const QString &reply)
{
    m_state.waitReply = false;
    if (reply == frames::learnt) {
        for (int i = 0; i < 10; ++i) {
            if (m_view.keyValue(i))
                m_view.setKeyValue(i, false);
            m_view.setKeyEnabled(i, true);
        }
        m_view.showMessage(QStringLiteral("指令学习成功！"));
    } else {
        m_state.waitLearn = false;
    }
    m_view.setLearnPromptVisible(false);
}

void ReplyHandler::record(const QString &reply)
{
    if (reply.size() <= recordMinChars)
        return;
    m_log.PrintStr(QStringLiteral("收到字符数:") + QString::number(reply.size() / 2));
    m_state.readBytes += recordBytes;
    if (m_state.readBytes <= tableBytes) {
        const int n = m_state.readBytes / recordBytes;
        m_log.PrintStr(QStringLiteral("获取第%1条记录。").arg(n));
        m_state.codeRec[std::size_t(n - 1)] = reply;
        // Armed after the sixteenth record too: one more request goes out after the table is
        // complete, and a record answering it only repeats the completion.
        m_state.Timer1.start(nextDelayMs);
    }
    if (m_state.readBytes >= tableBytes)
        completeRead();
}

void ReplyHandler::completeRead()
{
    m_view.hideWaitNotice();
    m_view.openSavePanel();
}

void ReplyHandler::storeAck(const QString &reply)
{
    if (reply == QLatin1String("DD")) {
        m_state.recIndex = 0;
        m_state.Timer3.start(nextDelayMs);
    } else if (reply == QLatin1String("00")) {
        if (m_state.recIndex >= lastRecordIndex) {
            m_log.PrintStr(QStringLiteral("下载记录完成！"));
        } else {
            ++m_state.recIndex;
            m_state.Timer3.start(nextDelayMs);
        }
    } else if (reply == QLatin1String("F5")) {
        m_state.Timer3.start(nextDelayMs);
    }
}

} // namespace irlearn
