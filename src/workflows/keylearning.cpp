#include "workflows/keylearning.h"

#include "protocol/devicestate.h"
#include "protocol/exchange.h"
#include "protocol/frames.h"
#include "serial/commcontrol.h"
#include "workflows/deviceview.h"
#include "workflows/messages.h"

namespace irlearn {

KeyLearning::KeyLearning(DeviceState &state, CommControl &comm, Exchange &exchange,
                         DeviceView &view)
    : m_state(state), m_comm(comm), m_exchange(exchange), m_view(view)
{
}

void KeyLearning::Check1_MouseDown()
{
    m_state.userClick = true;
}

void KeyLearning::Check_MouseDown(int)
{
    m_state.userClick = true;
}

// The learning frames carry the device number as typed; anything but four decimal digits would
// put a malformed frame on the wire, addressed to some other device.
bool KeyLearning::deviceNumberOk()
{
    if (frames::isDeviceNumber(m_view.deviceNumberText().trimmed()))
        return true;
    m_view.showMessage(messages::deviceNumberLength);
    return false;
}

void KeyLearning::Check1_Click()
{
    if (!m_state.userClick)
        return;
    const bool on = m_view.toggleValue();
    if (!deviceNumberOk()) {
        m_view.setToggleValue(!on);
        m_state.userClick = false;
        return;
    }
    m_comm.setRThreshold(1);
    const QString dev = m_view.deviceNumberText().trimmed();
    if (on) {
        if (m_exchange.SendCommand(frames::learningModeOn(dev), frames::tagCommand, 1) ==
            frames::learnOnEcho)
            m_view.setToggleCaption(QStringLiteral("结束指令学习"));
    } else {
        if (m_exchange.SendCommand(frames::learningModeOff(dev), frames::tagCommand, 1) ==
            frames::learnOffEcho)
            m_view.setToggleCaption(QStringLiteral("开始学习指令"));
    }
    m_state.userClick = false;
}

void KeyLearning::Check_Click(int index)
{
    m_comm.setRThreshold(1);
    if (m_view.toggleValue()) {
        if (!m_view.keyValue(index))
            return;
        if (!deviceNumberOk()) {
            m_view.setKeyValue(index, false);
            return;
        }
        for (int i = 0; i < 10; ++i) {
            if (i != index)
                m_view.setKeyEnabled(i, false);
        }
        m_exchange.SendCommand(frames::keyFrame(m_view.deviceNumberText().trimmed(), index),
                               frames::tagLearn, 1);
        return;
    }
    if (m_state.userClick) {
        m_state.userClick = false;
        if (deviceNumberOk()) {
            m_exchange.SendCommand(frames::keyFrame(m_view.deviceNumberText().trimmed(), index),
                                   frames::tagCommand, 1);
        }
    }
    // Outside learning mode a key is a push button: it pops back out.
    m_view.setKeyValue(index, false);
}

} // namespace irlearn
