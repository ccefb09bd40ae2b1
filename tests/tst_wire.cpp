// The engine on the wire, where the pseudo-terminal and the simulated device show what a scripted
// line cannot: a whole read byte for byte from two devices side by side, the discard that reaches
// the driver's buffer, and a device that vanishes; and beneath them the frame texts, port names
// and log pane. The pacing is shortened, and the simulator ends a frame on 5 ms of silence.
#include "support/enginerig.h"

#include "base/logbuffer.h"
#include "protocol/frames.h"
#include "serial/portnames.h"
#include "serial/seriallink.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <sys/ioctl.h>

#include <ctime>
#include <fcntl.h>
#include <unistd.h>

using namespace irlearn;
using namespace Qt::StringLiterals;

namespace {

// Wide windows, as simulators may be slow to answer on a busy machine; the opening pauses are the
// device's own, as one starved there would read frames less far apart as one.
Timings quick()
{
    return {1500, 2000, 100, 10, 200, 3000};
}

// The simulator answers 5 ms after a frame, not 20.
const QStringList gap{u"--frame-gap"_s, u"5"_s};

const QStringList readFrames =
    QStringList{u"0001ED"_s, u"40"_s, u"50"_s} + QStringList(16, u"00"_s);

QStringList records(const CodeTable &table)
{
    return QStringList(table.begin(), table.begin() + tableRecords);
}

} // namespace

class WireTest : public QObject
{
    Q_OBJECT

private slots:
    void framesPortsAndLog()
    {
        // The transfer openings fit the number to four characters; the learning frames take only
        // four decimal digits.
        QCOMPARE(frames::readSelect(u"123456"_s), u"3456ED"_s);
        QCOMPARE(frames::downloadSelect(u" 1 "_s), u"0001DD"_s);
        QVERIFY(frames::isDeviceNumber(u"0012"_s));
        for (const char *bad : {"12", "00123", "00ab", "1 23", ""})
            QVERIFY2(!frames::isDeviceNumber(QLatin1String(bad)), bad);
        QCOMPARE(frames::toBytes(u"0001F"_s), QByteArray("\x00\x01\x0F", 3));
        QCOMPARE(frames::toBytes(u"G1ff"_s), QByteArray("\x00\xFF", 2));
        QCOMPARE(frames::toBytes(u"1G"_s), QByteArray("\x01", 1));

        const PortNames names({{1, u"/dev/ttyUSB1"_s}, {3, u"/tmp/pty"_s}},
                              {u"/dev/ttyUSB1"_s, u"/dev/ttyS0"_s, u"/dev/ttyACM0"_s});
        // By path, pinned devices skipped.
        const QStringList devices{u"/dev/ttyUSB1"_s, u"/dev/ttyACM0"_s, u"/tmp/pty"_s,
                                  u"/dev/ttyS0"_s,   QString(),         QString()};
        for (const int n : {1, 2, 3, 4, 5, 33})
            QCOMPARE(names.deviceFor(n), devices.value(std::min(n - 1, 5)));
        // COMn.5 halves to even.
        for (const auto &[text, number] :
             std::initializer_list<std::pair<const char *, int>>{{"  COM12 ", 12},
                                                                 {"com4", 4},
                                                                 {"COMx", 0},
                                                                 {"COM2.5", 2},
                                                                 {"COM3.5", 4},
                                                                 {"COM99999", 0}})
            QCOMPARE(PortNames::numberIn(QLatin1String(text)), number);

        LogBuffer log;
        QSignalSpy restarted(&log, &LogBuffer::restarted);
        for (int i = 0; i < 150; ++i)
            log.append(QString(98, QLatin1Char('x'))); // 100 characters with CR LF
        log.append(u"a"_s);                            // the pane was exactly full: still appended
        QCOMPARE(log.text().size(), LogBuffer::limit + 3);
        QCOMPARE(restarted.count(), 0);
        log.append(u"newest"_s);
        QCOMPARE(log.text(), u"newest\r\n"_s);
        QCOMPARE(restarted.count(), 1);
    }

