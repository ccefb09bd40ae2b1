#pragma once

#include "engine/operation.h"

namespace irlearn {

// An operation of one frame and its one-byte answer: learning mode on or off (the device echoes
// F0 / F2), learning a key (00 = learnt), sending a key or a new device number (any answer).
class CommandRequest : public Operation
{
    Q_OBJECT

public:
    // expected: the answer that means done; empty when any answer will do.
    CommandRequest(OperationKind kind, Context context, QString frame, QString tag,
                   QString expected, QObject *parent = nullptr);

    void start() override;
    void replied(const QString &tag, const QString &reply, bool late) override;
    void timedOut(const QString &tag, int received) override;
    // The one frame is out: its answer (or the reply window) ends the request, so that the next
    // frame never runs into this one on the line.
    void cancel() override {}

private:
    QString m_frame;
    QString m_tag;
    QString m_expected;
};

} // namespace irlearn
