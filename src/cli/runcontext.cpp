#include "runcontext.h"

#include "base/settings.h"
#include "engine/outcomes.h"
#include "serial/pinnedports.h"
#include "serial/portchoice.h"

namespace irlearn::cli {

Timings timingsFromEnvironment()
{
    bool ok = false;
    const double factor = qEnvironmentVariable("IRLEARN_TIME_SCALE").toDouble(&ok);
    if (ok && factor > 0 && factor <= 1)
        return Timings().scaled(factor);
    return Timings();
}

std::optional<Target> resolveTarget(const Request &request, const QString &port, QString *why)
{
    const Settings settings =
        request.settingsPath.isEmpty() ? Settings::standard() : Settings(request.settingsPath);
    const PortNames names = PortNames::current(pinnedPorts(settings));
    // Listing the system's ports walks /proc: only "auto" needs it.
    const bool automatic = port.trimmed().compare(autoPort, Qt::CaseInsensitive) == 0;
    const PortChoice choice =
        choosePort(port, names, automatic ? systemPorts() : QList<PortDetails>());
    if (!choice.ok()) {
        *why = choice.error;
        return std::nullopt;
    }
    if (const auto problem = portPathProblem(choice.device)) {
        *why = problem->message;
        return std::nullopt;
    }
    return Target{choice.name.isEmpty() ? choice.device : choice.name, choice.device};
}

QString outcomeWord(Outcome outcome)
{
    return outcomes::word(outcome);
}

QJsonArray numbersJson(const QList<int> &numbers)
{
    QJsonArray array;
    for (int n : numbers)
        array.append(n);
    return array;
}

} // namespace irlearn::cli
