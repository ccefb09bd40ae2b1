// Benchmarks of the paths every record takes (hex conversion, the log, code files) and of a whole
// read at the line's real speed against the simulated device: its wall time against the least
// the dialogue allows, and the CPU the program spends meanwhile.
#include "linespeed.h"
#include "support/enginerig.h"

#include "base/logbuffer.h"
#include "codefile/codefile.h"
#include "protocol/frames.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <time.h>

using namespace irlearn;

namespace {

QByteArray record()
{
    QByteArray bytes(recordBytes, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7);
    return bytes;
}

double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

} // namespace

class BenchCore : public QObject
{
    Q_OBJECT

private slots:
    void recordToHex()
    {
        const QByteArray bytes = record();
        QString text;
        QBENCHMARK
        {
            text = frames::toText(bytes);
        }
        QCOMPARE(text.size(), 2 * recordBytes);
    }

    void hexToRecord()
    {
        const QString text = frames::toText(record());
        QByteArray bytes;
        QBENCHMARK
        {
            bytes = frames::toBytes(text);
        }
        QCOMPARE(bytes, record());
    }

    void logLine()
    {
        LogBuffer log;
        const QString line = QStringLiteral("收到参数：") + frames::toText(record());
        QBENCHMARK
        {
            log.append(line);
        }
        QVERIFY(log.text().size() <= LogBuffer::limit + line.size() + 2);
    }

    void codeFileRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("table.bin"));
        CodeTable table;
        for (int i = 0; i < tableRecords; ++i)
            table[std::size_t(i)] = frames::toText(record());
        codefile::Loaded loaded;
        QBENCHMARK
        {
            QString error;
            QVERIFY(codefile::write(path, table, &error));
            loaded = codefile::load(path);
        }
        QVERIFY(loaded.ok);
    }

    // A read at 9600 baud with the device's own timings, from the call to the 16th record whole,
    // against its floor (linespeed.h).
    // On a machine busy with other work, run it as `chrt -f 10 build/bench/bench_core
    // readAtLineSpeed` (root): the simulator inherits the priority, and the figures are the
    // program's rather than the scheduler's.
    void readAtLineSpeed()
    {
        EngineRig rig({QStringLiteral("--paced")});
        QVERIFY(rig.start());
        const double floorMs = linespeed::readFloorMs(rig.engine.timings());
        QElapsedTimer wall;
        const double cpuBefore = cpuMs();
        wall.start();
        const qint64 readMs = linespeed::readToLastRecordMs(rig, 20000);
        QVERIFY(readMs != 0);
        const double wallMs = double(wall.nsecsElapsed()) / 1e6;
        const double cpu = cpuMs() - cpuBefore;
        QVERIFY(rig.waitIdle(5000)->ok());

        qInfo("read at 9600 baud: %lld ms, floor %.1f ms, ratio %.4f (target <= 1.005)", readMs,
              floorMs, double(readMs) / floorMs);
        qInfo("CPU during the read: %.1f ms of %.0f ms wall, %.2f %% (target <= 1 %%)", cpu, wallMs,
              100.0 * cpu / wallMs);
    }
};

QTEST_GUILESS_MAIN(BenchCore)
#include "bench_core.moc"
