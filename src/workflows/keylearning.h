#pragma once

namespace irlearn {

class CommControl;
class DeviceView;
class Exchange;
struct DeviceState;

// The learning-mode toggle and the ten air-conditioner keys. With the toggle pressed in, a key
// teaches the device its command; with the toggle released, a key sends it. Only clicks that the
// mouse started send anything: keyboard activation flips the value and stops there.
class KeyLearning
{
public:
    KeyLearning(DeviceState &state, CommControl &comm, Exchange &exchange, DeviceView &view);

    void Check1_MouseDown();
    void Check1_Click();
    void Check_MouseDown(int index);
    void Check_Click(int index);

private:
    bool deviceNumberOk();

    DeviceState &m_state;
    CommControl &m_comm;
    Exchange &m_exchange;
    DeviceView &m_view;
};

} // namespace irlearn
