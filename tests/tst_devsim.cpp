// The device simulator where the product's tests do not reach it, through a real pseudo-terminal:
// a table loaded from a file, the stored table after refused and restarted records, other device
// numbers, and pinning a port in the settings.

#include "base/inifile.h"
#include "support/simprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

namespace {

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
    const int limit = expected > 0 ? 3000 : 300;
    while (clock.elapsed() < limit && (expected == 0 || answer.size() < expected)) {
        if (port.waitForReadyRead(20))
            answer += port.readAll();
    }
    // Frames end with line silence: keep quiet long enough, and catch any surplus.
    while (port.waitForReadyRead(60))
        answer += port.readAll();
    return answer.toHex().toUpper();
}

QStringList hexRecords(int count, int firstLength, int firstByte)
{
    QStringList records;
    for (int i = 0; i < count; ++i)
        records << QString::fromLatin1(
            QByteArray(firstLength + i, char(firstByte + i)).toHex().toUpper());
    return records;
}

} // namespace

class TstDevsim : public QObject
{
    Q_OBJECT

private slots:
    void loadedTableAndDownloadSetbacks();
    void otherDeviceNumbersAreIgnored();
    void pinSettings();
};

void TstDevsim::loadedTableAndDownloadSetbacks()
{
    // Records of assorted lengths in either case with CR LF and LF: nothing like a generated table.
    QTemporaryDir dir;
    const QString tableFile = dir.filePath(QStringLiteral("custom.bin"));
    const QStringList loaded = hexRecords(16, 130, 0xA0);
    QFile file(tableFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < 16; ++i)
        file.write(i % 2 ? loaded.at(i).toLower().toLatin1() + '\n'
                         : loaded.at(i).toLatin1() + "\r\n");
    file.close();

    SimProcess sim({QStringLiteral("--table"), tableFile, QStringLiteral("--refuse-record"),
                    QStringLiteral("3:2"), QStringLiteral("--restart-at"), QStringLiteral("5")});
    QVERIFY(sim.start());
    QCOMPARE(sim.storedTable(), loaded);
    QSerialPort port(sim.linkPath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    QCOMPARE(ask(port, "0001ED"), QByteArray("ED"));
    QCOMPARE(ask(port, "40"), QByteArray("40"));
    QCOMPARE(ask(port, "50", 130), loaded.at(0).toLatin1());

    // The records go out as the tool sends them: the same slot again after F5, slot 0 after DD.
    // A refused or restarted record is not stored.
    const QStringList records = hexRecords(16, 20, 0);
    QCOMPARE(ask(port, "0001DD"), QByteArray("DD"));
    QCOMPARE(ask(port, "40"), QByteArray("40"));
    QCOMPARE(ask(port, "50"), QByteArray("DD"));
    QStringList replies;
    QStringList stored = loaded;
    for (int slot = 0; slot < 16 && replies.size() < 30;) {
        const QByteArray reply = ask(port, records.at(slot).toLatin1());
        replies << QString::fromLatin1(reply);
        if (reply == "00")
            stored[slot] = records.at(slot);
        QCOMPARE(sim.storedTable(), stored);
        slot = reply == "00" ? slot + 1 : reply == "DD" ? 0 : slot;
    }
    const QStringList ok(16, QStringLiteral("00"));
    const QStringList setbacks{QStringLiteral("F5"), QStringLiteral("F5")};
    QCOMPARE(replies,
             ok.mid(0, 3) + setbacks + ok.mid(0, 2) + QStringList{QStringLiteral("DD")} + ok);
}

void TstDevsim::otherDeviceNumbersAreIgnored()
{
    SimProcess sim({QStringLiteral("--device"), QStringLiteral("0012")});
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
