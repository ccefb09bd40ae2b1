#include "commandline.h"

#include "base/numtext.h"
#include "engine/messages.h"
#include "protocol/frames.h"

#include <QMap>

namespace irlearn::cli {

namespace {

struct CommandInfo
{
    Command command;
    QString usage;      // after "irlearn-cli "
    QString summary;    // one line for the overview
    QString details;    // what it does, for its own --help
    QStringList values; // options that take a value
    QStringList flags;  // options that do not
    int minArgs = 0;
    int maxArgs = 0;
};

const QString exitCodesText =
    QStringLiteral("退出码：\n"
                   "  0  完成\n"
                   "  1  设备拒绝，或读回的记录与文件不一致（diff：两个文件不同）\n"
                   "  2  用法错误，或红外指令文件无效\n"
                   "  3  端口无法打开（不存在、被占用、没有权限、不是串口设备）\n"
                   "  4  设备无应答，或端口在中途断开\n"
                   "  clone：全部完成为 0，否则取失败设备中最大的退出码\n");

const QString commonOptionsText = QStringLiteral(
    "通用选项：\n"
    "  --port P          端口：COM 名称（COM1…COM32，与窗口的对应关系相同）、设备路径，\n"
    "                    或 auto（系统中唯一的 USB 串口适配器）\n"
    "  --device NNNN     设备号，4 位十进制数字，如 0001\n"
    "  --json            在标准输出打印一条机器可读的结果（JSON）\n"
    "  -v, --verbose     在标准错误输出每一帧和设备的每个应答\n"
    "  --settings FILE   从这个设置文件读取端口对应关系（默认与窗口相同的 VexoSet.ini）\n"
    "  -h, --help        显示帮助\n");

const QStringList deviceValues = {QStringLiteral("port"), QStringLiteral("device"),
                                  QStringLiteral("settings")};
const QStringList commonFlags = {QStringLiteral("json"), QStringLiteral("verbose")};

const QMap<QString, CommandInfo> &commands()
{
    static const QMap<QString, CommandInfo> table = {
        {QStringLiteral("ports"),
         {Command::Ports,
          QStringLiteral("ports"),
          QStringLiteral("列出端口：COM 名称、设备路径、USB 信息和状态"),
          QStringLiteral("列出有设备的 COM 名称，对应关系与窗口相同：先取设置文件 [Ports] 一节，\n"
                         "其余号码依次给系统列出的串口设备。每个端口显示设备路径、\n"
                         "/dev/serial/by-id 和 by-path 名称、USB 厂商:产品号、序列号、描述和状态\n"
                         "（空闲、被占用及占用的进程、没有权限）。"),
          {QStringLiteral("settings")},
          commonFlags,
          0,
          0}},
        {QStringLiteral("read"),
         {Command::Read, QStringLiteral("read -o FILE --device NNNN --port P"),
          QStringLiteral("读取设备的16条记录，保存为红外指令文件"),
          QStringLiteral("读取设备的16条记录，保存为红外指令文件。文件在读取完整后才写入，\n"
                         "且整体替换：失败时原有文件不变，也不留下半截文件。"),
          deviceValues + QStringList{QStringLiteral("output")}, commonFlags, 0, 0}},
        {QStringLiteral("download"),
         {Command::Download, QStringLiteral("download FILE --device NNNN --port P [--no-verify]"),
          QStringLiteral("下载红外指令文件，再读回逐条校验"),
          QStringLiteral("检查红外指令文件（与窗口相同：16 或 17 行，每条记录 257 字节），\n"
                         "下载到设备，再读回16条记录逐条比较，并列出不一致的记录。\n"
                         "  --no-verify       下载后不读回校验"),
          deviceValues, commonFlags + QStringList{QStringLiteral("no-verify")}, 1, 1}},
        {QStringLiteral("verify"),
         {Command::Verify, QStringLiteral("verify FILE --device NNNN --port P"),
          QStringLiteral("读取设备的记录，与红外指令文件比较"),
          QStringLiteral("读取设备的16条记录，与红外指令文件逐条比较，列出不一致的记录。"),
          deviceValues, commonFlags, 1, 1}},
        {QStringLiteral("set-number"),
         {Command::SetNumber,
          QStringLiteral("set-number NNNN --port P"),
          QStringLiteral("给线上的设备新的设备号"),
          QStringLiteral("发送设备号帧（FD NNNN）。这一帧不带原设备号，线上的设备都会接受，\n"
                         "所以不需要 --device；新设备号为 4 位十进制数字且不能为零。"),
          {QStringLiteral("port"), QStringLiteral("settings")},
          commonFlags,
          1,
          1}},
        {QStringLiteral("learn"),
         {Command::Learn, QStringLiteral("learn (--key KEY | N) --device NNNN --port P"),
          QStringLiteral("学习一个空调键（--key）或编号指令 1–108"),
          QStringLiteral(
              "  --key KEY         学习一个空调键：键名（开机 关机 制冷 制热 除湿 自动风 强力风\n"
              "                    20℃ 25℃ 30℃）或序号 0–9。先打开学习模式，发出按键，\n"
              "                    在学习时限内倒计时等待设备学会，然后关闭学习模式。\n"
              "  N                 学习编号指令 N（1–108），与窗口的指令表相同：\n"
              "                    打开学习模式、发出指令、完整的学习时限、关闭学习模式。\n"
              "键用 --key 给出，编号指令用不带选项的数字给出，两者不会混淆。"),
          deviceValues + QStringList{QStringLiteral("key")}, commonFlags, 0, 1}},
        {QStringLiteral("send"),
         {Command::Send, QStringLiteral("send KEY --device NNNN --port P"),
          QStringLiteral("在学习模式之外发送一个空调键"),
          QStringLiteral("发送一个空调键（键名或序号 0–9），如同在窗口中不开学习模式时按键。"),
          deviceValues, commonFlags, 1, 1}},
        {QStringLiteral("diff"),
         {Command::Diff,
          QStringLiteral("diff FILE_A FILE_B"),
          QStringLiteral("逐条比较两个红外指令文件"),
          QStringLiteral("逐条比较两个红外指令文件，列出不同的记录和每条记录第一个不同的字节。\n"
                         "相同时退出码为 0，不同时为 1。"),
          {},
          commonFlags,
          2,
          2}},
        {QStringLiteral("info"),
         {Command::Info,
          QStringLiteral("info FILE"),
          QStringLiteral("检查红外指令文件，列出记录长度和 SHA-256"),
          QStringLiteral(
              "检查红外指令文件（与下载前的检查相同），列出每条记录的字节数和\n"
              "16条记录的 SHA-256（按保存的格式计算：大写十六进制，每条以 CR LF 结尾）。"),
          {},
          commonFlags,
          1,
          1}},
        {QStringLiteral("clone"),
         {Command::Clone,
          QStringLiteral("clone FILE --device NNNN --port P1 --port P2 ... "
                         "[--number-from NNNN | --numbers N1,N2,...] [--retry N]"),
          QStringLiteral("把一个红外指令文件同时写入多台设备"),
          QStringLiteral(
              "同时把红外指令文件写入每个端口上的设备（都用 --device 的设备号），读回校验，\n"
              "校验通过后可再给每台设备新的设备号。每个端口一行实时状态，结束时列出汇总表。\n"
              "一台设备失败不影响其他设备。\n"
              "  --number-from NNNN  按端口顺序依次给设备号 NNNN、NNNN+1、……\n"
              "  --numbers LIST      按端口顺序给出的设备号，逗号分隔，个数与端口相同\n"
              "  --retry N           失败的步骤重试 N 次（默认 0）"),
          deviceValues + QStringList{QStringLiteral("number-from"), QStringLiteral("numbers"),
                                     QStringLiteral("retry")},
          commonFlags, 1, 1}},
    };
    return table;
}

QString overview()
{
    QString text = QStringLiteral("用法：irlearn-cli <命令> [选项]\n\n"
                                  "红外遥控学习设备的命令行工具。人看的信息和进度在标准错误，\n"
                                  "--json 的结果在标准输出。\n\n命令：\n");
    const QStringList order = {QStringLiteral("ports"),      QStringLiteral("read"),
                               QStringLiteral("download"),   QStringLiteral("verify"),
                               QStringLiteral("set-number"), QStringLiteral("learn"),
                               QStringLiteral("send"),       QStringLiteral("diff"),
                               QStringLiteral("info"),       QStringLiteral("clone")};
    for (const QString &name : order)
        text += QStringLiteral("  %1%2\n").arg(name.leftJustified(12), commands()[name].summary);
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

// A device number the frames can carry, checked with the window's own words.
QString deviceNumberProblem(const QString &number)
{
    if (frames::isDeviceNumber(number))
        return QString();
    return messages::deviceNumberLength;
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
    if (arguments.isEmpty())
        return error(QStringLiteral("缺少命令。\n\n") + overview());
    const QString word = arguments.first();
    if (word == QLatin1String("-h") || word == QLatin1String("--help") ||
        word == QLatin1String("help")) {
        Parsed p;
        p.status = Parsed::Help;
        p.text = overview();
        return p;
    }
    if (!commands().contains(word))
        return error(QStringLiteral("未知命令：%1（irlearn-cli --help 列出所有命令）").arg(word));
    const CommandInfo &info = commands()[word];

    Parsed parsed;
    parsed.status = Parsed::Run;
    Request &r = parsed.request;
    r.command = info.command;
    r.name = word;
    QStringList positional;
    QMap<QString, QStringList> values;
    QStringList flags;
    bool optionsEnded = false;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            positional << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            Parsed help;
            help.status = Parsed::Help;
            help.text = commandHelp(info);
            return help;
        }
        QString name;
        QString value;
        bool hasValue = false;
        if (arg == QLatin1String("-v")) {
            name = QStringLiteral("verbose");
        } else if (arg == QLatin1String("-o")) {
            name = QStringLiteral("output");
        } else if (arg.startsWith(QLatin1String("--"))) {
            name = arg.mid(2);
            const qsizetype eq = name.indexOf(QLatin1Char('='));
            if (eq >= 0) {
                value = name.mid(eq + 1);
                name.truncate(eq);
                hasValue = true;
            }
        } else {
            return error(QStringLiteral("未知选项：%1（irlearn-cli %2 --help）").arg(arg, word));
        }
        if (info.flags.contains(name)) {
            if (hasValue)
                return error(QStringLiteral("选项 --%1 不带值").arg(name));
            flags << name;
        } else if (info.values.contains(name)) {
            if (!hasValue) {
                if (i + 1 >= arguments.size())
                    return error(QStringLiteral("选项 --%1 缺少值").arg(name));
                value = arguments.at(++i);
            }
            values[name] << value;
        } else {
            return error(
                QStringLiteral("命令 %1 没有选项 %2（irlearn-cli %1 --help）").arg(word, arg));
        }
    }
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (it.value().size() > 1 &&
            !(it.key() == QLatin1String("port") && r.command == Command::Clone))
            return error(QStringLiteral("选项 --%1 只能给一次").arg(it.key()));
    }
    if (positional.size() < info.minArgs || positional.size() > info.maxArgs)
        return error(QStringLiteral("参数个数不对。用法：irlearn-cli %1").arg(info.usage));

