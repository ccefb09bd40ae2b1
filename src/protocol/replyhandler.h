#pragma once

#include <QString>

namespace irlearn {

class CommControl;
class FrameIO;
class LogPane;
class ReplyView;
struct DeviceState;

// Reads every reply of the device and acts on it by the registered tag: completes a learning,
// paces the record-by-record read of the code table and the record-by-record download. It runs
// whenever the serial control raises its event, usually nested inside a wait; it can be
// re-entered while it reads, and then the inner call takes the reply and the outer one finds
// nothing.
class ReplyHandler
{
public:
    ReplyHandler(DeviceState &state, CommControl &comm, FrameIO &io, LogPane &log, ReplyView &view);

    void MSComm1_OnComm();

    static constexpr int recordBytes = 256;
    static constexpr int tableBytes = 4096;
    static constexpr int recordMinChars = 256; // a record's text is longer than this
    static constexpr int lastRecordIndex = 15;
    static constexpr int nextDelayMs = 300;

private:
    void learnResult(const QString &reply);
    void record(const QString &reply);
    void storeAck(const QString &reply);
    void completeRead();

    DeviceState &m_state;
    CommControl &m_comm;
    FrameIO &m_io;
    LogPane &m_log;
    ReplyView &m_view;
};

} // namespace irlearn
