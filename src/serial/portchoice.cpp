#include "serial/portchoice.h"

#include "base/regularfile.h"
#include "serial/networkaddress.h"

namespace irlearn {

namespace {

int numberFor(const QString &device, const PortNames &names)
{
    const QString wanted = canonicalPath(device);
    for (int n = 1; n <= PortNames::maxPort; ++n) {
        const QString candidate = names.deviceFor(n);
        if (!candidate.isEmpty() && canonicalPath(candidate) == wanted)
            return n;
    }
    return 0;
}

} // namespace

PortChoice choosePort(const QString &text, const PortNames &names, const QList<PortDetails> &system)
{
    PortChoice choice;
    const QString given = text.trimmed();
    if (given.isEmpty()) {
        choice.error = QStringLiteral("未指定端口");
        return choice;
    }
    if (given.compare(autoPort, Qt::CaseInsensitive) == 0) {
        QList<PortDetails> adapters;
        for (const PortDetails &port : system) {
            if (!port.usbId.isEmpty())
                adapters << port;
        }
        QStringList candidates; // each as "COMn (path)"
        for (const PortDetails &port : std::as_const(adapters)) {
            const int n = numberFor(port.path, names);
            candidates << (n > 0 ? QStringLiteral("%1 (%2)").arg(comName(n), port.path)
                                 : port.path);
        }
        if (adapters.isEmpty()) {
            choice.error = QStringLiteral("没有找到 USB 串口适配器：请插好适配器，或用 --port "
                                          "指定端口名（如 COM1）或设备路径");
        } else if (adapters.size() > 1) {
            choice.error = QStringLiteral("有多个 USB 串口适配器，请用 --port 指定其中一个：%1")
                               .arg(candidates.join(QStringLiteral("，")));
        } else {
            choice.device = adapters.first().path;
            const int n = numberFor(choice.device, names);
            if (n > 0)
                choice.name = comName(n);
        }
        return choice;
    }
    const int number = comNumber(given);
    if (number >= 0) {
        if (number < 1 || number > PortNames::maxPort) {
            choice.error = QStringLiteral("端口名无效：%1（应为 COM1 至 COM%2）")
                               .arg(given)
                               .arg(PortNames::maxPort);
            return choice;
        }
        choice.name = comName(number);
        choice.device = names.deviceFor(number);
        if (choice.device.isEmpty())
            choice.error = QStringLiteral("端口不存在：%1").arg(choice.name);
        return choice;
    }
    if (isNetworkAddress(given)) {
        QString why;
        if (!parseNetworkAddress(given, &why)) {
            choice.error = why;
            return choice;
        }
    }
    choice.device = given;
    const int n = numberFor(given, names);
    if (n > 0)
        choice.name = comName(n);
    return choice;
}

QList<NamedPort> namedPorts(const PortNames &names, const QList<PortDetails> &system)
{
    QList<NamedPort> ports;
    for (int n = 1; n <= PortNames::maxPort; ++n) {
        const QString device = names.deviceFor(n);
        if (device.isEmpty())
            continue;
        NamedPort port{n, {}};
        if (isNetworkAddress(device)) {
            port.details.path = device;
            port.details.state = PortState::Network;
            ports << port;
            continue;
        }
        const QString canonical = canonicalPath(device);
        bool listed = false;
        for (const PortDetails &details : system) {
            if (details.path == canonical) {
                port.details = details;
                listed = true;
                break;
            }
        }
        if (!listed)
            port.details = describePort(device);
        ports << port;
    }
    return ports;
}

std::optional<OpenFailure> portPathProblem(const QString &path)
{
    if (isNetworkAddress(path))
        return std::nullopt; // a port server, judged when it is connected to
#ifdef Q_OS_UNIX
    QString what;
    switch (pathKind(path)) {
    case PathKind::CharDevice:
        return std::nullopt;
    case PathKind::Missing:
        return explainOpenFailure(path, QSerialPort::DeviceNotFoundError);
    case PathKind::Unreachable:
        return explainOpenFailure(path, QSerialPort::PermissionError);
    case PathKind::Regular:
        what = QStringLiteral("这是普通文件");
        break;
    case PathKind::Directory:
        what = QStringLiteral("这是文件夹");
        break;
    case PathKind::Pipe:
        what = QStringLiteral("这是命名管道");
        break;
    case PathKind::Socket:
        what = QStringLiteral("这是套接字");
        break;
    case PathKind::BlockDevice:
        what = QStringLiteral("这是磁盘设备");
        break;
    case PathKind::LinkLoop:
        what = QStringLiteral("符号链接循环");
        break;
    case PathKind::Other:
        what = QStringLiteral("这不是设备文件");
        break;
    }
    return OpenFailure{PortState::NotASerialPort,
                       QStringLiteral("不是串口设备：%1（%2）").arg(path, what)};
#else
    Q_UNUSED(path);
    return std::nullopt;
#endif
}

} // namespace irlearn
