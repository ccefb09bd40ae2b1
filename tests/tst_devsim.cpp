// The device simulator on its own, through a real pseudo-terminal, before any product test leans
// on it.

#include "app/inifile.h"
#include "support/simprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The tool's end of the line, driven the way the tool drives it: one write per frame, the
// receive buffer emptied first.
class Port
{
public:
    explicit Port(const QString &path) { m_port.setPortName(path); }

    bool open()
    {
        return m_port.open(QIODevice::ReadWrite) && m_port.setBaudRate(9600) &&
               m_port.setDataBits(QSerialPort::Data8) && m_port.setParity(QSerialPort::NoParity) &&
               m_port.setStopBits(QSerialPort::OneStop) &&
               m_port.setFlowControl(QSerialPort::NoFlowControl);
    }
    void close() { m_port.close(); }

    // Sends the frame (hex text) and returns the answer as hex text: the expected number of bytes
    // plus anything right behind them, or, when no answer is expected, whatever came meanwhile.
    QByteArray ask(const QByteArray &frameHex, int expected = 1)
    {
        m_port.clear();
        m_port.write(QByteArray::fromHex(frameHex));
        m_port.waitForBytesWritten(1000);
        QByteArray answer;
        QElapsedTimer clock;
        clock.start();
        const int limit = expected > 0 ? 3000 : 300;
        while (clock.elapsed() < limit && (expected == 0 || answer.size() < expected)) {
            if (m_port.waitForReadyRead(20))
                answer += m_port.readAll();
        }
        // Frames end with line silence: keep quiet long enough, and catch any surplus.
        while (m_port.waitForReadyRead(60))
            answer += m_port.readAll();
        lastAnswerMs = clock.elapsed();
        return answer.toHex().toUpper();
    }

    qint64 lastAnswerMs = 0;

private:
    QSerialPort m_port;
};

QByteArray recordFor(const QStringList &table, int index, int length)
{
    return table.at(index).toLatin1().left(2 * length);
}

} // namespace

class TstDevsim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void echoModes_data();
    void echoModes();
    void commandReplies_data();
    void commandReplies();
    void deviceNumber();
    void readSequence_data();
    void readSequence();
    void download_data();
    void download();
    void slowLine();
    void linkLifecycle();
    void pinSettings();

private:
    QTemporaryDir m_dir;
    QString m_tableFile;
    QStringList m_fileTable;
};

void TstDevsim::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Records of assorted lengths, LF line ends: a table nothing like the generated one.
    m_tableFile = m_dir.filePath(QStringLiteral("custom.bin"));
    QFile file(m_tableFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < 16; ++i) {
        const QByteArray record = QByteArray(130 + i, char(0xA0 + i)).toHex().toUpper();
        m_fileTable.append(QString::fromLatin1(record));
        file.write(i % 2 ? record.toLower() + '\n' : record + "\r\n");
    }
}

void TstDevsim::echoModes_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QByteArray>("onReply");
    QTest::addColumn<QByteArray>("offReply");
    QTest::newRow("normal") << QStringLiteral("normal") << QByteArray("F0") << QByteArray("F2");
    QTest::newRow("wrong") << QStringLiteral("wrong") << QByteArray("F1") << QByteArray("F3");
    QTest::newRow("silent") << QStringLiteral("silent") << QByteArray() << QByteArray();
}

void TstDevsim::echoModes()
{
    QFETCH(QString, mode);
    QFETCH(QByteArray, onReply);
    QFETCH(QByteArray, offReply);
    SimProcess sim({QStringLiteral("--echo"), mode});
    QVERIFY(sim.start());
    Port port(sim.linkPath());
    QVERIFY(port.open());
    QCOMPARE(port.ask("0001F0", onReply.size() / 2), onReply);
    QCOMPARE(port.ask("0001F2", offReply.size() / 2), offReply);
    QCOMPARE(sim.received(), QStringList({QStringLiteral("0001F0"), QStringLiteral("0001F2")}));
    QCOMPARE(sim.sent().join(QString()).toLatin1(), onReply + offReply);
}

void TstDevsim::commandReplies_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("keyReply");
    QTest::addColumn<QByteArray>("learnReply");
    QTest::addColumn<int>("learnDelay");
    QTest::newRow("defaults") << QStringList() << QByteArray("00") << QByteArray("00") << 300;
    QTest::newRow("configured") << QStringList{QStringLiteral("--key-reply"),
                                               QStringLiteral("none"),
                                               QStringLiteral("--learn-reply"),
                                               QStringLiteral("01"),
                                               QStringLiteral("--learn-delay"),
                                               QStringLiteral("600")}
                                << QByteArray() << QByteArray("01") << 600;
    QTest::newRow("no learning answer")
        << QStringList{QStringLiteral("--learn-reply"), QStringLiteral("none")} << QByteArray("00")
        << QByteArray() << 0;
}

