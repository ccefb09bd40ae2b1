#pragma once

#include "engine/operation.h"

#include <QDeadlineTimer>

namespace irlearn {

// Learning one numbered command in one guided sequence: learning mode on, the command's learning
// frame, the learning window in which the operator presses the remote control's button, learning
// mode off.
//
// The window runs its full length after the device reports success, and ends at once when it
// reports a failure during the window. While the success message is open the sequence waits for
// the operator: a success reported before the window began starts the window when the message is
// closed, and the window never ends while the message is open.
class CommandLearning : public Operation
{
    Q_OBJECT

public:
    CommandLearning(Context context, QString device, int number, QObject *parent = nullptr);

    void start() override;
    void replied(const QString &tag, const QString &reply, bool late) override;
    void timedOut(const QString &tag, int received) override;
    void messagesClosed() override;
    void cancel() override;

private:
    enum class Step { Entering, AwaitingResult, Window, Leaving };

    void openWindow();
    void windowOver();
    void leave();
    void tick();
    void end();

    QString m_device;
    int m_number = 0;
    Step m_step = Step::Entering;
    QString m_result; // the device's answer to the learning frame; empty: none yet
    bool m_openWhenClosed = false;
    bool m_leaveWhenClosed = false;
    bool m_cancelled = false;
    QDeadlineTimer m_windowEnd;
    QTimer m_window;
    QTimer m_ticks;
};

} // namespace irlearn
