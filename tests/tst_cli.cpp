// irlearn-cli as a script runs it: the real binary in its own process against simulated devices on
// pseudo-terminals (one simulator process each), pinned through a settings file. Every command's
// frames are read back from the simulators' logs; timings are scaled through IRLEARN_TIME_SCALE.
#include "support/ser2netprocess.h"
#include "support/simprocess.h"

#include "codefile/codefile.h"
#include "serial/portidentity.h"

#include <QCryptographicHash>
#include <QDate>
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

namespace {

struct Run
{
    int code = -1;
    QJsonObject json;
    QString err;
    QString out; // standard output as text (the JSON result with --json)
    QJsonValue value(const char *key) const { return json.value(QLatin1String(key)); }
};

// Arguments as a script writes them, split at spaces.
// A signal to a running client only: a process that has already ended has no id, and kill(0)
// would signal the whole process group, the test runner with it.
void sendSignal(QProcess &process, int signal)
{
    const qint64 pid = process.processId();
    if (pid > 0)
        ::kill(pid_t(pid), signal);
}

QStringList words(const char *line)
{
    return QString::fromUtf8(line).split(QLatin1Char(' '));
}

QStringList readFrames()
{
    return QStringList{QStringLiteral("0001ED"), QStringLiteral("40"), QStringLiteral("50")} +
           QStringList(16, QStringLiteral("00"));
}

QStringList fileRecords(const QString &path)
{
    return irlearn::codefile::load(path).lines.mid(0, 16);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const QString table16 = QStringLiteral(IRLEARN_TEST_DATA "/table16.bin");

// table16 with one byte of one record (1 to 16) changed, written to path.
bool changedTable(const QString &path, int record)
{
    QStringList records = fileRecords(table16);
    QString &line = records[record - 1];
    line.replace(20, 2,
                 line.mid(20, 2) == QLatin1String("00") ? QStringLiteral("01")
                                                        : QStringLiteral("00"));
    return writeFile(path, records.join(QStringLiteral("\r\n")).toLatin1() + "\r\n");
}

QJsonObject jsonFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}
const QStringList dev1 = words("--device 0001 --port COM1");

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
        startSims({words("--seed 7")});
        SimProcess &sim = *m_sims.first();
        const QString saved = m_dir->filePath(QStringLiteral("read.bin"));

