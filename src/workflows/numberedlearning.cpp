#include "workflows/numberedlearning.h"

#include "base/numtext.h"
#include "protocol/devicestate.h"
#include "protocol/exchange.h"
#include "protocol/frames.h"
#include "serial/commcontrol.h"
#include "serial/waits.h"
#include "workflows/deviceview.h"
#include "workflows/messages.h"

namespace irlearn {

namespace {

// A whole command number from 1 to 108, or 0. A fraction ("1.5") or trailing text would
// otherwise become the code of a neighbouring command.
int commandNumber(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return 0;
    for (const QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    }
    // Leading zeros ("007") still spell the number; digits beyond int's range do not parse.
    bool ok = false;
    const int n = t.toInt(&ok);
    return ok && n >= 1 && n <= NumberedLearning::maxCommand ? n : 0;
}

} // namespace

NumberedLearning::NumberedLearning(DeviceState &state, CommControl &comm, Exchange &exchange,
                                   DeviceView &view)
    : m_state(state), m_comm(comm), m_exchange(exchange), m_view(view)
{
}

void NumberedLearning::Command3_Click()
{
    const int number = commandNumber(m_view.commandNumberText());
    if (number == 0) {
        m_view.showMessage(messages::commandNumber);
        return;
    }
    if (m_view.commandNameText().trimmed().isEmpty()) {
        m_view.showMessage(messages::commandName);
        return;
    }
    const QString dev = m_view.deviceNumberText().trimmed();
    if (!frames::isDeviceNumber(dev)) {
        m_view.showMessage(messages::deviceNumberLength);
        return;
    }
    // Left at 200 by a code-table read, a one-byte reply would never raise the event.
    m_comm.setRThreshold(1);

    if (m_exchange.SendCommand(frames::learningModeOn(dev), frames::tagCommand, 1) !=
        frames::learnOnEcho)
        return;
    m_view.setLearnPromptVisible(true);
    m_exchange.SendCommand(frames::commandFrame(dev, number), frames::tagLearn, 1);
    m_state.waitLearn = true;
    waits::TDelay(learnWaitSeconds, m_state.waitLearn);
    if (m_exchange.SendCommand(frames::learningModeOff(dev), frames::tagCommand, 1) ==
        frames::learnOffEcho)
        m_view.setLearnPromptVisible(false);
}

void NumberedLearning::Command2_Click()
{
    const QString dev = m_view.deviceNumberText().trimmed();
    if (dev.isEmpty())
        return;
    if (textValue(dev) <= 0) {
        m_view.showMessage(messages::deviceNumberZero);
        return;
    }
    // Four decimal digits: the device takes them as its two address bytes.
    if (!frames::isDeviceNumber(dev)) {
        m_view.showMessage(messages::deviceNumberLength);
        return;
    }
    m_comm.setRThreshold(1);
    m_exchange.SendCommand(frames::setDeviceNumber(dev), frames::tagCommand, 1);
}

} // namespace irlearn
