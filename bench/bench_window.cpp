// The window's own CPU during a transfer at the line's real speed: a whole read and a whole
// download through the real window (offscreen) against the simulated device answering at 9600
// baud, with the device's own timings, the log pane and the session log as the operator has them.
// The figure is the CPU the program spends as a share of the wall time the transfer takes.
// Targets: read <= 0.5 %, download <= 1 %. Run by hand:
//   QT_QPA_PLATFORM=offscreen build/bench/bench_window
// (on a busy machine under `chrt -f 10`, as root, as for bench_core).
#include "support/simprocess.h"
#include "support/windowharness.h"

#include "codefile/codefile.h"
#include "engine/deviceengine.h"
#include "protocol/frames.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <time.h>

using namespace irlearn;

namespace {

double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Spent
{
    double cpuMs = 0;
    double wallMs = 0;
    bool ended = false;
    double share() const { return wallMs > 0 ? 100.0 * cpuMs / wallMs : 0; }
};

// Runs start() and then loop until it quits (not a polling wait: the CPU counted is the program's
// own), at most 30 s. Counted from the moment the engine shows its wait notice: a file dialog
// before it is the operator's, not the transfer's.
Spent measure(DeviceEngine &engine, QEventLoop &loop, const std::function<void()> &start)
{
    QElapsedTimer wall;
    double before = 0;
    const auto begun = QObject::connect(&engine, &DeviceEngine::noticeShown, &loop, [&] {
        before = cpuMs();
        wall.start();
    });
    QTimer::singleShot(30000, &loop, [&loop] { loop.exit(1); });
    start();
    const int code = loop.exec();
    Spent spent;
    spent.cpuMs = cpuMs() - before;
    spent.wallMs = wall.isValid() ? double(wall.nsecsElapsed()) / 1e6 : 0;
    spent.ended = code == 0 && wall.isValid();
    QObject::disconnect(begun);
    return spent;
}

} // namespace

class BenchWindow : public QObject
{
    Q_OBJECT

private slots:
    void transfersAtLineSpeed()
    {
        SimProcess sim; // answers at line speed
        QVERIFY(sim.start());
        WindowHarness h(sim.linkPath(), QStringLiteral("0001"), QStringLiteral("COM1"), Timings{});
        QVERIFY(h.connectPort());
        QTRY_VERIFY(h.controlsEnabled(true));
        DeviceEngine &engine = h.window().engine();

        // A read, from its start to the 16th record in hand (the save panel opens).
        QEventLoop readLoop;
        connect(&engine, &DeviceEngine::tableRead, &readLoop, [&readLoop] { readLoop.quit(); });
        const Spent read = measure(engine, readLoop, [&h] { h.click("readTableButton"); });
        QVERIFY(read.ended);
        QVERIFY(h.child<QWidget>("savePanel")->isVisible());
        // The request after record 16 goes unanswered; its wait is not part of the read.
        QVERIFY(QTest::qWaitFor([&engine] { return !engine.isRunning(); }, 10000));

        // A download of the table just read, from its start to the device's last answer.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("table.bin"));
        QString error;
        QVERIFY2(codefile::write(path, h.window().table(), &error), qPrintable(error));
        h.child<QCheckBox>("verifyAfterDownloadBox")->setChecked(false);
        h.answerNextFileDialog(path);
        QEventLoop downloadLoop;
        connect(&engine, &DeviceEngine::finished, &downloadLoop,
                [&downloadLoop] { downloadLoop.quit(); });
        const Spent download =
            measure(engine, downloadLoop, [&h] { h.click("downloadTableButton"); });
        QVERIFY(download.ended);
        QVERIFY(QTest::qWaitFor([&engine] { return !engine.isRunning(); }, 5000));
        QCOMPARE(sim.storedTable().size(), tableRecords);

        qInfo("window, read at 9600 baud: CPU %.1f ms of %.0f ms wall, %.2f %% (target <= 0.5 %%)",
              read.cpuMs, read.wallMs, read.share());
        qInfo("window, download at 9600 baud: CPU %.1f ms of %.0f ms wall, %.2f %% "
              "(target <= 1 %%)",
              download.cpuMs, download.wallMs, download.share());
    }
};

QTEST_MAIN(BenchWindow)
#include "bench_window.moc"
