// irlearn-cli as a script runs it: the real binary in its own process against simulated devices on
// pseudo-terminals (one simulator process each), pinned through a settings file. Every command's
// frames are read back from the simulators' logs; timings are scaled through IRLEARN_TIME_SCALE.
#include "support/simprocess.h"

#include "codefile/codefile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <pty.h>
#include <unistd.h>

namespace {

struct Run
{
    int code = -1;
    QJsonObject json;
    QString err;
};

// The simulator ends a frame on 5 ms of silence, as it must for the scaled opening pause.
QStringList simArgs(QStringList extra)
{
    return QStringList{QStringLiteral("--frame-gap"), QStringLiteral("5")} + extra;
}

QStringList repeated(const QString &frame, int times)
{
    QStringList frames;
    for (int i = 0; i < times; ++i)
        frames << frame;
    return frames;
}

QStringList readFrames(const QString &device = QStringLiteral("0001"))
{
    return QStringList{device + QStringLiteral("ED"), QStringLiteral("40"), QStringLiteral("50")} +
           repeated(QStringLiteral("00"), 16);
}

QStringList fileRecords(const QString &path)
{
    const irlearn::codefile::Loaded file = irlearn::codefile::load(path);
    return file.lines.mid(0, 16);
}

const QString table16 = QStringLiteral(IRLEARN_TEST_DATA "/table16.bin");

} // namespace

class CliTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void tableCommandsOnTheWire();
    void keyCommandsOnTheWire();
    void downloadRidesOutRefusalAndRestart_data();
    void downloadRidesOutRefusalAndRestart();
    void mismatchNamesTheRecords();
    void cloneIntoFourDevices();
    void badInputSendsNothing();
    void failuresExitWithTheirCodes();
    void codeFilesOffline();
    void progressRedrawsOnlyOnATerminal();

private:
    // Starts simulators, pinned as COM1, COM2, ... in the run's settings file.
    void startSims(const QList<QStringList> &args);
    Run cli(const QStringList &args, bool withJson = true);

    std::unique_ptr<QTemporaryDir> m_dir;
    QList<std::shared_ptr<SimProcess>> m_sims;
};

void CliTest::init()
{
    m_sims.clear();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void CliTest::startSims(const QList<QStringList> &args)
{
    QFile settings(m_dir->filePath(QStringLiteral("VexoSet.ini")));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[Ports]\r\n");
    for (const QStringList &a : args) {
        auto sim = std::make_shared<SimProcess>(simArgs(a), SimProcess::Pace::Instant);
        QVERIFY(sim->start());
        m_sims << sim;
        settings.write(
            QStringLiteral("COM%1=%2\r\n").arg(m_sims.size()).arg(sim->linkPath()).toUtf8());
    }
}

Run CliTest::cli(const QStringList &args, bool withJson)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("IRLEARN_TIME_SCALE"), QStringLiteral("0.2"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(m_dir->path());
    QStringList all = args;
    if (args.value(0) != QLatin1String("diff") && args.value(0) != QLatin1String("info"))
        all << QStringLiteral("--settings") << m_dir->filePath(QStringLiteral("VexoSet.ini"));
    if (withJson)
        all << QStringLiteral("--json");
    process.start(QStringLiteral(IRLEARN_CLI_PATH), all);
    Run run;
    if (!process.waitForFinished(30000))
        return run;
    run.code = process.exitCode();
    run.err = QString::fromUtf8(process.readAllStandardError());
    const QByteArray out = process.readAllStandardOutput();
    QJsonParseError error{};
    run.json = QJsonDocument::fromJson(out, &error).object();
    if (withJson && error.error != QJsonParseError::NoError)
        qWarning() << "not JSON:" << out << run.err;
    return run;
}

void CliTest::tableCommandsOnTheWire()
{
    startSims({{QStringLiteral("--seed"), QStringLiteral("7")}});
    SimProcess &sim = *m_sims.first();
    const QStringList dev = {QStringLiteral("--device"), QStringLiteral("0001"),
                             QStringLiteral("--port"), QStringLiteral("COM1")};
    const QString saved = m_dir->filePath(QStringLiteral("read.bin"));

    Run r = cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), saved} + dev);
    QCOMPARE(r.code, 0);
    QCOMPARE(sim.received(), readFrames());
    QCOMPARE(fileRecords(saved), sim.storedTable());
    QCOMPARE(r.json.value(QStringLiteral("result")).toString(), QStringLiteral("done"));
    QCOMPARE(r.json.value(QStringLiteral("path")).toString(), sim.linkPath());
    const Run info = cli({QStringLiteral("info"), saved});
    QCOMPARE(info.json.value(QStringLiteral("sha256")), r.json.value(QStringLiteral("sha256")));

    r = cli(QStringList{QStringLiteral("download"), table16} + dev);
    QCOMPARE(r.code, 0);
    QVERIFY(r.json.value(QStringLiteral("verified")).toBool());
    QStringList expected = readFrames();
    expected << QStringLiteral("0001DD") << QStringLiteral("40") << QStringLiteral("50")
             << fileRecords(table16) << readFrames();
    QCOMPARE(sim.received(), expected);
    QCOMPARE(sim.storedTable(), fileRecords(table16));

    r = cli({QStringLiteral("ports")});
    const QJsonArray ports = r.json.value(QStringLiteral("ports")).toArray();
    QVERIFY(!ports.isEmpty());
    QCOMPARE(ports.first().toObject().value(QStringLiteral("name")).toString(),
             QStringLiteral("COM1"));
    QCOMPARE(ports.first().toObject().value(QStringLiteral("path")).toString(),
             QFileInfo(sim.linkPath()).canonicalFilePath());
}

