// The device simulator where the product's tests do not reach it, through a real pseudo-terminal:
// a table loaded from a file, other device numbers, the download's length checks, the fault modes,
// and pinning a port in the settings. (Refused, restarted and wrongly stored records, endless
// refusals and restarts, record lengths, vanishing and pacing are pinned by the wire, fault and
// real-time tests that use them.)

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

using namespace Qt::StringLiterals;

namespace {

// Simulator options that make a frame end after 3 ms of silence, and the quiet that tells the
// test an answer is complete.
const QStringList quick{u"--frame-gap"_s, u"3"_s};
constexpr int quickQuietMs = 25;
// The simulator's own behaviour, not the line's speed, is under test: answers at once unless a
// test paces them itself.
constexpr auto instant = SimProcess::Pace::Instant;

// Reads until the line has been quiet for quietMs (the simulator's frame gap plus its reaction
// time, with room to spare); returns what came, as hex text.
QByteArray settle(QSerialPort &port, int quietMs = quickQuietMs)
{
    QByteArray answer;
    while (port.waitForReadyRead(quietMs))
        answer += port.readAll();
    return answer.toHex().toUpper();
}

// Sends a frame (hex text) as the tool does, in one write with the receive buffer emptied first,
// and returns the answer as hex text: the expected number of bytes and anything right behind
// them, or, when no answer is expected, whatever came meanwhile.
QByteArray ask(QSerialPort &port, const QByteArray &frameHex, int expected = 1)
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
    return answer.toHex().toUpper() + settle(port);
}

// Distinct 257-byte records, as hex text: record i is filled with byte firstByte + i.
QStringList hexRecords(int count, int firstByte, int length = 257)
{
    QStringList records;
    for (int i = 0; i < count; ++i)
        records << QString::fromLatin1(QByteArray(length, char(firstByte + i)).toHex().toUpper());
    return records;
}

} // namespace

