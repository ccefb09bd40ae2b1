#pragma once

#include "protocol/devicestate.h"
#include "protocol/exchange.h"
#include "protocol/replyhandler.h"
#include "serial/commcontrol.h"
#include "serial/connection.h"
#include "serial/frameio.h"
#include "base/logpane.h"
#include "workflows/codedownload.h"
#include "workflows/codesave.h"
#include "workflows/codetableread.h"
#include "workflows/keylearning.h"
#include "workflows/numberedlearning.h"

namespace irlearn {

class DeviceView;

// Everything the window drives, wired together: the serial control and its log, the exchange,
// the reply handler and the operator workflows. One per window.
class Session
{
public:
    Session(DeviceView &view, CommControl::PortResolver resolver);
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    DeviceState state;
    CommControl comm;
    LogPane log;
    FrameIO io{comm, log};
    Exchange exchange{state, io};
    ReplyHandler replies;
    Connection connection;
    KeyLearning keys;
    NumberedLearning numbered;
    CodeTableRead read;
    CodeDownload download;
    CodeSave save;
};

} // namespace irlearn
