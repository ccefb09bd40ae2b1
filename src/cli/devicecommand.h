#pragma once

namespace irlearn::cli {

struct Request;
class Reporter;

// read, download, verify, set-number, learn and send on one device: everything the command line
// and the files allow is checked first, then one PortJob runs the command's steps. Returns the
// exit code.
int runDeviceCommand(const Request &request, Reporter &out);

} // namespace irlearn::cli
