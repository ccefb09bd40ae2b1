#include "portrun.h"

#include "commandline.h"
#include "portjob.h"
#include "reporter.h"
#include "runcontext.h"

#include "base/regularfile.h"

#include <QJsonObject>

namespace irlearn::cli {

PortRun::PortRun(const Request &request, Reporter &out) : m_request(request), m_out(out)
{
    m_clock.start();
}

PortRun::~PortRun() = default;

int PortRun::takePorts(const QJsonObject &json)
{
    const Request &r = m_request;
    QStringList problems;
    QStringList seen;
    for (int i = 0; i < r.ports.size(); ++i) {
        const QString &given = r.ports.at(i);
        QString why;
        const std::optional<Target> target = resolveTarget(r, given, &why);
        if (!target) {
            problems << QStringLiteral("%1：%2").arg(given, why);
            continue;
        }
        // A port server's address stays as it is: only paths resolve to one another.
        const QString canonical = canonicalPath(target->device);
        if (seen.contains(canonical))
            return m_out.refuse(json, exitUsage,
                                QStringLiteral("端口 %1 给了不止一次（%2）").arg(given, canonical),
                                QStringLiteral("usage"));
        seen << canonical;
        const QString current = r.portDevices.value(i);
        m_ports.append({target->label, target->device, given,
                        current.isEmpty() ? r.device : current, r.numbers.value(i), QString(),
                        nullptr});
    }
    if (!problems.isEmpty())
        return m_out.refuse(json, exitPortOpen, problems.join(QLatin1Char('\n')),
                            outcomeWord(Outcome::NotOpen));
    return 0;
}

void PortRun::startJobs(const std::function<void(Port &, PortJob &)> &addSteps,
                        const QString &doneText)
{
    const Timings timings = timingsFromEnvironment();
    m_running = int(m_ports.size());
    for (Port &port : m_ports) {
        port.job = new PortJob(port.device, timings, this);
        addSteps(port, *port.job);
        Port *p = &port;
        connect(port.job, &PortJob::stepStarted, this, [this, p](const QString &step, int attempt) {
            p->line = attempt > 1 ? QStringLiteral("%1（第%2次）").arg(step).arg(attempt) : step;
            drawBoard();
        });
        connect(port.job, &PortJob::progress, this,
                [this, p](const QString &step, int done, int total) {
                    p->line = QStringLiteral("%1 %2/%3").arg(step).arg(done).arg(total);
                    drawBoard();
                });
        connect(port.job, &PortJob::note, this, [this, p](const QString &text) {
            m_out.say(QStringLiteral("%1: %2").arg(p->label, text));
        });
        connect(port.job, &PortJob::logLine, this,
                [this, p, verbose = m_request.verbose](const QString &line) {
                    m_out.frame(QStringLiteral("%1: %2").arg(p->label, line), verbose);
                });
        connect(port.job, &PortJob::finished, this, [this, p, doneText] {
            const JobResult &result = p->job->result();
            p->line = result.ok() ? doneText : QStringLiteral("失败：%1").arg(result.message);
            drawBoard();
            if (--m_running == 0) {
                m_out.settle();
                emit finished(summarise());
            }
        });
    }
    drawBoard();
    for (Port &port : m_ports)
        port.job->start();
}

void PortRun::interrupt(int signal)
{
    if (m_signal != 0)
        return;
    m_signal = signal;
    m_out.say(stoppingText);
    for (Port &port : m_ports) {
        if (port.job)
            port.job->cancel();
    }
}

int PortRun::exitCodeOf(const JobResult &result) const
{
    if (result.ok())
        return exitDone;
    if (result.interrupted)
        return SignalWatch::exitCode(m_signal);
    return result.outcome == Outcome::NotOpen ? int(exitPortOpen) : result.exitCode();
}

QString PortRun::failureText(Command command, const JobResult &result) const
{
    if (result.interrupted)
        return interruptedText(command, result);
    return result.outcome == Outcome::TimedOut ? withNoAnswerHint(result.message) : result.message;
}

void PortRun::drawBoard()
{
    int width = 0;
    for (const Port &port : std::as_const(m_ports))
        width = qMax(width, int(port.label.size()));
    QStringList lines;
    for (const Port &port : std::as_const(m_ports))
        lines << QStringLiteral("%1  %2").arg(port.label.leftJustified(width),
                                              port.line.isEmpty() ? QStringLiteral("等待")
                                                                  : port.line);
    m_out.board(lines);
}

} // namespace irlearn::cli
