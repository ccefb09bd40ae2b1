// Benchmarks of the paths every record and every reply takes: hex conversion of a record, the
// log, code files, and the exchange's reply latency against the simulated device.
#include "support/simprocess.h"

#include "codefile/codefile.h"
#include "protocol/devicestate.h"
#include "protocol/exchange.h"
#include "protocol/replyhandler.h"
#include "protocol/replyview.h"
#include "serial/commcontrol.h"
#include "serial/frameio.h"
#include "base/logpane.h"
#include "serial/waits.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace irlearn;

namespace {

class NullView : public ReplyView
{
public:
    bool keyValue(int) const override { return false; }
    void setKeyValue(int, bool) override {}
    void setKeyEnabled(int, bool) override {}
    void showMessage(const QString &) override {}
    void setLearnPromptVisible(bool) override {}
    void hideWaitNotice() override {}
    void openSavePanel() override {}
};

QByteArray record()
{
    QByteArray bytes(257, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7);
    return bytes;
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
            text = FrameIO::bytesToHex(bytes);
        }
        QCOMPARE(text.size(), 514);
    }

    void hexToRecord()
    {
        const QString text = FrameIO::bytesToHex(record());
        QByteArray bytes;
        QBENCHMARK
        {
            bytes = FrameIO::hexToBytes(text);
        }
        QCOMPARE(bytes, record());
    }

    void logLine()
    {
        LogPane log;
        const QString line = QStringLiteral("收到参数：") + FrameIO::bytesToHex(record());
        QBENCHMARK
        {
            log.PrintStr(line);
        }
        QVERIFY(log.text().size() <= LogPane::limit + line.size() + 2);
    }

    void codeFileRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("table.bin"));
        CodeTable table;
        for (int i = 0; i < tableRecords; ++i)
            table[std::size_t(i)] = FrameIO::bytesToHex(record());
        codefile::Loaded loaded;
        QBENCHMARK
        {
            QString error;
            QVERIFY(codefile::write(path, table, &error));
            loaded = codefile::load(path);
        }
        QVERIFY(loaded.ok);
    }

    // Time from writing a frame to the handled one-byte reply, through the pseudo-terminal and
    // the simulator: the waits must wake as soon as the reply is handled.
    void exchangeLatency()
    {
        SimProcess sim;
        QVERIFY(sim.start());
        CommControl comm(
            [link = sim.linkPath()](int port) { return port == 1 ? link : QString(); });
        LogPane log;
        FrameIO io(comm, log);
        DeviceState state;
        Exchange exchange(state, io);
        NullView view;
        ReplyHandler handler(state, comm, io, log, view);
        QObject::connect(&comm, &CommControl::OnComm, &comm, [&] { handler.MSComm1_OnComm(); });
        comm.setRThreshold(1);
        QVERIFY(comm.setPortOpen(true));

        QList<qint64> times;
        for (int i = 0; i < 20; ++i) {
            const qint64 start = waits::nowMs();
            QCOMPARE(
                exchange.SendCommand(i % 2 ? QStringLiteral("0001F2") : QStringLiteral("0001F0")),
                i % 2 ? QStringLiteral("F2") : QStringLiteral("F0"));
            times << waits::nowMs() - start;
        }
        std::sort(times.begin(), times.end());
        qInfo("exchange latency: median %lld ms, max %lld ms (the device's own framing pause "
              "is 20 ms)",
              times.at(times.size() / 2), times.constLast());
    }
};

QTEST_GUILESS_MAIN(BenchCore)
#include "bench_core.moc"
