// The serial control, frame I/O, the log and the waits, against the simulated device over a
// pseudo-terminal.
#include "support/simprocess.h"

#include "serial/commcontrol.h"
#include "serial/connection.h"
#include "serial/frameio.h"
#include "base/logpane.h"
#include "serial/portnames.h"
#include "serial/waits.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace irlearn;

namespace {

// A serial control on the simulator as COM1, opened with the program's settings.
struct Line
{
    explicit Line(const QString &link)
        : comm([link](int port) { return port == 1 ? link : QString(); })
    {
        comm.setInputMode(comm::InputModeBinary);
        comm.setRThreshold(1);
    }
    bool open() { return comm.setPortOpen(true); }

    CommControl comm;
    LogPane log;
    FrameIO io{comm, log};
};

QStringList lines(const LogPane &log)
{
    QStringList l = log.text().split(QStringLiteral("\r\n"));
    l.removeAll(QString());
    return l;
}

} // namespace

class SerialTest : public QObject
{
    Q_OBJECT

private slots:
    void openCloseAndRefusals();
    void receiveEventsFollowTheThreshold();
    void inputEmptiesAndClearingDiscards();
    void framesGoOutAsBytesAndAreLogged();
    void readWaitsForTheWholeReply();
    void logStartsAfreshPastItsLimit();
    void waitsEndOnTheirFlagsOrTime();
    void portNamesAndNumbers();
};

void SerialTest::openCloseAndRefusals()
{
    SimProcess sim;
    QVERIFY(sim.start());
    Line a(sim.linkPath());
    QVERIFY(!a.comm.PortOpen());
    QVERIFY(a.open());
    QVERIFY(a.comm.PortOpen());
    QVERIFY(!a.comm.setCommPort(2));      // not while open
    QVERIFY(!a.comm.setInBufferSize(64)); // not while open
    QVERIFY(!a.open());                   // already open

    Line b(sim.linkPath());
    QVERIFY(!b.open()); // busy: the port is locked by the first opener
    QVERIFY(!b.comm.errorString().isEmpty());

    QVERIFY(b.comm.setCommPort(2)); // nothing behind COM2
    QVERIFY(!b.open());

    QVERIFY(a.comm.setPortOpen(false));
    QVERIFY(!a.comm.PortOpen());
    QVERIFY(b.comm.setCommPort(1));
    QVERIFY(b.open());

    QVERIFY(!b.comm.setSettings(QStringLiteral("9600,x,8,1")));
    QVERIFY(b.comm.setSettings(QStringLiteral("9600,n,8,1")));
}

void SerialTest::receiveEventsFollowTheThreshold()
{
    SimProcess sim;
    QVERIFY(sim.start());
    Line l(sim.linkPath());
    QVERIFY(l.open());
    QSignalSpy events(&l.comm, &CommControl::OnComm);

    l.io.Comm_Output(QStringLiteral("0001F0"));
    QVERIFY(events.wait(3000));
    QCOMPARE(l.comm.CommEvent(), int(comm::EvReceive));
    QCOMPARE(l.comm.InBufferCount(), 1);

    // Above the threshold waiting bytes raise nothing.
    events.clear();
    l.comm.setRThreshold(200);
    l.io.Comm_Output(QStringLiteral("0001F2"));
    QVERIFY(sim.waitForReceived(2));
    QVERIFY(QTest::qWaitFor([&] { return l.comm.InBufferCount() == 1; }, 3000));
    QTest::qWait(100);
    QCOMPARE(events.count(), 0);
    // Lowering it to what waits raises the event.
    l.comm.setRThreshold(1);
    QVERIFY(events.wait(1000));
    QCOMPARE(events.count(), 1);
}