void CliTest::keyCommandsOnTheWire()
{
    startSims({{}});
    SimProcess &sim = *m_sims.first();
    const QStringList dev = {QStringLiteral("--device"), QStringLiteral("0001"),
                             QStringLiteral("--port"), QStringLiteral("COM1")};
    QStringList expected;
    Run r;

    // Keys by name and by index, numbered commands by number; learning mode ends either way.
    QCOMPARE(cli(QStringList{QStringLiteral("send"), QStringLiteral("开机")} + dev).code, 0);
    QCOMPARE(cli(QStringList{QStringLiteral("send"), QStringLiteral("9")} + dev).code, 0);
    r = cli(QStringList{QStringLiteral("learn"), QStringLiteral("--key"), QStringLiteral("制冷")} +
            dev);
    QCOMPARE(r.code, 0);
    QVERIFY(r.err.contains(QStringLiteral("指令学习成功！")));
    QCOMPARE(cli(QStringList{QStringLiteral("learn"), QStringLiteral("12")} + dev).code, 0);
    r = cli({QStringLiteral("set-number"), QStringLiteral("0002"), QStringLiteral("--port"),
             QStringLiteral("COM1")});
    QCOMPARE(r.code, 0);
    expected << QStringLiteral("000140") << QStringLiteral("000149") << QStringLiteral("0001F0")
             << QStringLiteral("000142") << QStringLiteral("0001F2") << QStringLiteral("0001F0")
             << QStringLiteral("00014B") << QStringLiteral("0001F2") << QStringLiteral("FD0002");
    QCOMPARE(sim.received(), expected);
    QVERIFY(!r.err.contains(QStringLiteral("\x1b")));

    // The same device under its new number, through its path rather than its COM name.
    r = cli({QStringLiteral("read"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
             QStringLiteral("--device"), QStringLiteral("0002"), QStringLiteral("--port"),
             sim.linkPath()});
    QCOMPARE(r.code, 0);
    QCOMPARE(sim.received().mid(expected.size()), readFrames(QStringLiteral("0002")));
}

void CliTest::downloadRidesOutRefusalAndRestart_data()
{
    QTest::addColumn<QStringList>("fault");
    QTest::addColumn<QStringList>("extra"); // what the device hears beyond one clean pass
    QTest::newRow("F5 once") << QStringList{QStringLiteral("--refuse-record"), QStringLiteral("3")}
                             << QStringList{fileRecords(table16).at(3)};
    QTest::newRow("DD restart") << QStringList{QStringLiteral("--restart-at"), QStringLiteral("5")}
                                << fileRecords(table16).mid(0, 6);
}

void CliTest::downloadRidesOutRefusalAndRestart()
{
    QFETCH(QStringList, fault);
    QFETCH(QStringList, extra);
    startSims({fault});
    const Run r = cli({QStringLiteral("download"), table16, QStringLiteral("--device"),
                       QStringLiteral("0001"), QStringLiteral("--port"), QStringLiteral("COM1"),
                       QStringLiteral("--no-verify")});
    QCOMPARE(r.code, 0);
    QVERIFY(!r.json.value(QStringLiteral("verified")).toBool());
    const QStringList frames = m_sims.first()->received().mid(3);
    QCOMPARE(frames.size(), 16 + extra.size());
    QCOMPARE(m_sims.first()->storedTable(), fileRecords(table16));
}

void CliTest::mismatchNamesTheRecords()
{
    startSims({{QStringLiteral("--wrong-record"), QStringLiteral("6")}});
    const Run r = cli({QStringLiteral("download"), table16, QStringLiteral("--device"),
                       QStringLiteral("0001"), QStringLiteral("--port"), QStringLiteral("COM1")});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.json.value(QStringLiteral("result")).toString(), QStringLiteral("mismatch"));
    QCOMPARE(r.json.value(QStringLiteral("differing")).toArray(), QJsonArray({7}));
    QVERIFY2(r.err.contains(QStringLiteral("第7条")), qPrintable(r.err));
}

