#pragma once

#include <QString>

namespace irlearn {

// What stands between the program and a serial port. The same words describe a port that is
// listed (portinfo) and a port that would not open (a link's open()), so the window, its
// tooltips and the command line tell one cause in one way.
enum class PortState {
    Free,
    Busy,           // another process has the device open
    NotPermitted,   // the current user may not read and write it
    Missing,        // nothing at that path, or a link to nothing
    NotASerialPort, // a directory, a regular file or another kind of node
    Other,          // the system refused the open for a reason of its own (never listed)
    Network,        // a port server's address (rfc2217:// or tcp://), listed untried
};

// Why a port could not be opened.
struct OpenFailure
{
    PortState kind = PortState::Other;
    QString message; // one sentence for the operator: what is wrong and how to put it right
};

} // namespace irlearn