class TstDevsim : public QObject
{
    Q_OBJECT

private slots:
    // One device through its modes: a table loaded from a file, frames for other device numbers
    // ignored, a new number, and a download that takes only whole records.
    void tableNumbersAndDownload()
    {
        // Records of assorted lengths in either case with CR LF and LF: nothing like a generated
        // table.
        QTemporaryDir dir;
        const QString tableFile = dir.filePath(u"custom.bin"_s);
        QStringList loaded;
        QFile file(tableFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 16; ++i) {
            loaded << hexRecords(1, 0xA0 + i, 130 + i).first();
            file.write(i % 2 ? loaded.at(i).toLower().toLatin1() + '\n'
                             : loaded.at(i).toLatin1() + "\r\n");
        }
        file.close();

        SimProcess sim(quick + QStringList{u"--table"_s, tableFile, u"--device"_s, u"0012"_s},
                       instant);
        QVERIFY(sim.start());
        QCOMPARE(sim.storedTable(), loaded);
        QSerialPort port(sim.linkPath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        // Each frame with the answer it gets (empty: none; Rn: the file's record n). The new
        // number's last byte looks like a command code; it is still a number.
        const QByteArray dialogue = "0001ED: 0012ED:ED 40:40 50:R1 00:R2 0001F0: 0012F0:F0 "
                                    "FD0042:FD 0012F2: 0042F2:F2 0042DD:DD 40:40 50:DD";
        for (const QByteArray &step : dialogue.split(' ')) {
            QByteArray answer = step.mid(step.indexOf(':') + 1);
            if (answer.startsWith('R'))
                answer = loaded.at(answer.at(1) - '1').toLatin1();
            QCOMPARE(ask(port, step.left(step.indexOf(':')), int(answer.size() / 2)), answer);
        }
        const QStringList records = hexRecords(2, 0x31);
        QCOMPARE(ask(port, records.at(0).toLatin1()), QByteArray("00"));
        // Frames 10 ms apart are separate frames on a 3 ms gap: a record one byte short, one byte
        // long, a stray command. None is answered or stored, and record 1 is still the one
        // expected.
        const QList<QByteArray> wrong{QByteArray(256, 'x'), QByteArray(258, 'y'),
                                      QByteArray::fromHex("0042F0")};
        const int before = int(sim.received().size());
        port.clear();
        for (const QByteArray &frame : wrong) {
            port.write(frame);
            port.waitForBytesWritten(1000);
            QTest::qWait(10);
        }
        QVERIFY(sim.waitForReceived(before + int(wrong.size())));
        QCOMPARE(settle(port), QByteArray());
        QCOMPARE(sim.logged("BAD"),
                 (QStringList{u"record 1: 256 bytes, expected 257"_s,
                              u"record 1: 258 bytes, expected 257"_s,
                              u"not a record, during download of record 1: 0042F0"_s}));
        QCOMPARE(sim.storedTable(), QStringList{records.at(0)} + loaded.mid(1));
        QCOMPARE(ask(port, records.at(1).toLatin1()), QByteArray("00"));
        QCOMPARE(sim.storedTable(), records + loaded.mid(2));
    }

    void garbage()
    {
        // The answers to one session's frames: the same under the same seed.
        auto session = [](const QString &seed) {
            SimProcess sim(quick + QStringList{u"--garbage"_s, u"--seed"_s, seed}, instant);
            QSerialPort port(sim.linkPath());
            QList<QByteArray> answers;
            if (sim.start() && port.open(QIODevice::ReadWrite))
                for (const char *frame : {"0001F0", "0001ED", "40", "50", "00", "0001DD", "0001F2"})
                    answers << QByteArray::fromHex(ask(port, frame, 2));
            return answers;
        };
        const QList<QByteArray> first = session(u"7"_s);
        QCOMPARE(first.size(), 7);
        for (const QByteArray &answer : first) {
            QVERIFY2(answer.size() >= 2 && answer.size() <= 5, answer.toHex().constData());
            for (const char c : QByteArray::fromHex("004050DDEDF0F2F5FD"))
                QVERIFY2(!answer.contains(c), answer.toHex().constData());
        }
        QCOMPARE(session(u"7"_s), first);
    }

    void flood()
    {
        SimProcess sim(quick + QStringList{u"--flood"_s}, instant);
        QVERIFY(sim.start());
        // Read straight from the terminal in large pieces, so that the simulator meets a line with
        // a lot of room at once as well as a full one.
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
        // Left unread now and then, the terminal fills up and the simulator has to wait for room,
        // then finds a lot of it at once. Far more than a 9600-baud line carries in an hour,
        // without a pause of 200 ms: not paced, and never stalling.
        QByteArray flood;
        for (QByteArray more = QByteArray(1, 'x'); !more.isEmpty() && flood.size() < 2000000;) {
            QTest::qWait(5);
            more = drink(50000);
            flood += more;
        }
        QVERIFY2(flood.size() >= 2000000, QByteArray::number(flood.size()).constData());
        QVERIFY(flood.count(flood.at(0)) < flood.size()); // not one byte repeated
        // Frames sent meanwhile are logged but not answered over the flood.
        QCOMPARE(::write(fd, "\x00\x01\xF2", 3), ssize_t(3));
        QVERIFY(sim.waitForReceived(2));
        QCOMPARE(sim.sent(), QStringList());
        ::close(fd);
    }

    void pinSettings()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"VexoSet.ini"_s);
        const QString link = dir.filePath(u"pinned/COM9"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[Setup]\r\nTXsbID=0012\r\n"));
        file.close();
        QCOMPARE(
            QProcess::execute(QStringLiteral(IRLEARN_DEVSIM_PATH),
                              {u"--pin-settings"_s, path, u"--as"_s, u"COM3"_s, u"--link"_s, link}),
            0);
        const irlearn::IniFile settings(path);
        QCOMPARE(settings.read(u"Ports"_s, u"COM3"_s, QString()), link);
        QCOMPARE(settings.read(u"Setup"_s, u"TXsbID"_s, QString()), u"0012"_s);
        // Pinning only: no simulator was started on the link.
        QVERIFY(!QFileInfo(link).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TstDevsim)
#include "tst_devsim.moc"