void CliTest::cloneIntoFourDevices()
{
    // COM2 is pulled out at record 6; COM3 refuses record 4 ten times, which ends its first try.
    startSims({{},
               {QStringLiteral("--vanish-after"), QStringLiteral("5")},
               {QStringLiteral("--refuse-record"), QStringLiteral("3:10")},
               {}});
    QStringList args{QStringLiteral("clone"),     table16,
                     QStringLiteral("--device"),  QStringLiteral("0001"),
                     QStringLiteral("--numbers"), QStringLiteral("0101,0102,0103,0104"),
                     QStringLiteral("--retry"),   QStringLiteral("1")};
    for (int i = 1; i <= 4; ++i)
        args << QStringLiteral("--port") << QStringLiteral("COM%1").arg(i);
    const Run r = cli(args);
    QCOMPARE(r.code, 4);
    const QJsonArray devices = r.json.value(QStringLiteral("devices")).toArray();
    QCOMPARE(devices.size(), 4);
    for (int i : {0, 2, 3}) {
        const QJsonObject d = devices.at(i).toObject();
        QCOMPARE(d.value(QStringLiteral("result")).toString(), QStringLiteral("done"));
        QVERIFY(d.value(QStringLiteral("verified")).toBool());
        QCOMPARE(d.value(QStringLiteral("number")).toString(), QStringLiteral("010%1").arg(i + 1));
        QCOMPARE(m_sims.at(i)->storedTable(), fileRecords(table16));
        QCOMPARE(m_sims.at(i)->received().constLast(), QStringLiteral("FD010%1").arg(i + 1));
    }
    QCOMPARE(devices.at(2).toObject().value(QStringLiteral("attempts")).toInt(), 2);
    const QJsonObject lost = devices.at(1).toObject();
    QCOMPARE(lost.value(QStringLiteral("result")).toString(), QStringLiteral("port-lost"));
    QCOMPARE(lost.value(QStringLiteral("exit_code")).toInt(), 4);
    QVERIFY(!lost.contains(QStringLiteral("number")));
    // The summary names the one that failed and why.
    QVERIFY2(r.err.contains(QRegularExpression(QStringLiteral("COM2 +失败 +- .*连接中断"))),
             qPrintable(r.err));
    QVERIFY(r.err.contains(QStringLiteral("4 台设备中 3 台完成")));
}

