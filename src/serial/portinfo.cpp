#include "serial/portinfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace irlearn {

namespace {

struct Holder
{
    qint64 pid = 0;
    QString name;
};

QString canonicalOr(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}

void fillFromSystem(PortDetails &d, const QSerialPortInfo &info)
{
    if (info.hasVendorIdentifier() && info.hasProductIdentifier())
        d.usbId = QStringLiteral("%1:%2")
                      .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                      .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
    d.serialNumber = info.serialNumber();
    d.description = info.description();
    d.manufacturer = info.manufacturer();
}

#ifdef Q_OS_UNIX

// What the node at a path is, as stat() and access() see it through any links.
struct Node
{
    bool exists = false;
    bool searchDenied = false; // a folder on the way may not be entered
    bool charDevice = false;
    bool accessible = false;
    dev_t rdev = 0;
    QString group;
};

QString groupName(gid_t gid)
{
    if (const group *g = ::getgrgid(gid))
        return QString::fromLocal8Bit(g->gr_name);
    return QString::number(gid); // usermod takes a number as well
}

Node inspect(const QString &path)
{
    Node n;
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0) {
        n.searchDenied = errno == EACCES;
        n.exists = n.searchDenied;
        return n;
    }
    n.exists = true;
    n.charDevice = S_ISCHR(st.st_mode);
    n.rdev = st.st_rdev;
    n.group = groupName(st.st_gid);
    n.accessible = ::access(native.constData(), R_OK | W_OK) == 0;
    return n;
}

QString processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

// The first process (by pid) holding each of the wanted devices open. Devices are matched by
// device number, so a by-id link, the tty it names and a copy of the node all count as one. Other
// users' fd folders cannot be read without privileges; their holders stay unknown.
QHash<dev_t, Holder> findHolders(const QList<dev_t> &wanted, bool includeSelf)
{
    QHash<dev_t, Holder> holders;
    if (wanted.isEmpty())
        return holders;
    const qint64 self = QCoreApplication::applicationPid();
    const QStringList entries =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    QList<qint64> pids;
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (ok && (includeSelf || pid != self))
            pids << pid;
    }
    std::sort(pids.begin(), pids.end());
    for (const qint64 pid : std::as_const(pids)) {
        const QByteArray fdDir = QByteArray("/proc/") + QByteArray::number(pid) + "/fd/";
        DIR *dir = ::opendir(fdDir.constData());
        if (!dir)
            continue;
        while (const dirent *e = ::readdir(dir)) {
            if (e->d_name[0] == '.')
                continue;
            struct stat st;
            if (::stat((fdDir + e->d_name).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
                continue;
            if (wanted.contains(st.st_rdev) && !holders.contains(st.st_rdev)) {
                holders.insert(st.st_rdev, Holder{pid, processName(pid)});
                break;
            }
        }
        ::closedir(dir);
        if (holders.size() == wanted.size())
            break;
    }
    return holders;
}

// Where QSerialPort may leave its lock files, in its own order.
const QStringList lockDirs = {
    QStringLiteral("/var/lock"),
    QStringLiteral("/etc/locks"),
    QStringLiteral("/var/spool/locks"),
    QStringLiteral("/var/spool/uucp"),
    QStringLiteral("/tmp"),
    QStringLiteral("/var/tmp"),
    QStringLiteral("/var/lock/lockdev"),
    QStringLiteral("/run/lock"),
};

// Another user's fd folder is closed to us, but the lock file Qt keeps beside an open port is
// world-readable and names the process.
// The lock file comes first: it names the program that opened the port as a serial port, where
// the device's other end (a simulator's terminal, a modem manager's probe) may also hold it.
Holder findHolder(const QString &path, const Node &n, bool includeSelf)
{
    const qint64 pid = detail::lockHolder(path, lockDirs);
    if (pid > 0 && (includeSelf || pid != QCoreApplication::applicationPid()))
        return Holder{pid, processName(pid)};
    const auto holders = findHolders({n.rdev}, includeSelf);
    if (holders.contains(n.rdev))
        return holders.value(n.rdev);
    return Holder{};
}

void applyNode(PortDetails &d, const Node &n)
{
    d.group = n.group;
    if (!n.exists)
        d.state = PortState::Missing;
    else if (n.searchDenied || (n.charDevice && !n.accessible))
        d.state = PortState::NotPermitted;
    else if (!n.charDevice)
        d.state = PortState::NotASerialPort;
    else
        d.state = PortState::Free; // until a holder turns up
}

void applyHolder(PortDetails &d, const Holder &h)
{
    d.state = PortState::Busy;
    d.holderPid = h.pid;
    d.holderName = h.name;
}

const QString byIdDir = QStringLiteral("/dev/serial/by-id");
const QString byPathDir = QStringLiteral("/dev/serial/by-path");

void fillLinks(PortDetails &d)
{
    d.byId = detail::findLinksTo(d.path, byIdDir).value(0);
    d.byPath = detail::findLinksTo(d.path, byPathDir).value(0);
}

QString userName()
{
    if (const passwd *pw = ::getpwuid(::getuid()))
        return QString::fromLocal8Bit(pw->pw_name);
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? QStringLiteral("$USER") : user;
}

#endif // Q_OS_UNIX

QString missingText(const QString &path)
{
    return QStringLiteral("端口不存在：%1（设备未连接或已拔出）").arg(path);
}

QString busyText(const QString &path, qint64 pid, const QString &name)
{
    if (pid <= 0)
        return QStringLiteral("端口被占用：%1").arg(path);
    const QString who =
        name.isEmpty() ? QString::number(pid) : QStringLiteral("%1 %2").arg(pid).arg(name);
    return QStringLiteral("端口被占用：%1（进程 %2 正在使用）").arg(path, who);
}

QString otherText(const QString &path, QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::OpenError:
        return QStringLiteral("无法打开端口：%1（端口已经打开）").arg(path);
    case QSerialPort::UnsupportedOperationError:
        return QStringLiteral("无法打开端口：%1（设备不支持串口设置）").arg(path);
    case QSerialPort::ResourceError:
        return QStringLiteral("无法打开端口：%1（设备已断开）").arg(path);
    default:
        return QStringLiteral("无法打开端口：%1").arg(path);
    }
}

} // namespace

