// irlearn-cli as a script runs it: the real binary in its own process against simulated devices on
// pseudo-terminals (one simulator process each), pinned through a settings file. Every command's
// frames are read back from the simulators' logs; timings are scaled through IRLEARN_TIME_SCALE.
#include "support/ser2netprocess.h"
#include "support/simprocess.h"

#include "codefile/codefile.h"
#include "serial/portidentity.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

struct Run
{
    int code = -1;
    QJsonObject json;
    QString err;
    QString out; // standard output as text (the JSON result with --json)
    QJsonValue value(const char *key) const { return json.value(QLatin1String(key)); }
    QString str(const char *key) const { return value(key).toString(); }
    // Empty when the run ended with `code` and its standard error and output hold the texts.
    QString unlike(int expected, const QString &says = {}, const QString &prints = {}) const
    {
        if (code == expected && err.contains(says) && out.contains(prints))
            return {};
        return u"exit %1, expected %2\nstderr: %3\nstdout: %4"_s.arg(code).arg(expected).arg(err,
                                                                                             out);
    }
};

// A client process and what it has said on standard error so far.
struct Client : QProcess
{
    QString err;
};

#define QVERIFY_RUN(run, ...)                                                                      \
    do {                                                                                           \
        const QString why_ = (run).unlike(__VA_ARGS__);                                            \
        QVERIFY2(why_.isEmpty(), qPrintable(why_));                                                \
    } while (false)

const QString table16 = QStringLiteral(IRLEARN_TEST_DATA "/table16.bin");
const char *const dev1 = "--device 0001 --port COM1";

} // namespace

class CliTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_sims.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    // A read, a verified download, one without the read-back, and the port list.
    void tableCommandsOnTheWire()
    {
        QVERIFY(startSims({cmd("--seed 7")}));
        const QString saved = m_dir->filePath(u"read.bin"_s);
        Run r = cli(cmd("read -o", saved, dev1));
        QVERIFY_RUN(r, 0);
        QCOMPARE(sim().received(), readFrames());
        QCOMPARE(fileRecords(saved), sim().storedTable());
        QCOMPARE(fields(r.json, "result path"), u"done "_s + sim().linkPath());
        // Without --json the run ends with the table's sum and the time taken on standard output;
        // on a terminal the sixteen records are drawn over one another on one line, which stays.
        int master = -1;
        int slave = -1;
        QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
        const Run plain = cli(cmd("read -o", saved, dev1), false, slave);
        ::close(slave);
        QByteArray terminal;
        char buffer[4096];
        for (ssize_t n = 0; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            terminal.append(buffer, n);
        ::close(master);
        QVERIFY_RUN(plain, 0);
        QVERIFY2(plain.out.startsWith(u"SHA-256："_s + r.str("sha256") + u"\n用时："_s),
                 qPrintable(plain.out));
        QVERIFY(terminal.count("\r\x1b[K") >= 16 && !terminal.contains("SHA-256"));
        QCOMPARE(terminal.count("读取 16/16"), 1);
        QVERIFY(terminal.contains("读取 16/16\r\n"));

        const QStringList download = cmd("0001DD 40 50") + fileRecords(table16);
        r = cli(cmd("download", table16, dev1));
        QVERIFY_RUN(r, 0);
        QVERIFY(r.value("verified").toBool());
        QCOMPARE(sim().received(), readFrames() + readFrames() + download + readFrames());
        QCOMPARE(sim().storedTable(), fileRecords(table16));
        r = cli(cmd("download", table16, "--no-verify", dev1));
        QVERIFY_RUN(r, 0);
        QVERIFY(!r.value("verified").toBool());
        QCOMPARE(sim().received(),
                 readFrames() + readFrames() + download + readFrames() + download);

        // A port server is listed without a connection being tried.
        QVERIFY(writeSettings({sim().linkPath(), u"tcp://127.0.0.1:9"_s}));
        QCOMPARE(
            rows(cli(cmd("ports")).value("ports"), "name path state").mid(0, 2),
            QStringList({u"COM1 "_s + QFileInfo(sim().linkPath()).canonicalFilePath() + u" free"_s,
                         u"COM2 tcp://127.0.0.1:9 network"_s}));
    }

    // --log-file: the -v lines, time-stamped, in the file named or in the window's session log;
    // a log that cannot be one is refused before anything is sent.
    void framesToALogFile()
    {
        QVERIFY(startSims({{}}));
        const QRegularExpression stamp(u"^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "_s);
        // The lines after the first (which names the command), without their time stamps.
        const auto logged = [&stamp](const QString &path) {
            const QStringList lines =
                QString::fromUtf8(contents(path)).split(u'\n', Qt::SkipEmptyParts);
            if (lines.isEmpty() || lines.filter(stamp).size() < lines.size())
                return QStringList{u"(no log, or a line without its time)"_s} + lines;
            return QStringList(lines).replaceInStrings(stamp, QString()).mid(1);
        };
        const QStringList sent = {u"--== 输出指令[0001F0] ==--"_s, u"--== 输出指令[000140] ==--"_s,
                                  u"--== 输出指令[0001F2] ==--"_s};

        const QString path = m_dir->filePath(u"frames.log"_s);
        Run r = cli(cmd("learn --key 开机 -v --log-file", path, dev1));
        QVERIFY_RUN(r, 0);
        const QStringList lines = logged(path);
        for (const QString &line : lines)
            QVERIFY2(r.err.contains(line), qPrintable(line));
        QCOMPARE(lines.filter(u"输出指令"_s), sent);

        // Alone at the end it means the session log folder; -v is the terminal's, not the file's.
        r = cli(cmd("learn --key 开机", dev1, "--log-file"), false);
        QVERIFY_RUN(r, 0);
        QVERIFY(!r.err.contains(sent.at(0)));
        QCOMPARE(logged(m_dir->filePath(u"state/irlearn/irlearn-%1.log"_s.arg(
                     QDate::currentDate().toString(Qt::ISODate)))),
                 lines);

        const QStringList before = sim().received();
        QVERIFY_RUN(cli(cmd("learn --key 开机 --log-file", m_dir->path(), dev1)), 2,
                    u"日志文件不能用"_s);
        QCOMPARE(sim().received(), before);
    }

    void cloneIntoFourDevices()
    {
        // COM2 is pulled out at record 6; COM3 refuses record 4 ten times, which ends its first
        // try. COM4's device carries a number of its own.
        QVERIFY(startSims(
            {{}, cmd("--vanish-after 5"), cmd("--refuse-record 3:10"), cmd("--device 0042")}));
        const Run r = cli(cmd("clone", table16,
                              "--device 0001 --numbers 0101,0102,0103,0104 --retry 1 --port COM1 "
                              "--port COM2 --port COM3 --port COM4=0042"));
        QVERIFY_RUN(r, 4);
        QCOMPARE(rows(r.value("devices"), "result verified number exit_code attempts"),
                 QStringList({u"done true 0101 0 1"_s, u"port-lost false - 4 2"_s,
                              u"done true 0103 0 2"_s, u"done true 0104 0 1"_s}));
        for (int i : {0, 2, 3}) {
            QCOMPARE(sim(i).storedTable(), fileRecords(table16));
            QCOMPARE(sim(i).received().constLast(), u"FD010%1"_s.arg(i + 1));
        }
        QCOMPARE(sim(3).received().constFirst().left(4), u"0042"_s);
        // The summary names the one that failed and why.
        QVERIFY2(r.err.contains(QRegularExpression(u"COM2 +失败 +- .*连接中断"_s)),
                 qPrintable(r.err));
        QVERIFY(r.err.contains(u"4 台设备中 3 台完成"_s));
    }

    // Bad input is refused before anything is sent; then the key commands as they go out.
    void keyCommandsOnTheWire()
    {
        QVERIFY(startSims({{}}));
        const QString folder = m_dir->filePath(u"folder"_s);
        QVERIFY(QDir().mkpath(folder));
        const QString bad = m_dir->filePath(u"bad.bin"_s);
        QVERIFY(writeFile(bad, "00FF\r\n"));
        const QString fifo = m_dir->filePath(u"fifo"_s);
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        // The settings rows are a read of COM1.
        const QStringList readWith =
            cmd("read -o", m_dir->filePath(u"r.bin"_s), dev1, "--settings");
        const char *const sendTo = "send 0 --device 0001 --port";
        const QList<std::tuple<QStringList, int, const char *>> cases = {
            {cmd("send 0 --device 01 --port COM1"), 2, "设备号长度必须为4位"},
            {cmd("set-number 0000 --port COM1"), 2, "对不起设备号不能为零！"},
            {cmd("learn 200", dev1), 2, "指令号无效：200（应为 1–108）"},
            {cmd("clone x --device 0001 --port COM1 --port COM2 --numbers 0101,0101"), 2,
             "设备号重复：0101"},
            {cmd("clone x --port COM1=12"), 2, "设备号长度必须为4位"},
            {cmd("clone x --port COM1=0001 --port COM2"), 2, "缺少 --device"},
            {cmd("station", table16, "--device 0001 --port rfc2217://127.0.0.1"), 2, "端口"},
            {cmd("station", table16, "--device 0001 --no-system-ports"), 2, "--watch 或 --port"},
            // The settings file names the ports: one that cannot be read is no file at all.
            {cmd(readWith, m_dir->filePath(u"none.ini"_s)), 2, "文件不存在"},
            {cmd(readWith, folder), 2, "文件夹"},
            {cmd(readWith, fifo), 2, "命名管道"},
            // Outputs: a device, an option-like value, a folder that takes no file.
            {cmd("read -o /dev/null", dev1), 2, "设备"},
            {cmd("read -o --json", dev1), 2, "像是一个选项"},
            {cmd("read -o /proc/table.bin", dev1), 2, "不能写入"},
            {cmd("read -o", folder, dev1), 2, "文件夹"},
            {cmd("learn 5 --key 开机", dev1), 2, "二者取一"},
            {cmd("send 睡眠", dev1), 2, "没有这个键"},
            {cmd("download", bad, dev1), 2, "不能下载"},
            {cmd("clone", bad, dev1), 2, "不能下载"},
            {cmd(sendTo, folder), 3, "不是串口设备"},
            {cmd(sendTo, table16), 3, "普通文件"},
            {cmd(sendTo, "COM9"), 3, "端口不存在：COM9"},
            // One bad port stops a clone before any port is opened.
            {cmd("clone", table16, dev1, "--port", folder), 3, "不是串口设备"},
            {cmd("verify", table16, "--bogus"), 2, "没有选项"},
            // Two port servers are two ports, however alike their addresses look on disk.
            {cmd("identify --device 0001 --port rfc2217://127.0.0.1:1 --port "
                 "rfc2217://127.0.0.1:2"),
             3, "127.0.0.1:2"},
        };
        for (const auto &[args, code, says] : cases) {
            const Run r = cli(args);
            const QString why = r.unlike(code, QString::fromUtf8(says));
            QVERIFY2(why.isEmpty(), qPrintable(args.join(u' ') + u'\n' + why));
            QCOMPARE(r.value("exit_code").toInt(), code);
            // One message for one fault.
            QVERIFY2(!r.err.contains(u"不能为0"_s), qPrintable(r.err));
        }
        QVERIFY(!QFileInfo::exists(folder + u"/read.bin"_s));
        QCOMPARE(sim().received(), QStringList());

        // Keys by name and by index, numbered commands by number; learning mode ends either way.
        QVERIFY_RUN(cli(cmd("send 开机", dev1)), 0);
        QVERIFY_RUN(cli(cmd("send 9", dev1)), 0);
        QVERIFY_RUN(cli(cmd("learn --key 制冷", dev1)), 0, u"指令学习成功！"_s);
        QVERIFY_RUN(cli(cmd("learn 12", dev1)), 0);
        const Run r = cli(cmd("set-number 0002 --port COM1"));
        QVERIFY_RUN(r, 0);
        QCOMPARE(sim().received(),
                 cmd("000140 000149 0001F0 000142 0001F2 0001F0 00014B 0001F2 FD0002"));
        QVERIFY(!r.err.contains(u"\x1b"_s));
    }

    void failuresExitWithTheirCodes()
    {
        QVERIFY(startSims({cmd("--key-reply none"), cmd("--stop-after 8"), cmd("--echo wrong"),
                           cmd("--wrong-record 6")}));
        const char *const dev = "--device 0001 --port";
        Run r = cli(cmd("send 1", dev, "COM1"));
        QVERIFY_RUN(r, 4);
        QCOMPARE(r.str("result"), u"timed-out"_s);
        // A silent device: the hint to check the number and the cable, once.
        QVERIFY2(r.err.count(u"请检查设备号"_s) == 1, qPrintable(r.err));

        r = cli(cmd("read -o", m_dir->filePath(u"read.bin"_s), dev, "COM2"));
        QVERIFY_RUN(r, 4);
        QCOMPARE(fields(r.json, "result record"), u"timed-out 9"_s);

        // A learning mode the device will not confirm: refused, and learning mode is still ended.
        QVERIFY_RUN(cli(cmd("learn --key 0", dev, "COM3")), 1);
        QCOMPARE(sim(2).received(), cmd("0001F0 0001F2"));

        // What is read back differs from the file: the record is named.
        r = cli(cmd("download", table16, dev, "COM4"));
        QVERIFY_RUN(r, 1, u"第7条"_s);
        QCOMPARE(fields(r.json, "result verified differing"), u"mismatch false [7]"_s);

        // "auto" with no USB serial adapter on this machine.
        QVERIFY_RUN(cli(cmd("send 0", dev, "auto")), 3, u"USB 串口适配器"_s);
    }

    void codeFilesOffline()
    {
        const Run info = cli(cmd("info", table16));
        QVERIFY_RUN(info, 0);
        QCOMPARE(info.value("record_bytes").toArray().size(), 16);
        QCOMPARE(info.value("record_bytes").toArray().at(15).toInt(), 257);

        QVERIFY_RUN(cli(cmd("diff", table16, table16)), 0);
        const QString changed = m_dir->filePath(u"changed.bin"_s);
        QVERIFY(changedTable(changed, 5, 200));
        Run r = cli(cmd("diff", table16, changed));
        QVERIFY_RUN(r, 1);
        // Bytes count from 1, as records do.
        QCOMPARE(r.value("differing").toArray(),
                 QJsonArray({QJsonObject{{u"record"_s, 5}, {u"first_byte"_s, 101}}}));
        QVERIFY_RUN(cli(cmd("info", m_dir->path())), 2);
        QVERIFY_RUN(cli(cmd("diff", table16)), 2);

        // Results on standard output, for a pipe; nothing for people goes there.
        QVERIFY_RUN(cli(cmd("diff", table16, changed), false), 1, {},
                    u"第5条记录不同：从第101字节起"_s);
        r = cli(cmd("info", table16), false);
        QVERIFY_RUN(r, 0, {}, info.str("sha256"));
        QVERIFY(r.err.isEmpty());
        r = cli(cmd("--version"), false);
        QVERIFY_RUN(r, 0);
        QCOMPARE(r.out, u"irlearn-cli " IRLEARN_VERSION "\n"_s);
        // A result that cannot be written is no success.
        r = cli(cmd("info", table16), true, -1, u"/dev/full"_s);
        QVERIFY2(r.code != 0 && r.err.contains(u"标准输出"_s), qPrintable(r.err));
        QVERIFY(cli(cmd("info", table16), false, -1, u"/dev/full"_s).code != 0);
    }

    // A file name that is not UTF-8 is the file's name, byte for byte: read saves under it (and
    // replaces it whole), info, label, download and the frame log take it, and messages show it
    // readably. Only file names may be such bytes.
    void namesThatAreNotUtf8()
    {
        QVERIFY(startSims({cmd("--seed 3")}));
        const QByteArray raw = QFile::encodeName(m_dir->path()) + "/tab\xff.bin";
        const auto exists = [](const QByteArray &path) {
            return ::access(path.constData(), F_OK) == 0;
        };
        // Qt cannot remove what it cannot name: the temporary folder is emptied here.
        const std::shared_ptr<void> cleanup(nullptr, [&raw](void *) {
            for (const char *suffix : {"", ".json", ".log"})
                ::unlink((raw + suffix).constData());
        });
        Run r = cli(cmd("read -o $n", dev1));
        QVERIFY_RUN(r, 0);
        QVERIFY(!exists(QFile::encodeName(m_dir->filePath(u"tab\uFFFD.bin"_s))));
        QCOMPARE(cli(cmd("info $n")).value("sha256"), r.value("sha256"));
        QVERIFY_RUN(cli(cmd("label $n --brand 格力")), 0);
        QVERIFY(exists(raw + ".json"));
        // Read over it: replaced whole, nothing left beside it.
        QVERIFY_RUN(cli(cmd("read -o $n -v --log-file $n.log", dev1)), 0);
        QVERIFY(exists(raw + ".log"));
        QCOMPARE(cli(cmd("info $n")).value("sha256"), r.value("sha256"));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).filter(u".irlearn"_s),
                 QStringList());

        QVERIFY_RUN(cli(cmd("info $n.none")), 2, u"tab\uFFFD.bin.none"_s);
        QVERIFY_RUN(cli(cmd("read -o r.bin --brand $n", dev1)), 2, u"UTF-8"_s);
    }

    // Ctrl-C and kill in each kind of run: it stops where the device is left known, says what was
    // done, gives its JSON and exits 128 + the signal; a learning or a guided pass still ends
    // learning mode.
    void signalsStopAtASafePoint()
    {
        const QString saved = m_dir->filePath(u"interrupted.bin"_s);
        const QStringList clone = cmd("clone", table16, dev1, "--port COM2 --number-from 0101");
        // Simulators and their options, arguments, what to wait for, the signal, what is said.
        using Case = std::tuple<int, const char *, QStringList, QString, int, const char *>;
        for (const auto &[sims, simArgs, args, waitFor, sig, says] :
             {Case{1, "", cmd("download", table16, dev1), u"写入 3/16"_s, SIGINT,
                   "设备中的表不完整"},
              Case{1, "", cmd("read -o", saved, dev1), u"读取 3/16"_s, SIGTERM, "文件未保存"},
              Case{1, "", cmd("learn 12", dev1), u"退出学习状态"_s, SIGINT, "学习模式已关闭"},
              Case{1, "--key-reply none", cmd("learn --key 0", dev1), u"剩余"_s, SIGTERM,
                   "学习模式已关闭"},
              Case{2, "", clone, u"COM1  写入 3/16"_s, SIGINT, "设备中的表不完整"},
              // A guided pass while the operator is to press 开机.
              Case{1, "--ignore-learn 1", cmd("teach", dev1), u"剩余"_s, SIGINT, ""}}) {
            m_sims.clear();
            QVERIFY(startSims(QList<QStringList>(sims, cmd(simArgs))));
            Client client;
            QVERIFY2(startUntil(client, args, waitFor), qPrintable(client.err));
            // Both devices under way, not only the one waited for.
            QVERIFY2(sims < 2 || waitErr(client, u"COM2  写入 3/16"_s), qPrintable(client.err));
            if (args.contains(u"12"_s)) {
                // The same terminal by another name is the same port: turned away, naming who
                // holds it, and nothing sent.
                const Run second = cli(cmd("send 0 --device 0001 --port",
                                           QFileInfo(sim().linkPath()).canonicalFilePath()));
                QVERIFY_RUN(second, 3, u"被占用"_s);
                QVERIFY2(second.err.contains(u"irlearn-cli"_s), qPrintable(second.err));
            }
            const Run r = stop(client, sig);
            const QString row = args.join(u' ') + u'\n' + r.err;
            QVERIFY_RUN(r, 128 + sig, QString::fromUtf8(says));
            QVERIFY2(r.value("interrupted").toBool(), qPrintable(row));
            const QStringList first = sim().received();
            if (args.first() == "read"_L1) {
                QVERIFY(!QFileInfo::exists(saved));
                QVERIFY2(first.size() < readFrames().size() - 1, qPrintable(first.join(u' ')));
            } else if (!args.contains(table16)) {
                QCOMPARE(first,
                         cmd("0001F0", args.contains(u"12"_s) ? "00014B" : "000140", "0001F2"));
                if (args.first() == "teach"_L1)
                    QCOMPARE(r.value("keys").toArray().size(), 10);
            } else {
                // No record after the signal: the device got exactly the records said.
                for (const auto &s : std::as_const(m_sims)) {
                    const int records = int(s->received().size()) - 3;
                    QVERIFY2(records >= 3 && records < 16, qPrintable(row));
                    QVERIFY2(r.err.contains(u"已写入 %1/16 条"_s.arg(records)), qPrintable(row));
                    QVERIFY(!s->received().contains(u"FD0101"_s));
                }
                for (const QJsonValue &device : r.value("devices").toArray())
                    QCOMPARE(device.toObject().value("result"_L1).toString(), u"interrupted"_s);
            }
        }
    }

    // A signal while a port server has not yet answered stops the run at once: the port never
    // opened, nothing was sent, and the exit code is the signal's. A second Ctrl-C does not wait
    // for the safe point either.
    void signalsThatEndAtOnce()
    {
        QVERIFY(startSims({cmd("--key-reply none")}));
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        const QString server = u"rfc2217://127.0.0.1:%1"_s.arg(silent.serverPort());
        for (const char *command : {"send 0", "teach"}) {
            Client client;
            start(client, cmd(command, "--device 0001 --port", server), true, u"1"_s);
            QVERIFY2(QTest::qWaitFor([&] { return silent.hasPendingConnections(); }, 10000),
                     client.readAllStandardError().constData());
            delete silent.nextPendingConnection();
            const Run r = stop(client);
            QVERIFY_RUN(r, 130);
            QCOMPARE(r.str("result"), u"interrupted"_s);
        }

        Client client;
        // Full timings: the first signal waits out the key's 2 s reply window.
        QVERIFY(startUntil(client, cmd("learn --key 0", dev1), u"剩余"_s, u"1"_s));
        sendSignal(client, SIGINT);
        QVERIFY(waitErr(client, u"收到中断信号"_s));
        const Run r = stop(client);
        QVERIFY_RUN(r, 130);
        QVERIFY2(r.json.isEmpty(), qPrintable(r.out));
    }

    // A device that vanishes mid-clone and is back a moment later (its COM name now leads to it
    // again) is written on a retry.
    void cloneRetriesADeviceThatComesBack()
    {
        QVERIFY(startSims({cmd("--vanish-after 5"), {}}));
        const QString link = m_dir->filePath(u"adapter"_s);
        QVERIFY(QFile::link(sim(0).linkPath(), link));
        QVERIFY(writeSettings({link}));
        Client client;
        QVERIFY(startUntil(client, cmd("clone", table16, dev1, "--retry 5"), u"重试"_s));
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(sim(1).linkPath(), link));
        const Run r = finish(client);
        QVERIFY_RUN(r, 0);
        QCOMPARE(sim(1).storedTable(), fileRecords(table16));

        // Where it is reopened: where its adapter (by USB identity) is now, else by the
        // operator's name, but never into another adapter.
        using irlearn::PortDetails;
        const irlearn::PortIdentity ours{u"0403:6001"_s, u"A1"_s};
        const auto port = [](const char *path, const char *usb, const char *serial) {
            PortDetails d;
            d.path = QString::fromLatin1(path);
            d.usbId = QString::fromLatin1(usb);
            d.serialNumber = QString::fromLatin1(serial);
            return d;
        };
        const PortDetails back = port("/dev/ttyUSB1", "0403:6001", "A1");
        const PortDetails other = port("/dev/ttyUSB0", "0403:6001", "B2");
        const PortDetails plain = port("/dev/ttyUSB0", "1a86:7523", "");
        const QList<std::tuple<irlearn::PortIdentity, QList<PortDetails>, QString>> cases = {
            {ours, {other, back}, u"/dev/ttyUSB1"_s}, // back under another name
            {ours, {}, u"/dev/ttyUSB0"_s},            // not listed: by name
            {ours, {plain}, u"/dev/ttyUSB0"_s},       // one without identity
            {ours, {other}, QString()},               // another adapter there
            {ours, {back, port("/dev/ttyUSB2", "0403:6001", "A1")}, QString()}, // ambiguous
            {{u"1a86:7523"_s, QString()}, {back}, u"/dev/ttyUSB0"_s},
        };
        for (const auto &[identity, ports, expected] : cases)
            QCOMPARE(irlearn::relocatePort(identity, u"/dev/ttyUSB0"_s, ports), expected);
    }

    // The station on a folder of links, as /dev/serial/by-id is: two devices plugged in at once
    // (one pulled out mid-write, then plugged in again), numbers never given twice, a line per
    // result in the log, and Ctrl-C letting the device in flight finish before the summary. A
    // port server's address beside them is written once its server is up, and again when the
    // server has gone and come back.
    void stationWritesEveryDevicePluggedIn()
    {
        QVERIFY(startSims({{}, cmd("--vanish-after 5"), {}, {}, {}, {}}));
        const QString folder = m_dir->filePath(u"by-id"_s);
        QVERIFY(QDir().mkpath(folder));
        const QString log = m_dir->filePath(u"batch.jsonl"_s);
        const auto plug = [&](const char *name, int i) {
            return QFile::link(sim(i).linkPath(), folder + u'/' + QLatin1String(name));
        };
        // The device behind the server, by a link: another one is plugged in there later.
        const QString behind = m_dir->filePath(u"served"_s);
        QVERIFY(QFile::link(sim(4).linkPath(), behind));
        const bool served = !Ser2netProcess::program().isEmpty();
        Ser2netProcess server(behind);
        const QString address = server.rfc2217Address();

        Client station;
        QVERIFY(startUntil(station,
                           cmd("station", table16,
                               "--device 0001 --number-from 0101 --no-system-ports --port", address,
                               "--watch", folder + u"/*"_s, "--log", log),
                           u"工作站已就绪"_s, u"0.3"_s));
        // Until the station says `text` of the port `name` (a link in the folder, or the server).
        const auto until = [&](const QString &name, const char *text) {
            const QString port = name.startsWith(u"rfc2217"_s) ? name : folder + u'/' + name;
            return waitErr(station, port + QString::fromUtf8(text), 60000);
        };
        // What the station said last, where a wait for it failed (short of the test log's limit
        // on a message, in bytes).
        const auto said = [&station] {
            return station.err.right(300);
        };
        QVERIFY(plug("a", 0));
        QVERIFY(plug("b", 1));
        QVERIFY2(until(u"a"_s, "  设备号 0101  完成 → 可以拔下"), qPrintable(said()));
        QVERIFY2(until(u"b"_s, "  失败"), qPrintable(said()));
        // Written side by side: each one's frames began before the other's ended.
        const auto a = sim(0).receivedTimed();
        const auto b = sim(1).receivedTimed();
        QVERIFY(!a.isEmpty() && !b.isEmpty());
        QVERIFY(a.first().first < b.last().first && b.first().first < a.last().first);

        // Pulled out (its terminal is gone), then plugged in again: written anew, with the next
        // number.
        QVERIFY2(until(u"b"_s, ": 已拔下"), qPrintable(said()));
        QVERIFY(QFile::remove(folder + u"/b"_s));
        QVERIFY(plug("b", 2));
        QVERIFY2(until(u"b"_s, "  设备号 0102  完成 → 可以拔下"), qPrintable(said()));

        // Each device written: its number and its port, as the log has them.
        QStringList done = {u"0101 a"_s, u"0102 b"_s};
        if (served) {
            QVERIFY(server.start());
            QVERIFY2(until(address, "  设备号 0103  完成 → 可以拔下"), qPrintable(said()));
            server.kill();
            QVERIFY2(until(address, ": 连接已断开"), qPrintable(said()));
            QVERIFY(QFile::remove(behind));
            QVERIFY(QFile::link(sim(5).linkPath(), behind));
            QVERIFY(server.start());
            QVERIFY2(until(address, "  设备号 0104  完成 → 可以拔下"), qPrintable(said()));
            for (int i : {4, 5})
                QCOMPARE(sim(i).storedTable(), fileRecords(table16));
            done << u"0103 "_s + address << u"0104 "_s + address;
        }
        done << u"010%1 d"_s.arg(done.size() + 1);

        // Ctrl-C while a device is being written: it finishes, then the summary.
        QVERIFY(plug("d", 3));
        QVERIFY2(until(u"d"_s, ": 写入"), qPrintable(said()));
        const Run r = stop(station);
        QVERIFY_RUN(r, 0, u"已写入 %1 台，失败 1 次"_s.arg(done.size()));
        for (int i : {0, 2, 3}) {
            QCOMPARE(sim(i).storedTable(), fileRecords(table16));
            QVERIFY(sim(i).received().constLast().startsWith(u"FD010"_s));
        }
        const QStringList numbers =
            QStringList(done).replaceInStrings(QRegularExpression(u" .*"_s), {});
        QCOMPARE(fields(r.json, "written failed unwritten numbers"),
                 u"%1 1 [] [\"%2\"]"_s.arg(done.size()).arg(numbers.join(u"\",\""_s)));

        // Each line in the log: number, port (in the folder), result, the records that failed,
        // device number and the table's sum.
        QStringList results;
        for (const QByteArray &line : contents(log).trimmed().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            QVERIFY2(
                QDateTime::fromString(o.value("time"_L1).toString(), Qt::ISODateWithMs).isValid() &&
                    o.value("seconds"_L1).toDouble() > 0,
                line.constData());
            results << fields(o, "number port result failed_records device sha256")
                           .remove(folder + u'/');
        }
        const QString tail = u" 0001 "_s + cli(cmd("info", table16)).str("sha256");
        QStringList expected =
            done.replaceInStrings(QRegularExpression(u"$"_s), u" done []"_s + tail)
            << u"null b port-lost [6]"_s + tail;
        results.sort();
        expected.sort();
        QCOMPARE(results, expected);
    }

    // The label and library commands on a temporary folder: what each puts on standard output
    // for a script, and what each refuses. The library's own rules are pinned in tst_codefile.
    void libraryOnAFolder()
    {
        const QString file = m_dir->filePath(u"kfr.bin"_s);
        const QString folder = m_dir->filePath(u"lib"_s);
        QVERIFY(QFile::copy(table16, file));
        QVERIFY_RUN(cli(cmd("label", file, "--brand 格力 --label model=KFR-35GW --notes 客厅")), 0);
        // A second label keeps the first ones.
        QVERIFY_RUN(cli(cmd("label", file, "--remote YB1F2")), 0);
        Run r = cli(cmd("info", file), false);
        for (const QString &line :
             {u"品牌：格力"_s, u"型号：KFR-35GW"_s, u"遥控器型号：YB1F2"_s, u"备注：客厅"_s})
            QVERIFY_RUN(r, 0, {}, line);
        QVERIFY(r.err.isEmpty());
        QVERIFY_RUN(cli(cmd("label", file)), 2);
        QVERIFY_RUN(cli(cmd("label", file, "--label colour=red")), 2);

        // The id alone on standard output, for a script to keep; the second gets a suffix. A
        // file labelled as it goes in gets no labels beside it.
        const QStringList into = cmd("--library", folder);
        QCOMPARE(cli(cmd("library add", file, into), false).out, u"格力-kfr-35gw\n"_s);
        r = cli(cmd("library add", file, into));
        QCOMPARE(fields(r.value("entry"), "id"), u"格力-kfr-35gw-2"_s);
        QVERIFY_RUN(cli(cmd("library add", table16, "--label brand=美的 --model KFR-26", into)), 0);
        QVERIFY(!QFileInfo::exists(table16 + u".json"_s));

        const QJsonArray all = cli(cmd("library list", into)).value("entries").toArray();
        QCOMPARE(all.size(), 3);
        QCOMPARE(all.at(0).toObject().value("remote"_L1).toString(), u"YB1F2"_s);
        r = cli(cmd("library list --search 美的", into), false);
        QVERIFY_RUN(r, 0, {}, u"美的-kfr-26"_s);
        QCOMPARE(r.out.count(u'\n'), 2); // the heading and one entry

        // The settings file names the library when --library does not.
        const QString settings = m_dir->filePath(u"lib.ini"_s);
        QVERIFY(writeFile(settings, "[Library]\r\nPath=" + folder.toUtf8() + "\r\n"));
        QVERIFY_RUN(cli(cmd("library show 美的-kfr-26 --settings", settings), false), 0, {},
                    u"型号：KFR-26"_s);
        QVERIFY_RUN(cli(cmd("library show none", into)), 2, u"码库中没有条目"_s);
    }

    // A file changed since it was labelled is sent nowhere unless the operator says so; damaged
    // labels are said and ignored; read -o labels what it saves.
    void changedLabelsAreRefused()
    {
        QVERIFY(startSims({{}}));
        const QString file = m_dir->filePath(u"t.bin"_s);
        QVERIFY(QFile::copy(table16, file));
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY_RUN(cli(cmd("label", file, "--brand 海尔")), 0);
        QVERIFY(changedTable(file, 3));
        for (const QStringList &command :
             {cmd("download", file, dev1), cmd("verify", file, dev1), cmd("clone", file, dev1),
              cmd("label", file, "--model X")}) {
            const Run r = cli(command);
            QVERIFY_RUN(r, 2, u"第3条记录与标签不符"_s);
            QCOMPARE(r.value("changed_records").toArray(), QJsonArray({3}));
        }
        QCOMPARE(sim().received(), QStringList());
        QCOMPARE(jsonFile(file + u".json"_s).value("model"_L1).toString(), QString());

        QVERIFY_RUN(cli(cmd("download", file, "--ignore-labels --no-verify", dev1)), 0);
        QCOMPARE(sim().storedTable(), fileRecords(file));
        // Stamped anew, the file goes again without the option.
        QVERIFY_RUN(cli(cmd("label", file, "--ignore-labels")), 0);
        QCOMPARE(cli(cmd("info", file)).str("labels_state"), u"valid"_s);

        // Labels that are no labels of ours do not stop the file...
        QVERIFY(writeFile(file + u".json"_s, "{\"brand\":"));
        const Run r = cli(cmd("verify", file, dev1));
        QVERIFY_RUN(r, 0, u"标签文件无效"_s);
        QCOMPARE(r.str("labels_state"), u"damaged"_s);
        // ... but are not replaced unasked: they may be another program's.
        QVERIFY_RUN(cli(cmd("label", file, "--brand A")), 2);
        QCOMPARE(QFileInfo(file + u".json"_s).size(), 9);

        // read -o writes the labels after the table, stamped with what was read.
        const QString read = m_dir->filePath(u"read.bin"_s);
        QVERIFY_RUN(cli(cmd("read -o", read, "--label brand=海尔 --model KFR-50", dev1)), 0);
        QCOMPARE(fields(jsonFile(read + u".json"_s), "model device"), u"KFR-50 0001"_s);
        QCOMPARE(cli(cmd("info", read)).str("labels_state"), u"valid"_s);
        // Read again over it without labels: the old labels would describe the replaced table.
        QVERIFY(changedTable(read, 1));
        QVERIFY_RUN(cli(cmd("read -o", read, dev1)), 0);
        QCOMPARE(cli(cmd("info", read)).str("labels_state"), u"valid"_s);
    }

    // A library table, the same with one record changed, and one the library does not hold.
    void identifyAgainstLibrary()
    {
        const QString changed = m_dir->filePath(u"changed.bin"_s);
        QVERIFY(changedTable(changed, 5));
        QVERIFY(startSims({cmd("--table", table16), cmd("--table", changed), cmd("--seed 9")}));
        const QStringList into = cmd("--library", m_dir->filePath(u"lib"_s));
        QVERIFY_RUN(cli(cmd("library add", table16, "--brand 格力 --model KFR-35", into)), 0);

        Run r = cli(cmd("identify --device 0001 --port COM1 --port COM2 --port COM3", into));
        QVERIFY_RUN(r, 1);
        // Each device: its match, the entry and the records that differ from it.
        QCOMPARE(rows(r.value("devices"), "match entry differing"),
                 QStringList(
                     {u"exact 格力-kfr-35 []"_s, u"closest 格力-kfr-35 [5]"_s, u"unknown - []"_s}));
        for (const auto &sim : std::as_const(m_sims))
            QCOMPARE(sim->received(), readFrames());

        // The table on standard output; every device known is a success.
        r = cli(cmd("identify --device 0001 --port COM1", into), false);
        QVERIFY_RUN(r, 0);
        QVERIFY2(r.out.contains(QRegularExpression(u"COM1 +0001 +格力-kfr-35 +-"_s)),
                 qPrintable(r.out));
    }

    // A guided pass without a terminal: retries on its own, the statuses in its JSON and beside the
    // saved table, learning mode off at the end and after a failure.
    void teachAPass()
    {
        // 制冷 refused once, then learnt on the retry; 制热 refused every time.
        QVERIFY(startSims({cmd("--refuse-learn 3:1 --refuse-learn 4")}));
        const QString saved = m_dir->filePath(u"taught.bin"_s);
        Run r = cli(cmd("teach --keys 制热,开机,制冷 --commands 12 --retries 1 --brand 格力 -o",
                        saved, dev1));
        QVERIFY_RUN(r, 1, u"「制冷」：请对准设备按遥控器的模式键"_s);
        QVERIFY(r.err.contains(u"先切到制冷的前一个模式"_s));
        // The keys in their own order, whatever the option's: key, code, status, attempts.
        QCOMPARE(rows(r.value("keys"), "key code status attempts") +
                     rows(r.value("commands"), "number code status attempts"),
                 QStringList({u"开机 40 learned 1"_s, u"制冷 42 learned 2"_s,
                              u"制热 43 refused 2"_s, u"12 4B learned 1"_s}));
        QCOMPARE(r.str("file"), saved);
        const QStringList received = sim().received();
        // The numbered command brackets itself in learning mode, which ends the keys' as well.
        QCOMPARE(received, cmd("0001F0 000140 000142 000142 000143 000143 0001F0 00014B 0001F2") +
                               readFrames());
        QCOMPARE(fileRecords(saved), sim().storedTable());
        const QJsonObject labels = jsonFile(saved + u".json"_s);
        QCOMPARE(fields(labels, "brand device"), u"格力 0001"_s);
        QCOMPARE(fields(labels.value("keys"_L1), "开机 制热") + u' ' +
                     fields(labels.value("commands"_L1), "12"),
                 u"learned failed learned"_s);

        // Every key learnt: 0, and nothing but the pass on the wire; no terminal, no verdict.
        r = cli(cmd("teach --keys 20℃ --test", dev1));
        QVERIFY_RUN(r, 0);
        QCOMPARE(sim().received().mid(received.size()), cmd("0001F0 000147 0001F2 000147"));
        QCOMPARE(rows(r.value("keys"), "reacted"), QStringList({u"null"_s}));
        QVERIFY_RUN(cli(cmd("teach --keys 空调", dev1)), 2);
        QCOMPARE(sim().received().size(), received.size() + 4);
    }

