// The device simulator where the product's tests do not reach it, through a real pseudo-terminal:
// a table loaded from a file, the stored table after refused, restarted and wrongly stored
// records, the download's length checks, the fault modes, pacing, other device numbers, and
// pinning a port in the settings.

#include "base/inifile.h"
#include "support/simprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// Reads until the line has been quiet for quietMs (the simulator's frame gap plus its reaction
// time, with room to spare); returns what came, as hex text.
QByteArray settle(QSerialPort &port, int quietMs)
{
    QByteArray answer;
    while (port.waitForReadyRead(quietMs))
        answer += port.readAll();
    return answer.toHex().toUpper();
}

// Sends a frame (hex text) as the tool does, in one write with the receive buffer emptied first,
// and returns the answer as hex text: the expected number of bytes and anything right behind
// them, or, when no answer is expected, whatever came meanwhile.
QByteArray ask(QSerialPort &port, const QByteArray &frameHex, int expected = 1, int quietMs = 60)
{
    port.clear();
    port.write(QByteArray::fromHex(frameHex));
    port.waitForBytesWritten(1000);
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    while (expected > 0 && answer.size() < expected && clock.elapsed() < 3000) {
        if (port.waitForReadyRead(20))
            answer += port.readAll();
    }
    return answer.toHex().toUpper() + settle(port, quietMs);
}

// Distinct 257-byte records, as hex text: record i is filled with byte firstByte + i.
QStringList hexRecords(int count, int firstByte, int length = 257)
{
    QStringList records;
    for (int i = 0; i < count; ++i)
        records << QString::fromLatin1(QByteArray(length, char(firstByte + i)).toHex().toUpper());
    return records;
}

// The texts of the simulator's log lines of one kind (RX, TX, EV, BAD).
QStringList logged(const QString &logPath, const QString &kind)
{
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList texts;
    const QString marker = QLatin1Char(' ') + kind + QLatin1Char(' ');
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw);
        const int at = line.indexOf(marker);
        if (at > 0)
            texts << line.mid(at + marker.size());
    }
    return texts;
}

void openTransfer(QSerialPort &port, const QByteArray &select, int quietMs)
{
    QCOMPARE(ask(port, "0001" + select, 1, quietMs), select);
    QCOMPARE(ask(port, "40", 1, quietMs), QByteArray("40"));
}

// Simulator options that make a frame end after 3 ms of silence, and the quiet that tells the
// test an answer is complete.
const QStringList quick{QStringLiteral("--frame-gap"), QStringLiteral("3")};
// The simulator's own behaviour, not the line's speed, is under test: answers at once unless a
// test paces them itself.
constexpr auto instant = SimProcess::Pace::Instant;
constexpr int quickQuietMs = 25;

} // namespace

class TstDevsim : public QObject
{
    Q_OBJECT

private slots:
    void loadedTableAndDownloadSetbacks();
    void downloadTakesOnlyWholeRecords();
    void readRecordLengths_data();
    void readRecordLengths();
    void refusingForever();
    void garbage();
    void flood();
    void pacedRecordArrivesInPieces();
    void vanish_data();
    void vanish();
    void otherDeviceNumbersAreIgnored();
    void pinSettings();
};

