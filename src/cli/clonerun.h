#pragma once

#include "portrun.h"

#include "codefile/codetable.h"

namespace irlearn::cli {

// One code file into several devices at once: a PortJob per port, all in this one process and
// its one event loop, so the devices' lines run side by side at their own pace. Each job
// downloads, verifies by reading back and, when asked, gives its device its new number; one
// failing never holds up the others. The live board shows every port's step; the summary and
// the JSON result list every device.
class CloneRun : public PortRun
{
    Q_OBJECT

public:
    CloneRun(const Request &request, Reporter &out);
    ~CloneRun() override;

    // Checks the file and every port, then starts every job: the exit code when the clone is
    // refused before anything is sent; otherwise `started`, and finished() tells the exit code
    // once the last device is done.
    int start() override;

private:
    int summarise() override;

    CodeTable m_table;
};

// Runs the command to its end (a Runner).
int runClone(const Request &request, Reporter &out);

} // namespace irlearn::cli
