#include "engine/tabledownload.h"

#include "engine/tableread.h"
#include "protocol/exchange.h"
#include "protocol/frames.h"

namespace irlearn {

namespace {

const QString ready = QStringLiteral("DD");
const QString stored = QStringLiteral("00");
const QString refused = QStringLiteral("F5");

} // namespace

TableDownload::TableDownload(Context context, QString device, CodeTable table, bool verify,
                             QObject *parent)
    : Operation(OperationKind::DownloadTable, std::move(context), parent),
      m_device(std::move(device)), m_table(std::move(table)), m_verify(verify)
{
}

void TableDownload::start()
{
    emit noticeShown(QStringLiteral("正在写入数据，请稍等..."));
    emit progress(0, tableRecords);
    openTransfer(m_timer, frames::downloadSelect(m_device), [this] {
        m_step = Step::Starting;
        exchange().request(frames::openStart, frames::tagStore, 1, timings().replyWindowMs);
    });
}

void TableDownload::sendRecord()
{
    m_step = Step::Storing;
    exchange().request(m_table[std::size_t(m_index)], frames::tagStore, 1, timings().replyWindowMs);
    emit logLine(QStringLiteral("输出第%1行指令！").arg(m_index));
}

void TableDownload::next()
{
    startTimer(m_timer, timings().pacingMs, [this] { sendRecord(); });
}

void TableDownload::replied(const QString &tag, const QString &reply, bool late)
{
    if (m_step == Step::Verifying) {
        m_readBack->replied(tag, reply, late);
        return;
    }
    if (m_step == Step::Starting) {
        if (reply != ready) {
            fail(Outcome::Refused,
                 QStringLiteral("设备未准备好接收（应答%1），下载中止。").arg(reply), reply);
            return;
        }
        m_index = 0;
        next();
        return;
    }
    if (m_step != Step::Storing)
        return;
    const int n = m_index + 1;
    if (m_cancelled) {
        if (reply == stored)
            emit progress(n, tableRecords);
        finish(Outcome::Cancelled, QString(), reply);
        return;
    }
    if (reply == stored) {
        m_refusals = 0;
        emit progress(n, tableRecords);
        if (m_index < tableRecords - 1) {
            ++m_index;
            next();
            return;
        }
        emit logLine(QStringLiteral("下载记录完成！"));
        if (!m_verify) {
            finish(Outcome::Done, QString(), reply);
            return;
        }
        m_step = Step::Verifying;
        m_readBack = new TableRead(Context{&exchange(), timings(), {}}, m_device, m_table,
                                   OperationKind::DownloadTable, this);
        connect(m_readBack, &Operation::logLine, this, &Operation::logLine);
        connect(m_readBack, &Operation::progress, this, &Operation::progress);
        connect(m_readBack, &Operation::noticeShown, this, &Operation::noticeShown);
        connect(m_readBack, &Operation::noticeHidden, this, &Operation::noticeHidden);
        connect(m_readBack, &Operation::finished, this,
                [this](const OperationResult &result) { finish(result); });
        m_readBack->start();
    } else if (reply == refused) {
        if (++m_refusals >= maxRefusals) {
            fail(Outcome::Refused,
                 QStringLiteral("第%1条记录被设备拒绝%2次，下载中止。").arg(n).arg(m_refusals),
                 reply);
            return;
        }
        next();
    } else if (reply == ready) {
        if (++m_restarts >= maxRestarts) {
            fail(Outcome::Refused,
                 QStringLiteral("设备在第%1条记录处第%2次要求重新开始，下载中止。")
                     .arg(n)
                     .arg(m_restarts),
                 reply);
            return;
        }
        m_index = 0;
        m_refusals = 0;
        next();
    } else {
        fail(Outcome::Refused,
             QStringLiteral("第%1条记录收到意外应答%2，下载中止。").arg(n).arg(reply), reply);
    }
}

void TableDownload::timedOut(const QString &tag, int received)
{
    if (m_step == Step::Verifying) {
        m_readBack->timedOut(tag, received);
        return;
    }
    if (m_step == Step::Starting)
        fail(Outcome::TimedOut, QStringLiteral("下载开始时设备无应答，下载中止。"));
    else
        fail(Outcome::TimedOut,
             QStringLiteral("第%1条记录发送后设备无应答，下载中止。").arg(m_index + 1));
}

void TableDownload::strayBytes(int bytes)
{
    if (m_step == Step::Verifying)
        m_readBack->strayBytes(bytes);
}

void TableDownload::messagesClosed()
{
    if (m_step == Step::Verifying)
        m_readBack->messagesClosed();
}

void TableDownload::portLost()
{
    if (m_step == Step::Verifying) {
        m_readBack->portLost();
        return;
    }
    fail(Outcome::PortLost,
         QStringLiteral("写入第%1条记录时与设备的连接中断，下载中止。").arg(m_index + 1));
}

void TableDownload::cancel()
{
    if (m_step == Step::Verifying) {
        m_readBack->cancel();
        return;
    }
    // A record on the wire gets its answer first, so that what is stored is known; between
    // records (and in the opening) it stops at once.
    if (m_step == Step::Storing && !m_timer.isActive()) {
        m_cancelled = true;
        return;
    }
    Operation::cancel();
}

void TableDownload::fail(Outcome outcome, const QString &detail, const QString &reply)
{
    exchange().cancel();
    OperationResult result;
    result.outcome = outcome;
    result.detail = detail;
    result.reply = reply;
    result.record = m_index + 1;
    finish(result);
}

} // namespace irlearn
