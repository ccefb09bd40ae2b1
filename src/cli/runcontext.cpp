#include "runcontext.h"

#include "serial/networkpresence.h"

#include "portjob.h"

#include "base/settings.h"
#include "engine/messages.h"
#include "engine/outcomes.h"
#include "serial/pinnedports.h"
#include "serial/portchoice.h"

namespace irlearn::cli {

namespace {

double timeScale()
{
    bool ok = false;
    const double factor = qEnvironmentVariable("IRLEARN_TIME_SCALE").toDouble(&ok);
    return ok && factor > 0 && factor <= 1 ? factor : 1.0;
}

} // namespace

Timings timingsFromEnvironment()
{
    const double factor = timeScale();
    if (factor >= 1.0)
        return Timings();
    Timings timings = Timings().scaled(factor);
    // The opening frames are told apart by the line's silence alone. Shorter than this, a loaded
    // machine (the device's side as much as ours) runs two of them into one frame.
    timings.openingPauseMs = qMax(timings.openingPauseMs, minScaledOpeningPauseMs);
    return timings;
}

int firstRetryMs()
{
    return int(1000 * timeScale());
}

int serverGraceMs()
{
    return int(NetworkPresence::defaultGraceMs * timeScale());
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

double seconds(const QElapsedTimer &clock)
{
    return double(clock.elapsed() / 100) / 10.0;
}

QString sumAndTime(const QString &sha256, const QElapsedTimer &clock)
{
    return QStringLiteral("SHA-256：%1\n用时：%2 秒").arg(sha256).arg(seconds(clock), 0, 'f', 1);
}

QString interruptedText(Command command, const JobResult &result)
{
    switch (command) {
    case Command::Download:
    case Command::Clone:
        if (result.readingBack)
            return QStringLiteral("已中断：已写入 %1/%1 条，校验未完成").arg(tableRecords);
        if (result.done < tableRecords)
            return QStringLiteral("已中断：已写入 %1/%2 条，设备中的表不完整")
                .arg(result.done)
                .arg(tableRecords);
        return QStringLiteral("已中断：已写入并校验 %1 条").arg(tableRecords);
    case Command::Read:
        return QStringLiteral("已中断：已读取 %1/%2 条，文件未保存")
            .arg(result.done)
            .arg(tableRecords);
    case Command::Verify:
        return QStringLiteral("已中断：已读取 %1/%2 条，未校验完")
            .arg(result.done)
            .arg(tableRecords);
    case Command::Learn:
        return QStringLiteral("已中断：学习未完成，学习模式已关闭");
    default:
        return QStringLiteral("已中断");
    }
}

QString outcomeWord(Outcome outcome)
{
    // The command line cancels only when a signal asks it to.
    return outcome == Outcome::Cancelled ? QStringLiteral("interrupted") : outcomes::word(outcome);
}

QJsonArray numbersJson(const QList<int> &numbers)
{
    QJsonArray array;
    for (int n : numbers)
        array.append(n);
    return array;
}

QString withNoAnswerHint(const QString &message)
{
    // Whatever its closing punctuation.
    if (message.contains(QStringView(messages::checkDevice).chopped(1)))
        return message;
    return message.isEmpty() ? messages::checkDevice : message + messages::checkDevice;
}

} // namespace irlearn::cli