    r.json = flags.contains(QStringLiteral("json"));
    r.verbose = flags.contains(QStringLiteral("verbose"));
    r.verify = !flags.contains(QStringLiteral("no-verify"));
    r.settingsPath = values.value(QStringLiteral("settings")).value(0);
    r.ports = values.value(QStringLiteral("port"));
    r.device = values.value(QStringLiteral("device")).value(0).trimmed();

    if (info.values.contains(QStringLiteral("port")) && r.ports.isEmpty())
        return error(QStringLiteral("缺少 --port（COM 名称、设备路径或 auto）"));
    if (info.values.contains(QStringLiteral("device"))) {
        if (!values.contains(QStringLiteral("device")))
            return error(QStringLiteral("缺少 --device（4 位设备号，如 0001）"));
        const QString why = deviceNumberProblem(r.device);
        if (!why.isEmpty())
            return error(QStringLiteral("设备号无效：%1\n%2").arg(r.device, why));
    }

    switch (r.command) {
    case Command::Ports:
        break;
    case Command::Read:
        r.file = values.value(QStringLiteral("output")).value(0);
        if (r.file.isEmpty())
            return error(QStringLiteral("缺少 -o FILE（保存读取结果的红外指令文件）"));
        break;
    case Command::Download:
    case Command::Verify:
    case Command::Info:
        r.file = positional.at(0);
        break;
    case Command::Diff:
        r.file = positional.at(0);
        r.secondFile = positional.at(1);
        break;
    case Command::SetNumber:
        r.newNumber = positional.at(0).trimmed();
        // The window's order of checks and its words.
        if (textValue(r.newNumber) <= 0)
            return error(QStringLiteral("新设备号无效：%1\n%2")
                             .arg(r.newNumber, messages::deviceNumberZero));
        if (!deviceNumberProblem(r.newNumber).isEmpty())
            return error(QStringLiteral("新设备号无效：%1\n%2")
                             .arg(r.newNumber, messages::deviceNumberLength));
        break;
    case Command::Learn: {
        const bool byKey = values.contains(QStringLiteral("key"));
        if (byKey == !positional.isEmpty())
            return error(
                QStringLiteral("learn 要么用 --key 给出一个键，要么给出一个编号指令（1–108），"
                               "二者取一"));
        if (byKey) {
            r.key = keyIndex(values.value(QStringLiteral("key")).value(0));
            if (r.key < 0)
                return error(QStringLiteral("没有这个键：%1（键名：%2，或序号 0–9）")
                                 .arg(values.value(QStringLiteral("key")).value(0),
                                      frames::keyNames().join(QLatin1Char(' '))));
        } else {
            r.number = frames::commandNumber(positional.at(0));
            if (r.number == 0)
                return error(QStringLiteral("指令号无效：%1（应为 1–%2）\n%3")
                                 .arg(positional.at(0))
                                 .arg(frames::maxCommand)
                                 .arg(messages::commandNumber));
        }
        break;
    }
    case Command::Send:
        r.key = keyIndex(positional.at(0));
        if (r.key < 0)
            return error(QStringLiteral("没有这个键：%1（键名：%2，或序号 0–9）")
                             .arg(positional.at(0), frames::keyNames().join(QLatin1Char(' '))));
        break;
    case Command::Clone: {
        r.file = positional.at(0);
        const QString retry = values.value(QStringLiteral("retry")).value(0);
        if (!retry.isEmpty()) {
            bool ok = false;
            r.retries = retry.toInt(&ok);
            if (!ok || r.retries < 0 || r.retries > 100)
                return error(QStringLiteral("--retry 应为 0–100 的整数：%1").arg(retry));
        }
        const bool from = values.contains(QStringLiteral("number-from"));
        const bool list = values.contains(QStringLiteral("numbers"));
        if (from && list)
            return error(QStringLiteral("--number-from 与 --numbers 只能用一个"));
        if (from) {
            const QString first = values.value(QStringLiteral("number-from")).value(0).trimmed();
            if (!frames::isDeviceNumber(first) || first.toInt() == 0)
                return error(QStringLiteral("--number-from 无效：%1\n%2")
                                 .arg(first, first.toInt() == 0 && frames::isDeviceNumber(first)
                                                 ? messages::deviceNumberZero
                                                 : messages::deviceNumberLength));
            const int start = first.toInt();
            if (start + r.ports.size() - 1 > 9999)
                return error(QStringLiteral("--number-from %1 起的 %2 个设备号超出 9999")
                                 .arg(first)
                                 .arg(r.ports.size()));
            for (int i = 0; i < r.ports.size(); ++i)
                r.numbers << QStringLiteral("%1").arg(start + i, 4, 10, QLatin1Char('0'));
        }
        if (list) {
            r.numbers = values.value(QStringLiteral("numbers")).value(0).split(QLatin1Char(','));
            for (QString &n : r.numbers) {
                n = n.trimmed();
                if (!frames::isDeviceNumber(n) || n.toInt() == 0)
                    return error(QStringLiteral("--numbers 中的设备号无效：%1\n%2")
                                     .arg(n, frames::isDeviceNumber(n)
                                                 ? messages::deviceNumberZero
                                                 : messages::deviceNumberLength));
            }
            if (r.numbers.size() != r.ports.size())
                return error(QStringLiteral("--numbers 给了 %1 个设备号，但有 %2 个端口")
                                 .arg(r.numbers.size())
                                 .arg(r.ports.size()));
        }
        break;
    }
    }
    return parsed;
}

} // namespace irlearn::cli
