#include "startoptions.h"

#include "protocol/frames.h"
#include "serial/portnames.h"

#include <QCommandLineParser>

#include <cstdio>

namespace irlearn {

namespace {

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

QString StartOptions::version()
{
    return QStringLiteral(IRLEARN_VERSION);
}

QString StartOptions::helpText()
{
    return QStringLiteral("用法：irlearn [--port COMn] [--device NNNN]\n"
                          "红外遥控学习工具\n"
                          "\n"
                          "  -h, --help         显示本帮助\n"
                          "  -v, --version      显示版本号\n"
                          "  --port <COMn>      启动时选中端口 COMn（COM1 至 COM32）\n"
                          "  --device <NNNN>    启动时填入设备号（四位数字）\n"
                          "\n"
                          "命令行给出的端口和设备号不写入设置文件，除非在窗口中改选或修改。\n"
                          "命令行有误（未知选项、缺少取值、端口或设备号无效）时不打开窗口，\n"
                          "在标准错误输出说明原因，退出状态为 2。\n");
}

StartOptions StartOptions::parse(const QStringList &arguments)
{
    StartOptions result;
    const auto refuse = [&result](const QString &why) {
        result.action = Action::Refuse;
        result.error = why;
        return result;
    };

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption showVersion({QStringLiteral("v"), QStringLiteral("version")},
                                         QString());
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("COMn"));
    const QCommandLineOption device(QStringLiteral("device"), QString(), QStringLiteral("NNNN"));
    parser.addOptions({help, showVersion, port, device});

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return refuse(QStringLiteral("未知选项：%1").arg(unknown.constFirst()));
        return refuse(QStringLiteral("命令行有误：%1").arg(parser.errorText()));
    }
    if (parser.isSet(help)) {
        result.action = Action::Help;
        return result;
    }
    if (parser.isSet(showVersion)) {
        result.action = Action::Version;
        return result;
    }
    if (!parser.positionalArguments().isEmpty())
        return refuse(
            QStringLiteral("多余的参数：%1").arg(parser.positionalArguments().constFirst()));

    if (parser.isSet(port)) {
        const int number = comNumber(parser.value(port));
        if (number < 1 || number > PortNames::maxPort)
            return refuse(QStringLiteral("端口无效：%1（应为 COM1 至 COM%2）")
                              .arg(parser.value(port))
                              .arg(PortNames::maxPort));
        result.port = comName(number);
    }
    if (parser.isSet(device)) {
        const QString text = parser.value(device).trimmed();
        if (!frames::isDeviceNumber(text))
            return refuse(QStringLiteral("设备号无效：%1（应为四位数字，如 0001）")
                              .arg(parser.value(device)));
        result.device = text;
    }
    return result;
}

int StartOptions::report() const
{
    switch (action) {
    case Action::Help:
        print(stdout, helpText());
        return 0;
    case Action::Version:
        print(stdout, QStringLiteral("irlearn %1\n").arg(version()));
        return 0;
    case Action::Refuse:
        print(stderr, QStringLiteral("irlearn：%1\n%2（详见 irlearn --help）\n")
                          .arg(error, helpText().section(QLatin1Char('\n'), 0, 0)));
        return refusedStatus;
    case Action::Run:
        break;
    }
    return 0;
}

} // namespace irlearn