void TstDevsim::loadedTableAndDownloadSetbacks()
{
    // Records of assorted lengths in either case with CR LF and LF: nothing like a generated table.
    QTemporaryDir dir;
    const QString tableFile = dir.filePath(QStringLiteral("custom.bin"));
    QStringList loaded;
    for (int i = 0; i < 16; ++i)
        loaded << hexRecords(1, 0xA0 + i, 130 + i).first();
    QFile file(tableFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < 16; ++i)
        file.write(i % 2 ? loaded.at(i).toLower().toLatin1() + '\n'
                         : loaded.at(i).toLatin1() + "\r\n");
    file.close();

    SimProcess sim(quick + QStringList{QStringLiteral("--table"), tableFile,
                                       QStringLiteral("--refuse-record"), QStringLiteral("3:2"),
                                       QStringLiteral("--restart-at"), QStringLiteral("5"),
                                       QStringLiteral("--wrong-record"), QStringLiteral("9")},
                   instant);
    QVERIFY(sim.start());
    QCOMPARE(sim.storedTable(), loaded);
    QSerialPort port(sim.linkPath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    openTransfer(port, "ED", quickQuietMs);
    QCOMPARE(ask(port, "50", 130, quickQuietMs), loaded.at(0).toLatin1());

    // The records go out as the tool sends them: the same slot again after F5, slot 0 after DD.
    // A refused or restarted record is not stored; record 9 is stored with one byte off though
    // answered 00.
    const QStringList records = hexRecords(16, 0);
    openTransfer(port, "DD", quickQuietMs);
    QCOMPARE(ask(port, "50", 1, quickQuietMs), QByteArray("DD"));
    QStringList replies;
    QStringList stored = loaded;
    for (int slot = 0; slot < 16 && replies.size() < 30;) {
        const QByteArray reply = ask(port, records.at(slot).toLatin1(), 1, quickQuietMs);
        replies << QString::fromLatin1(reply);
        if (reply == "00" && slot != 9)
            stored[slot] = records.at(slot);
        if (reply == "00" && slot == 9)
            stored[slot] = sim.storedTable().value(9);
        QCOMPARE(sim.storedTable(), stored);
        slot = reply == "00" ? slot + 1 : reply == "DD" ? 0 : slot;
    }
    const QStringList ok(16, QStringLiteral("00"));
    const QStringList setbacks{QStringLiteral("F5"), QStringLiteral("F5")};
    QCOMPARE(replies,
             ok.mid(0, 3) + setbacks + ok.mid(0, 2) + QStringList{QStringLiteral("DD")} + ok);

    const QByteArray sent = QByteArray::fromHex(records.at(9).toLatin1());
    const QByteArray kept = QByteArray::fromHex(stored.at(9).toLatin1());
    QCOMPARE(kept.size(), sent.size());
    int differing = 0;
    for (int i = 0; i < sent.size(); ++i)
        differing += sent.at(i) != kept.at(i);
    QCOMPARE(differing, 1);
}

void TstDevsim::downloadTakesOnlyWholeRecords()
{
    SimProcess sim(quick, instant);
    QVERIFY(sim.start());
    const QStringList before = sim.storedTable();
    QSerialPort port(sim.linkPath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    openTransfer(port, "DD", quickQuietMs);
    QCOMPARE(ask(port, "50", 1, quickQuietMs), QByteArray("DD"));
    const QStringList records = hexRecords(2, 0x31);
    QCOMPARE(ask(port, records.at(0).toLatin1(), 1, quickQuietMs), QByteArray("00"));

    // Frames 10 ms apart are separate frames on a 3 ms gap: a record one byte short, one byte
    // long, a stray command. None is answered or stored, and record 1 is still the one expected.
    const QList<QByteArray> wrong{QByteArray(256, 'x'), QByteArray(258, 'y'),
                                  QByteArray::fromHex("0001F0")};
    port.clear();
    for (const QByteArray &frame : wrong) {
        port.write(frame);
        port.waitForBytesWritten(1000);
        QTest::qWait(10);
    }
    QVERIFY(sim.waitForReceived(4 + wrong.size()));
    QCOMPARE(settle(port, quickQuietMs), QByteArray());
    QCOMPARE(logged(sim.logPath(), QStringLiteral("BAD")),
             (QStringList{QStringLiteral("record 1: 256 bytes, expected 257"),
                          QStringLiteral("record 1: 258 bytes, expected 257"),
                          QStringLiteral("not a record, during download of record 1: 0001F0")}));
    QCOMPARE(sim.storedTable(), QStringList{records.at(0)} + before.mid(1));

    QCOMPARE(ask(port, records.at(1).toLatin1(), 1, quickQuietMs), QByteArray("00"));
    QCOMPARE(sim.storedTable(), records + before.mid(2));
}

void TstDevsim::readRecordLengths_data()
{
    QTest::addColumn<int>("length");
    for (int length : {128, 256, 258, 300, 2000})
        QTest::addRow("%d", length) << length;
}

void TstDevsim::readRecordLengths()
{
    QFETCH(int, length);
    SimProcess sim(quick + QStringList{QStringLiteral("--record-len"), QString::number(length)},
                   instant);
    QVERIFY(sim.start());
    const QStringList table = sim.storedTable();
    QCOMPARE(table.size(), 16);
    QSerialPort port(sim.linkPath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    openTransfer(port, "ED", quickQuietMs);
    QCOMPARE(ask(port, "50", length, quickQuietMs), table.at(0).toLatin1());
    QCOMPARE(ask(port, "00", length, quickQuietMs), table.at(1).toLatin1());
    QCOMPARE(ask(port, "00", length, quickQuietMs), table.at(2).toLatin1());
    QCOMPARE(table.at(2).size(), 2 * length);
}

void TstDevsim::refusingForever()
{
    for (const QByteArray &mode : {QByteArray("refuse-all"), QByteArray("restart-all")}) {
        SimProcess sim(quick + QStringList{QStringLiteral("--") + QString::fromLatin1(mode)},
                       instant);
        QVERIFY(sim.start());
        const QStringList before = sim.storedTable();
        QSerialPort port(sim.linkPath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        openTransfer(port, "DD", quickQuietMs);
        QCOMPARE(ask(port, "50", 1, quickQuietMs), QByteArray("DD"));
        const QByteArray record = hexRecords(1, 0x11).first().toLatin1();
        const QByteArray expected = mode == "refuse-all" ? "F5" : "DD";
        for (int i = 0; i < 5; ++i)
            QCOMPARE(ask(port, record, 1, quickQuietMs), expected);
        QCOMPARE(sim.storedTable(), before);
    }
}

void TstDevsim::garbage()
{
    // The answers to one session's frames, under a given seed.
    auto session = [](const QString &seed) {
        SimProcess sim(quick +
                           QStringList{QStringLiteral("--garbage"), QStringLiteral("--seed"), seed},
                       instant);
        if (!sim.start())
            return QList<QByteArray>();
        QSerialPort port(sim.linkPath());
        if (!port.open(QIODevice::ReadWrite))
            return QList<QByteArray>();
        QList<QByteArray> answers;
        for (const char *frame : {"0001F0", "0001ED", "40", "50", "00", "0001DD", "0001F2"})
            answers << QByteArray::fromHex(ask(port, frame, 2, quickQuietMs));
        return answers;
    };
    const QList<QByteArray> first = session(QStringLiteral("7"));
    QCOMPARE(first.size(), 7);
    for (const QByteArray &answer : first) {
        QVERIFY2(answer.size() >= 2 && answer.size() <= 5, answer.toHex().constData());
        for (const char c : QByteArray::fromHex("004050DDEDF0F2F5FD"))
            QVERIFY2(!answer.contains(c), answer.toHex().constData());
    }
    QCOMPARE(session(QStringLiteral("7")), first);
    QVERIFY(session(QStringLiteral("8")) != first);
}

void TstDevsim::flood()
{
    {
        SimProcess sim(quick + QStringList{QStringLiteral("--flood")}, instant);
        QVERIFY(sim.start());
        // Read straight from the terminal in large pieces, so that the simulator meets a line
        // with a lot of room at once as well as a full one.
        const int fd =
            ::open(QFile::encodeName(sim.linkPath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        auto drink = [fd](qint64 wanted) {
            QByteArray bytes;
            char buffer[65536];
            pollfd p{fd, POLLIN, 0};
            while (bytes.size() < wanted && ::poll(&p, 1, 200) > 0) {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                bytes.append(buffer, n);
            }
            return bytes;
        };
        QCOMPARE(drink(1), QByteArray()); // nothing before the first frame
        QCOMPARE(::write(fd, "\x00\x01\xF0", 3), ssize_t(3));
        // Left unread now and then, the terminal fills up and the simulator has to wait for
        // room, then finds a lot of it at once. Far more than a 9600-baud line carries in an
        // hour, without a pause of 200 ms: not paced, and never stalling.
        QByteArray flood;
        for (QByteArray more = QByteArray(1, 'x'); !more.isEmpty() && flood.size() < 2000000;) {
            QTest::qWait(5);
            more = drink(50000);
            flood += more;
        }
        ::close(fd);
        QVERIFY2(flood.size() >= 2000000, QByteArray::number(flood.size()).constData());
        QVERIFY(flood.count(flood.at(0)) < flood.size()); // not one byte repeated
    }
    {
        SimProcess sim(quick + QStringList{QStringLiteral("--flood"), QStringLiteral("--paced")});
        QVERIFY(sim.start());
        QSerialPort port(sim.linkPath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        QElapsedTimer clock;
        clock.start();
        port.write(QByteArray::fromHex("0001F0"));
        // Still coming after the simulator's answers would long have ended, never faster than
        // the line: one byte per 1.04 ms at most.
        qint64 bytes = 0;
        while (clock.elapsed() < 300) {
            if (port.waitForReadyRead(20))
                bytes += port.readAll().size();
        }
        const qint64 firstPart = bytes;
        while (clock.elapsed() < 400) {
            if (port.waitForReadyRead(20))
                bytes += port.readAll().size();
        }
        QVERIFY(firstPart > 0);
        QVERIFY(bytes > firstPart);
        QVERIFY2(bytes <= clock.elapsed() * 96 / 100 + 1, QByteArray::number(bytes).constData());
        // Frames sent meanwhile are logged but not answered over the flood.
        port.write(QByteArray::fromHex("0001F2"));
        QVERIFY(sim.waitForReceived(2));
        QCOMPARE(sim.sent(), QStringList());
    }
}

void TstDevsim::pacedRecordArrivesInPieces()
{
    SimProcess sim(quick + QStringList{QStringLiteral("--paced")});
    QVERIFY(sim.start());
    QSerialPort port(sim.linkPath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    openTransfer(port, "ED", quickQuietMs);
    QElapsedTimer clock;
    clock.start();
    port.write(QByteArray::fromHex("50"));
    QByteArray record;
    int reads = 0;
    while (record.size() < 257 && clock.elapsed() < 3000) {
        if (port.waitForReadyRead(20)) {
            record += port.readAll();
            ++reads;
        }
    }
    // 257 bytes of ten bits at 9600 baud cannot arrive in less than 268 ms.
    QCOMPARE(record.toHex().toUpper(), sim.storedTable().value(0).toLatin1());
    QVERIFY2(clock.elapsed() >= 260, QByteArray::number(clock.elapsed()).constData());
    QVERIFY2(reads >= 5, QByteArray::number(reads).constData());
}

void TstDevsim::vanish_data()
{
    QTest::addColumn<bool>("download");
    QTest::addRow("download") << true;
    QTest::addRow("read") << false;
}

void TstDevsim::vanish()
{
    // Run bare, as SimProcess does not tell how the simulator ended.
    QFETCH(bool, download);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("COM1"));
    const QString dump = dir.filePath(QStringLiteral("table.bin"));
    QProcess sim;
    sim.start(QStringLiteral(IRLEARN_DEVSIM_PATH),
              quick + QStringList{QStringLiteral("--paced"), QStringLiteral("--vanish-after"),
                                  QStringLiteral("2"), QStringLiteral("--link"), link,
                                  QStringLiteral("--log"), dir.filePath(QStringLiteral("log")),
                                  QStringLiteral("--dump"), dump});
    QVERIFY(sim.waitForReadyRead(5000));
    QFile dumpFile(dump);
    QVERIFY(dumpFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> before = dumpFile.readAll().split('\n');
    dumpFile.close();
    QSerialPort port(link);
    QVERIFY(port.open(QIODevice::ReadWrite));

    const QStringList records = hexRecords(3, 0x61);
    if (download) {
        openTransfer(port, "DD", quickQuietMs);
        QCOMPARE(ask(port, "50", 1, quickQuietMs), QByteArray("DD"));
        QCOMPARE(ask(port, records.at(0).toLatin1(), 1, quickQuietMs), QByteArray("00"));
        QCOMPARE(ask(port, records.at(1).toLatin1(), 1, quickQuietMs), QByteArray("00"));
        QCOMPARE(ask(port, records.at(2).toLatin1(), 0, quickQuietMs), QByteArray());
    } else {
        // The last record is taken whole before the terminal goes: it was sent, after all.
        openTransfer(port, "ED", quickQuietMs);
        QCOMPARE(ask(port, "50", 257, quickQuietMs), before.at(0).trimmed());
        QCOMPARE(ask(port, "00", 257, quickQuietMs), before.at(1).trimmed());
        QCOMPARE(ask(port, "00", 257, quickQuietMs), before.at(2).trimmed());
    }
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).exists());
    // Records 0 and 1 stored, 2 not.
    QList<QByteArray> expected = before;
    if (download) {
        expected[0] = records.at(0).toLatin1() + '\r';
        expected[1] = records.at(1).toLatin1() + '\r';
    }
    QVERIFY(dumpFile.open(QIODevice::ReadOnly));
    QCOMPARE(dumpFile.readAll().split('\n'), expected);
}

void TstDevsim::otherDeviceNumbersAreIgnored()
{
    SimProcess sim({QStringLiteral("--device"), QStringLiteral("0012")}, instant);
    QVERIFY(sim.start());
    QSerialPort port(sim.linkPath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    QCOMPARE(ask(port, "0001F0", 0), QByteArray());
    QCOMPARE(ask(port, "0012F0"), QByteArray("F0"));
    // The new number's last byte looks like a command code; it is still a number.
    QCOMPARE(ask(port, "FD0042"), QByteArray("FD"));
    QCOMPARE(ask(port, "0012F2", 0), QByteArray());
    QCOMPARE(ask(port, "0042F2"), QByteArray("F2"));
    QCOMPARE(ask(port, "0012ED", 0), QByteArray());
}

void TstDevsim::pinSettings()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("VexoSet.ini"));
    const QString link = dir.filePath(QStringLiteral("pinned/COM9"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Setup]\r\nTXPort=2\r\nTXsbID=0012\r\n");
    file.close();
    QProcess process;
    process.start(QStringLiteral(IRLEARN_DEVSIM_PATH),
                  {QStringLiteral("--pin-settings"), path, QStringLiteral("--as"),
                   QStringLiteral("COM3"), QStringLiteral("--link"), link});
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 0);
    const irlearn::IniFile settings(path);
    QCOMPARE(settings.read(QStringLiteral("Ports"), QStringLiteral("COM3"), QString()), link);
    QCOMPARE(settings.read(QStringLiteral("Setup"), QStringLiteral("TXsbID"), QString()),
             QStringLiteral("0012"));
    // Pinning only: no simulator was started on the link.
    QVERIFY(!QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(TstDevsim)
#include "tst_devsim.moc"