void SerialTest::inputEmptiesAndClearingDiscards()
{
    SimProcess sim;
    QVERIFY(sim.start());
    Line l(sim.linkPath());
    QVERIFY(l.open());

    l.io.Comm_Output(QStringLiteral("0001F0"));
    QVERIFY(QTest::qWaitFor([&] { return l.comm.InBufferCount() == 1; }, 3000));
    QCOMPARE(l.comm.Input().toByteArray(), QByteArray("\xF0"));
    QCOMPARE(l.comm.InBufferCount(), 0);

    // A reply that arrived while nothing processed events still sits with the driver;
    // clearing must discard it too.
    l.io.Comm_Output(QStringLiteral("0001F2"));
    QThread::msleep(300);
    QVERIFY(l.comm.setInBufferCount(0));
    QTest::qWait(200);
    QCOMPARE(l.comm.InBufferCount(), 0);
    QVERIFY(!l.comm.setInBufferCount(5)); // only 0 empties

    l.comm.setInputMode(comm::InputModeText);
    l.io.Comm_Output(QStringLiteral("0001F0"));
    QVERIFY(QTest::qWaitFor([&] { return l.comm.InBufferCount() == 1; }, 3000));
    QCOMPARE(l.comm.Input().toString(), QString(QChar(0xF0)));
}

void SerialTest::framesGoOutAsBytesAndAreLogged()
{
    SimProcess sim;
    QVERIFY(sim.start());
    Line l(sim.linkPath());

    l.io.Comm_Output(QStringLiteral("0001F0"));
    QCOMPARE(lines(l.log), QStringList{QStringLiteral("端口未打开")});
    l.log.clear();

    QVERIFY(l.open());
    l.io.Comm_Output(QString()); // nothing at all
    l.io.Comm_Output(QStringLiteral("0001F0"));
    QTest::qWait(100); // the device tells frames apart by the pause between them
    l.io.Comm_Output(QStringLiteral("0a0B"));
    QVERIFY(sim.waitForReceived(2));
    QCOMPARE(sim.received(), (QStringList{QStringLiteral("0001F0"), QStringLiteral("0A0B")}));
    QCOMPARE(lines(l.log), (QStringList{QStringLiteral("--== 输出指令[0001F0] ==--"),
                                        QStringLiteral("--== 输出指令[0a0B] ==--")}));

    QCOMPARE(FrameIO::hexToBytes(QStringLiteral("0001F")), QByteArray("\x00\x01\x0F", 3));
    QCOMPARE(FrameIO::hexToBytes(QStringLiteral("G1ff")), QByteArray("\x00\xFF", 2));
    QCOMPARE(FrameIO::hexToBytes(QStringLiteral("1G")), QByteArray("\x01", 1));
    QCOMPARE(FrameIO::bytesToHex(QByteArray("\x00\x0A\xFF", 3)), QStringLiteral("000AFF"));
}

void SerialTest::readWaitsForTheWholeReply()
{
    // The first record is cut to 200 bytes: a wait for 257 runs out and leaves them.
    SimProcess sim({QStringLiteral("--short-record"), QStringLiteral("1:200"),
                    QStringLiteral("--key-reply"), QStringLiteral("ab")});
    QVERIFY(sim.start());
    Line l(sim.linkPath());
    QVERIFY(l.open());
    l.comm.setRThreshold(0);

    l.io.Comm_Output(QStringLiteral("000141")); // a key outside learning mode
    qint32 one = 1;
    QCOMPARE(l.io.Comm_Input(one), QStringLiteral("AB"));

    l.io.Comm_Output(QStringLiteral("0001ED"));
    QThread::msleep(100);
    l.io.Comm_Output(QStringLiteral("40"));
    QThread::msleep(100);
    l.io.Comm_Output(QStringLiteral("50"));
    qint32 record = 257;
    const qint64 start = waits::nowMs();
    QCOMPARE(l.io.Comm_Input(record), QString());
    const qint64 waited = waits::nowMs() - start;
    QVERIFY2(waited >= 2900 && waited <= 4500, qPrintable(QString::number(waited)));
    QCOMPARE(l.comm.InBufferCount(), 200);

    // 999 and above: one second, then whatever came.
    qint32 unbounded = 999;
    QCOMPARE(l.io.Comm_Input(unbounded).size(), 400);

    // A nested handler that sets the count to 0 ends the wait at the next pass.
    l.io.Comm_Output(QStringLiteral("000141"));
    record = 300;
    QTimer::singleShot(300, [&record] { record = 0; });
    QCOMPARE(l.io.Comm_Input(record), QStringLiteral("AB"));
}