void TstDevsim::commandReplies()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, keyReply);
    QFETCH(QByteArray, learnReply);
    QFETCH(int, learnDelay);
    SimProcess sim(args);
    QVERIFY(sim.start());
    Port port(sim.linkPath());
    QVERIFY(port.open());

    QCOMPARE(port.ask("000149", keyReply.size() / 2), keyReply);
    QCOMPARE(port.ask("0001F0"), QByteArray("F0"));
    QCOMPARE(port.ask("0001AB", learnReply.size() / 2), learnReply);
    QVERIFY2(port.lastAnswerMs >= learnDelay, qPrintable(QString::number(port.lastAnswerMs)));
    QCOMPARE(port.ask("0001F2"), QByteArray("F2"));
    // Back outside learning mode, a command is a key again.
    QCOMPARE(port.ask("000140", keyReply.size() / 2), keyReply);
    // Neither a command outside the code range nor a stray byte draws an answer.
    QCOMPARE(port.ask("0001AC", 0), QByteArray());
    QCOMPARE(port.ask("77", 0), QByteArray());
}

void TstDevsim::deviceNumber()
{
    SimProcess sim({QStringLiteral("--device"), QStringLiteral("0012")});
    QVERIFY(sim.start());
    Port port(sim.linkPath());
    QVERIFY(port.open());
    QCOMPARE(port.ask("0001F0", 0), QByteArray());
    QCOMPARE(port.ask("0012F0"), QByteArray("F0"));
    // The new number's last byte looks like a command code; it is still a number.
    QCOMPARE(port.ask("FD0042"), QByteArray("FD"));
    QCOMPARE(port.ask("0012F2", 0), QByteArray());
    QCOMPARE(port.ask("0042F2"), QByteArray("F2"));
    QCOMPARE(port.ask("0012ED", 0), QByteArray());
    QCOMPARE(sim.received().size(), 6);
    QCOMPARE(sim.sent(),
             QStringList({QStringLiteral("F0"), QStringLiteral("FD"), QStringLiteral("F2")}));
}

void TstDevsim::readSequence_data()
{
    // lengths: bytes expected for "50" and each following "00"; 0 = no answer.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QList<int>>("lengths");
    QList<int> whole(16, 257);
    QTest::newRow("whole table") << QStringList() << (whole + QList<int>{0});
    QTest::newRow("repeat after end")
        << QStringList{QStringLiteral("--repeat-after-end")} << (whole + QList<int>{257, 257});
    QTest::newRow("short record") << QStringList{QStringLiteral("--short-record"),
                                                 QStringLiteral("3:100")}
                                  << QList<int>{257, 257, 100, 257};
    QTest::newRow("stop after 2") << QStringList{QStringLiteral("--stop-after"),
                                                 QStringLiteral("2")}
                                  << QList<int>{257, 257, 0, 0};
    QTest::newRow("stop after 0") << QStringList{QStringLiteral("--stop-after"),
                                                 QStringLiteral("0")}
                                  << QList<int>{0};
    QList<int> custom;
    for (int i = 0; i < 16; ++i)
        custom.append(130 + i);
    QTest::newRow("loaded table") << QStringList{QStringLiteral("--table"), m_tableFile}
                                  << (custom + QList<int>{0});
}

void TstDevsim::readSequence()
{
    QFETCH(QStringList, args);
    QFETCH(QList<int>, lengths);
    SimProcess sim(args);
    QVERIFY(sim.start());
    const QStringList table = sim.storedTable();
    QCOMPARE(table.size(), 16);
    if (args.contains(QStringLiteral("--table")))
        QCOMPARE(table, m_fileTable);
    Port port(sim.linkPath());
    QVERIFY(port.open());

    QCOMPARE(port.ask("0001ED"), QByteArray("ED"));
    QCOMPARE(port.ask("40"), QByteArray("40"));
    for (int i = 0; i < lengths.size(); ++i) {
        const QByteArray answer = port.ask(i == 0 ? "50" : "00", lengths.at(i));
        QCOMPARE(answer, recordFor(table, i % 16, lengths.at(i)));
    }
}

void TstDevsim::download_data()
{
    // replies: what the device answers, in order, while the records go out as the tool sends
    // them (the same slot again after F5, slot 0 again after DD).
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("replies");
    const QStringList plain(16, QStringLiteral("00"));
    QTest::newRow("plain") << QStringList() << plain;
    QStringList refused = plain;
    refused.insert(3, QStringLiteral("F5"));
    refused.insert(3, QStringLiteral("F5"));
    QTest::newRow("refused twice")
        << QStringList{QStringLiteral("--refuse-record"), QStringLiteral("3:2")} << refused;
    QStringList restarted = plain.mid(0, 5) + QStringList{QStringLiteral("DD")} + plain;
    QTest::newRow("restart") << QStringList{QStringLiteral("--restart-at"), QStringLiteral("5")}
                             << restarted;
}

