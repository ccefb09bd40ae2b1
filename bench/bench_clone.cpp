// irlearn-cli clone at the line's real speed: simulators sending at 9600 baud (--paced) and the
// device's own timings. Reports the wall time of a clone into eight devices against a clone into
// one (the jobs share one process and one event loop, so eight should take hardly longer), and
// the CLI's CPU time per device as a share of the wall time; then the same behind ser2net port
// servers on loopback (RFC 2217): eight devices behind two servers against one behind one.
#include "support/ser2netprocess.h"
#include "support/simprocess.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/resource.h>

namespace {

double childCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Clone
{
    double wallSeconds = 0;
    double cpuSeconds = 0;
    int exitCode = -1;
};

// A clone into `devices` simulators, on their terminals or (servers > 0) through that many
// ser2net servers sharing the devices out between them.
Clone cloneInto(int devices, int servers = 0)
{
    QList<std::shared_ptr<SimProcess>> sims;
    QStringList args{QStringLiteral("clone"), QStringLiteral(IRLEARN_TEST_DATA "/table16.bin"),
                     QStringLiteral("--device"), QStringLiteral("0001")};
    QList<QStringList> served(servers);
    for (int i = 0; i < devices; ++i) {
        auto sim = std::make_shared<SimProcess>(QStringList{QStringLiteral("--paced")});
        if (!sim->start())
            return {};
        if (servers > 0)
            served[i % servers] << sim->linkPath();
        else
            args << QStringLiteral("--port") << sim->linkPath();
        sims << sim;
    }
    QList<std::shared_ptr<Ser2netProcess>> ser2nets;
    for (const QStringList &paths : std::as_const(served)) {
        auto server = std::make_shared<Ser2netProcess>(paths);
        if (!server->start())
            return {};
        for (int i = 0; i < paths.size(); ++i)
            args << QStringLiteral("--port") << server->rfc2217Address(i);
        ser2nets << server;
    }
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("IRLEARN_TIME_SCALE"));
    cli.setProcessEnvironment(env);
    // The simulators and servers are children too, but they are still running: only the CLI is
    // reaped between the two readings.
    const double cpuBefore = childCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    cli.start(QStringLiteral(IRLEARN_CLI_PATH), args);
    cli.waitForFinished(120000);
    Clone result;
    result.wallSeconds = double(wall.elapsed()) / 1000.0;
    result.cpuSeconds = childCpuSeconds() - cpuBefore;
    result.exitCode = cli.exitCode();
    return result;
}

} // namespace

class BenchClone : public QObject
{
    Q_OBJECT

private slots:
    void eightDevicesAtLineSpeed()
    {
        const Clone one = cloneInto(1);
        QCOMPARE(one.exitCode, 0);
        const Clone eight = cloneInto(8);
        QCOMPARE(eight.exitCode, 0);
        const double ratio = eight.wallSeconds / one.wallSeconds;
        const double cpuShare = 100.0 * eight.cpuSeconds / 8 / eight.wallSeconds;
        qInfo("clone into 1 device: %.2f s wall, %.3f s CPU", one.wallSeconds, one.cpuSeconds);
        qInfo("clone into 8 devices: %.2f s wall (%.3fx one; target <= 1.15x), %.3f s CPU",
              eight.wallSeconds, ratio, eight.cpuSeconds);
        qInfo("CLI CPU per device: %.3f %% of the wall time (target < 1 %%)", cpuShare);
    }

    void eightDevicesBehindTwoServers()
    {
        if (Ser2netProcess::program().isEmpty())
            QSKIP("ser2net is not installed (scripts/deps.sh installs it)");
        const Clone one = cloneInto(1, 1);
        QCOMPARE(one.exitCode, 0);
        const Clone eight = cloneInto(8, 2);
        QCOMPARE(eight.exitCode, 0);
        qInfo("clone into 1 device behind ser2net: %.2f s wall", one.wallSeconds);
        qInfo("clone into 8 devices behind 2 ser2net servers: %.2f s wall (%.3fx one; target <= "
              "1.02x), %.3f s CPU",
              eight.wallSeconds, eight.wallSeconds / one.wallSeconds, eight.cpuSeconds);
    }
};

QTEST_GUILESS_MAIN(BenchClone)
#include "bench_clone.moc"