namespace detail {

QStringList findLinksTo(const QString &target, const QString &dir)
{
    QStringList links;
    const QString wanted = QFileInfo(target).canonicalFilePath();
    if (wanted.isEmpty())
        return links;
    const QFileInfoList entries =
        QDir(dir).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink() && entry.canonicalFilePath() == wanted)
            links << entry.absoluteFilePath();
    }
    return links;
}

qint64 lockHolder(const QString &path, const QStringList &dirs)
{
#ifdef Q_OS_UNIX
    const QString devPrefix = QStringLiteral("/dev/");
    QStringList names;
    for (QString name : {path, canonicalOr(path)}) {
        if (name.startsWith(devPrefix))
            name.remove(0, devPrefix.size());
        name = QStringLiteral("LCK..") + name.replace(QLatin1Char('/'), QLatin1Char('_'));
        if (!names.contains(name))
            names << name;
    }
    for (const QString &dir : dirs) {
        for (const QString &name : std::as_const(names)) {
            QFile lock(dir + QLatin1Char('/') + name);
            if (!lock.open(QIODevice::ReadOnly))
                continue;
            bool ok = false;
            const qint64 pid = lock.readLine().trimmed().toLongLong(&ok);
            // A lock left by a process that died is stale: Qt takes it over on the next open.
            if (ok && pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM))
                return pid;
        }
    }
#else
    Q_UNUSED(path);
    Q_UNUSED(dirs);
#endif
    return 0;
}

} // namespace detail

PortDetails describePort(const QString &path)
{
    PortDetails d;
    d.path = canonicalOr(path);
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        // Windows names ports COM3 but locates them as \\.\COM3.
        if (canonicalOr(info.systemLocation()) == d.path || info.portName() == path) {
            fillFromSystem(d, info);
#ifndef Q_OS_UNIX
            d.state = PortState::Free;
#endif
            break;
        }
    }
#ifdef Q_OS_UNIX
    fillLinks(d);
    const Node n = inspect(d.path);
    applyNode(d, n);
    if (d.state == PortState::Free) {
        const Holder h = findHolder(path, n, false);
        if (h.pid > 0)
            applyHolder(d, h);
    }
#endif
    return d;
}

