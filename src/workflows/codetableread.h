#pragma once

namespace irlearn {

class CommControl;
class DeviceView;
class Exchange;
class FrameIO;
struct DeviceState;

// Reading the device's code table: the opening frames, then one record per request, each next
// request 300 ms after the previous record arrived (the reply handler arms Timer1). The wait
// notice comes down when the table is complete, or at the latest 20 s after the start.
class CodeTableRead
{
public:
    CodeTableRead(DeviceState &state, CommControl &comm, FrameIO &io, Exchange &exchange,
                  DeviceView &view);

    void Command5_Click();
    void Timer1_Timer();
    void Timer2_Timer();

    static constexpr int readThreshold = 200;
    static constexpr int recordLength = 257;

private:
    DeviceState &m_state;
    CommControl &m_comm;
    FrameIO &m_io;
    Exchange &m_exchange;
    DeviceView &m_view;
};

} // namespace irlearn
