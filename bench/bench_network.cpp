// A whole read at the line's real speed through a ser2net port server on loopback, over RFC 2217:
// its wall time against the least the dialogue allows, as for a local port (bench_core's
// readAtLineSpeed). The network's share is what exceeds the floor.
// On a machine busy with other work, run it as `chrt -f 10 build/bench/bench_network` (root).
#include "support/enginerig.h"
#include "support/ser2netprocess.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>

using namespace irlearn;

class BenchNetwork : public QObject
{
    Q_OBJECT

private slots:
    void readOverRfc2217AtLineSpeed_data()
    {
        QTest::addColumn<bool>("charDelay");
        QTest::newRow("ser2net as installed") << true;
        QTest::newRow("ser2net, chardelay off") << false;
    }

    void readOverRfc2217AtLineSpeed()
    {
        QFETCH(bool, charDelay);
        if (Ser2netProcess::program().isEmpty())
            QSKIP("ser2net is not installed (scripts/deps.sh installs it)");
        EngineRig rig({QStringLiteral("--paced")});
        QVERIFY(rig.sim.start());
        Ser2netProcess server(rig.sim.linkPath(), charDelay);
        QVERIFY(server.start());
        OpenFailure error;
        QVERIFY2(openAndWait(rig.engine, server.rfc2217Address(), &error),
                 qPrintable(error.message));
        const Timings t = rig.engine.timings();
        // The floor, as for a local port: the two opening pauses, 16 records of 257 bytes at ten
        // bit times a byte, the pacing between them, and the 20 ms of silence the device waits
        // for before it takes each request that a record answers.
        const double floorMs = 2.0 * t.openingPauseMs +
                               tableRecords * recordBytes * 10 * 1000.0 / 9600 +
                               (tableRecords - 1) * t.pacingMs + tableRecords * 20.0;

        QEventLoop loop;
        qint64 lastRecordMs = 0;
        QObject::connect(&rig.engine, &DeviceEngine::progress, &rig.engine,
                         [&lastRecordMs, &loop](int done, int total) {
                             if (done == total) {
                                 lastRecordMs = EngineRig::now();
                                 loop.quit();
                             }
                         });
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        const qint64 startMs = EngineRig::now();
        QVERIFY(rig.engine.readTable(QStringLiteral("0001")));
        loop.exec();
        QVERIFY(lastRecordMs != 0);
        QVERIFY(rig.waitIdle(5000)->ok());
        QCOMPARE(QStringList(rig.results.constLast().table.begin(),
                             rig.results.constLast().table.begin() + tableRecords),
                 rig.sim.storedTable());

        const double readMs = double(lastRecordMs - startMs);
        qInfo("read over RFC 2217 through ser2net at 9600 baud: %.0f ms, floor %.1f ms, ratio "
              "%.4f (target <= 1.01)",
              readMs, floorMs, readMs / floorMs);
    }
};

QTEST_GUILESS_MAIN(BenchNetwork)
#include "bench_network.moc"
