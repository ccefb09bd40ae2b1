#include "commandline.h"

#include "clonerun.h"
#include "devicecommand.h"
#include "identifyrun.h"
#include "labelcommands.h"
#include "offline.h"
#include "station.h"
#include "teachcommand.h"

#include "base/numtext.h"
#include "codefile/tablelabels.h"
#include "engine/messages.h"
#include "protocol/frames.h"

#include <QCommandLineParser>
#include <QMap>
#include <QSet>

namespace irlearn::cli {

namespace {

// The options of one command line as given, after the command's word.
struct Given
{
    const QCommandLineParser &parser;
    QStringList arguments; // the positional arguments after the command's word

    bool has(const QString &name) const { return parser.isSet(name); }
    QString value(const QString &name) const { return parser.value(name); }
};

// Fills the request from what was given; empty when it is fine, else what is wrong.
using Check = QString (*)(Request &request, const Given &given);

// One command: its words for --help, its options beyond the common ones, how many arguments it
// takes, how its values are checked and what runs it. Adding a command is adding a row.
struct CommandInfo
{
    QString name;
    Command command;
    QString usage;       // after "irlearn-cli "
    QString summary;     // one line for the overview
    QString details;     // what it does, for its own --help
    QStringList options; // names in options(), beyond the common ones
    int minArgs;
    int maxArgs;
    Check check;
    Runner run;
};

const QString exitCodesText = QStringLiteral(
    "退出码：\n"
    "  0  完成\n"
    "  1  设备拒绝，或读回的记录与文件不一致（diff：两个文件不同）\n"
    "  2  用法错误，红外指令文件无效（或在加标签后被改动），或结果无法写出\n"
    "  3  端口无法打开（不存在、被占用、没有权限、不是串口设备）\n"
    "  4  设备无应答，或端口在中途断开\n"
    "  130/143  被 Ctrl-C（SIGINT）或 SIGTERM 中断：在安全处停下，已做的和未做的都会说明\n"
    "  clone：全部完成为 0，否则取失败设备中最大的退出码\n"
    "  identify：每台设备都与码库条目完全相同为 0，否则为 1；端口、设备的故障仍为 3、4\n"
    "  teach：要学的键都学会为 0，有键没学会或被跳过为 1；学习模式帧无应答为 4\n");

const QString commonOptionsText = QStringLiteral(
    "通用选项：\n"
    "  --port P          端口：COM 名称（COM1…COM32，与窗口的对应关系相同）、设备路径，\n"
    "                    或 auto（系统中唯一的 USB 串口适配器）\n"
    "  --device NNNN     设备号，4 位十进制数字，如 0001\n"
    "  --json            在标准输出打印一条机器可读的结果（JSON）\n"
    "  -v, --verbose     在标准错误输出每一帧和设备的每个应答\n"
    "  --log-file [FILE] 每一帧和设备的每个应答加上时间写入 FILE（不给 FILE：与窗口相同的\n"
    "                    会话日志文件夹）\n"
    "  --settings FILE   从这个设置文件读取端口对应关系（默认与窗口相同的 VexoSet.ini）\n"
    "  -h, --help        显示帮助\n"
    "  --version         显示版本\n");

// Every option any command takes, by name. Texts live in the help texts above and below.
const QMap<QString, QCommandLineOption> &options()
{
    static const QMap<QString, QCommandLineOption> table = {
        {QStringLiteral("port"),
         QCommandLineOption(QStringLiteral("port"), {}, QStringLiteral("P"))},
        {QStringLiteral("device"),
         QCommandLineOption(QStringLiteral("device"), {}, QStringLiteral("NNNN"))},
        {QStringLiteral("settings"),
         QCommandLineOption(QStringLiteral("settings"), {}, QStringLiteral("FILE"))},
        {QStringLiteral("log-file"),
         QCommandLineOption(QStringLiteral("log-file"), {}, QStringLiteral("FILE"))},
        {QStringLiteral("output"),
         QCommandLineOption(QStringList{QStringLiteral("o"), QStringLiteral("output")}, {},
                            QStringLiteral("FILE"))},
        {QStringLiteral("key"),
         QCommandLineOption(QStringLiteral("key"), {}, QStringLiteral("KEY"))},
        {QStringLiteral("number-from"),
         QCommandLineOption(QStringLiteral("number-from"), {}, QStringLiteral("NNNN"))},
        {QStringLiteral("numbers"),
         QCommandLineOption(QStringLiteral("numbers"), {}, QStringLiteral("LIST"))},
        {QStringLiteral("retry"),
         QCommandLineOption(QStringLiteral("retry"), {}, QStringLiteral("N"))},
        {QStringLiteral("no-verify"), QCommandLineOption(QStringLiteral("no-verify"))},
        {QStringLiteral("json"), QCommandLineOption(QStringLiteral("json"))},
        {QStringLiteral("verbose"),
         QCommandLineOption(QStringList{QStringLiteral("v"), QStringLiteral("verbose")})},
        {QStringLiteral("help"),
         QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")})},
        {QStringLiteral("version"), QCommandLineOption(QStringLiteral("version"))},
        {QStringLiteral("label"),
         QCommandLineOption(QStringLiteral("label"), {}, QStringLiteral("NAME=VALUE"))},
        {QStringLiteral("brand"),
         QCommandLineOption(QStringLiteral("brand"), {}, QStringLiteral("TEXT"))},
        {QStringLiteral("model"),
         QCommandLineOption(QStringLiteral("model"), {}, QStringLiteral("TEXT"))},
        {QStringLiteral("remote"),
         QCommandLineOption(QStringLiteral("remote"), {}, QStringLiteral("TEXT"))},
        {QStringLiteral("notes"),
         QCommandLineOption(QStringLiteral("notes"), {}, QStringLiteral("TEXT"))},
        {QStringLiteral("ignore-labels"), QCommandLineOption(QStringLiteral("ignore-labels"))},
        {QStringLiteral("library"),
         QCommandLineOption(QStringLiteral("library"), {}, QStringLiteral("DIR"))},
        {QStringLiteral("search"),
         QCommandLineOption(QStringLiteral("search"), {}, QStringLiteral("TEXT"))},
        {QStringLiteral("keys"),
         QCommandLineOption(QStringLiteral("keys"), {}, QStringLiteral("LIST"))},
        {QStringLiteral("commands"),
         QCommandLineOption(QStringLiteral("commands"), {}, QStringLiteral("A-B"))},
        {QStringLiteral("retries"),
         QCommandLineOption(QStringLiteral("retries"), {}, QStringLiteral("N"))},
        {QStringLiteral("test"), QCommandLineOption(QStringLiteral("test"))},
        {QStringLiteral("verify"), QCommandLineOption(QStringLiteral("verify"))},
        {QStringLiteral("watch"),
         QCommandLineOption(QStringLiteral("watch"), {}, QStringLiteral("GLOB"))},
        {QStringLiteral("log"),
         QCommandLineOption(QStringLiteral("log"), {}, QStringLiteral("FILE"))},
        {QStringLiteral("no-system-ports"), QCommandLineOption(QStringLiteral("no-system-ports"))},
    };
    return table;
}

// Every name used below is in the table.
const QCommandLineOption &option(const QString &name)
{
    return *options().constFind(name);
}

const QStringList commonOptions = {QStringLiteral("json"), QStringLiteral("verbose"),
                                   QStringLiteral("help")};
const QStringList onDevice = {QStringLiteral("port"), QStringLiteral("device"),
                              QStringLiteral("settings"), QStringLiteral("log-file")};
const QStringList labelOptions = {QStringLiteral("label"), QStringLiteral("brand"),
                                  QStringLiteral("model"), QStringLiteral("remote"),
                                  QStringLiteral("notes")};
const QString labelOptionsText = QStringLiteral(
    "  --label NAME=VALUE  标签，NAME 为 brand（品牌）、model（型号）、remote（遥控器型号）、\n"
    "                      notes（备注）或 device（设备号），可给多次\n"
    "  --brand/--model/--remote/--notes TEXT  同 --label brand=TEXT 等\n");
const QString ignoreLabelsText =
    QStringLiteral("  --ignore-labels   文件在加标签后被改动过也照样使用（默认拒绝，退出码 2）\n");

// A device number the frames can carry, checked with the window's own words.
QString deviceNumberProblem(const QString &number)
{
    if (frames::isDeviceNumber(number))
        return QString();
    return messages::deviceNumberLength;
}

// A new device number (set-number, clone): the window's order of checks and its words.
QString newNumberProblem(const QString &number)
{
    if (textValue(number) <= 0)
        return messages::deviceNumberZero;
    return deviceNumberProblem(number);
}

QString keyProblem(const QString &text, int *key)
{
    *key = keyIndex(text);
    if (*key >= 0)
        return QString();
    return QStringLiteral("没有这个键：%1（键名：%2，或序号 0–9）")
        .arg(text, frames::keyNames().join(QLatin1Char(' ')));
}

// --label NAME=VALUE and the options named after the fields, in the order given.
QString labelFieldsProblem(Request &r, const Given &g)
{
    TableLabels probe;
    for (const QString &text : g.parser.values(QStringLiteral("label"))) {
        const int equals = int(text.indexOf(QLatin1Char('=')));
        const QString name = text.left(equals).trimmed();
        if (equals < 0 || !labels::setField(probe, name, QString()))
            return QStringLiteral("--label 应为 NAME=VALUE，NAME 为 brand、model、remote、notes "
                                  "或 device：%1")
                .arg(text);
        r.labelFields.append({name, text.mid(equals + 1)});
    }
    for (const QString &name : labelOptions.mid(1)) {
        if (g.has(name))
            r.labelFields.append({name, g.value(name)});
    }
    return QString();
}

QString checkNothing(Request &, const Given &)
{
    return QString();
}

QString checkRead(Request &r, const Given &g)
{
    r.file = g.value(QStringLiteral("output"));
    if (r.file.isEmpty())
        return QStringLiteral("缺少 -o FILE（保存读取结果的红外指令文件）");
    return labelFieldsProblem(r, g);
}

QString checkFile(Request &r, const Given &g)
{
    r.file = g.arguments.at(0);
    // info and diff take no --ignore-labels: asked only where it was given.
    r.ignoreLabels = g.parser.optionNames().contains(QStringLiteral("ignore-labels"));
    return QString();
}

QString checkLabel(Request &r, const Given &g)
{
    checkFile(r, g);
    const QString why = labelFieldsProblem(r, g);
    if (why.isEmpty() && r.labelFields.isEmpty() && !r.ignoreLabels)
        return QStringLiteral("没有给出标签：--brand、--model、--remote、--notes 或 --label "
                              "NAME=VALUE");
    return why;
}

QString checkLibrary(Request &r, const Given &g)
{
    r.action = g.arguments.at(0);
    r.library = g.value(QStringLiteral("library"));
    r.ignoreLabels = g.has(QStringLiteral("ignore-labels"));
    const QString usage = QStringLiteral(
        "用法：irlearn-cli library list [--search TEXT] | add FILE [--label NAME=VALUE ...] | "
        "show ID");
    const bool labelled = std::any_of(labelOptions.begin(), labelOptions.end(),
                                      [&g](const QString &name) { return g.has(name); });
    if (r.action == QLatin1String("list")) {
        if (g.arguments.size() != 1 || labelled || r.ignoreLabels)
            return usage;
        r.search = g.value(QStringLiteral("search"));
        return QString();
    }
    if (g.arguments.size() != 2 || g.has(QStringLiteral("search")))
        return usage;
    if (r.action == QLatin1String("add")) {
        r.file = g.arguments.at(1);
        return labelFieldsProblem(r, g);
    }
    if (r.action == QLatin1String("show") && !labelled && !r.ignoreLabels) {
        r.entry = g.arguments.at(1);
        return QString();
    }
    return usage;
}

QString checkIdentify(Request &r, const Given &g)
{
    r.library = g.value(QStringLiteral("library"));
    return QString();
}

QString checkDownload(Request &r, const Given &g)
{
    r.verify = !g.has(QStringLiteral("no-verify"));
    return checkFile(r, g);
}

QString checkDiff(Request &r, const Given &g)
{
    r.file = g.arguments.at(0);
    r.secondFile = g.arguments.at(1);
    return QString();
}

QString checkSetNumber(Request &r, const Given &g)
{
    r.newNumber = g.arguments.at(0).trimmed();
    const QString why = newNumberProblem(r.newNumber);
    return why.isEmpty() ? why : QStringLiteral("新设备号无效：%1\n%2").arg(r.newNumber, why);
}

QString checkLearn(Request &r, const Given &g)
{
    const bool byKey = g.has(QStringLiteral("key"));
    if (byKey == !g.arguments.isEmpty())
        return QStringLiteral(
            "learn 要么用 --key 给出一个键，要么给出一个编号指令（1–108），二者取一");
    if (byKey)
        return keyProblem(g.value(QStringLiteral("key")), &r.key);
    const QString text = g.arguments.at(0);
    r.number = frames::commandNumber(text);
    if (r.number != 0)
        return QString();
    // Zero in the window's words; anything else out of range once, with the range.
    const QString digits = text.trimmed();
    if (!digits.isEmpty() && digits.count(QLatin1Char('0')) == digits.size())
        return messages::commandNumber;
    return QStringLiteral("指令号无效：%1（应为 1–%2）").arg(text).arg(frames::maxCommand);
}

QString checkSend(Request &r, const Given &g)
{
    return keyProblem(g.arguments.at(0), &r.key);
}

// --port P=NNNN: the device on P answers to NNNN, not to --device.
QString portNumbersProblem(Request &r)
{
    r.portDevices.clear();
    for (QString &port : r.ports) {
        const int equals = int(port.lastIndexOf(QLatin1Char('=')));
        const QString number = port.mid(equals + 1).trimmed();
        // Only digits after the '=' make it a number: a path may hold an '=' of its own.
        const bool digits =
            equals >= 0 && !number.isEmpty() &&
            std::all_of(number.begin(), number.end(), [](QChar c) { return c.isDigit(); });
        if (!digits) {
            r.portDevices << QString();
            continue;
        }
        const QString why = deviceNumberProblem(number);
        if (!why.isEmpty())
            return QStringLiteral("--port %1 的设备号无效：%2\n%3").arg(port, number, why);
        port = port.left(equals);
        r.portDevices << number;
    }
    if (r.device.isEmpty() && r.portDevices.contains(QString()))
        return QStringLiteral("缺少 --device（4 位设备号，如 0001），或每个端口写成 --port P=NNNN");
    return QString();
}

QString checkStation(Request &r, const Given &g)
{
    r.file = g.arguments.at(0);
    r.ignoreLabels = g.has(QStringLiteral("ignore-labels"));
    if (g.has(QStringLiteral("verify")) && g.has(QStringLiteral("no-verify")))
        return QStringLiteral("--verify 与 --no-verify 只能用一个");
    r.verify = !g.has(QStringLiteral("no-verify"));
    r.watch = g.parser.values(QStringLiteral("watch"));
    r.systemPorts = !g.has(QStringLiteral("no-system-ports"));
    if (!r.systemPorts && r.watch.isEmpty() && r.ports.isEmpty())
        return QStringLiteral("--no-system-ports 之外还要给 --watch 或 --port：否则没有要等的端口");
    r.log = g.value(QStringLiteral("log"));
    if (g.has(QStringLiteral("number-from"))) {
        r.numberFrom = g.value(QStringLiteral("number-from")).trimmed();
        const QString why = newNumberProblem(r.numberFrom);
        if (!why.isEmpty())
            return QStringLiteral("--number-from 无效：%1\n%2").arg(r.numberFrom, why);
    }
    return portNumbersProblem(r);
}

QString checkClone(Request &r, const Given &g)
{
    checkFile(r, g);
    if (const QString why = portNumbersProblem(r); !why.isEmpty())
        return why;
    const QString retry = g.value(QStringLiteral("retry"));
    if (!retry.isEmpty()) {
        bool ok = false;
        r.retries = retry.toInt(&ok);
        if (!ok || r.retries < 0 || r.retries > 100)
            return QStringLiteral("--retry 应为 0–100 的整数：%1").arg(retry);
    }
    const bool from = g.has(QStringLiteral("number-from"));
    const bool list = g.has(QStringLiteral("numbers"));
    if (from && list)
        return QStringLiteral("--number-from 与 --numbers 只能用一个");
    if (from) {
        const QString first = g.value(QStringLiteral("number-from")).trimmed();
        const QString why = newNumberProblem(first);
        if (!why.isEmpty())
            return QStringLiteral("--number-from 无效：%1\n%2").arg(first, why);
        const int start = first.toInt();
        if (start + r.ports.size() - 1 > 9999)
            return QStringLiteral("--number-from %1 起的 %2 个设备号超出 9999")
                .arg(first)
                .arg(r.ports.size());
        for (int i = 0; i < r.ports.size(); ++i)
            r.numbers << QStringLiteral("%1").arg(start + i, 4, 10, QLatin1Char('0'));
    }
    if (list) {
        r.numbers = g.value(QStringLiteral("numbers")).split(QLatin1Char(','));
        QSet<int> seen;
        for (QString &n : r.numbers) {
            n = n.trimmed();
            const QString why = newNumberProblem(n);
            if (!why.isEmpty())
                return QStringLiteral("--numbers 中的设备号无效：%1\n%2").arg(n, why);
            // Two devices with one number would both answer every frame sent to it.
            if (seen.contains(n.toInt()))
                return QStringLiteral("--numbers 中的设备号重复：%1（每台设备的设备号必须不同）")
                    .arg(n);
            seen.insert(n.toInt());
        }
        if (r.numbers.size() != r.ports.size())
            return QStringLiteral("--numbers 给了 %1 个设备号，但有 %2 个端口")
                .arg(r.numbers.size())
                .arg(r.ports.size());
    }
    return QString();
}

QString checkTeach(Request &r, const Given &g)
{
    const QString keys = g.value(QStringLiteral("keys")).trimmed();
    if (keys.isEmpty() || keys == QLatin1String("all")) {
        for (int i = 0; i < frames::keyCount; ++i)
            r.keys << i;
    } else {
        for (const QString &name : keys.split(QLatin1Char(','))) {
            int key = -1;
            if (const QString why = keyProblem(name, &key); !why.isEmpty())
                return why;
            if (!r.keys.contains(key))
                r.keys << key;
        }
    }
    if (g.has(QStringLiteral("commands"))) {
        const QString range = g.value(QStringLiteral("commands")).trimmed();
        const int dash = int(range.indexOf(QLatin1Char('-')));
        r.firstCommand = frames::commandNumber(dash < 0 ? range : range.left(dash));
        r.lastCommand = dash < 0 ? r.firstCommand : frames::commandNumber(range.mid(dash + 1));
        if (r.firstCommand == 0 || r.lastCommand < r.firstCommand)
            return QStringLiteral("--commands 应为 A-B 或 N，1 ≤ A ≤ B ≤ %1：%2")
                .arg(frames::maxCommand)
                .arg(range);
    }
    r.retries = 2;
    if (g.has(QStringLiteral("retries"))) {
        const QString retries = g.value(QStringLiteral("retries"));
        bool ok = false;
        r.retries = retries.toInt(&ok);
        if (!ok || r.retries < 0 || r.retries > 100)
            return QStringLiteral("--retries 应为 0–100 的整数：%1").arg(retries);
    }
    r.test = g.has(QStringLiteral("test"));
    r.file = g.value(QStringLiteral("output"));
    const QString why = labelFieldsProblem(r, g);
    if (why.isEmpty() && r.file.isEmpty() && !r.labelFields.isEmpty())
        return QStringLiteral("标签随 -o FILE 保存：没有 -o 时不能给标签");
    return why;
}

const QList<CommandInfo> &commands()
{
    static const QList<CommandInfo> table = {
        {QStringLiteral("ports"),
         Command::Ports,
         QStringLiteral("ports"),
         QStringLiteral("列出端口：COM 名称、设备路径、USB 信息和状态"),
         QStringLiteral("列出有设备的 COM 名称，对应关系与窗口相同：先取设置文件 [Ports] 一节，\n"
                        "其余号码依次给系统列出的串口设备。每个端口显示设备路径、\n"
                        "/dev/serial/by-id 和 by-path 名称、USB 厂商:产品号、序列号、描述和状态\n"
                        "（空闲、被占用及占用的进程、没有权限）。结果在标准输出。"),
         {QStringLiteral("settings")},
         0,
         0,
         checkNothing,
         listPorts},
        {QStringLiteral("read"), Command::Read,
         QStringLiteral("read -o FILE --device NNNN --port P [--label NAME=VALUE ...]"),
         QStringLiteral("读取设备的16条记录，保存为红外指令文件"),
         QStringLiteral("读取设备的16条记录，保存为红外指令文件。文件在读取完整后才写入，\n"
                        "且整体替换：失败时原有文件不变，也不留下半截文件。\n"
                        "FILE 必须是普通文件或新文件；能否写入在读取之前就检查。\n"
                        "完成后在标准输出给出16条记录的 SHA-256 和用时。\n"
                        "有标签时，代码文件写好后再在旁边写入 FILE.json。\n") +
             labelOptionsText,
         onDevice + QStringList{QStringLiteral("output")} + labelOptions, 0, 0, checkRead,
         runDeviceCommand},
        {QStringLiteral("download"), Command::Download,
         QStringLiteral("download FILE --device NNNN --port P [--no-verify] [--ignore-labels]"),
         QStringLiteral("下载红外指令文件，再读回逐条校验"),
         QStringLiteral("检查红外指令文件（与窗口相同：16 或 17 行，每条记录 257 字节），\n"
                        "下载到设备，再读回16条记录逐条比较，并列出不一致的记录。\n"
                        "完成后在标准输出给出16条记录的 SHA-256 和用时。\n"
                        "FILE.json 中的标签与文件不符时拒绝下载。\n"
                        "  --no-verify       下载后不读回校验\n") +
             ignoreLabelsText,
         onDevice + QStringList{QStringLiteral("no-verify"), QStringLiteral("ignore-labels")}, 1, 1,
         checkDownload, runDeviceCommand},
        {QStringLiteral("verify"), Command::Verify,
         QStringLiteral("verify FILE --device NNNN --port P [--ignore-labels]"),
         QStringLiteral("读取设备的记录，与红外指令文件比较"),
         QStringLiteral("读取设备的16条记录，与红外指令文件逐条比较，在标准输出列出不一致的记录。\n"
                        "FILE.json 中的标签与文件不符时拒绝校验。\n") +
             ignoreLabelsText,
         onDevice + QStringList{QStringLiteral("ignore-labels")}, 1, 1, checkFile,
         runDeviceCommand},
        {QStringLiteral("set-number"),
         Command::SetNumber,
         QStringLiteral("set-number NNNN --port P"),
         QStringLiteral("给线上的设备新的设备号"),
         QStringLiteral("发送设备号帧（FD NNNN）。这一帧不带原设备号，线上的设备都会接受，\n"
                        "所以不需要 --device；新设备号为 4 位十进制数字且不能为零。"),
         {QStringLiteral("port"), QStringLiteral("settings")},
         1,
         1,
         checkSetNumber,
         runDeviceCommand},
        {QStringLiteral("learn"), Command::Learn,
         QStringLiteral("learn (--key KEY | N) --device NNNN --port P"),
         QStringLiteral("学习一个空调键（--key）或编号指令 1–108"),
         QStringLiteral(
             "  --key KEY         学习一个空调键：键名（开机 关机 制冷 制热 除湿 自动风 强力风\n"
             "                    20℃ 25℃ 30℃）或序号 0–9。先打开学习模式，发出按键，\n"
             "                    在学习时限内倒计时等待设备学会，然后关闭学习模式。\n"
             "  N                 学习编号指令 N（1–108），与窗口的指令表相同：\n"
             "                    打开学习模式、发出指令、完整的学习时限、关闭学习模式。\n"
             "键用 --key 给出，编号指令用不带选项的数字给出，两者不会混淆。\n"
             "中途按 Ctrl-C 也会关闭学习模式。"),
         onDevice + QStringList{QStringLiteral("key")}, 0, 1, checkLearn, runDeviceCommand},
        {QStringLiteral("send"), Command::Send, QStringLiteral("send KEY --device NNNN --port P"),
         QStringLiteral("在学习模式之外发送一个空调键"),
         QStringLiteral("发送一个空调键（键名或序号 0–9），如同在窗口中不开学习模式时按键。"),
         onDevice, 1, 1, checkSend, runDeviceCommand},
        {QStringLiteral("diff"),
         Command::Diff,
         QStringLiteral("diff FILE_A FILE_B"),
         QStringLiteral("逐条比较两个红外指令文件"),
         QStringLiteral("逐条比较两个红外指令文件，在标准输出列出不同的记录和每条记录第一个\n"
                        "不同的字节（记录和字节都从 1 数起）。相同时退出码为 0，不同时为 1。"),
         {},
         2,
         2,
         checkDiff,
         diffFiles},
        {QStringLiteral("info"),
         Command::Info,
         QStringLiteral("info FILE"),
         QStringLiteral("检查红外指令文件，列出记录长度和 SHA-256"),
         QStringLiteral(
             "检查红外指令文件（与下载前的检查相同），在标准输出列出每条记录的字节数和\n"
             "16条记录的 SHA-256（按保存的格式计算：大写十六进制，每条以 CR LF 结尾），\n"
             "以及 FILE.json 中的标签。"),
         {},
         1,
         1,
         checkFile,
         describeFile},
        {QStringLiteral("clone"), Command::Clone,
         QStringLiteral("clone FILE --device NNNN --port P1[=NNNN] --port P2[=NNNN] ... "
                        "[--number-from NNNN | --numbers N1,N2,...] [--retry N]"),
         QStringLiteral("把一个红外指令文件同时写入多台设备"),
         QStringLiteral(
             "同时把红外指令文件写入每个端口上的设备（都用 --device 的设备号），读回校验，\n"
             "校验通过后可再给每台设备新的设备号。每个端口一行实时状态，结束时列出汇总表。\n"
             "一台设备失败不影响其他设备。\n"
             "  --number-from NNNN  按端口顺序依次给设备号 NNNN、NNNN+1、……\n"
             "  --numbers LIST      按端口顺序给出的设备号，逗号分隔，个数与端口相同，不能重复\n"
             "  --retry N           失败的步骤重试 N 次（默认 0）：先等 1 秒，之后逐次加长，\n"
             "                      断开的端口按原来的设备重新打开\n"
             "  --port P=NNNN       端口 P 上的设备现在的设备号是 NNNN（其余端口用 --device）\n") +
             ignoreLabelsText,
         onDevice + QStringList{QStringLiteral("number-from"), QStringLiteral("numbers"),
                                QStringLiteral("retry"), QStringLiteral("ignore-labels")},
         1, 1, checkClone, runClone},
        {QStringLiteral("label"), Command::Label,
         QStringLiteral("label FILE [--brand TEXT] [--model TEXT] [--remote TEXT] [--notes TEXT] "
                        "[--ignore-labels]"),
         QStringLiteral("给红外指令文件加上或修改标签（FILE.json）"),
         QStringLiteral("在 FILE.json 中加上或修改标签，并按文件现在的内容盖章；其余标签不变。\n"
                        "文件在加标签后被改动过时拒绝（退出码 2），除非给出 --ignore-labels：\n"
                        "那样就按文件现在的内容重新盖章。无效的标签文件也只在给出\n"
                        "--ignore-labels 时才被替换。\n") +
             labelOptionsText + ignoreLabelsText,
         labelOptions + QStringList{QStringLiteral("ignore-labels")}, 1, 1, checkLabel, labelFile},
        {QStringLiteral("library"), Command::Library,
         QStringLiteral("library (list [--search TEXT] | add FILE [--label NAME=VALUE ...] | "
                        "show ID) [--library DIR]"),
         QStringLiteral("码库：列出、存入、查看带标签的红外指令文件"),
         QStringLiteral(
             "码库是一个放带标签的红外指令文件的文件夹：--library DIR，或设置文件中\n"
             "[Library] Path=，否则为 $XDG_DATA_HOME/irlearn/library。\n"
             "  list [--search TEXT]  列出条目：编号、品牌、型号、遥控器型号、保存时间、\n"
             "                        已学/已测的空调键（共10个）、SHA-256 前12位\n"
             "  add FILE              把文件和它的标签复制进码库，编号由品牌和型号组成，\n"
             "                        同名时加后缀 -2、-3……，从不覆盖；在标准输出给出新编号\n"
             "  show ID               显示一个条目的标签和记录的 SHA-256\n") +
             labelOptionsText + ignoreLabelsText,
         QStringList{QStringLiteral("library"), QStringLiteral("settings"),
                     QStringLiteral("search"), QStringLiteral("ignore-labels")} +
             labelOptions,
         1, 2, checkLibrary, runLibrary},
        {QStringLiteral("identify"), Command::Identify,
         QStringLiteral("identify --device NNNN --port P1 [--port P2 ...] [--library DIR]"),
         QStringLiteral("读取设备的码表，查出它是码库中的哪一个"),
         QStringLiteral("读取每个端口上设备的16条记录（多个端口同时读取），与码库比较：完全相同的\n"
                        "条目，或最接近的条目和不同的记录，或“未知”。结束时列出汇总表（端口、\n"
                        "设备号、条目、不同的记录）。每台设备都与某个条目完全相同时退出码为 0，\n"
                        "否则为 1；端口或设备的故障仍为 3、4。\n"
                        "  --library DIR     码库文件夹（默认取设置文件 [Library] Path=，否则\n"
                        "                    $XDG_DATA_HOME/irlearn/library）"),
         onDevice + QStringList{QStringLiteral("library")}, 0, 0, checkIdentify, runIdentify},
        {QStringLiteral("teach"), Command::Teach,
         QStringLiteral("teach --device NNNN --port P [--keys all|KEY,...] [--commands A-B] "
                        "[--retries N] [--test] [-o FILE [--label NAME=VALUE ...]]"),
         QStringLiteral("学习向导：依次学习空调键和编号指令，可试发，并记下每个键的结果"),
         QStringLiteral(
             "打开学习模式（F0），按顺序逐个学习空调键，每个键先提示按遥控器的哪个键、\n"
             "遥控器要先设成什么样，并倒计时学习时限；最后关闭学习模式（F2）。失败、\n"
             "Ctrl-C 或端口断开时也会关闭学习模式。\n"
             "在终端上，一个键没学会时问“重试/跳过”（r/s）；不在终端上则自动重试。\n"
             "  --keys all|KEY,...  要学的键（键名或序号 0–9，逗号分隔；默认 all），\n"
             "                      总按键自己的顺序学\n"
             "  --commands A-B      键之后再学编号指令 A 到 B（1–108）\n"
             "  --retries N         不在终端上时，失败的键最多重试 N 次（默认 2）\n"
             "  --test              学完后逐个试发学会的键；在终端上问空调有没有反应（y/n）\n"
             "  -o FILE             最后读取设备的16条记录，与 read -o 一样保存，\n"
             "                      每个键的结果作为标签写在 FILE.json 中\n") +
             labelOptionsText +
             QStringLiteral("每个要学的键都学会（有 --test 且在终端上时空调也有反应）退出码为 0，\n"
                            "有键没学会或被跳过为 1；学习模式帧无应答或端口断开为 4。"),
         onDevice +
             QStringList{QStringLiteral("keys"), QStringLiteral("commands"),
                         QStringLiteral("retries"), QStringLiteral("test"),
                         QStringLiteral("output")} +
             labelOptions,
         0, 0, checkTeach, runTeach},
        {QStringLiteral("station"), Command::Station,
         QStringLiteral("station FILE --device NNNN [--number-from NNNN] [--verify|--no-verify] "
                        "[--watch GLOB ...] [--port P[=NNNN] ...] [--no-system-ports] "
                        "[--log FILE.jsonl]"),
         QStringLiteral("工作站：每插上一台设备就写入红外指令文件"),
         QStringLiteral(
             "等待串口出现（默认为系统的 USB 串口），每出现一个就下载红外指令文件并读回校验，\n"
             "给了 --number-from 时再给它下一个设备号（设备号从不重复使用），然后在标准输出\n"
             "报告“完成 → 可以拔下”和端口的标识（USB 序列号，没有时为路径），等它被拔下。\n"
             "多台设备同时写入；写到一半被拔下的设备记为失败，插回后重新写入。\n"
             "按 Ctrl-C 结束：正在写的设备写完（或失败）后列出汇总；没有失败时退出码为 0，\n"
             "否则取最大的失败退出码。再按一次 Ctrl-C 立即退出。\n"
             "  --watch GLOB        另外等待这些路径，如 /dev/serial/by-id/* "
             "或一个放链接的文件夹，\n"
             "                      可给多次；只看文件系统，不打开任何端口\n"
             "  --port P[=NNNN]     另外等待端口 P，其上的设备号为 NNNN，可给多次；P 为设备路径，\n"
             "                      或串口服务器地址 rfc2217://主机:端口、tcp://主机:端口：\n"
             "                      服务器接受连接、设备应答时写入，连接断开后再连上时重新写入\n"
             "  --no-system-ports   不等待系统的 USB 串口，只等 --watch 和 --port 给的端口\n"
             "  --number-from NNNN  依次给设备号 NNNN、NNNN+1、……\n"
             "  --no-verify         下载后不读回校验（默认校验）\n"
             "  --log FILE.jsonl    每台设备的结果追加为一行 JSON：时间、端口、USB 标识、设备号、\n"
             "                      SHA-256、结果、失败的记录、用时\n") +
             ignoreLabelsText,
         onDevice + QStringList{QStringLiteral("number-from"), QStringLiteral("verify"),
                                QStringLiteral("no-verify"), QStringLiteral("watch"),
                                QStringLiteral("no-system-ports"), QStringLiteral("log"),
                                QStringLiteral("ignore-labels")},
         1, 1, checkStation, runStation},
    };
    return table;
}

const CommandInfo *findCommand(const QString &name)
{
    for (const CommandInfo &info : commands()) {
        if (info.name == name)
            return &info;
    }
    return nullptr;
}

QString overview()
{
    QString text =
        QStringLiteral("用法：irlearn-cli <命令> [选项]\n\n"
                       "红外遥控学习设备的命令行工具。结果在标准输出，人看的信息和进度\n"
                       "在标准错误；有 --json 时标准输出只有一条 JSON 结果。\n\n命令：\n");
    for (const CommandInfo &info : commands())
        text += QStringLiteral("  %1%2\n").arg(info.name.leftJustified(12), info.summary);
    text += QStringLiteral("\n“irlearn-cli <命令> --help”显示该命令的用法。\n\n");
    return text + commonOptionsText + QLatin1Char('\n') + exitCodesText;
}

QString commandHelp(const CommandInfo &info)
{
    return QStringLiteral("用法：irlearn-cli %1\n\n%2\n\n").arg(info.usage, info.details) +
           commonOptionsText + QLatin1Char('\n') + exitCodesText;
}

Parsed error(const QString &text)
{
    Parsed p;
    p.status = Parsed::Error;
    p.text = text;
    return p;
}

Parsed help(const QString &text)
{
    Parsed p;
    p.status = Parsed::Help;
    p.text = text;
    return p;
}

QString dashed(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// What QCommandLineParser found wrong, in the operator's language.
QString parseProblem(const QCommandLineParser &parser, const QStringList &arguments,
                     const CommandInfo &info)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
        return QStringLiteral("命令 %1 没有选项 %2（irlearn-cli %1 --help）")
            .arg(info.name, dashed(unknown.first()));
    const QMap<QString, QCommandLineOption> &all = options();
    for (const QString &arg : arguments) {
        if (arg == QLatin1String("--"))
            break;
        if (!arg.startsWith(QLatin1Char('-')))
            continue;
        const QString name =
            arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1).section(QLatin1Char('='), 0, 0);
        for (const QCommandLineOption &option : all) {
            if (!option.names().contains(name))
                continue;
            if (option.valueName().isEmpty() && arg.contains(QLatin1Char('=')))
                return QStringLiteral("选项 %1 不带值").arg(dashed(name));
            if (!option.valueName().isEmpty() && arg == arguments.constLast())
                return QStringLiteral("选项 %1 缺少值").arg(dashed(name));
        }
    }
    return QStringLiteral("命令行有误：%1（irlearn-cli %2 --help）")
        .arg(parser.errorText(), info.name);
}

} // namespace

int keyIndex(const QString &text)
{
    const QString t = text.trimmed();
    if (t.size() == 1 && t.at(0) >= QLatin1Char('0') && t.at(0) <= QLatin1Char('9'))
        return t.at(0).unicode() - '0';
    return int(frames::keyNames().indexOf(t));
}

Parsed parseCommandLine(const QStringList &arguments)
{
    const QString program = QStringLiteral("irlearn-cli");
    // First the command's word: everything after it is the command's to read.
    QCommandLineParser first;
    first.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    first.addOption(option(QStringLiteral("help")));
    first.addOption(option(QStringLiteral("version")));
    if (!first.parse(QStringList{program} + arguments)) {
        const QStringList unknown = first.unknownOptionNames();
        return error(unknown.isEmpty()
                         ? first.errorText()
                         : QStringLiteral("未知选项：%1（命令在前，选项在后；irlearn-cli --help）")
                               .arg(dashed(unknown.first())));
    }
    if (first.isSet(QStringLiteral("version")))
        return help(QStringLiteral("irlearn-cli %1\n").arg(QStringLiteral(IRLEARN_VERSION)));
    const QString word = first.positionalArguments().value(0);
    if (first.isSet(QStringLiteral("help")) || word == QLatin1String("help"))
        return help(overview());
    if (word.isEmpty())
        return error(QStringLiteral("缺少命令。\n\n") + overview());
    const CommandInfo *info = findCommand(word);
    if (!info)
        return error(QStringLiteral("未知命令：%1（irlearn-cli --help 列出所有命令）").arg(word));

    // Then the command's own options.
    QCommandLineParser parser;
    for (const QString &name : commonOptions + info->options)
        parser.addOption(option(name));
    QStringList rest = arguments.mid(1);
    // --log-file takes its file only when one follows: alone it means the session log folder.
    for (qsizetype i = 0; i < rest.size() && rest.at(i) != QLatin1String("--"); ++i) {
        if (rest.at(i) == QLatin1String("--log-file") &&
            (i + 1 == rest.size() || rest.at(i + 1).startsWith(QLatin1Char('-'))))
            rest[i] = QStringLiteral("--log-file=");
    }
    const bool parsed = parser.parse(QStringList{program} + rest);
    if (parser.isSet(QStringLiteral("help")))
        return help(commandHelp(*info));
    if (!parsed)
        return error(parseProblem(parser, rest, *info));
    const QStringList positional = parser.positionalArguments();

    for (const QString &name : info->options) {
        const QStringList values = parser.values(name);
        const bool many = name == QLatin1String("label") || name == QLatin1String("watch") ||
                          (name == QLatin1String("port") &&
                           (info->command == Command::Clone || info->command == Command::Identify ||
                            info->command == Command::Station));
        if (values.size() > 1 && !many)
            return error(QStringLiteral("选项 --%1 只能给一次").arg(name));
        // "-o --json" names a file "--json": a value that looks like an option is a slip.
        for (const QString &value : values) {
            if (value.size() > 1 && value.startsWith(QLatin1Char('-')))
                return error(QStringLiteral("选项 %1 的值像是一个选项：%2"
                                            "（以 - 开头的文件名请写成 ./%2）")
                                 .arg(dashed(option(name).names().constFirst()), value));
        }
    }
    if (positional.size() < info->minArgs || positional.size() > info->maxArgs)
        return error(QStringLiteral("参数个数不对。用法：irlearn-cli %1").arg(info->usage));

    Parsed result;
    result.status = Parsed::Run;
    Request &r = result.request;
    r.command = info->command;
    r.name = word;
    r.run = info->run;
    r.json = parser.isSet(QStringLiteral("json"));
    r.verbose = parser.isSet(QStringLiteral("verbose"));
    if (info->options.contains(QStringLiteral("settings")))
        r.settingsPath = parser.value(QStringLiteral("settings"));
    if (info->options.contains(QStringLiteral("log-file"))) {
        r.logFrames = parser.isSet(QStringLiteral("log-file"));
        r.logFile = parser.value(QStringLiteral("log-file"));
    }
    if (info->options.contains(QStringLiteral("port"))) {
        r.ports = parser.values(QStringLiteral("port"));
        // The station waits for ports as they appear: none need be named.
        if (r.ports.isEmpty() && info->command != Command::Station)
            return error(QStringLiteral("缺少 --port（COM 名称、设备路径或 auto）"));
    }
    if (info->options.contains(QStringLiteral("device"))) {
        // clone: every port may carry its device's number instead (--port P=NNNN); the check
        // sees whether each really does.
        const bool numberedPorts =
            info->command == Command::Clone && !r.ports.isEmpty() &&
            std::all_of(r.ports.begin(), r.ports.end(),
                        [](const QString &p) { return p.contains(QLatin1Char('=')); });
        if (parser.isSet(QStringLiteral("device"))) {
            r.device = parser.value(QStringLiteral("device")).trimmed();
            const QString why = deviceNumberProblem(r.device);
            if (!why.isEmpty())
                return error(QStringLiteral("设备号无效：%1\n%2").arg(r.device, why));
        } else if (!numberedPorts) {
            return error(QStringLiteral("缺少 --device（4 位设备号，如 0001）"));
        }
    }
    const QString why = info->check(r, Given{parser, positional});
    if (!why.isEmpty())
        return error(why);
    return result;
}

} // namespace irlearn::cli