QList<PortDetails> systemPorts()
{
    QList<PortDetails> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        PortDetails d;
        d.path = canonicalOr(info.systemLocation());
        fillFromSystem(d, info);
        d.state = PortState::Free;
        ports << d;
    }
    std::sort(ports.begin(), ports.end(),
              [](const PortDetails &a, const PortDetails &b) { return a.path < b.path; });
#ifdef Q_OS_UNIX
    // One pass over /proc for all ports: it is the slow part.
    QList<dev_t> wanted;
    QList<Node> nodes;
    for (PortDetails &d : ports) {
        fillLinks(d);
        nodes << inspect(d.path);
        applyNode(d, nodes.last());
        if (d.state == PortState::Free)
            wanted << nodes.last().rdev;
    }
    const auto holders = findHolders(wanted, false);
    const qint64 self = QCoreApplication::applicationPid();
    for (int i = 0; i < ports.size(); ++i) {
        if (ports[i].state != PortState::Free)
            continue;
        if (holders.contains(nodes[i].rdev)) {
            applyHolder(ports[i], holders.value(nodes[i].rdev));
        } else {
            const qint64 pid = detail::lockHolder(ports[i].path, lockDirs);
            if (pid > 0 && pid != self)
                applyHolder(ports[i], Holder{pid, processName(pid)});
        }
    }
#endif
    return ports;
}

OpenFailure explainOpenFailure(const QString &path, QSerialPort::SerialPortError error)
{
    OpenFailure f;
#ifdef Q_OS_UNIX
    const Node n = inspect(path);
    if (!n.exists || (n.charDevice && error == QSerialPort::DeviceNotFoundError)) {
        // A node can outlive its adapter: opening it then fails as "not found" too.
        f.kind = OpenFailure::Missing;
    } else if (!n.searchDenied && !n.charDevice) {
        f.kind = OpenFailure::NotASerialPort;
    } else if (n.searchDenied || !n.accessible) {
        f.kind = OpenFailure::NotPermitted;
    } else if (error == QSerialPort::PermissionError || error == QSerialPort::NoError) {
        // Qt reports a port another program holds exclusively or has locked as a permission
        // error too, and a lock it could not take without any error at all (root passes the
        // exclusive open, so only the lock stops it). Our own process counts: another port
        // object of ours may hold it. With no holder in sight the error's own word stands.
        const Holder h = findHolder(path, n, true);
        if (h.pid > 0) {
            f.kind = OpenFailure::Busy;
            f.message = busyText(path, h.pid, h.name);
        } else if (error == QSerialPort::PermissionError) {
            f.kind = OpenFailure::NotPermitted;
        }
    }
    if (f.kind == OpenFailure::NotPermitted) {
        if (n.group.isEmpty())
            f.message = QStringLiteral("没有权限打开端口：%1。请把当前用户加入拥有该设备的用户组，"
                                       "然后注销并重新登录。")
                            .arg(path);
        else
            f.message = QStringLiteral("没有权限打开端口：%1。设备属于 %2 组，请执行 sudo usermod "
                                       "-aG %2 %3，然后注销并重新登录。")
                            .arg(path, n.group, userName());
    }
#else
    // Windows refuses a COM port another program has open with "access denied".
    if (error == QSerialPort::DeviceNotFoundError)
        f.kind = OpenFailure::Missing;
    else if (error == QSerialPort::PermissionError)
        f.kind = OpenFailure::Busy;
#endif
    if (f.message.isEmpty()) {
        switch (f.kind) {
        case OpenFailure::Missing:
            f.message = missingText(path);
            break;
        case OpenFailure::Busy:
            f.message = busyText(path, 0, QString());
            break;
        case OpenFailure::NotASerialPort:
            f.message = QStringLiteral("不是串口设备：%1").arg(path);
            break;
        case OpenFailure::NotPermitted: // filled above
        case OpenFailure::Other:
            f.message = otherText(path, error);
            break;
        }
    }
    return f;
}

QString portSummary(const PortDetails &details)
{
    QStringList lines{details.path};
    if (!details.byId.isEmpty())
        lines << details.byId;
    if (!details.usbId.isEmpty())
        lines << QStringLiteral("USB %1").arg(details.usbId);
    if (!details.serialNumber.isEmpty())
        lines << QStringLiteral("序列号 %1").arg(details.serialNumber);
    return lines.join(QLatin1Char('\n'));
}

} // namespace irlearn
