// Network ports: the RFC 2217 line against a server scripted here, byte for byte (negotiation,
// escaping, purges, refusals, a connection cut mid-record), the addresses where a port is named,
// the window connecting to a slow server, and the whole path through a real ser2net serving a
// simulated device: the engine downloading with verify. The command line through ser2net is tried
// in tst_cli.
#include "support/enginerig.h"
#include "support/ser2netprocess.h"
#include "support/windowharness.h"

#include "base/settings.h"
#include "codefile/codefile.h"
#include "serial/networkaddress.h"
#include "serial/networklink.h"
#include "serial/pinnedports.h"
#include "serial/portchoice.h"
#include "serial/portlink.h"
#include "serial/seriallink.h"

#include <QComboBox>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace irlearn;
using namespace Qt::StringLiterals;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out += char(v);
    return out;
}

// What the link says first, and the line settings it sends once the server takes the option:
// a purge of the server's receive buffer, 9600 baud, 8 data bits, no parity, 1 stop bit, no
// flow control.
const QByteArray hello = bytes({255, 251, 44, 255, 251, 0, 255, 253, 0, 255, 251, 3, 255, 253, 3});
const QByteArray purge = bytes({255, 250, 44, 12, 1, 255, 240});
const QByteArray lineSettings =
    purge + bytes({255, 250, 44, 1, 0, 0, 0x25, 0x80, 255, 240}) +
    bytes({255, 250, 44, 2, 8, 255, 240}) + bytes({255, 250, 44, 3, 1, 255, 240}) +
    bytes({255, 250, 44, 4, 1, 255, 240}) + bytes({255, 250, 44, 5, 1, 255, 240});
// The server: echo and terminal type offered (to be refused), then the options the link asks for.
const QByteArray greeting = bytes(
    {255, 251, 1, 255, 253, 24, 255, 253, 44, 255, 251, 0, 255, 253, 0, 255, 251, 3, 255, 253, 3});
const QByteArray refusals = bytes({255, 254, 1, 255, 252, 24});
const QByteArray purgeAnswer = bytes({255, 250, 44, 112, 1, 255, 240});

QByteArray answer(int command, const QByteArray &value)
{
    return bytes({255, 250, 44, command}) + value + bytes({255, 240});
}

// The answers to the line settings; none to the flow control, as from a server in front of a
// pseudo-terminal.
QByteArray answers(quint32 baud = 9600, int parity = 1)
{
    return purgeAnswer +
           answer(101, bytes({int(baud >> 24), int(baud >> 16) & 255, int(baud >> 8) & 255,
                              int(baud) & 255})) +
           answer(102, bytes({8})) + answer(103, bytes({parity})) + answer(104, bytes({1}));
}

QByteArray doubled(QByteArray data)
{
    return data.replace("\xff", "\xff\xff");
}

// A port server scripted by the test: takes one connection, records every byte that comes and
// sends what the script says. The script reacts to what arrives while the test waits for an
// outcome, rather than being driven step by step.
struct ScriptedServer
{
    QTcpServer server;
    QTcpSocket *peer = nullptr;
    QByteArray got;
    std::function<void()> onConnect = [] {}, onData = [] {
    };

    ScriptedServer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            peer = server.nextPendingConnection();
            peer->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            QObject::connect(peer, &QTcpSocket::readyRead, peer, [this] {
                got += peer->readAll();
                onData();
            });
            onConnect();
        });
    }

    // Greets each connection, and answers the line settings (once) when they have come, cut
    // into pieces of the given sizes.
    void script(const QByteArray &greet, const QByteArray &reply = answers(),
                std::initializer_list<int> sizes = {})
    {
        onConnect = [this, greet] {
            sendPieces(greet);
        };
        onData = [this, reply, sizes = QList<int>(sizes), answered = false]() mutable {
            if (!answered && !reply.isEmpty() && got.endsWith(lineSettings)) {
                answered = true;
                sendPieces(reply, sizes);
            }
        };
    }

    QString address(const char *scheme = "rfc2217") const
    {
        return u"%1://127.0.0.1:%2"_s.arg(QLatin1String(scheme)).arg(server.serverPort());
    }

    // Cut into pieces of the given sizes (the rest the last), each on its own 15 ms apart: a
    // command may arrive cut anywhere.
    void sendPieces(const QByteArray &data, const QList<int> &sizes = {})
    {
        for (int i = 0, at = 0; i <= sizes.size(); at += sizes.value(i++)) {
            QTimer::singleShot(i * 15, &server, [this, piece = data.mid(at, sizes.value(i, -1))] {
                if (peer) {
                    peer->write(piece);
                    peer->flush();
                }
            });
        }
    }
};

} // namespace

