#include "engine/commandrequest.h"

#include "protocol/exchange.h"
#include "protocol/frames.h"

namespace irlearn {

namespace {

const QString refusal = QStringLiteral("F5");

QString answered(const QString &reply)
{
    return QStringLiteral("设备应答 %1").arg(reply);
}

} // namespace

CommandRequest::CommandRequest(OperationKind kind, Context context, QString frame, QString tag,
                               QString expected, QObject *parent)
    : Operation(kind, std::move(context), parent), m_frame(std::move(frame)), m_tag(std::move(tag)),
      m_expected(std::move(expected))
{
}

void CommandRequest::start()
{
    exchange().request(m_frame, m_tag, 1, timings().replyWindowMs);
}

void CommandRequest::replied(const QString &, const QString &reply, bool)
{
    if (!m_expected.isEmpty()) {
        const bool done = reply == m_expected;
        if (done && kind() == OperationKind::LearningMode)
            emit learningModeConfirmed(m_expected == frames::learnOnEcho);
        finish(done ? Outcome::Done : Outcome::Refused, QString(), reply);
        return;
    }
    m_reply = reply;
    if (reply.size() > 2 || reply == refusal) {
        finish(Outcome::Refused, answered(reply), reply);
        return;
    }
    m_extra = 0;
    startTimer(m_quiet, quietAfterAnswerMs, [this] { settle(); });
}

void CommandRequest::strayBytes(int bytes)
{
    if (m_extra >= 0)
        m_extra += bytes;
}

void CommandRequest::settle()
{
    if (m_extra > 0) {
        finish(Outcome::Refused,
               QStringLiteral("%1，其后又有%2字节").arg(answered(m_reply)).arg(m_extra), m_reply);
        return;
    }
    OperationResult result;
    result.detail = answered(m_reply);
    result.quiet = true;
    result.reply = m_reply;
    finish(result);
}

void CommandRequest::timedOut(const QString &, int)
{
    finish(Outcome::TimedOut);
}

} // namespace irlearn