void CliTest::badInputSendsNothing()
{
    startSims({{}});
    const QString folder = m_dir->filePath(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(folder));
    const QString bad = m_dir->filePath(QStringLiteral("bad.bin"));
    QFile file(bad);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("00FF\r\n");
    file.close();
    const QStringList port = {QStringLiteral("--port"), QStringLiteral("COM1")};
    const QStringList dev = QStringList{QStringLiteral("--device"), QStringLiteral("0001")} + port;
    struct Case
    {
        QStringList args;
        int code;
        QString says;
    };
    const QList<Case> cases = {
        {QStringList{QStringLiteral("send"), QStringLiteral("0"), QStringLiteral("--device"),
                     QStringLiteral("01")} +
             port,
         2, QStringLiteral("设备号长度毕须为4位")},
        {QStringList{QStringLiteral("set-number"), QStringLiteral("0000")} + port, 2,
         QStringLiteral("对不起设备号不能为零！")},
        {QStringList{QStringLiteral("learn"), QStringLiteral("109")} + dev, 2,
         QStringLiteral("指令号无效")},
        {QStringList{QStringLiteral("learn"), QStringLiteral("5"), QStringLiteral("--key"),
                     QStringLiteral("开机")} +
             dev,
         2, QStringLiteral("二者取一")},
        {QStringList{QStringLiteral("send"), QStringLiteral("睡眠")} + dev, 2,
         QStringLiteral("没有这个键")},
        {QStringList{QStringLiteral("download"), bad} + dev, 2, QStringLiteral("不能下载")},
        {QStringList{QStringLiteral("clone"), bad, QStringLiteral("--device"),
                     QStringLiteral("0001")} +
             port,
         2, QStringLiteral("不能下载")},
        {QStringList{QStringLiteral("read"), QStringLiteral("-o"), folder} + dev, 2,
         QStringLiteral("文件夹")},
        {{QStringLiteral("send"), QStringLiteral("0"), QStringLiteral("--device"),
          QStringLiteral("0001"), QStringLiteral("--port"), folder},
         3,
         QStringLiteral("不是串口设备")},
        {{QStringLiteral("send"), QStringLiteral("0"), QStringLiteral("--device"),
          QStringLiteral("0001"), QStringLiteral("--port"), table16},
         3,
         QStringLiteral("普通文件")},
        {{QStringLiteral("send"), QStringLiteral("0"), QStringLiteral("--device"),
          QStringLiteral("0001"), QStringLiteral("--port"), QStringLiteral("COM9")},
         3,
         QStringLiteral("端口不存在：COM9")},
        // One bad port stops a clone before any port is opened.
        {{QStringLiteral("clone"), table16, QStringLiteral("--device"), QStringLiteral("0001"),
          QStringLiteral("--port"), QStringLiteral("COM1"), QStringLiteral("--port"), folder},
         3,
         QStringLiteral("不是串口设备")},
        {{QStringLiteral("verify"), table16, QStringLiteral("--bogus")},
         2,
         QStringLiteral("没有选项")},
    };
    for (const Case &c : cases) {
        const Run r = cli(c.args);
        QVERIFY2(r.code == c.code, qPrintable(c.args.join(QLatin1Char(' ')) + QLatin1Char(' ') +
                                              QString::number(r.code) + r.err));
        QVERIFY2(r.err.contains(c.says), qPrintable(r.err));
        QCOMPARE(r.json.value(QStringLiteral("exit_code")).toInt(), c.code);
    }
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/read.bin")));
    QCOMPARE(m_sims.first()->received(), QStringList());
}

void CliTest::failuresExitWithTheirCodes()
{
    startSims({{QStringLiteral("--key-reply"), QStringLiteral("none")},
               {QStringLiteral("--stop-after"), QStringLiteral("8")},
               {QStringLiteral("--echo"), QStringLiteral("wrong")}});
    const QStringList dev = {QStringLiteral("--device"), QStringLiteral("0001")};
    Run r = cli(QStringList{QStringLiteral("send"), QStringLiteral("1"), QStringLiteral("--port"),
                            QStringLiteral("COM1")} +
                dev);
    QCOMPARE(r.code, 4);
    QCOMPARE(r.json.value(QStringLiteral("result")).toString(), QStringLiteral("timed-out"));

    // A read that stops half-way leaves the file that was there as it was.
    const QString saved = m_dir->filePath(QStringLiteral("keep.bin"));
    QVERIFY(QFile::copy(table16, saved));
    r = cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), saved,
                        QStringLiteral("--port"), QStringLiteral("COM2")} +
            dev);
    QCOMPARE(r.code, 4);
    QCOMPARE(r.json.value(QStringLiteral("record")).toInt(), 9);
    QCOMPARE(fileRecords(saved), fileRecords(table16));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).size(), 2); // the settings and keep.bin

    // A learning mode the device will not confirm: refused, and learning mode is still ended.
    r = cli(QStringList{QStringLiteral("learn"), QStringLiteral("--key"), QStringLiteral("0"),
                        QStringLiteral("--port"), QStringLiteral("COM3")} +
            dev);
    QCOMPARE(r.code, 1);
    QCOMPARE(m_sims.at(2)->received(),
             QStringList({QStringLiteral("0001F0"), QStringLiteral("0001F2")}));

    // "auto" with no USB serial adapter on this machine.
    r = cli(QStringList{QStringLiteral("send"), QStringLiteral("0"), QStringLiteral("--port"),
                        QStringLiteral("auto")} +
            dev);
    QCOMPARE(r.code, 3);
    QVERIFY(r.err.contains(QStringLiteral("USB 串口适配器")));
}

