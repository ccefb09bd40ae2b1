#pragma once

namespace irlearn::cli {

struct Request;
class Reporter;

// The commands that need no device: the port listing and the code-file checks. Each returns its
// exit code.
int listPorts(const Request &request, Reporter &out);
int diffFiles(const Request &request, Reporter &out);
int describeFile(const Request &request, Reporter &out);

} // namespace irlearn::cli
