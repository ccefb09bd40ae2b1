// A whole read at the line's real speed through a ser2net port server on loopback, over RFC 2217:
// its wall time against the least the dialogue allows (linespeed.h), as for a local port. The
// network's share is what exceeds the floor. On a machine busy with other work, run it as `chrt -f
// 10 build/bench/bench_network` (root).
#include "linespeed.h"
#include "support/enginerig.h"
#include "support/ser2netprocess.h"

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
        const double floorMs = linespeed::readFloorMs(rig.engine.timings());
        const qint64 readMs = linespeed::readToLastRecordMs(rig, 30000);
        QVERIFY(readMs != 0);
        QVERIFY(rig.waitIdle(5000)->ok());
        QCOMPARE(QStringList(rig.results.constLast().table.begin(),
                             rig.results.constLast().table.begin() + tableRecords),
                 rig.sim.storedTable());

        qInfo("read over RFC 2217 through ser2net at 9600 baud: %lld ms, floor %.1f ms, ratio "
              "%.4f (target <= 1.01)",
              readMs, floorMs, double(readMs) / floorMs);
    }
};

QTEST_GUILESS_MAIN(BenchNetwork)
#include "bench_network.moc"