void SerialTest::logStartsAfreshPastItsLimit()
{
    LogPane log;
    QSignalSpy restarted(&log, &LogPane::restarted);
    const QString line = QString(98, QLatin1Char('x')); // 100 characters with CR LF
    for (int i = 0; i < 150; ++i)
        log.PrintStr(line);
    QCOMPARE(log.text().size(), LogPane::limit); // exactly at the limit: still appended
    log.PrintStr(QStringLiteral("a"));
    QCOMPARE(log.text().size(), LogPane::limit + 3);
    QCOMPARE(restarted.count(), 0);
    log.PrintStr(QStringLiteral("newest"));
    QCOMPARE(log.text(), QStringLiteral("newest\r\n"));
    QCOMPARE(restarted.count(), 1);
}

void SerialTest::waitsEndOnTheirFlagsOrTime()
{
    bool ran = false;
    QTimer::singleShot(0, [&ran] { ran = true; });
    const bool cleared = false;
    waits::Delay(5, cleared); // returns at once, without processing events
    QVERIFY(!ran);

    bool waitReply = true;
    QTimer::singleShot(100, [&waitReply] { waitReply = false; });
    qint64 start = waits::nowMs();
    waits::Delay(5, waitReply);
    QVERIFY(ran);
    QVERIFY(!waitReply);
    QVERIFY(waits::nowMs() - start < 4000);

    bool waitLearn = true;
    start = waits::nowMs();
    waits::TDelay(0.3, waitLearn); // runs out
    QVERIFY(waits::nowMs() - start > 300);
    QVERIFY(waitLearn);

    start = waits::nowMs();
    waits::DelayAll(0);
    QVERIFY(waits::nowMs() - start >= 1);
}

void SerialTest::portNamesAndNumbers()
{
    const PortNames names({{1, QStringLiteral("/dev/ttyUSB1")}, {3, QStringLiteral("/tmp/pty")}},
                          {QStringLiteral("/dev/ttyUSB1"), QStringLiteral("/dev/ttyS0"),
                           QStringLiteral("/dev/ttyACM0")});
    QCOMPARE(names.deviceFor(1), QStringLiteral("/dev/ttyUSB1"));
    QCOMPARE(names.deviceFor(2), QStringLiteral("/dev/ttyACM0")); // by path, pinned skipped
    QCOMPARE(names.deviceFor(3), QStringLiteral("/tmp/pty"));
    QCOMPARE(names.deviceFor(4), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(names.deviceFor(5), QString());
    QCOMPARE(names.deviceFor(33), QString());

    QCOMPARE(Connection::portNumber(QStringLiteral("COM3")), 3);
    QCOMPARE(Connection::portNumber(QStringLiteral("  COM12 ")), 12);
    QCOMPARE(Connection::portNumber(QStringLiteral("com4")), 4);
    QCOMPARE(Connection::portNumber(QStringLiteral("COM")), 0);
    QCOMPARE(Connection::portNumber(QStringLiteral("COMx")), 0);
    QCOMPARE(Connection::portNumber(QStringLiteral("COM2.5")), 2); // halves to even
    QCOMPARE(Connection::portNumber(QStringLiteral("COM3.5")), 4);
    QCOMPARE(Connection::portNumber(QStringLiteral("COM99999")), 0);
    QCOMPARE(Connection::portNumber(QStringLiteral("CO")), 0);
}

QTEST_GUILESS_MAIN(SerialTest)
#include "tst_serial.moc"