void TstDevsim::download()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, replies);
    SimProcess sim(args);
    QVERIFY(sim.start());
    const QStringList before = sim.storedTable();
    Port port(sim.linkPath());
    QVERIFY(port.open());

    QCOMPARE(port.ask("0001DD"), QByteArray("DD"));
    QCOMPARE(port.ask("40"), QByteArray("40"));
    QCOMPARE(port.ask("50"), QByteArray("DD"));
    QStringList got;
    for (int slot = 0; slot < 16 && got.size() <= replies.size();) {
        const QByteArray reply = port.ask(m_fileTable.at(slot).toLatin1());
        got.append(QString::fromLatin1(reply));
        if (reply == "00") {
            QCOMPARE(sim.storedTable().at(slot), m_fileTable.at(slot));
            ++slot;
        } else {
            QCOMPARE(sim.storedTable().at(slot), before.at(slot));
            if (reply == "DD")
                slot = 0;
            else if (reply != "F5")
                break;
        }
    }
    QCOMPARE(got, replies);
    QCOMPARE(sim.storedTable(), m_fileTable);

    // The download is over: a 17th record is neither answered nor stored.
    QCOMPARE(port.ask(before.at(0).toLatin1(), 0), QByteArray());
    QCOMPARE(sim.storedTable(), m_fileTable);
    // What was stored is what a read now delivers.
    QCOMPARE(port.ask("0001ED"), QByteArray("ED"));
    QCOMPARE(port.ask("40"), QByteArray("40"));
    QCOMPARE(port.ask("50", 130), m_fileTable.at(0).toLatin1());
}

void TstDevsim::slowLine()
{
    SimProcess delayed({QStringLiteral("--reply-delay"), QStringLiteral("400")});
    QVERIFY(delayed.start());
    Port port(delayed.linkPath());
    QVERIFY(port.open());
    QCOMPARE(port.ask("0001F0"), QByteArray("F0"));
    QVERIFY2(port.lastAnswerMs >= 400, qPrintable(QString::number(port.lastAnswerMs)));

    // At 9600 baud a record of 257 bytes takes about 268 ms on the wire.
    SimProcess paced({QStringLiteral("--paced")});
    QVERIFY(paced.start());
    Port pacedPort(paced.linkPath());
    QVERIFY(pacedPort.open());
    QCOMPARE(pacedPort.ask("0001ED"), QByteArray("ED"));
    QCOMPARE(pacedPort.ask("40"), QByteArray("40"));
    QCOMPARE(pacedPort.ask("50", 257), paced.storedTable().at(0).toLatin1());
    QVERIFY2(pacedPort.lastAnswerMs >= 260, qPrintable(QString::number(pacedPort.lastAnswerMs)));
}

void TstDevsim::linkLifecycle()
{
    // A link left behind by a killed simulator is taken over.
    const QString link = m_dir.filePath(QStringLiteral("ports/COM7"));
    QVERIFY(QDir().mkpath(QFileInfo(link).absolutePath()));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/pts"), link));
    QProcess process;
    process.start(QStringLiteral(IRLEARN_DEVSIM_PATH),
                  {QStringLiteral("--link"), link, QStringLiteral("--log"),
                   m_dir.filePath(QStringLiteral("lifecycle.log"))});
    QVERIFY(process.waitForReadyRead(5000));
    QCOMPARE(process.readLine().trimmed(), link.toLocal8Bit());
    QVERIFY(QFileInfo(link).symLinkTarget().startsWith(QStringLiteral("/dev/pts/")));

    // The tool may close and reopen its port: the device stays reachable.
    for (int round = 0; round < 2; ++round) {
        Port port(link);
        QVERIFY(port.open());
        QCOMPARE(port.ask("0001F0"), QByteArray("F0"));
        port.close();
    }
    process.terminate();
    QVERIFY(process.waitForFinished(5000));
    QVERIFY(!QFileInfo(link).isSymLink());

    // Unplugged and plugged in again: a new terminal, the log continued.
    SimProcess sim;
    QVERIFY(sim.start());
    {
        Port port(sim.linkPath());
        QVERIFY(port.open());
        QCOMPARE(port.ask("0001F0"), QByteArray("F0"));
    }
    sim.kill();
    QVERIFY(!sim.isRunning());
    QVERIFY(sim.start());
    Port port(sim.linkPath());
    QVERIFY(port.open());
    QCOMPARE(port.ask("0001F2"), QByteArray("F2"));
    QVERIFY(sim.waitForReceived(2));
    QCOMPARE(sim.received(), QStringList({QStringLiteral("0001F0"), QStringLiteral("0001F2")}));
    const auto timed = sim.receivedTimed();
    QVERIFY(timed.at(0).first <= timed.at(1).first);
}

void TstDevsim::pinSettings()
{
    const QString path = m_dir.filePath(QStringLiteral("VexoSet.ini"));
    const QString link = m_dir.filePath(QStringLiteral("pinned/COM9"));
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
