#pragma once

namespace irlearn {

class CommControl;
class DeviceView;
class Exchange;
struct DeviceState;

// Learning one numbered command (1 to 108) in one guided sequence, and giving the device a new
// device number.
class NumberedLearning
{
public:
    NumberedLearning(DeviceState &state, CommControl &comm, Exchange &exchange, DeviceView &view);

    // Learning mode on, the learning frame, up to 15 s for the operator's remote control, then
    // learning mode off.
    void Command3_Click();
    // Sends the device number box's number as the device's new number.
    void Command2_Click();

    static constexpr int maxCommand = 108;
    static constexpr double learnWaitSeconds = 15;

private:
    DeviceState &m_state;
    CommControl &m_comm;
    Exchange &m_exchange;
    DeviceView &m_view;
};

} // namespace irlearn
