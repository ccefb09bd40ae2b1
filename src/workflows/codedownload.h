#pragma once

namespace irlearn {

class CommControl;
class DeviceView;
class Exchange;
class FrameIO;
class LogPane;
struct DeviceState;

// Downloading a code file into the device: the file is checked whole, the opening frames go
// out, and each record follows 300 ms after the device acknowledged the previous step (the reply
// handler arms Timer3): "DD" starts at record 0, "00" goes on, "F5" sends the same record again.
class CodeDownload
{
public:
    CodeDownload(DeviceState &state, CommControl &comm, FrameIO &io, Exchange &exchange,
                 LogPane &log, DeviceView &view);

    void Command6_Click();
    void Timer3_Timer();

private:
    DeviceState &m_state;
    CommControl &m_comm;
    FrameIO &m_io;
    Exchange &m_exchange;
    LogPane &m_log;
    DeviceView &m_view;
};

} // namespace irlearn