class NetworkTest : public QObject
{
    Q_OBJECT

private slots:
    // Negotiation byte for byte, open without an answer to the flow control, a record full of
    // 0xFF both ways with the purge before the write and the stale bytes before its answer
    // dropped, a purge left unanswered, the connection cut mid-record, plain TCP as it is, and
    // the window while a server is slow to answer.
    void rfc2217AgainstAScriptedServer()
    {
        ScriptedServer s;
        // Cut inside the baud rate's value and between an IAC and its SE.
        s.script(greeting, answers(), {12, 3, 16});
        NetworkLink link;
        OpenFailure error;
        QVERIFY2(openAndWait(link, s.address(), &error), qPrintable(error.message));
        QCOMPARE(s.got, hello + refusals + lineSettings);

        const QByteArray record(257, char(0xFF));
        s.got.clear();
        QVERIFY(link.discardPending());
        QVERIFY(link.write(record));
        QTRY_COMPARE(s.got, purge + doubled(record));

        QByteArray received;
        QObject::connect(&link, &DeviceLink::received, &link,
                         [&](const QByteArray &b) { received += b; });
        // Bytes the server sent before it purged are stale; the record after the purge's answer
        // is the reply. An escaped pair and a notification are cut across segments.
        const QByteArray modemState = bytes({255, 250, 44, 107, 0, 255, 240});
        const QByteArray wire = bytes({0x11, 0x22}) + purgeAnswer + doubled(record.left(100)) +
                                modemState + doubled(record.mid(100));
        s.sendPieces(wire, {9, 51, 200, 3, 4});
        QTRY_COMPARE(received, record);

        // A purge the server leaves unanswered holds nothing back for long.
        received.clear();
        QVERIFY(link.discardPending());
        QVERIFY(link.write(bytes({1})));
        s.peer->write(bytes({0x42}));
        QTRY_COMPARE(received, bytes({0x42}));

        // Cut mid-record: what came is delivered, then the line is lost and closed.
        QSignalSpy lost(&link, &DeviceLink::lost);
        received.clear();
        s.peer->write(doubled(record.left(128)));
        s.peer->flush();
        QTRY_COMPARE(received.size(), 128);
        s.peer->abort();
        QTRY_COMPARE(lost.count(), 1);
        QVERIFY(!link.isOpen());
        QVERIFY(!link.write(record));
        QTest::qWait(50);
        QCOMPARE(lost.count(), 1);

        // Plain TCP: no negotiation, no escaping, no purge on the wire.
        ScriptedServer raw;
        NetworkLink plain;
        QVERIFY2(openAndWait(plain, raw.address("tcp"), &error), qPrintable(error.message));
        QByteArray plainReceived;
        QObject::connect(&plain, &DeviceLink::received, &plain,
                         [&](const QByteArray &b) { plainReceived += b; });
        QVERIFY(plain.discardPending());
        QVERIFY(plain.write(record));
        QTRY_COMPARE(raw.got, record);
        raw.peer->write(bytes({255, 255, 1}));
        QTRY_COMPARE(plainReceived, bytes({255, 255, 1}));

        // The window stays live while a server takes its time: the connect button takes no
        // second click until the open ends, and the server's answer connects.
        ScriptedServer slow;
        slow.script(greeting, {});
        int connections = 0;
        QObject::connect(&slow.server, &QTcpServer::newConnection, [&] { ++connections; });
        // The pinned server is listed like any port, its address as tooltip.
        WindowHarness window(slow.address());
        auto *ports = window.child<QComboBox>("portSelector");
        QCOMPARE(ports->itemData(ports->findText(u"COM1"_s), Qt::ToolTipRole).toString(),
                 slow.address());
        window.click("connectButton");
        QVERIFY(!window.button("connectButton")->isEnabled());
        QTRY_VERIFY(slow.got.endsWith(lineSettings));
        slow.sendPieces(answers());
        QTRY_VERIFY(window.connected());
        QVERIFY(window.button("connectButton")->isEnabled());
        QCOMPARE(connections, 1);
    }

