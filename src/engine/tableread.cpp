#include "engine/tableread.h"

#include "codefile/tablecompare.h"
#include "engine/messages.h"
#include "protocol/exchange.h"
#include "protocol/frames.h"

namespace irlearn {

namespace {

// A long reply: more than 128 bytes, as the device's records are.
constexpr int longReplyChars = 256;

} // namespace

TableRead::TableRead(Context context, QString device, std::optional<CodeTable> expected,
                     OperationKind kind, QObject *parent)
    : Operation(kind, std::move(context), parent), m_device(std::move(device)),
      m_expected(std::move(expected))
{
}

void TableRead::start()
{
    if (kind() != OperationKind::DownloadTable)
        emit phaseChanged(Phase::Reading);
    emit noticeShown(QStringLiteral("正在读取数据，请稍等..."));
    emit progress(0, tableRecords);
    openTransfer(m_timer, frames::readSelect(m_device),
                 [this] { requestRecord(frames::openStart); });
}

void TableRead::requestRecord(const QString &frame)
{
    m_step = m_record < tableRecords ? Step::Record : Step::Trailing;
    exchange().request(frame, frames::tagRecord, recordBytes, timings().replyWindowMs,
                       timings().recordTimeoutMs);
}

void TableRead::replied(const QString &, const QString &reply, bool)
{
    const int bytes = int(reply.size() / 2);
    if (m_step == Step::Trailing) {
        if (reply.size() > longReplyChars) {
            emit logLine(QStringLiteral("收到字符数:") + QString::number(bytes));
            complete();
        }
        end();
        return;
    }
    if (m_step != Step::Record)
        return;
    const int n = m_record + 1;
    if (bytes != recordBytes) {
        fail(Outcome::Refused, QStringLiteral("第%1条记录长度为%2字节，应为%3字节，读取中止。")
                                   .arg(n)
                                   .arg(bytes)
                                   .arg(recordBytes));
        return;
    }
    emit logLine(QStringLiteral("收到字符数:") + QString::number(bytes));
    emit logLine(QStringLiteral("获取第%1条记录。").arg(n));
    m_table[std::size_t(m_record)] = reply;
    m_record = n;
    emit progress(m_record, tableRecords);
    m_step = Step::Pacing;
    m_extra = 0;
    startTimer(m_timer, timings().pacingMs, [this] { paced(); });
}

void TableRead::strayBytes(int bytes)
{
    if (m_step == Step::Pacing)
        m_extra += bytes;
}

bool TableRead::recordWentOn()
{
    if (m_extra == 0)
        return false;
    // The record went on after its 257th byte: it was not a record of this device, and the read
    // stops at it, not at the one after.
    --m_record;
    fail(Outcome::Refused, QStringLiteral("第%1条记录长度为%2字节，应为%3字节，读取中止。")
                               .arg(m_record + 1)
                               .arg(recordBytes + m_extra)
                               .arg(recordBytes));
    return true;
}

void TableRead::paced()
{
    if (recordWentOn())
        return;
    if (m_record == tableRecords) {
        // The table is whole and handed over: the answer to the extra request is only logged,
        // and need not hold up the operator. An operation started as the table arrives ends the
        // read here, and the extra request is not sent into it.
        setInterruptible(true);
        complete();
        if (isFinished())
            return;
    }
    requestRecord(frames::nextRecord);
}

bool TableRead::interrupt()
{
    // An answer already coming in would run into the next operation's first reply.
    if (exchange().isReceiving())
        return false;
    end();
    return true;
}

void TableRead::complete()
{
    emit noticeHidden();
    if (!m_expected)
        emit tableRead(m_table);
}

void TableRead::timedOut(const QString &, int received)
{
    if (m_step == Step::Trailing) {
        end();
        return;
    }
    const int n = m_record + 1;
    if (received == 0)
        fail(Outcome::TimedOut, QStringLiteral("读取第%1条记录时设备无应答，读取中止。").arg(n) +
                                    messages::checkDevice);
    else
        fail(Outcome::TimedOut, QStringLiteral("第%1条记录长度为%2字节，应为%3字节，读取中止。")
                                    .arg(n)
                                    .arg(received)
                                    .arg(recordBytes));
}

void TableRead::portLost()
{
    // Once the sixteenth record is in, whole and not followed by more, the table is complete: the
    // device vanished in the pause before the extra request, or while that went unanswered.
    if (m_step == Step::Pacing && (recordWentOn() || m_record == tableRecords)) {
        if (!isFinished()) {
            complete();
            end();
        }
        return;
    }
    if (m_step == Step::Trailing) {
        end();
        return;
    }
    fail(Outcome::PortLost,
         QStringLiteral("读取第%1条记录时与设备的连接中断，读取中止。").arg(m_record + 1));
}

void TableRead::fail(Outcome outcome, const QString &detail)
{
    exchange().cancel();
    OperationResult result;
    result.outcome = outcome;
    result.detail = detail;
    result.record = qMin(m_record + 1, tableRecords);
    finish(result);
}

void TableRead::end()
{
    exchange().cancel();
    OperationResult result;
    result.table = m_table;
    if (m_expected) {
        for (const tables::RecordDifference &d : tables::compare(m_table, *m_expected))
            result.differing.append(d.record);
        if (result.differing.isEmpty()) {
            result.detail = QStringLiteral("校验完成：%1条记录全部一致。").arg(tableRecords);
        } else {
            QStringList numbers;
            for (int n : std::as_const(result.differing))
                numbers << QString::number(n);
            result.outcome = Outcome::Mismatch;
            result.detail = QStringLiteral("校验失败：第%1条记录与文件不一致。")
                                .arg(numbers.join(QStringLiteral("、")));
        }
    }
    finish(result);
}

} // namespace irlearn
