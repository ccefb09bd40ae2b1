// irlearn-cli station at the device's own timings: how long from a port appearing (a link made
// in the watched folder) to the first frame the device receives. Each device is pulled out again
// as soon as that frame is there; the figure is the worst of several.
#include "support/simprocess.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <signal.h>

class BenchStation : public QObject
{
    Q_OBJECT

private slots:
    void firstFrameAfterAPortAppears()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QProcess station;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("IRLEARN_TIME_SCALE"));
        station.setProcessEnvironment(env);
        station.start(QStringLiteral(IRLEARN_CLI_PATH),
                      {QStringLiteral("station"), QStringLiteral(IRLEARN_TEST_DATA "/table16.bin"),
                       QStringLiteral("--device"), QStringLiteral("0001"),
                       QStringLiteral("--no-system-ports"), QStringLiteral("--watch"),
                       dir.filePath(QStringLiteral("*"))});
        QString err;
        const auto until = [&](const QString &text) {
            return QTest::qWaitFor(
                [&] {
                    err += QString::fromUtf8(station.readAllStandardError());
                    return err.contains(text);
                },
                20000);
        };
        QVERIFY(until(QStringLiteral("工作站已就绪")));

        constexpr int rounds = 8;
        QList<qint64> latencies;
        for (int i = 0; i < rounds; ++i) {
            SimProcess sim(QStringList{QStringLiteral("--paced")});
            QVERIFY(sim.start());
            const QString link = dir.filePath(QStringLiteral("dev%1").arg(i));
            const qint64 plugged = QDateTime::currentMSecsSinceEpoch();
            QVERIFY(QFile::link(sim.linkPath(), link));
            QVERIFY(sim.waitForReceived(1, 5000));
            latencies << sim.receivedTimed().first().first - plugged;
            sim.kill();
            QVERIFY(QFile::remove(link));
            QVERIFY(until(link + QStringLiteral(": 已拔下")));
        }
        ::kill(pid_t(station.processId()), SIGINT);
        QVERIFY(station.waitForFinished(20000));
        std::sort(latencies.begin(), latencies.end());
        qInfo("station: port appearing to first frame, %d rounds: median %lld ms, worst %lld ms "
              "(target <= 300 ms)",
              rounds, latencies.at(rounds / 2), latencies.last());
    }
};

QTEST_GUILESS_MAIN(BenchStation)
#include "bench_station.moc"