void CliTest::codeFilesOffline()
{
    const Run info = cli({QStringLiteral("info"), table16});
    QCOMPARE(info.code, 0);
    QCOMPARE(info.json.value(QStringLiteral("record_bytes")).toArray().size(), 16);
    QCOMPARE(info.json.value(QStringLiteral("record_bytes")).toArray().at(15).toInt(), 257);
    QByteArray canonical;
    for (const QString &record : fileRecords(table16))
        canonical += record.toUpper().toLatin1() + "\r\n";
    QCOMPARE(info.json.value(QStringLiteral("sha256")).toString(),
             QString::fromLatin1(
                 QCryptographicHash::hash(canonical, QCryptographicHash::Sha256).toHex()));

    // Lower case and LF line ends are the same table; one byte changed in record 5 is not.
    QStringList records = fileRecords(table16);
    const QString same = m_dir->filePath(QStringLiteral("same.bin"));
    QFile file(same);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(records.join(QLatin1Char('\n')).toLower().toLatin1());
    file.close();
    Run r = cli({QStringLiteral("diff"), table16, same});
    QCOMPARE(r.code, 0);
    QCOMPARE(cli({QStringLiteral("info"), same}).json.value(QStringLiteral("sha256")),
             info.json.value(QStringLiteral("sha256")));

    records[4].replace(200, 2,
                       records[4].mid(200, 2) == QLatin1String("00") ? QStringLiteral("01")
                                                                     : QStringLiteral("00"));
    irlearn::CodeTable table;
    irlearn::codefile::fill(table, records);
    QString error;
    const QString changed = m_dir->filePath(QStringLiteral("changed.bin"));
    QVERIFY(irlearn::codefile::write(changed, table, &error));
    r = cli({QStringLiteral("diff"), table16, changed});
    QCOMPARE(r.code, 1);
    const QJsonArray differing = r.json.value(QStringLiteral("differing")).toArray();
    QCOMPARE(differing.size(), 1);
    QCOMPARE(differing.at(0).toObject().value(QStringLiteral("record")).toInt(), 5);
    QCOMPARE(differing.at(0).toObject().value(QStringLiteral("first_byte")).toInt(), 100);

    r = cli({QStringLiteral("info"), m_dir->path()});
    QCOMPARE(r.code, 2);
    QCOMPARE(cli({QStringLiteral("diff"), table16}).code, 2);
}

void CliTest::progressRedrawsOnlyOnATerminal()
{
    startSims({{}});
    int master = -1;
    int slave = -1;
    QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("IRLEARN_TIME_SCALE"), QStringLiteral("0.2"));
    process.setProcessEnvironment(env);
    process.setChildProcessModifier([slave] { ::dup2(slave, STDERR_FILENO); });
    process.start(QStringLiteral(IRLEARN_CLI_PATH),
                  {QStringLiteral("read"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                   QStringLiteral("--device"), QStringLiteral("0001"), QStringLiteral("--port"),
                   m_sims.first()->linkPath()});
    QVERIFY(process.waitForFinished(30000));
    ::close(slave);
    QByteArray terminal;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(master, buffer, sizeof buffer)) > 0)
        terminal.append(buffer, n);
    ::close(master);
    QCOMPARE(process.exitCode(), 0);
    // Sixteen records drawn over one another on one line, which stays once the read is done.
    QVERIFY(terminal.count("\r\x1b[K") >= 16);
    QCOMPARE(terminal.count("读取 16/16"), 1);
    QVERIFY(terminal.contains("读取 16/16\r\n"));
}

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
