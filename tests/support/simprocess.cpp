#include "support/simprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

SimProcess::SimProcess(QStringList extraArgs, Pace pace) : m_args(std::move(extraArgs))
{
    if (pace == Pace::LineSpeed && !m_args.contains(QStringLiteral("--paced")))
        m_args.append(QStringLiteral("--paced"));
    m_process.setProgram(QStringLiteral(IRLEARN_DEVSIM_PATH));
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

SimProcess::~SimProcess()
{
    if (isRunning())
        kill();
}

bool SimProcess::start()
{
    if (!m_dir.isValid() || isRunning())
        return false;
    // A link left by an earlier, killed simulator must not pass for the new one's.
    QFile::remove(linkPath());
    m_process.setArguments(QStringList{QStringLiteral("--link"), linkPath(),
                                       QStringLiteral("--log"), logPath(), QStringLiteral("--dump"),
                                       dumpPath()} +
                           m_args);
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return false;
    // The simulator prints the link once it is ready for the tool.
    QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        if (m_process.canReadLine() && QFileInfo(linkPath()).isSymLink())
            return true;
        if (!isRunning())
            return false;
        QTest::qWait(10);
    }
    return false;
}

void SimProcess::kill()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool SimProcess::waitForReceived(int n, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while (received().size() < n) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

QList<QPair<qint64, QString>> SimProcess::readLog(const QByteArray &kind) const
{
    QList<QPair<qint64, QString>> lines;
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    // The simulator writes every line in one go, but a poll can still land mid-write: a last
    // line without its newline is not complete yet.
    const QList<QByteArray> raw = file.readAll().split('\n');
    for (qsizetype i = 0; i + 1 < raw.size(); ++i) {
        const QList<QByteArray> fields = raw.at(i).split(' ');
        if (fields.size() >= 3 && fields.at(1) == kind)
            lines.append({fields.at(0).toLongLong(),
                          QString::fromUtf8(raw.at(i).mid(fields.at(0).size() + kind.size() + 2))});
    }
    return lines;
}

QStringList SimProcess::logged(const QByteArray &kind) const
{
    QStringList result;
    for (const auto &line : readLog(kind))
        result.append(line.second);
    return result;
}

QStringList SimProcess::storedTable() const
{
    QFile file(dumpPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList records = QString::fromLatin1(file.readAll()).split(QStringLiteral("\r\n"));
    if (!records.isEmpty() && records.last().isEmpty())
        records.removeLast();
    return records;
}
