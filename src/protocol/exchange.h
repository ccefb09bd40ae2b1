#pragma once

#include "protocol/frames.h"

#include <QString>

namespace irlearn {

class FrameIO;
struct DeviceState;

// The single outstanding request: registers the awaited reply, writes the frame and waits for
// the reply handler to take the answer.
class Exchange
{
public:
    Exchange(DeviceState &state, FrameIO &io);

    // Returns the reply when a tagged reply was handled within 2 seconds, else "". On a time-out
    // the request stays registered, so a late reply is still handled under its tag.
    QString SendCommand(const QString &cmdStr, const QString &xxZL = frames::tagCommand,
                        qint32 reLong = 1);

    // The first two frames of a transfer opening (the read or download select frame, then "40"),
    // each followed by a blocking pause: whatever the device answers to them arrives meanwhile
    // and is discarded by the next write, never reaching the reply handler.
    void sendOpening(const QString &selectFrame);

    static constexpr int openingPauseMs = 100;
    // The wait notice comes down this long after a transfer started, however it went.
    static constexpr int transferNoticeMs = 20000;

private:
    DeviceState &m_state;
    FrameIO &m_io;
};

} // namespace irlearn
