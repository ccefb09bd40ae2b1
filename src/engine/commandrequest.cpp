#include "engine/commandrequest.h"

#include "protocol/exchange.h"
#include "protocol/frames.h"

namespace irlearn {

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
    const bool done = m_expected.isEmpty() || reply == m_expected;
    if (done && kind() == OperationKind::LearningMode)
        emit learningModeConfirmed(m_expected == frames::learnOnEcho);
    finish(done ? Outcome::Done : Outcome::Refused, QString(), reply);
}

void CommandRequest::timedOut(const QString &, int)
{
    // The request stays registered: a late answer is still handled under its tag.
    finish(Outcome::TimedOut);
}

} // namespace irlearn