    // Every way an open fails says what happened, told after open() has returned.
    void openFailuresSayWhy_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("serverGreeting"); // empty: no server, or a silent one
        QTest::addColumn<QByteArray>("serverAnswers");
        QTest::addColumn<QString>("why");
        QTest::newRow("baud rate refused")
            << "server" << greeting << answers(4800) << "波特率 9600";
        QTest::newRow("parity refused") << "server" << greeting << answers(9600, 2) << "无校验";
        QTest::newRow("no serial-port option")
            << "server" << bytes({255, 254, 44}) << QByteArray() << "不支持 RFC 2217";
        QTest::newRow("silent server")
            << "server" << QByteArray() << QByteArray() << "没有确认线路设置";
        QTest::newRow("nobody listening")
            << "rfc2217://127.0.0.1:1" << QByteArray() << QByteArray() << "连接被拒绝";
        QTest::newRow("unknown host") << "rfc2217://no-such-host.invalid:4001" << QByteArray()
                                      << QByteArray() << "找不到主机";
        QTest::newRow("no port") << "tcp://rack1" << QByteArray() << QByteArray() << "地址无效";
        // A server that turns every connection away, saying why, is tried until the bound.
        QTest::newRow("device in use")
            << "server" << QByteArray("Port's device already in use\r\n") << QByteArray("hang up")
            << "关闭了连接（端口可能正被别人使用）：Port's device already in use";
    }

    void openFailuresSayWhy()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, serverGreeting);
        QFETCH(QByteArray, serverAnswers);
        QFETCH(QString, why);
        ScriptedServer s;
        int connections = 0;
        if (serverAnswers == "hang up") {
            s.onConnect = [&] {
                ++connections;
                s.peer->write(serverGreeting);
                s.peer->disconnectFromHost();
            };
        } else if (!serverGreeting.isEmpty()) {
            s.script(serverGreeting, serverAnswers);
        }
        NetworkLink link;
        link.setOpenTimeout(500);
        OpenFailure error;
        QVERIFY(!openAndWait(link, address == "server"_L1 ? s.address() : address, &error));
        QVERIFY2(error.message.contains(why), qPrintable(error.message));
        QVERIFY(!link.isOpen());
        QVERIFY(!link.write("\x01"));
        if (serverAnswers == "hang up")
            QVERIFY(connections > 1);
    }

    // The address forms where a port is named: the parser, --port, the settings' port map and
    // its listing, and the line a port link becomes.
    void addressesWhereAPortIsNamed()
    {
        const auto a = parseNetworkAddress(u" RFC2217://rack1:4001 "_s);
        const auto v6 = parseNetworkAddress(u"tcp://[::1]:7000/"_s);
        QVERIFY(a && a->protocol == NetworkAddress::Rfc2217);
        QVERIFY(v6 && v6->protocol == NetworkAddress::RawTcp);
        QCOMPARE(a->hostAndPort() + u' ' + v6->hostAndPort(), u"rack1:4001 [::1]:7000"_s);
        for (const char *bad :
             {"rfc2217://rack1", "rfc2217://:4001", "tcp://rack1:0", "tcp://rack1:65536",
              "tcp://rack1:40x", "tcp://a:b:4001", "tcp://user@rack1:4001", "tcp://rack1:+4001"}) {
            QString why;
            QVERIFY2(!parseNetworkAddress(QLatin1String(bad), &why), bad);
            QVERIFY(why.contains(QLatin1String(bad)));
        }
        QVERIFY(!isNetworkAddress(u"/dev/ttyUSB0"_s));

        QTemporaryDir dir;
        const QString ini = dir.filePath(u"VexoSet.ini"_s);
        QVERIFY(WindowHarness::writeFile(
            ini, "[Ports]\r\nCOM9=rfc2217://rack1:4001\r\nCOM10=tcp://10.0.0.7:4002\r\n"));
        const QMap<int, QString> pinned = pinnedPorts(Settings(ini));
        QCOMPARE(pinned.value(9), u"rfc2217://rack1:4001"_s);
        const PortNames names(pinned, {});

        QCOMPARE(choosePort(u"com9"_s, names, {}).device, u"rfc2217://rack1:4001"_s);
        const PortChoice choice = choosePort(u"tcp://10.0.0.7:4002"_s, names, {});
        QCOMPARE(choice.device + choice.name, u"tcp://10.0.0.7:4002COM10"_s);
        QVERIFY(choosePort(u"rfc2217://rack2"_s, names, {}).error.contains(u"地址无效"_s));
        QVERIFY(!portPathProblem(u"rfc2217://rack1:4001"_s));

        const QList<NamedPort> listed = namedPorts(names, {});
        QCOMPARE(listed.size(), 2);
        QVERIFY(listed.at(0).number == 9 && listed.at(0).details.state == PortState::Network);
        QCOMPARE(listed.at(0).details.path, u"rfc2217://rack1:4001"_s);

        PortLink link;
        QVERIFY(!openAndWait(link, u"tcp://127.0.0.1:1"_s));
        QVERIFY(qobject_cast<NetworkLink *>(link.current()));
        QVERIFY(!openAndWait(link, dir.filePath(u"nothing"_s)));
        QVERIFY(qobject_cast<SerialLink *>(link.current()));
    }

    // Through ser2net: the engine downloads with verify over RFC 2217, every frame reaching the
    // device as from a local port.
    void throughSer2net()
    {
        if (Ser2netProcess::program().isEmpty())
            QSKIP("ser2net is not installed (scripts/deps.sh installs it)");
        // A process more between the engine and the device on a busy machine: wider windows,
        // which cost nothing unless a test sits one out. ser2net hands a 257-byte record to the
        // terminal in pieces, and on a saturated machine the pieces come further apart than a
        // device's 20 ms frame gap: the simulator behind it waits 120 ms for the rest of a frame,
        // and the opening frames are paused longer than that so that they still stay apart.
        EngineRig rig({u"--frame-gap"_s, u"120"_s}, {1500, 3000, 300, 15, 200, 2000});
        QVERIFY(rig.sim.start());
        Ser2netProcess server(rig.sim.linkPath());
        QVERIFY(server.start());
        OpenFailure error;
        QVERIFY2(openAndWait(rig.engine, server.rfc2217Address(), &error),
                 qPrintable(error.message));
        CodeTable table;
        codefile::fill(table, codefile::load(u"" IRLEARN_TEST_DATA "/table16.bin"_s).lines);
        QVERIFY(rig.engine.downloadTable(u"0001"_s, table, true));
        const auto result = rig.waitIdle(20000);
        QVERIFY2(result && result->ok(), result ? qPrintable(result->detail) : "no outcome");
        const QStringList records(table.begin(), table.begin() + tableRecords);
        QCOMPARE(rig.sim.received(),
                 (QStringList{u"0001DD"_s, u"40"_s, u"50"_s} + records +
                  QStringList{u"0001ED"_s, u"40"_s, u"50"_s} + QStringList(16, u"00"_s)));
    }
};

QTEST_MAIN(NetworkTest)
#include "tst_network.moc"
