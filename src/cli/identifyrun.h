#pragma once

#include "portrun.h"

#include "codefile/tablelibrary.h"

#include <QList>

namespace irlearn::cli {

// Which library table each device holds: a PortJob per port reads the device's table, all in
// one event loop as a clone runs, and each table read is matched against the library's entries.
class IdentifyRun : public PortRun
{
    Q_OBJECT

public:
    IdentifyRun(const Request &request, Reporter &out);
    ~IdentifyRun() override;

    // Loads the library and checks every port, then starts every read: the exit code when the
    // run is refused before anything is sent; otherwise `started`, and finished() tells the exit
    // code once the last device is done.
    int start() override;

private:
    int summarise() override;

    QList<TableLibrary::Entry> m_entries;
};

// Runs the command to its end (a Runner).
int runIdentify(const Request &request, Reporter &out);

} // namespace irlearn::cli