        Run r = cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), saved} + dev1);
        QCOMPARE(r.code, 0);
        QCOMPARE(sim.received(), readFrames());
        QCOMPARE(fileRecords(saved), sim.storedTable());
        QCOMPARE(r.value("result").toString(), QStringLiteral("done"));
        QCOMPARE(r.value("path").toString(), sim.linkPath());
        const Run info = cli({QStringLiteral("info"), saved});
        QCOMPARE(info.value("sha256"), r.value("sha256"));
        // Without --json the run ends with the table's sum and the time taken on standard output.
        const Run plain =
            cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), saved} + dev1, false);
        QCOMPARE(plain.code, 0);
        QVERIFY2(plain.out.startsWith(QStringLiteral("SHA-256：") + r.value("sha256").toString() +
                                      QStringLiteral("\n用时：")),
                 qPrintable(plain.out));
        QVERIFY(!plain.err.contains(QStringLiteral("SHA-256")));

        const QStringList download =
            QStringList{QStringLiteral("0001DD"), QStringLiteral("40"), QStringLiteral("50")} +
            fileRecords(table16);
        r = cli(QStringList{QStringLiteral("download"), table16} + dev1);
        QCOMPARE(r.code, 0);
        QVERIFY(r.value("verified").toBool());
        QCOMPARE(sim.received(), readFrames() + readFrames() + download + readFrames());
        QCOMPARE(sim.storedTable(), fileRecords(table16));
        r = cli(QStringList{QStringLiteral("download"), table16, QStringLiteral("--no-verify")} +
                dev1);
        QCOMPARE(r.code, 0);
        QVERIFY(!r.value("verified").toBool());
        QCOMPARE(sim.received(), readFrames() + readFrames() + download + readFrames() + download);

        r = cli({QStringLiteral("ports")});
        const QJsonArray ports = r.value("ports").toArray();
        QVERIFY(!ports.isEmpty());
        QCOMPARE(ports.first().toObject().value(QLatin1String("name")).toString(),
                 QStringLiteral("COM1"));
        QCOMPARE(ports.first().toObject().value(QLatin1String("path")).toString(),
                 QFileInfo(sim.linkPath()).canonicalFilePath());
    }

    // --log-file: the -v lines, time-stamped, in the file named or in the window's session log;
    // a log that cannot be one is refused before anything is sent.
    void framesToALogFile()
    {
        startSims({{}});
        SimProcess &sim = *m_sims.first();
        const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
        // The lines after the first (which names the command), without their time stamps.
        const auto logged = [&stamp](const QString &path) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return QStringList{QStringLiteral("(no log)")};
            QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
            if (lines.constLast().isEmpty())
                lines.removeLast();
            for (QString &line : lines) {
                if (!stamp.match(line).hasMatch())
                    return QStringList{QStringLiteral("(no stamp) ") + line};
                line.remove(stamp);
            }
            return lines.mid(1);
        };
        const QStringList sent = {QStringLiteral("--== 输出指令[0001F0] ==--"),
                                  QStringLiteral("--== 输出指令[000140] ==--"),
                                  QStringLiteral("--== 输出指令[0001F2] ==--")};

        const QString path = m_dir->filePath(QStringLiteral("frames.log"));
        Run r = cli(words("learn --key 开机 -v --log-file") + QStringList{path} + dev1);
        QCOMPARE(r.code, 0);
        const QStringList lines = logged(path);
        for (const QString &line : lines)
            QVERIFY2(r.err.contains(line), qPrintable(line));
        QCOMPARE(lines.filter(QStringLiteral("输出指令")), sent);

        // Alone at the end it means the session log folder; -v is the terminal's, not the file's.
        const QByteArray state = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", m_dir->filePath(QStringLiteral("state")).toUtf8());
        r = cli(words("learn --key 开机") + dev1 + QStringList{QStringLiteral("--log-file")},
                false);
        if (state.isNull())
            qunsetenv("XDG_STATE_HOME");
        else
            qputenv("XDG_STATE_HOME", state);
        QCOMPARE(r.code, 0);
        QVERIFY(!r.err.contains(sent.at(0)));
        const QString day = m_dir->filePath(QStringLiteral("state/irlearn/irlearn-%1.log")
                                                .arg(QDate::currentDate().toString(Qt::ISODate)));
        QCOMPARE(logged(day), lines);

        const QStringList before = sim.received();
        r = cli(words("learn --key 开机 --log-file") + QStringList{m_dir->path()} + dev1);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(QStringLiteral("日志文件不能用")), qPrintable(r.err));
        QCOMPARE(sim.received(), before);
    }

    void keyCommandsOnTheWire()
    {
        startSims({{}});
        SimProcess &sim = *m_sims.first();

        // Keys by name and by index, numbered commands by number; learning mode ends either way.
        QCOMPARE(cli(words("send 开机") + dev1).code, 0);
        QCOMPARE(cli(words("send 9") + dev1).code, 0);
        Run r = cli(words("learn --key 制冷") + dev1);
        QCOMPARE(r.code, 0);
        QVERIFY(r.err.contains(QStringLiteral("指令学习成功！")));
        QCOMPARE(cli(words("learn 12") + dev1).code, 0);
        r = cli(words("set-number 0002 --port COM1"));
        QCOMPARE(r.code, 0);
        QCOMPARE(sim.received(),
                 words("000140 000149 0001F0 000142 0001F2 0001F0 00014B 0001F2 FD0002"));
        QVERIFY(!r.err.contains(QStringLiteral("\x1b")));
    }

    void cloneIntoFourDevices()
    {
        // COM2 is pulled out at record 6; COM3 refuses record 4 ten times, which ends its first
        // try. COM4's device carries a number of its own.
        startSims(
            {{}, words("--vanish-after 5"), words("--refuse-record 3:10"), words("--device 0042")});
        const Run r = cli(QStringList{QStringLiteral("clone"), table16} +
                          words("--device 0001 --numbers 0101,0102,0103,0104 --retry 1 --port COM1 "
                                "--port COM2 --port COM3 --port COM4=0042"));
        QCOMPARE(r.code, 4);
        const QJsonArray devices = r.value("devices").toArray();
        QCOMPARE(devices.size(), 4);
        for (int i : {0, 2, 3}) {
            const QJsonObject d = devices.at(i).toObject();
            QCOMPARE(d.value(QStringLiteral("result")).toString(), QStringLiteral("done"));
            QVERIFY(d.value(QStringLiteral("verified")).toBool());
            QCOMPARE(d.value(QStringLiteral("number")).toString(),
                     QStringLiteral("010%1").arg(i + 1));
            QCOMPARE(m_sims.at(i)->storedTable(), fileRecords(table16));
            QCOMPARE(m_sims.at(i)->received().constLast(), QStringLiteral("FD010%1").arg(i + 1));
        }
        QCOMPARE(devices.at(2).toObject().value(QLatin1String("attempts")).toInt(), 2);
        QCOMPARE(m_sims.at(3)->received().constFirst().left(4), QStringLiteral("0042"));
        const QJsonObject lost = devices.at(1).toObject();
        QCOMPARE(lost.value(QStringLiteral("result")).toString(), QStringLiteral("port-lost"));
        QCOMPARE(lost.value(QStringLiteral("exit_code")).toInt(), 4);
        QVERIFY(!lost.contains(QStringLiteral("number")));
        // The summary names the one that failed and why.
        QVERIFY2(r.err.contains(QRegularExpression(QStringLiteral("COM2 +失败 +- .*连接中断"))),
                 qPrintable(r.err));
        QVERIFY(r.err.contains(QStringLiteral("4 台设备中 3 台完成")));
    }

    void badInputSendsNothing()
    {
        startSims({{}});
        const QString folder = m_dir->filePath(QStringLiteral("folder"));
        QVERIFY(QDir().mkpath(folder));
        const QString bad = m_dir->filePath(QStringLiteral("bad.bin"));
        QVERIFY(writeFile(bad, "00FF\r\n"));
        const QStringList sendTo = words("send 0 --device 0001 --port");
        const QString fifo = m_dir->filePath(QStringLiteral("fifo"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        const QString settings = QStringLiteral("--settings");
        const QStringList readTo = words("read -o");
        const QList<std::tuple<QStringList, int, const char *>> cases = {
            {words("send 0 --device 01 --port COM1"), 2, "设备号长度必须为4位"},
            {words("set-number 0000 --port COM1"), 2, "对不起设备号不能为零！"},
            {words("learn 200") + dev1, 2, "指令号无效：200（应为 1–108）"},
            {words("clone x --device 0001 --port COM1 --port COM2 --numbers 0101,0101"), 2,
             "设备号重复：0101"},
            {words("clone x --port COM1=12"), 2, "设备号长度必须为4位"},
            {words("clone x --port COM1=0001 --port COM2"), 2, "缺少 --device"},
            {QStringList{QStringLiteral("station"), table16} +
                 words("--device 0001 --port rfc2217://127.0.0.1"),
             2, "端口"},
            {QStringList{QStringLiteral("station"), table16} +
                 words("--device 0001 --no-system-ports"),
             2, "--watch 或 --port"},
            // The settings file names the ports: one that cannot be read is no file at all.
            {dev1 + QStringList{settings, m_dir->filePath(QStringLiteral("none.ini"))}, 2,
             "文件不存在"},
            {dev1 + QStringList{settings, folder}, 2, "文件夹"},
            {dev1 + QStringList{settings, fifo}, 2, "命名管道"},
            // Outputs: a device, an option-like value, a folder that takes no file.
            {readTo + QStringList{QStringLiteral("/dev/null")} + dev1, 2, "设备"},
            {readTo + QStringList{QStringLiteral("--json")} + dev1, 2, "像是一个选项"},
            {readTo + QStringList{QStringLiteral("/proc/table.bin")} + dev1, 2, "不能写入"},
            {words("learn 5 --key 开机") + dev1, 2, "二者取一"},
            {words("send 睡眠") + dev1, 2, "没有这个键"},
            {QStringList{QStringLiteral("download"), bad} + dev1, 2, "不能下载"},
            {QStringList{QStringLiteral("clone"), bad} + dev1, 2, "不能下载"},
            {QStringList{QStringLiteral("read"), QStringLiteral("-o"), folder} + dev1, 2, "文件夹"},
            {sendTo + QStringList{folder}, 3, "不是串口设备"},
            {sendTo + QStringList{table16}, 3, "普通文件"},
            {sendTo + words("COM9"), 3, "端口不存在：COM9"},
            // One bad port stops a clone before any port is opened.
            {QStringList{QStringLiteral("clone"), table16} + dev1 +
                 QStringList{QStringLiteral("--port"), folder},
             3, "不是串口设备"},
            {QStringList{QStringLiteral("verify"), table16, QStringLiteral("--bogus")}, 2,
             "没有选项"},
            // Two port servers are two ports, however alike their addresses look on disk.
            {words("identify --device 0001 --port rfc2217://127.0.0.1:1 --port "
                   "rfc2217://127.0.0.1:2"),
             3, "127.0.0.1:2"},
        };
        for (auto [args, code, says] : cases) {
            // The settings rows are a read of COM1.
            if (args.first() == QLatin1String("--device"))
                args = readTo + QStringList{m_dir->filePath(QStringLiteral("r.bin"))} + args;
            const Run r = cli(args);
            QVERIFY2(r.code == code, qPrintable(args.join(QLatin1Char(' ')) + QLatin1Char(' ') +
                                                QString::number(r.code) + r.err));
            QVERIFY2(r.err.contains(QString::fromUtf8(says)), qPrintable(r.err));
            QCOMPARE(r.value("exit_code").toInt(), code);
            // One message for one fault.
            QVERIFY2(!r.err.contains(QStringLiteral("不能为0")), qPrintable(r.err));
        }
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/read.bin")));
        QCOMPARE(m_sims.first()->received(), QStringList());
    }

    void failuresExitWithTheirCodes()
    {
        startSims({words("--key-reply none"), words("--stop-after 8"), words("--echo wrong"),
                   words("--wrong-record 6")});
        const QStringList dev = words("--device 0001 --port");
        Run r = cli(words("send 1") + dev + words("COM1"));
        QCOMPARE(r.code, 4);
        QCOMPARE(r.value("result").toString(), QStringLiteral("timed-out"));
        // A silent device: the hint to check the number and the cable, once.
        QVERIFY2(r.err.count(QStringLiteral("请检查设备号")) == 1, qPrintable(r.err));

        // A read that stops half-way leaves the file that was there as it was.
        const QString saved = m_dir->filePath(QStringLiteral("keep.bin"));
        QVERIFY(QFile::copy(table16, saved));
        r = cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), saved} + dev +
                words("COM2"));
        QCOMPARE(r.code, 4);
        QCOMPARE(r.value("record").toInt(), 9);
        QCOMPARE(fileRecords(saved), fileRecords(table16));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).size(), 2); // the settings and keep.bin

        // A learning mode the device will not confirm: refused, and learning mode is still ended.
        r = cli(words("learn --key 0") + dev + words("COM3"));
        QCOMPARE(r.code, 1);
        QCOMPARE(m_sims.at(2)->received(), words("0001F0 0001F2"));

        // What is read back differs from the file: the record is named.
        r = cli(QStringList{QStringLiteral("download"), table16} + dev + words("COM4"));
        QCOMPARE(r.code, 1);
        QCOMPARE(r.value("result").toString(), QStringLiteral("mismatch"));
        QVERIFY(r.json.contains(QLatin1String("verified")) && !r.value("verified").toBool());
        QCOMPARE(r.value("differing").toArray(), QJsonArray({7}));
        QVERIFY2(r.err.contains(QStringLiteral("第7条")), qPrintable(r.err));

        // "auto" with no USB serial adapter on this machine.
        r = cli(words("send 0") + dev + words("auto"));
        QCOMPARE(r.code, 3);
        QVERIFY(r.err.contains(QStringLiteral("USB 串口适配器")));
    }

    void codeFilesOffline()
    {
        const Run info = cli({QStringLiteral("info"), table16});
        QCOMPARE(info.code, 0);
        QCOMPARE(info.value("record_bytes").toArray().size(), 16);
        QCOMPARE(info.value("record_bytes").toArray().at(15).toInt(), 257);

        // Lower case and LF line ends are the same table; one byte changed in record 5 is not.
        QStringList records = fileRecords(table16);
        const QString same = m_dir->filePath(QStringLiteral("same.bin"));
        QVERIFY(writeFile(same, records.join(QLatin1Char('\n')).toLower().toLatin1()));
        Run r = cli({QStringLiteral("diff"), table16, same});
        QCOMPARE(r.code, 0);
        QCOMPARE(cli({QStringLiteral("info"), same}).value("sha256"), info.value("sha256"));

        records[4].replace(200, 2,
                           records[4].mid(200, 2) == QLatin1String("00") ? QStringLiteral("01")
                                                                         : QStringLiteral("00"));
        const QString changed = m_dir->filePath(QStringLiteral("changed.bin"));
        QVERIFY(writeFile(changed, records.join(QStringLiteral("\r\n")).toLatin1()));
        r = cli({QStringLiteral("diff"), table16, changed});
        QCOMPARE(r.code, 1);
        const QJsonArray differing = r.value("differing").toArray();
        QCOMPARE(differing.size(), 1);
        QCOMPARE(differing.at(0).toObject().value(QLatin1String("record")).toInt(), 5);
        // Bytes count from 1, as records do.
        QCOMPARE(differing.at(0).toObject().value(QLatin1String("first_byte")).toInt(), 101);

        r = cli({QStringLiteral("info"), m_dir->path()});
        QCOMPARE(r.code, 2);
        QCOMPARE(cli({QStringLiteral("diff"), table16}).code, 2);

        // Results on standard output, for a pipe; nothing for people goes there.
        r = cli({QStringLiteral("diff"), table16, changed}, false);
        QCOMPARE(r.code, 1);
        QVERIFY2(r.out.contains(QStringLiteral("第5条记录不同：从第101字节起")), qPrintable(r.out));
        r = cli({QStringLiteral("info"), table16}, false);
        QVERIFY(r.out.contains(info.value("sha256").toString()));
        QVERIFY(r.err.isEmpty());
        r = cli({QStringLiteral("--version")}, false);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QStringLiteral("irlearn-cli " IRLEARN_VERSION "\n"));
        // A result that cannot be written is no success.
        r = cli({QStringLiteral("info"), table16}, true, -1, QStringLiteral("/dev/full"));
        QVERIFY2(r.code != 0, qPrintable(r.err));
        QVERIFY(r.err.contains(QStringLiteral("标准输出")));
        r = cli({QStringLiteral("info"), table16}, false, -1, QStringLiteral("/dev/full"));
        QVERIFY(r.code != 0);
    }

    // A file name that is not UTF-8 is the file's name, byte for byte: read saves under it (and
    // replaces it whole), info, label, download and the frame log take it, and messages show it
    // readably. Only file names may be such bytes.
    void namesThatAreNotUtf8()
    {
        startSims({words("--seed 3")});
        SimProcess &sim = *m_sims.first();
        const QByteArray raw = QFile::encodeName(m_dir->path()) + "/tab\xff.bin";
        const auto exists = [](const QByteArray &path) {
            return ::access(path.constData(), F_OK) == 0;
        };
        // Qt cannot remove what it cannot name: the temporary folder is emptied here.
        const std::shared_ptr<void> cleanup(nullptr, [&raw](void *) {
            for (const char *suffix : {"", ".json", ".log"})
                ::unlink((raw + suffix).constData());
        });
        const auto saved = [&raw] {
            QFile file;
            const int fd = ::open(raw.constData(), O_RDONLY);
            if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
                return QStringList();
            return irlearn::codefile::parse(file.readAll()).lines.mid(0, 16);
        };

        Run r = rawCli(words("read -o $n") + dev1);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(saved(), sim.storedTable());
        QVERIFY(!exists(QFile::encodeName(m_dir->filePath(QStringLiteral("tab\uFFFD.bin")))));
        const QString sum = r.value("sha256").toString();
        QCOMPARE(rawCli(words("info $n")).value("sha256").toString(), sum);
        QCOMPARE(rawCli(words("label $n --brand 格力")).code, 0);
        QVERIFY(exists(raw + ".json"));
        // Read over it: replaced whole, nothing left beside it.
        r = rawCli(words("read -o $n -v --log-file $n.log") + dev1);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY(exists(raw + ".log"));
        QCOMPARE(saved(), sim.storedTable());
        QCOMPARE(QDir(m_dir->path())
                     .entryList(QDir::Files | QDir::Hidden)
                     .filter(QStringLiteral(".irlearn")),
                 QStringList());

        r = rawCli(words("info $n.none"));
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(QStringLiteral("tab\uFFFD.bin.none")), qPrintable(r.err));
        r = rawCli(words("read -o r.bin --brand $n") + dev1);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(QStringLiteral("UTF-8")), qPrintable(r.err));
    }

    void progressRedrawsOnlyOnATerminal()
    {
        startSims({{}});
        int master = -1;
        int slave = -1;
        QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
        const Run r = cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"),
                                      m_dir->filePath(QStringLiteral("t.bin"))} +
                                  words("--device 0001 --port")
                              << m_sims.first()->linkPath(),
                          false, slave);
        ::close(slave);
        QByteArray terminal;
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(master, buffer, sizeof buffer)) > 0)
            terminal.append(buffer, n);
        ::close(master);
        QCOMPARE(r.code, 0);
        // Sixteen records drawn over one another on one line, which stays once the read is done.
        QVERIFY(terminal.count("\r\x1b[K") >= 16);
        QCOMPARE(terminal.count("读取 16/16"), 1);
        QVERIFY(terminal.contains("读取 16/16\r\n"));
    }

    // Ctrl-C and kill in each kind of run: it stops where the device is left known, says what was
    // done, gives its JSON and exits 128 + the signal; a learning still ends learning mode.
    void signalsStopAtASafePoint()
    {
        struct Case
        {
            const char *name;
            QList<QStringList> sims;
            QStringList args;
            QString waitFor;
            int signal;
            const char *says;
        };
        const QString saved = m_dir->filePath(QStringLiteral("interrupted.bin"));
        const QList<Case> cases = {
            {"download",
             {{}},
             QStringList{QStringLiteral("download"), table16} + dev1,
             QStringLiteral("写入 3/16"),
             SIGINT,
             "设备中的表不完整"},
            {"read",
             {{}},
             QStringList{QStringLiteral("read"), QStringLiteral("-o"), saved} + dev1,
             QStringLiteral("读取 3/16"),
             SIGTERM,
             "文件未保存"},
            {"learn N",
             {{}},
             words("learn 12") + dev1,
             QStringLiteral("退出学习状态"),
             SIGINT,
             "学习模式已关闭"},
            {"learn --key",
             {words("--key-reply none")},
             words("learn --key 0") + dev1,
             QStringLiteral("剩余"),
             SIGTERM,
             "学习模式已关闭"},
            {"clone",
             {{}, {}},
             QStringList{QStringLiteral("clone"), table16} +
                 words("--device 0001 --port COM1 --port COM2 --number-from 0101"),
             QStringLiteral("写入 3/16"),
             SIGINT,
             "设备中的表不完整"},
        };
        for (const Case &c : cases) {
            m_sims.clear();
            startSims(c.sims);
            QProcess process;
            QString err;
            QVERIFY2(startUntil(process, c.args, c.waitFor, &err), c.name);
            sendSignal(process, c.signal);
            const Run r = finish(process, err);
            const QString row = QString::fromUtf8(c.name) + QLatin1Char(' ') + r.err;
            QVERIFY2(r.code == 128 + c.signal, qPrintable(row));
            QVERIFY2(r.err.contains(QString::fromUtf8(c.says)), qPrintable(row));
            QVERIFY2(r.value("interrupted").toBool(), qPrintable(row));
            const QStringList first = m_sims.first()->received();
            if (c.args.first() == QLatin1String("download") ||
                c.args.first() == QLatin1String("clone")) {
                // No record after the signal: the device got exactly the records said.
                for (const auto &sim : std::as_const(m_sims)) {
                    const int records = int(sim->received().size()) - 3;
                    QVERIFY2(records >= 3 && records < 16, qPrintable(row));
                    QVERIFY2(r.err.contains(QStringLiteral("已写入 %1/16 条").arg(records)),
                             qPrintable(row));
                    QVERIFY(!sim->received().contains(QStringLiteral("FD0101")));
                }
                for (const QJsonValue &device : r.value("devices").toArray())
                    QCOMPARE(device.toObject().value(QLatin1String("result")).toString(),
                             QStringLiteral("interrupted"));
            } else if (c.args.first() == QLatin1String("read")) {
                QVERIFY(!QFileInfo::exists(saved));
                QVERIFY2(first.size() < readFrames().size() - 1,
                         qPrintable(first.join(QLatin1Char(' '))));
            } else {
                QCOMPARE(first.constFirst(), QStringLiteral("0001F0"));
                QCOMPARE(first.constLast(), QStringLiteral("0001F2"));
                QCOMPARE(first.size(), 3);
            }
        }
    }

    // A second Ctrl-C does not wait for the safe point: the program ends at once, with the code.
    void secondSignalEndsAtOnce()
    {
        startSims({words("--key-reply none")});
        QProcess process;
        QString err;
        // Full timings: the first signal waits out the key's 2 s reply window.
        QVERIFY(startUntil(process, words("learn --key 0") + dev1, QStringLiteral("剩余"), &err,
                           QStringLiteral("1")));
        sendSignal(process, SIGINT);
        QVERIFY(QTest::qWaitFor(
            [&] {
                err += QString::fromUtf8(process.readAllStandardError());
                return err.contains(QStringLiteral("收到中断信号"));
            },
            30000));
        sendSignal(process, SIGINT);
        const Run r = finish(process, err);
        QCOMPARE(r.code, 130);
        QVERIFY2(r.json.isEmpty(), qPrintable(r.out));
    }

    // A signal while a port server has not yet answered stops the run at once: the port never
    // opened, nothing was sent, and the exit code is the signal's.
    void signalWhileThePortOpens()
    {
        QFile settings(m_dir->filePath(QStringLiteral("VexoSet.ini")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.close();
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        const QString server = QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.serverPort());
        for (const char *command : {"send 0", "teach"}) {
            QProcess process;
            process.setWorkingDirectory(m_dir->path());
            process.start(
                QStringLiteral(IRLEARN_CLI_PATH),
                arguments(words(command) + words("--device 0001 --port") << server, true));
            QVERIFY2(QTest::qWaitFor([&] { return silent.hasPendingConnections(); }, 10000),
                     process.readAllStandardError().constData());
            delete silent.nextPendingConnection();
            sendSignal(process, SIGINT);
            const Run r = finish(process, QString());
            QVERIFY2(r.code == 130, qPrintable(QString::fromUtf8(command) + r.err));
            QCOMPARE(r.value("result").toString(), QStringLiteral("interrupted"));
        }
    }

    // Two names of one terminal are one port: the second client is turned away, named who holds
    // it, and sends nothing.
    void oneTerminalByTwoNames()
    {
        startSims({{}});
        SimProcess &sim = *m_sims.first();
        QProcess first;
        QString err;
        QVERIFY(startUntil(first, words("learn 12") + dev1, QStringLiteral("退出学习状态"), &err));
        const QString terminal = QFileInfo(sim.linkPath()).canonicalFilePath();
        const Run second = cli(words("send 0 --device 0001 --port") << terminal);
        QCOMPARE(second.code, 3);
        QVERIFY2(second.err.contains(QStringLiteral("被占用")), qPrintable(second.err));
        QVERIFY2(second.err.contains(QStringLiteral("irlearn-cli")), qPrintable(second.err));
        sendSignal(first, SIGINT);
        QCOMPARE(finish(first, err).code, 130);
        QCOMPARE(sim.received(), words("0001F0 00014B 0001F2"));
    }

    // A device that vanishes mid-clone and is back a moment later (its COM name now leads to it
    // again) is written on a retry.
    void cloneRetriesADeviceThatComesBack()
    {
        startSims({words("--vanish-after 5"), {}});
        const QString link = m_dir->filePath(QStringLiteral("adapter"));
        QVERIFY(QFile::link(m_sims.at(0)->linkPath(), link));
        QFile settings(m_dir->filePath(QStringLiteral("VexoSet.ini")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QStringLiteral("[Ports]\r\nCOM1=%1\r\n").arg(link).toUtf8());
        settings.close();

        QProcess process;
        QString err;
        QVERIFY(startUntil(process,
                           QStringList{QStringLiteral("clone"), table16} +
                               words("--device 0001 --port COM1 --retry 5"),
                           QStringLiteral("重试"), &err));
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(m_sims.at(1)->linkPath(), link));
        const Run r = finish(process, err);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QJsonObject device = r.value("devices").toArray().at(0).toObject();
        QVERIFY(device.value(QLatin1String("attempts")).toInt() >= 2);
        QCOMPARE(m_sims.at(1)->storedTable(), fileRecords(table16));
    }

    // Where a retry reopens a port that went away: where its adapter (by USB identity) is now,
    // else by the operator's name, but never into another adapter.
    void retryFindsTheAdapterByItsIdentity()
    {
        using irlearn::PortDetails;
        const auto port = [](const char *path, const char *usb, const char *serial) {
            PortDetails d;
            d.path = QString::fromLatin1(path);
            d.usbId = QString::fromLatin1(usb);
            d.serialNumber = QString::fromLatin1(serial);
            return d;
        };
        const irlearn::PortIdentity ours{QStringLiteral("0403:6001"), QStringLiteral("A1")};
        const PortDetails back = port("/dev/ttyUSB1", "0403:6001", "A1");
        const PortDetails other = port("/dev/ttyUSB0", "0403:6001", "B2");
        const PortDetails plain = port("/dev/ttyUSB0", "1a86:7523", "");
        const QList<std::tuple<irlearn::PortIdentity, QList<PortDetails>, QString>> cases = {
            {ours, {other, back}, QStringLiteral("/dev/ttyUSB1")}, // back under another name
            {ours, {}, QStringLiteral("/dev/ttyUSB0")},            // not listed: by name
            {ours, {plain}, QStringLiteral("/dev/ttyUSB0")},       // one without identity
            {ours, {other}, QString()}, // the name leads to another adapter
            {ours, {back, port("/dev/ttyUSB2", "0403:6001", "A1")}, QString()}, // ambiguous
            {{QStringLiteral("1a86:7523"), QString()}, {back}, QStringLiteral("/dev/ttyUSB0")},
        };
        for (const auto &[identity, ports, expected] : cases)
            QCOMPARE(irlearn::relocatePort(identity, QStringLiteral("/dev/ttyUSB0"), ports),
                     expected);
    }

    // The station on a folder of links, as /dev/serial/by-id is: two devices plugged in at once
    // (one pulled out mid-write, then plugged in again), numbers never given twice, a line per
    // result in the log, and Ctrl-C letting the device in flight finish before the summary. A
    // port server's address beside them is written once its server is up, and again when the
    // server has gone and come back.
    void stationWritesEveryDevicePluggedIn()
    {
        startSims({{}, words("--vanish-after 5"), {}, {}, {}, {}});
        const QString folder = m_dir->filePath(QStringLiteral("by-id"));
        QVERIFY(QDir().mkpath(folder));
        const QString log = m_dir->filePath(QStringLiteral("batch.jsonl"));
        const auto plug = [&](const char *name, int sim) {
            return QFile::link(m_sims.at(sim)->linkPath(),
                               folder + QLatin1Char('/') + QLatin1String(name));
        };
        const auto says = [&](const char *name, const char *text) {
            return QStringLiteral("%1/%2%3").arg(folder, QLatin1String(name),
                                                 QString::fromUtf8(text));
        };
        // The device behind the server, by a link: another one is plugged in there later.
        const QString behind = m_dir->filePath(QStringLiteral("served"));
        QVERIFY(QFile::link(m_sims.at(4)->linkPath(), behind));
        const bool served = !Ser2netProcess::program().isEmpty();
        Ser2netProcess server(behind);
        const QString address = server.rfc2217Address();

        QProcess process;
        QString err;
        QVERIFY(
            startUntil(process,
                       QStringList{QStringLiteral("station"), table16} +
                           words("--device 0001 --number-from 0101 --no-system-ports --port") +
                           QStringList{address, QStringLiteral("--watch"),
                                       folder + QStringLiteral("/*"), QStringLiteral("--log"), log},
                       QStringLiteral("工作站已就绪"), &err));
        const auto until = [&](const QString &text) {
            return QTest::qWaitFor(
                       [&] {
                           err += QString::fromUtf8(process.readAllStandardError());
                           return err.contains(text) || process.state() == QProcess::NotRunning;
                       },
                       60000) &&
                   err.contains(text);
        };
        QVERIFY(plug("a", 0));
        QVERIFY(plug("b", 1));
        QVERIFY2(until(says("a", "  设备号 0101  完成 → 可以拔下")), qPrintable(err));
        QVERIFY2(until(says("b", "  失败")), qPrintable(err));
        // Written side by side: each one's frames began before the other's ended.
        const auto a = m_sims.at(0)->receivedTimed();
        const auto b = m_sims.at(1)->receivedTimed();
        QVERIFY(!a.isEmpty() && !b.isEmpty());
        QVERIFY(a.first().first < b.last().first && b.first().first < a.last().first);

        // Pulled out (its terminal is gone), then plugged in again: written anew, with the next
        // number.
        QVERIFY2(until(says("b", ": 已拔下")), qPrintable(err));
        QVERIFY(QFile::remove(folder + QStringLiteral("/b")));
        QVERIFY(plug("b", 2));
        QVERIFY2(until(says("b", "  设备号 0102  完成 → 可以拔下")), qPrintable(err));
        // A device left in place is not written twice.
        QCOMPARE(m_sims.at(0)->received().count(QStringLiteral("FD0101")), 1);

        QStringList numbers{QStringLiteral("0101"), QStringLiteral("0102")};
        if (served) {
            QVERIFY(m_sims.at(4)->received().isEmpty());
            QVERIFY(server.start());
            QVERIFY2(until(address + QStringLiteral("  设备号 0103  完成 → 可以拔下")),
                     qPrintable(err));
            server.kill();
            QVERIFY2(until(address + QStringLiteral(": 连接已断开")), qPrintable(err));
            QVERIFY(QFile::remove(behind));
            QVERIFY(QFile::link(m_sims.at(5)->linkPath(), behind));
            QVERIFY(server.start());
            QVERIFY2(until(address + QStringLiteral("  设备号 0104  完成 → 可以拔下")),
                     qPrintable(err));
            for (int i : {4, 5})
                QCOMPARE(m_sims.at(i)->storedTable(), fileRecords(table16));
            numbers << QStringLiteral("0103") << QStringLiteral("0104");
        }
        const QString last =
            QStringLiteral("%1").arg(numbers.size() + 101, 4, 10, QLatin1Char('0'));
        numbers << last;

        // Ctrl-C while a device is being written: it finishes, then the summary.
        QVERIFY(plug("d", 3));
        QVERIFY2(until(says("d", ": 写入")), qPrintable(err));
        sendSignal(process, SIGINT);
        const Run r = finish(process, err);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        for (int i : {0, 2, 3}) {
            QCOMPARE(m_sims.at(i)->storedTable(), fileRecords(table16));
            QVERIFY(m_sims.at(i)->received().constLast().startsWith(QStringLiteral("FD010")));
        }
        QCOMPARE(r.value("written").toInt(), numbers.size());
        QCOMPARE(r.value("failed").toInt(), 1);
        QCOMPARE(r.value("unwritten").toArray().size(), 0);
        QCOMPARE(r.value("numbers").toArray(), QJsonArray::fromStringList(numbers));
        QVERIFY2(r.err.contains(QStringLiteral("已写入 %1 台，失败 1 次").arg(numbers.size())),
                 qPrintable(r.err));

        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
        QCOMPARE(lines.size(), numbers.size() + 1);
        const QString sum = QString::fromLatin1(
            QCryptographicHash::hash(
                (fileRecords(table16).join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"))
                    .toLatin1(),
                QCryptographicHash::Sha256)
                .toHex());
        QMap<QString, QJsonObject> byNumber;
        for (const QByteArray &line : lines) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            QVERIFY2(
                QDateTime::fromString(o.value(QLatin1String("time")).toString(), Qt::ISODateWithMs)
                    .isValid(),
                line.constData());
            QCOMPARE(o.value(QLatin1String("sha256")).toString(), sum);
            QCOMPARE(o.value(QLatin1String("device")).toString(), QStringLiteral("0001"));
            QVERIFY(o.value(QLatin1String("seconds")).toDouble() > 0);
            byNumber.insert(o.value(QLatin1String("number")).toString(), o);
        }
        const QJsonObject lost = byNumber.value(QString());
        QCOMPARE(lost.value(QLatin1String("port")).toString(), folder + QStringLiteral("/b"));
        QCOMPARE(lost.value(QLatin1String("result")).toString(), QStringLiteral("port-lost"));
        QCOMPARE(lost.value(QLatin1String("failed_records")).toArray(), QJsonArray({6}));
        for (const QString &n : std::as_const(numbers)) {
            QCOMPARE(byNumber.value(n).value(QLatin1String("result")).toString(),
                     QStringLiteral("done"));
            QCOMPARE(byNumber.value(n).value(QLatin1String("failed_records")).toArray(),
                     QJsonArray());
        }
        if (served)
            QCOMPARE(byNumber.value(QStringLiteral("0104")).value(QLatin1String("port")).toString(),
                     address);
    }

    // The label and library commands on a temporary folder: what each puts on standard output
    // for a script, and what each refuses. The library's own rules are pinned in tst_codefile.
    void libraryOnAFolder()
    {
        const QString file = m_dir->filePath(QStringLiteral("kfr.bin"));
        const QString folder = m_dir->filePath(QStringLiteral("lib"));
        QVERIFY(QFile::copy(table16, file));
        QCOMPARE(cli(QStringList{QStringLiteral("label"), file} +
                     words("--brand 格力 --label model=KFR-35GW --notes 客厅"))
                     .code,
                 0);
        // A second label keeps the first ones.
        QCOMPARE(cli(QStringList{QStringLiteral("label"), file} + words("--remote YB1F2")).code, 0);
        Run r = cli({QStringLiteral("info"), file}, false);
        QVERIFY2(r.out.contains(QStringLiteral("品牌：格力")) &&
                     r.out.contains(QStringLiteral("型号：KFR-35GW")) &&
                     r.out.contains(QStringLiteral("遥控器型号：YB1F2")) &&
                     r.out.contains(QStringLiteral("备注：客厅")),
                 qPrintable(r.out));
        QVERIFY(r.err.isEmpty());
        QCOMPARE(cli({QStringLiteral("label"), file}).code, 2);
        QCOMPARE(cli(QStringList{QStringLiteral("label"), file} + words("--label colour=red")).code,
                 2);

        // The id alone on standard output, for a script to keep; the second gets a suffix. A
        // file labelled as it goes in gets no labels beside it.
        const QStringList into{QStringLiteral("--library"), folder};
        r = cli(QStringList{QStringLiteral("library"), QStringLiteral("add"), file} + into, false);
        QCOMPARE(r.out, QStringLiteral("格力-kfr-35gw\n"));
        r = cli(QStringList{QStringLiteral("library"), QStringLiteral("add"), file} + into);
        QCOMPARE(r.value("entry").toObject().value(QLatin1String("id")).toString(),
                 QStringLiteral("格力-kfr-35gw-2"));
        r = cli(QStringList{QStringLiteral("library"), QStringLiteral("add"), table16} +
                words("--label brand=美的 --model KFR-26") + into);
        QCOMPARE(r.code, 0);
        QVERIFY(!QFileInfo::exists(table16 + QStringLiteral(".json")));

        r = cli(QStringList{QStringLiteral("library"), QStringLiteral("list")} + into);
        const QJsonArray all = r.value("entries").toArray();
        QCOMPARE(all.size(), 3);
        QCOMPARE(all.at(0).toObject().value(QLatin1String("remote")).toString(),
                 QStringLiteral("YB1F2"));
        r = cli(QStringList{QStringLiteral("library"), QStringLiteral("list")} +
                    words("--search 美的") + into,
                false);
        QCOMPARE(r.out.count(QLatin1Char('\n')), 2); // the heading and one entry
        QVERIFY2(r.out.contains(QStringLiteral("美的-kfr-26")), qPrintable(r.out));

        // The settings file names the library when --library does not.
        const QString settings = m_dir->filePath(QStringLiteral("lib.ini"));
        QVERIFY(writeFile(settings, "[Library]\r\nPath=" + folder.toUtf8() + "\r\n"));
        r = cli(words("library show 美的-kfr-26 --settings") << settings, false);
        QVERIFY2(r.out.contains(QStringLiteral("型号：KFR-26")), qPrintable(r.out));
        r = cli(words("library show none") + into);
        QCOMPARE(r.code, 2);
        QVERIFY(r.err.contains(QStringLiteral("码库中没有条目")));
    }

    // A file changed since it was labelled is sent nowhere unless the operator says so; damaged
    // labels are said and ignored; read -o labels what it saves.
    void changedLabelsAreRefused()
    {
        startSims({{}});
        SimProcess &sim = *m_sims.first();
        const QString file = m_dir->filePath(QStringLiteral("t.bin"));
        QVERIFY(QFile::copy(table16, file));
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(
            cli({QStringLiteral("label"), file, QStringLiteral("--brand"), QStringLiteral("海尔")})
                .code,
            0);
        QVERIFY(changedTable(file, 3));
        for (const QStringList &command :
             {QStringList{QStringLiteral("download"), file} + dev1,
              QStringList{QStringLiteral("verify"), file} + dev1,
              QStringList{QStringLiteral("clone"), file} + dev1,
              QStringList{QStringLiteral("label"), file, QStringLiteral("--model"),
                          QStringLiteral("X")}}) {
            const Run r = cli(command);
            QCOMPARE(r.code, 2);
            QVERIFY2(r.err.contains(QStringLiteral("第3条记录与标签不符")), qPrintable(r.err));
            QCOMPARE(r.value("changed_records").toArray(), QJsonArray({3}));
            QVERIFY(r.out.startsWith(QLatin1Char('{')));
        }
        QCOMPARE(sim.received(), QStringList());
        QCOMPARE(jsonFile(file + QStringLiteral(".json")).value(QLatin1String("model")).toString(),
                 QString());

        Run r = cli(QStringList{QStringLiteral("download"), file, QStringLiteral("--ignore-labels"),
                                QStringLiteral("--no-verify")} +
                    dev1);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(sim.storedTable(), fileRecords(file));
        // Stamped anew, the file goes again without the option.
        QCOMPARE(cli({QStringLiteral("label"), file, QStringLiteral("--ignore-labels")}).code, 0);
        QCOMPARE(cli({QStringLiteral("info"), file}).value("labels_state").toString(),
                 QStringLiteral("valid"));

        // Labels that are no labels of ours do not stop the file.
        QVERIFY(writeFile(file + QStringLiteral(".json"), "{\"brand\":"));
        r = cli(QStringList{QStringLiteral("verify"), file} + dev1);
        QCOMPARE(r.code, 0);
        QVERIFY2(r.err.contains(QStringLiteral("标签文件无效")), qPrintable(r.err));
        QCOMPARE(r.value("labels_state").toString(), QStringLiteral("damaged"));
        // ... but are not replaced unasked: they may be another program's.
        r = cli({QStringLiteral("label"), file, QStringLiteral("--brand"), QStringLiteral("A")});
        QCOMPARE(r.code, 2);
        QCOMPARE(QFileInfo(file + QStringLiteral(".json")).size(), 9);

        // read -o writes the labels after the table, stamped with what was read.
        const QString read = m_dir->filePath(QStringLiteral("read.bin"));
        r = cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), read,
                            QStringLiteral("--label"), QStringLiteral("brand=海尔"),
                            QStringLiteral("--model"), QStringLiteral("KFR-50")} +
                dev1);
        QCOMPARE(r.code, 0);
        const QJsonObject labels = jsonFile(read + QStringLiteral(".json"));
        QCOMPARE(labels.value(QLatin1String("model")).toString(), QStringLiteral("KFR-50"));
        QCOMPARE(labels.value(QLatin1String("device")).toString(), QStringLiteral("0001"));
        r = cli({QStringLiteral("info"), read});
        QCOMPARE(r.value("labels_state").toString(), QStringLiteral("valid"));
        // Read again over it without labels: the old labels would describe the replaced table.
        QVERIFY(changedTable(read, 1));
        QCOMPARE(cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), read} + dev1).code,
                 0);
        QCOMPARE(cli({QStringLiteral("info"), read}).value("labels_state").toString(),
                 QStringLiteral("valid"));
    }

    // A library table, the same with one record changed, and one the library does not hold.
    void identifyAgainstLibrary()
    {
        const QString folder = m_dir->filePath(QStringLiteral("lib"));
        const QString changed = m_dir->filePath(QStringLiteral("changed.bin"));
        QVERIFY(changedTable(changed, 5));
        startSims({QStringList{QStringLiteral("--table"), table16},
                   QStringList{QStringLiteral("--table"), changed}, words("--seed 9")});
        const QStringList into{QStringLiteral("--library"), folder};
        Run r = cli(QStringList{QStringLiteral("library"), QStringLiteral("add"), table16,
                                QStringLiteral("--brand"), QStringLiteral("格力"),
                                QStringLiteral("--model"), QStringLiteral("KFR-35")} +
                    into);
        QCOMPARE(r.code, 0);

        r = cli(words("identify --device 0001 --port COM1 --port COM2 --port COM3") + into);
        QCOMPARE(r.code, 1);
        // Each device: its match, the entry and the records that differ from it.
        QStringList matches;
        for (const QJsonValue &v : r.value("devices").toArray()) {
            const QJsonObject o = v.toObject();
            matches << QStringLiteral("%1 %2 %3")
                           .arg(o.value(QLatin1String("match")).toString(),
                                o.value(QLatin1String("entry")).toString(QStringLiteral("-")),
                                QString::fromUtf8(
                                    QJsonDocument(o.value(QLatin1String("differing")).toArray())
                                        .toJson(QJsonDocument::Compact)));
        }
        QCOMPARE(matches, QStringList({QStringLiteral("exact 格力-kfr-35 []"),
                                       QStringLiteral("closest 格力-kfr-35 [5]"),
                                       QStringLiteral("unknown - []")}));
        for (const auto &sim : std::as_const(m_sims))
            QCOMPARE(sim->received(), readFrames());

        // The table on standard output; every device known is a success.
        r = cli(words("identify --device 0001 --port COM1") + into, false);
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(QRegularExpression(QStringLiteral("COM1 +0001 +格力-kfr-35 +-"))),
                 qPrintable(r.out));
        r = cli(words("identify --device 0001 --port COM2 --port COM9") + into);
        QCOMPARE(r.code, 3);
        QCOMPARE(m_sims.at(1)->received(), readFrames());
    }

    // A guided pass without a terminal: retries on its own, the statuses in its JSON and beside the
    // saved table, learning mode off at the end, after a failure and on Ctrl-C.
    void teachAPass()
    {
        // 制冷 refused once, then learnt on the retry; 制热 refused every time.
        startSims({words("--refuse-learn 3:1 --refuse-learn 4")});
        SimProcess &sim = *m_sims.first();
        const QString saved = m_dir->filePath(QStringLiteral("taught.bin"));
        Run r = cli(words("teach --keys 制热,开机,制冷 --commands 12 --retries 1 --brand 格力 -o") +
                    QStringList{saved} + dev1);
        QCOMPARE(r.code, 1);
        // The keys in their own order, whatever the option's: key, code, status, attempts.
        QStringList items;
        QJsonArray all = r.value("keys").toArray();
        all.append(r.value("commands").toArray().first());
        for (const QJsonValue &v : std::as_const(all)) {
            const QJsonObject o = v.toObject();
            items << QStringLiteral("%1 %2 %3 %4")
                         .arg(o.contains(QLatin1String("key"))
                                  ? o.value(QLatin1String("key")).toString()
                                  : QString::number(o.value(QLatin1String("number")).toInt()),
                              o.value(QLatin1String("code")).toString(),
                              o.value(QLatin1String("status")).toString())
                         .arg(o.value(QLatin1String("attempts")).toInt());
        }
        QCOMPARE(
            items,
            QStringList({QStringLiteral("开机 40 learned 1"), QStringLiteral("制冷 42 learned 2"),
                         QStringLiteral("制热 43 refused 2"), QStringLiteral("12 4B learned 1")}));
        QCOMPARE(r.value("file").toString(), saved);
        QVERIFY2(r.err.contains(QStringLiteral("「制冷」：请对准设备按遥控器的模式键")),
                 qPrintable(r.err));
        QVERIFY(r.err.contains(QStringLiteral("先切到制冷的前一个模式")));
        const QStringList received = sim.received();
        // The numbered command brackets itself in learning mode, which ends the keys' as well.
        QCOMPARE(received.mid(0, 9),
                 words("0001F0 000140 000142 000142 000143 000143 0001F0 00014B 0001F2"));
        QCOMPARE(received.mid(9), readFrames());
        QCOMPARE(fileRecords(saved), sim.storedTable());
        const QJsonObject labels = jsonFile(saved + QStringLiteral(".json"));
        QCOMPARE(labels.value(QLatin1String("brand")).toString(), QStringLiteral("格力"));
        QCOMPARE(labels.value(QLatin1String("device")).toString(), QStringLiteral("0001"));
        const QJsonObject statuses = labels.value(QLatin1String("keys")).toObject();
        QCOMPARE(statuses.value(QStringLiteral("开机")).toString(), QStringLiteral("learned"));
        QCOMPARE(statuses.value(QStringLiteral("制热")).toString(), QStringLiteral("failed"));
        QCOMPARE(labels.value(QLatin1String("commands")).toObject().value(QLatin1String("12")),
                 QJsonValue(QStringLiteral("learned")));

        // Every key learnt: 0, and nothing but the pass on the wire; no terminal, no verdict.
        r = cli(words("teach --keys 20℃ --test") + dev1);
        QCOMPARE(r.code, 0);
        QCOMPARE(sim.received().mid(received.size()), words("0001F0 000147 0001F2 000147"));
        QVERIFY(
            r.value("keys").toArray().first().toObject().value(QLatin1String("reacted")).isNull());
        QCOMPARE(cli(words("teach --keys 空调") + dev1).code, 2);
        QCOMPARE(sim.received().size(), received.size() + 4);

        // Ctrl-C while the operator is to press 开机: learning mode off, 130.
        m_sims.clear();
        startSims({words("--ignore-learn 1")});
        QProcess process;
        QString err;
        QVERIFY(startUntil(process, words("teach") + dev1, QStringLiteral("剩余"), &err));
        sendSignal(process, SIGINT);
        r = finish(process, err);
        QCOMPARE(r.code, 130);
        QVERIFY(r.value("interrupted").toBool());
        QCOMPARE(r.value("keys").toArray().size(), 10);
        QCOMPARE(m_sims.first()->received(), words("0001F0 000140 0001F2"));
    }

