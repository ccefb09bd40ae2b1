#include "workflows/codedownload.h"

#include "codefile/codefile.h"
#include "protocol/devicestate.h"
#include "protocol/exchange.h"
#include "protocol/frames.h"
#include "serial/commcontrol.h"
#include "serial/frameio.h"
#include "base/logpane.h"
#include "workflows/deviceview.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace irlearn {

CodeDownload::CodeDownload(DeviceState &state, CommControl &comm, FrameIO &io, Exchange &exchange,
                           LogPane &log, DeviceView &view)
    : m_state(state), m_comm(comm), m_io(io), m_exchange(exchange), m_log(log), m_view(view)
{
    QObject::connect(&m_state.Timer3, &QTimer::timeout, &m_state.Timer3,
                     [this] { Timer3_Timer(); });
}

void CodeDownload::Command6_Click()
{
    const QString path = m_view.chooseOpenFile(QStringLiteral("选择红外指令文件")).trimmed();
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return;

    // Only a whole, valid table goes to the device: a short file would send records left over
    // from an earlier table, and junk would be sent as zero bytes.
    const codefile::Loaded file = codefile::load(path);
    if (!file.ok) {
        m_view.showMessage(QStringLiteral("红外指令文件不能下载：%1\n%2")
                               .arg(QDir::toNativeSeparators(path), file.reason));
        return;
    }

    m_view.showWaitNotice(QStringLiteral("正在写入数据，请稍等..."));
    QCoreApplication::processEvents(); // draw the notice before the blocking pauses
    codefile::fill(m_state.codeRec, file.lines);

    m_comm.setRThreshold(1);
    m_state.readBytes = 0;
    m_exchange.sendOpening(frames::downloadSelect(m_view.deviceNumberText()));
    m_state.replyTag = frames::tagStore;
    m_state.replyLen = 1;
    m_io.Comm_Output(frames::openStart, FrameIO::hexMode());
    m_state.Timer2.start(Exchange::transferNoticeMs);
}

void CodeDownload::Timer3_Timer()
{
    m_state.Timer3.stop();
    m_state.replyLen = 1;
    m_state.replyTag = frames::tagStore;
    m_comm.setRThreshold(1);
    const int index = m_state.recIndex;
    if (index < 0 || index >= int(m_state.codeRec.size()))
        return;
    m_io.Comm_Output(m_state.codeRec[std::size_t(index)], FrameIO::hexMode());
    m_log.PrintStr(QStringLiteral("输出第%1行指令！").arg(index));
}

} // namespace irlearn