private:
    // Arguments as a script writes them: text split at spaces, a QString (a path) as one argument.
    static QStringList piece(const char *text)
    {
        return QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts);
    }
    static QStringList piece(const QString &arg) { return {arg}; }
    static QStringList piece(const QStringList &args) { return args; }
    template <typename... T> static QStringList cmd(const T &...parts)
    {
        return (QStringList() + ... + piece(parts));
    }

    static QStringList readFrames() { return cmd("0001ED 40 50") + QStringList(16, u"00"_s); }
    static QStringList fileRecords(const QString &path)
    {
        return irlearn::codefile::load(path).lines.mid(0, 16);
    }
    static bool writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static QJsonObject jsonFile(const QString &path)
    {
        return QJsonDocument::fromJson(contents(path)).object();
    }

    // table16 with one byte (at the text's column `at`) of one record (1 to 16) changed.
    static bool changedTable(const QString &path, int record, int at = 20)
    {
        QStringList records = fileRecords(table16);
        QString &line = records[record - 1];
        line.replace(at, 2, line.mid(at, 2) == "00"_L1 ? u"01"_s : u"00"_s);
        return writeFile(path, records.join(u"\r\n"_s).toLatin1() + "\r\n");
    }

    // The named fields of a JSON object as text, "-" for one it lacks: "done true [3,4]".
    static QString fields(const QJsonValue &object, const char *names)
    {
        QStringList values;
        for (const QString &name : piece(names)) {
            const QJsonValue v = object.toObject().value(name);
            if (v.isArray())
                values << QString::fromUtf8(
                    QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
            else
                values << (v.isUndefined() ? u"-"_s
                           : v.isNull()    ? u"null"_s
                                           : v.toVariant().toString());
        }
        return values.join(u' ');
    }
    // The fields of each object in an array.
    static QStringList rows(const QJsonValue &array, const char *names)
    {
        QStringList out;
        for (const QJsonValue &v : array.toArray())
            out << fields(v, names);
        return out;
    }

    SimProcess &sim(int i = 0) { return *m_sims.at(i); }

    // Pins the ports as COM1, COM2, ... in the run's settings file.
    bool writeSettings(const QStringList &paths)
    {
        QByteArray ini = "[Ports]\r\n";
        for (int i = 0; i < paths.size(); ++i)
            ini += u"COM%1=%2\r\n"_s.arg(i + 1).arg(paths.at(i)).toUtf8();
        return writeFile(m_dir->filePath(u"VexoSet.ini"_s), ini);
    }

    // Starts simulators, pinned as COM1, COM2, ...
    bool startSims(const QList<QStringList> &args,
                   SimProcess::Pace pace = SimProcess::Pace::Instant)
    {
        QStringList paths;
        for (const QStringList &a : args) {
            // The simulator ends a frame on 5 ms of silence, as it must for the scaled opening
            // pause.
            auto sim = std::make_shared<SimProcess>(cmd("--frame-gap 5", a), pace);
            if (!sim->start())
                return false;
            m_sims << sim;
            paths << sim->linkPath();
        }
        return writeSettings(paths);
    }

    // Starts irlearn-cli with the run's settings file unless one is given, in a session log
    // folder of the run's own. An argument holding "$n" goes through a shell, where it stands for
    // the name tab\xff.bin, which no QString argument can carry.
    void start(QProcess &process, QStringList args, bool withJson = true,
               const QString &timeScale = u"0.2"_s)
    {
        if (!cmd("diff info label library").contains(args.value(0)) &&
            !args.value(0).startsWith(u'-') && !args.contains(u"--settings"_s))
            args << u"--settings"_s << m_dir->filePath(u"VexoSet.ini"_s);
        if (withJson)
            args << u"--json"_s;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"IRLEARN_TIME_SCALE"_s, timeScale);
        env.insert(u"XDG_STATE_HOME"_s, m_dir->filePath(u"state"_s));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_dir->path());
        if (!args.join(u' ').contains("$n"_L1))
            return process.start(QStringLiteral(IRLEARN_CLI_PATH), args);
        QString line =
            u"n=\"$(printf 'tab\\377.bin')\"; exec "_s + QStringLiteral(IRLEARN_CLI_PATH);
        for (QString a : args)
            line += u" '"_s + a.replace("$n"_L1, "'\"$n\"'"_L1) + u'\'';
        process.start(u"/bin/sh"_s, {u"-c"_s, line});
    }

    // Runs irlearn-cli; with a terminal, its standard error goes there.
    Run cli(const QStringList &args, bool withJson = true, int terminal = -1,
            const QString &outputFile = QString())
    {
        Client client;
        if (terminal >= 0)
            client.setChildProcessModifier([terminal] { ::dup2(terminal, STDERR_FILENO); });
        if (!outputFile.isEmpty())
            client.setStandardOutputFile(outputFile);
        start(client, args, withJson);
        return finish(client);
    }

    // Reads the client's standard error until it holds `text`; false if the client ends first.
    static bool waitErr(Client &client, const QString &text, int ms = 30000)
    {
        const auto seen = [&] {
            client.err += QString::fromUtf8(client.readAllStandardError());
            return client.err.contains(text);
        };
        (void)QTest::qWaitFor([&] { return seen() || client.state() == QProcess::NotRunning; }, ms);
        return seen();
    }

    // Starts irlearn-cli and returns once its standard error shows `waitFor`.
    bool startUntil(Client &client, const QStringList &args, const QString &waitFor,
                    const QString &timeScale = u"0.2"_s)
    {
        start(client, args, true, timeScale);
        return client.waitForStarted(10000) && waitErr(client, waitFor);
    }

    static Run finish(Client &client)
    {
        Run run;
        if (!client.waitForFinished(180000))
            return run;
        run.code = client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1;
        run.err = client.err + QString::fromUtf8(client.readAllStandardError());
        run.out = QString::fromUtf8(client.readAllStandardOutput());
        run.json = QJsonDocument::fromJson(run.out.toUtf8()).object();
        return run;
    }

    // A signal to a running client only: a process that has already ended has no id, and kill(0)
    // would signal the whole process group, the test runner with it.
    static void sendSignal(QProcess &process, int signal)
    {
        if (process.processId() > 0)
            ::kill(pid_t(process.processId()), signal);
    }
    static Run stop(Client &client, int signal = SIGINT)
    {
        sendSignal(client, signal);
        return finish(client);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QList<std::shared_ptr<SimProcess>> m_sims;
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