private:
    // Starts simulators, pinned as COM1, COM2, ... in the run's settings file.
    void startSims(const QList<QStringList> &args)
    {
        QFile settings(m_dir->filePath(QStringLiteral("VexoSet.ini")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[Ports]\r\n");
        for (const QStringList &a : args) {
            // The simulator ends a frame on 5 ms of silence, as it must for the scaled opening
            // pause.
            auto sim =
                std::make_shared<SimProcess>(words("--frame-gap 5") + a, SimProcess::Pace::Instant);
            QVERIFY(sim->start());
            m_sims << sim;
            settings.write(
                QStringLiteral("COM%1=%2\r\n").arg(m_sims.size()).arg(sim->linkPath()).toUtf8());
        }
    }

    // Runs irlearn-cli; with a terminal, its standard error goes there.
    Run cli(const QStringList &args, bool withJson = true, int terminal = -1,
            const QString &outputFile = QString())
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("IRLEARN_TIME_SCALE"), QStringLiteral("0.2"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_dir->path());
        if (terminal >= 0)
            process.setChildProcessModifier([terminal] { ::dup2(terminal, STDERR_FILENO); });
        if (!outputFile.isEmpty())
            process.setStandardOutputFile(outputFile);
        process.start(QStringLiteral(IRLEARN_CLI_PATH), arguments(args, withJson));
        Run run;
        if (!process.waitForFinished(180000))
            return run;
        run.code = process.exitCode();
        run.err = QString::fromUtf8(process.readAllStandardError());
        const QByteArray out = process.readAllStandardOutput();
        run.out = QString::fromUtf8(out);
        QJsonParseError error{};
        run.json = QJsonDocument::fromJson(out, &error).object();
        if (withJson && outputFile.isEmpty() && error.error != QJsonParseError::NoError)
            qWarning() << "not JSON:" << out << run.err;
        return run;
    }

    // Runs irlearn-cli from a shell, where "$n" in an argument stands for the name tab\xff.bin,
    // which no QString argument can carry.
    Run rawCli(const QStringList &args)
    {
        QStringList quoted{QStringLiteral(IRLEARN_CLI_PATH)};
        for (QString a : arguments(args, true))
            quoted << QLatin1Char('\'') +
                          a.replace(QLatin1String("$n"), QLatin1String("'\"$n\"'")) +
                          QLatin1Char('\'');
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("IRLEARN_TIME_SCALE"), QStringLiteral("0.2"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_dir->path());
        process.start(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("n=\"$(printf 'tab\\377.bin')\"; exec ") +
                                       quoted.join(QLatin1Char(' '))});
        return finish(process, QString());
    }

    // The arguments as cli() passes them: the run's settings file unless one is given, --json.
    QStringList arguments(const QStringList &args, bool withJson) const
    {
        QStringList all = args;
        const QString first = args.value(0);
        if (first != QLatin1String("diff") && first != QLatin1String("info") &&
            first != QLatin1String("label") && first != QLatin1String("library") &&
            !first.startsWith(QLatin1Char('-')) && !args.contains(QStringLiteral("--settings")))
            all << QStringLiteral("--settings") << m_dir->filePath(QStringLiteral("VexoSet.ini"));
        if (withJson)
            all << QStringLiteral("--json");
        return all;
    }

    // Starts irlearn-cli and returns once its standard error shows `waitFor`; the caller signals
    // it and collects the run with finish().
    bool startUntil(QProcess &process, const QStringList &args, const QString &waitFor,
                    QString *err, const QString &timeScale = QStringLiteral("0.2"))
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("IRLEARN_TIME_SCALE"), timeScale);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_dir->path());
        process.start(QStringLiteral(IRLEARN_CLI_PATH), arguments(args, true));
        if (!process.waitForStarted(10000))
            return false;
        return QTest::qWaitFor(
                   [&] {
                       *err += QString::fromUtf8(process.readAllStandardError());
                       return err->contains(waitFor) || process.state() == QProcess::NotRunning;
                   },
                   30000) &&
               err->contains(waitFor);
    }

    static Run finish(QProcess &process, QString err)
    {
        Run run;
        if (!process.waitForFinished(180000))
            return run;
        run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.err = err + QString::fromUtf8(process.readAllStandardError());
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.json = QJsonDocument::fromJson(run.out.toUtf8()).object();
        return run;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QList<std::shared_ptr<SimProcess>> m_sims;
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