    // Two devices read side by side, neither engine waiting for the other, each table byte for byte
    // as stored. (A record answering the request after the last one is the fault test's.)
    void twoReadsAtOnce()
    {
        EngineRig a(gap + QStringList{u"--seed"_s, u"7"_s}, quick());
        EngineRig b(gap + QStringList{u"--seed"_s, u"8"_s}, quick());
        QVERIFY(a.start());
        QVERIFY(b.start());
        QSignalSpy readA(&a.engine, &DeviceEngine::tableRead);
        QSignalSpy readB(&b.engine, &DeviceEngine::tableRead);
        QVERIFY(a.engine.readTable(u"1"_s));
        QVERIFY(b.engine.readTable(u"0001"_s));
        // The table is handed over as the request after the last record goes out; the wait for
        // that request's answer is no part of it.
        QTRY_VERIFY_WITH_TIMEOUT(readA.count() == 1 && readB.count() == 1, 10000);
        QVERIFY(a.sim.waitForReceived(int(readFrames.size())));
        QVERIFY(b.sim.waitForReceived(int(readFrames.size())));

        const QStringList stored = a.sim.storedTable();
        QVERIFY(stored != b.sim.storedTable());
        QCOMPARE(records(readA.at(0).at(0).value<CodeTable>()), stored);
        QCOMPARE(records(readB.at(0).at(0).value<CodeTable>()), b.sim.storedTable());
        QCOMPARE(a.sim.received(), readFrames);
        QCOMPARE(b.sim.received(), readFrames);
        QVERIFY(b.sim.receivedTimed().constFirst().first < a.sim.receivedTimed().constLast().first);

        QCOMPARE(a.noticeHiddenAtMs.size(), 1);
        QCOMPARE(a.progressAtMs.size(), tableRecords + 1);
        QCOMPARE(a.progressAtMs.constLast().first, tableRecords);
        // Only the records are answers that count; the opening's echoes are discarded unlogged.
        QCOMPARE(a.replies().size(), tableRecords);
        QCOMPARE(a.replies().constFirst(), u"收到参数："_s + stored.constFirst());
        QVERIFY(a.messages.isEmpty());
    }

    // The discard before a write reaches the driver's buffer: an answer that came while the
    // program was not reading is thrown away, not read as the next frame's answer.
    void discardReachesTheDriver()
    {
        SimProcess sim({}, SimProcess::Pace::Instant);
        QVERIFY(sim.start());
        // A second reader that only looks: how many bytes wait in the terminal's input queue.
        // Opened first, as the link takes the terminal for itself.
        const int watch =
            ::open(QFile::encodeName(sim.linkPath()).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        QVERIFY(watch >= 0);
        SerialLink link;
        QVERIFY(openAndWait(link, sim.linkPath()));
        QByteArray got;
        connect(&link, &DeviceLink::received, this, [&](const QByteArray &bytes) { got += bytes; });
        QVERIFY(link.write(QByteArray::fromHex("0001F0")));
        // No events processed: the echo waits in the driver.
        int waiting = 0;
        for (QDeadlineTimer deadline(5000); waiting == 0 && !deadline.hasExpired();) {
            if (::ioctl(watch, FIONREAD, &waiting) != 0)
                break;
            QThread::msleep(1);
        }
        ::close(watch);
        QCOMPARE(waiting, 1);
        QVERIFY(link.discardPending());
        // The line itself still works both ways, and brings the new answer alone.
        QVERIFY(link.write(QByteArray::fromHex("0001F2")));
        QTRY_COMPARE(got, QByteArray("\xF2", 1));
    }

    // The device goes as an unplugged adapter would, once record 4 is in. (The same in a download
    // is pinned, frames and stored records, by the fault test.)
    void unplugEndsOperation()
    {
        EngineRig rig(gap, quick());
        QVERIFY(rig.start());
        QSignalSpy lost(&rig.engine, &DeviceEngine::connectionLost);
        // At the test's hand: a simulator that vanishes by itself can, on a busy machine, hang up
        // before its last record has crossed the terminal.
        QObject::connect(&rig.engine, &DeviceEngine::progress, &rig.engine, [&](int done) {
            if (done == 4)
                rig.sim.kill();
        });
        QVERIFY(rig.engine.readTable(u"0001"_s));

        // (How the engine tells the loss, record and reason: the scripted line's.)
        const auto result = rig.waitIdle();
        QVERIFY(result && result->outcome == Outcome::PortLost);
        QVERIFY(rig.log.contains(u"端口连接失败！"_s));
        QCOMPARE(lost.count(), 1);
        QVERIFY(!rig.engine.isOpen());
        QCOMPARE(rig.progressAtMs.constLast().first, 4);

        // A port left open on a hung-up terminal reports its error again and again: nothing may
        // spin once the device is gone.
        const std::clock_t cpu = std::clock();
        QTest::qWait(500);
        const double used = double(std::clock() - cpu) / CLOCKS_PER_SEC;
        QVERIFY2(used < 0.2, qPrintable(u"CPU seconds used: %1"_s.arg(used)));
        QCOMPARE(lost.count(), 1);
    }
};

QTEST_GUILESS_MAIN(WireTest)
#include "tst_wire.moc"
