#pragma once

#include "engine/operation.h"

namespace irlearn {

// An operation of one frame and its one-byte answer: learning mode on or off (the device echoes
// F0 / F2), sending a key or a new device number. The last two take any single byte but F5 (the
// device's refusal) as their answer and say what it was; more than one byte cannot be an answer.
class CommandRequest : public Operation
{
    Q_OBJECT

public:
    // After a one-byte answer, this much quiet on the line before it counts as the answer: a
    // device that floods the line sends its next bytes well within it.
    static constexpr int quietAfterAnswerMs = 20;

    // expected: the answer that means done; empty when any answer will do.
    CommandRequest(OperationKind kind, Context context, QString frame, QString tag,
                   QString expected, QObject *parent = nullptr);

    void start() override;
    void replied(const QString &tag, const QString &reply, bool late) override;
    void timedOut(const QString &tag, int received) override;
    void strayBytes(int bytes) override;
    // The one frame is out: its answer (or the reply window) ends the request, so that the next
    // frame never runs into this one on the line.
    void cancel() override {}

private:
    void settle();

    QString m_frame;
    QString m_tag;
    QString m_expected;
    QString m_reply;
    int m_extra = -1; // bytes after the answer; -1: no answer yet
    QTimer m_quiet;
};

} // namespace irlearn
