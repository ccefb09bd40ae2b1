#pragma once

#include "engine/operation.h"

#include <QDeadlineTimer>

namespace irlearn {

// Learning one air-conditioner key with the device in learning mode: the key's learning frame,
// then the learning window in which the operator presses the remote control's button, counted
// down. The device's answer ends it: 00 learnt, anything else refused; none within the window
// times out.
//
// Once the frame's reply window has passed, the answer is no longer needed to go on, and the
// operation gives way to any other the operator starts (it ends as cancelled); the device's answer
// to it then arrives during that other operation and is only logged.
class KeyLearning : public Operation
{
    Q_OBJECT

public:
    KeyLearning(Context context, QString device, int key, QObject *parent = nullptr);

    void start() override;
    void replied(const QString &tag, const QString &reply, bool late) override;
    void timedOut(const QString &tag, int received) override;
    bool interrupt() override;
    // Within the frame's reply window the answer (or the window's end) is waited for, so that the
    // next frame never runs into this one on the line; after it, at once.
    void cancel() override;
    void portLost() override;

private:
    void tick();
    void end(Outcome outcome, const QString &reply = {});

    QString m_device;
    int m_key = 0;
    bool m_cancelled = false;
    QDeadlineTimer m_windowEnd;
    QTimer m_window;
    QTimer m_ticks;
};

} // namespace irlearn
