// Port descriptions and open-failure texts, on pseudo-terminals, real holder processes and nodes
// made in temporary folders; the window's port list made from them without opening any port.
#include "support/windowharness.h"

#include "base/inifile.h"
#include "serial/portinfo.h"
#include "serial/portnames.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QPushButton>
#include <QSerialPort>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using namespace irlearn;

namespace {

// A pseudo-terminal; nobody holds its slave side until a test makes someone.
struct Pty
{
    Pty()
    {
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            slave = QString::fromLocal8Bit(::ptsname(master));
    }
    ~Pty() { ::close(master); }
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    QString slave;
};

// Every open of the watched files, by anyone, as the kernel reports it.
struct OpenWatch
{
    ~OpenWatch() { ::close(fd); }
    bool watch(const QString &path)
    {
        const int wd = ::inotify_add_watch(fd, QFile::encodeName(path).constData(), IN_OPEN);
        names.insert(wd, path);
        return wd >= 0;
    }
    // The paths opened since the last call, one entry per open.
    QStringList opened()
    {
        QStringList paths;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto *e = reinterpret_cast<const inotify_event *>(buffer + at);
                if (e->mask & IN_OPEN)
                    paths << names.value(e->wd);
                at += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
        return paths;
    }
    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QHash<int, QString> names;
};

} // namespace

class PortInfoTest : public QObject
{
    Q_OBJECT

private slots:
    void missingNotASerialPortLinksAndNotPermitted()
    {
        QTemporaryDir tmp;
        const QString missing = tmp.filePath(u"ttyUSB9"_s);
        const QString dangling = tmp.filePath(u"gone"_s);
        QVERIFY(QFile::link(missing, dangling));
        const QString file = tmp.filePath(u"codes.bin"_s);
        QVERIFY(WindowHarness::writeFile(file, {}));
        // The file system outranks the error: a permission error on nothing is a missing port.
        for (const auto &[path, kind] : std::initializer_list<std::pair<QString, PortState>>{
                 {missing, PortState::Missing},
                 {dangling, PortState::Missing},
                 {tmp.path(), PortState::NotASerialPort},
                 {file, PortState::NotASerialPort}}) {
            const OpenFailure f = explainOpenFailure(path, QSerialPort::PermissionError);
            QCOMPARE(f.kind, kind);
            QCOMPARE(f.message,
                     (kind == PortState::Missing ? u"端口不存在：%1（设备未连接或已拔出）"_s
                                                 : u"不是串口设备：%1"_s)
                         .arg(path));
            QCOMPARE(describePort(path).state, kind);
        }

        // A terminal nobody holds: free, and failures it cannot explain stay general.
        Pty pty;
        QCOMPARE(describePort(pty.slave).state, PortState::Free);
        const OpenFailure other =
            explainOpenFailure(pty.slave, QSerialPort::UnsupportedOperationError);
        QCOMPARE(other.kind, PortState::Other);
        QVERIFY(other.message.contains(pty.slave));
        QCOMPARE(explainOpenFailure(pty.slave, QSerialPort::DeviceNotFoundError).kind,
                 PortState::Missing);

        // Links resolve to the device they name.
        Pty second;
        QVERIFY(QFile::link(pty.slave, tmp.filePath(u"usb-a"_s)));
        QVERIFY(QFile::link(u"usb-a"_s, tmp.filePath(u"usb-b"_s))); // relative, chained
        QVERIFY(QFile::link(second.slave, tmp.filePath(u"usb-c"_s)));
        QCOMPARE(detail::findLinksTo(pty.slave, tmp.path()),
                 QStringList({tmp.filePath(u"usb-a"_s), tmp.filePath(u"usb-b"_s)}));
        QCOMPARE(detail::findLinksTo(tmp.filePath(u"usb-b"_s), tmp.path()).size(), 2);
        QVERIFY(detail::findLinksTo(missing, tmp.path()).isEmpty());

        // A pseudo-terminal has no USB identity or by-id name: the summary is its path alone.
        const PortDetails d = describePort(tmp.filePath(u"usb-b"_s));
        QCOMPARE(d.path, pty.slave);
        QVERIFY(d.usbId.isEmpty() && d.byId.isEmpty());
        QCOMPARE(portSummary(d), pty.slave);

        // Not permitted: the group to join and the command that joins it.
        const QByteArray slave = QFile::encodeName(second.slave);
        QCOMPARE(::chmod(slave.constData(), 0), 0);
        const group *dialout = ::getgrnam("dialout");
        gid_t gid = ::getegid();
        if (dialout && ::chown(slave.constData(), uid_t(-1), dialout->gr_gid) == 0)
            gid = dialout->gr_gid;
        else
            QCOMPARE(::chown(slave.constData(), uid_t(-1), gid), 0);
        const QString groupName = QString::fromLocal8Bit(::getgrgid(gid)->gr_name);
        const QString user = QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name);

        // As the window sees it: a pinned link in a folder of its own.
        const QString pinned = tmp.filePath(u"ttyIR"_s);
        QVERIFY(QFile::link(second.slave, pinned));
        const OpenFailure f = explainOpenFailure(pinned, QSerialPort::PermissionError);
        QCOMPARE(f.kind, PortState::NotPermitted);
        QCOMPARE(f.message,
                 QStringLiteral("没有权限打开端口：%1。设备属于 %2 组，请执行 sudo usermod "
                                "-aG %2 %3，然后注销并重新登录。")
                     .arg(pinned, groupName, user));

        const PortDetails refused = describePort(pinned);
        QCOMPARE(refused.path, second.slave);
        QCOMPARE(refused.group, groupName);
        // Root passes any mode, so only an ordinary user sees the port refused.
        QCOMPARE(refused.state, ::geteuid() == 0 ? PortState::Free : PortState::NotPermitted);

        // Owned by root:root, no group to join helps: the udev rule is missing.
        if (::chown(slave.constData(), uid_t(-1), 0) != 0)
            QSKIP("only root can give the terminal to group root");
        const OpenFailure rootOnly = explainOpenFailure(pinned, QSerialPort::PermissionError);
        QCOMPARE(rootOnly.kind, PortState::NotPermitted);
        QVERIFY2(rootOnly.message.contains(u"udev"_s) && !rootOnly.message.contains(u"usermod"_s),
                 qPrintable(rootOnly.message));
    }

    void busyNamesTheHolderAndTheListingOpensNothing()
    {
        Pty pty;
        QProcess holder; // another program holding the terminal open
        holder.start(u"sh"_s, {u"-c"_s, u"exec sleep 30 <>\"$0\""_s, pty.slave});
        QVERIFY(holder.waitForStarted());
        // Until the exec the holder is still called sh.
        QTRY_COMPARE(describePort(pty.slave).holderName, u"sleep"_s);
        const qint64 pid = holder.processId();
        QCOMPARE(describePort(pty.slave).holderPid, pid);
        const OpenFailure f = explainOpenFailure(pty.slave, QSerialPort::PermissionError);
        QCOMPARE(f.kind, PortState::Busy);
        QCOMPARE(f.message, u"端口被占用：%1（进程 %2 sleep 正在使用）"_s.arg(pty.slave).arg(pid));

        // While it is held: the window lists the ports that are free from what the system tells,
        // opening none of them (an open raises the control lines and resets what hangs on them),
        // and opens only the one connected to (why one will not open is said on connect: the window
        // test). The simulator keeps its terminal's slave side open as the far end of the line:
        // that is no rival holding the port.
        QTemporaryDir tmp;
        SimProcess sim;
        QVERIFY(sim.start());
        const QString simTty = QFileInfo(sim.linkPath()).canonicalFilePath();
        const QString plain = tmp.filePath(u"ttyFile"_s);
        QVERIFY(QFile(plain).open(QIODevice::WriteOnly));
        const QString settings = tmp.filePath(u"VexoSet.ini"_s);
        IniFile ini(settings);
        const QStringList pins{sim.linkPath(), pty.slave, tmp.filePath(u"ttyGone"_s), plain};
        for (int i = 0; i < pins.size(); ++i)
            QVERIFY(ini.write(u"Ports"_s, comName(i + 1), pins.at(i)));

        OpenWatch opens;
        QVERIFY(opens.watch(simTty) && opens.watch(pty.slave) && opens.watch(plain));
        MainWindow window(Settings(settings), WindowHarness::fastTimings());
        window.show();
        auto *selector = window.findChild<QComboBox *>(u"portSelector"_s);
        auto *connect = window.findChild<QPushButton *>(u"connectButton"_s);
        for (int drop = 0; drop < 2; ++drop) { // at start-up, then each time the list drops down
            if (drop > 0) {
                selector->showPopup();
                selector->hidePopup();
            }
            // The machine's own serial ports may follow as COM5 and up.
            QCOMPARE(selector->itemText(0), u"COM1"_s);
            QVERIFY(selector->count() == 1 || comNumber(selector->itemText(1)) > pins.size());
            QCOMPARE(selector->itemData(0, Qt::ToolTipRole).toString(),
                     sim.linkPath() + u'\n' + simTty);
            QCOMPARE(opens.opened(), QStringList());
        }

        // Connecting opens the chosen port, and only that one.
        selector->setEditText(u"COM1"_s);
        QTest::mouseClick(connect, Qt::LeftButton);
        QTRY_COMPARE(connect->text(), u"断 开"_s);
        QCOMPARE(opens.opened(), QStringList{simTty});
        QTest::mouseClick(connect, Qt::LeftButton);

        holder.kill();
        QVERIFY(holder.waitForFinished());
        QTRY_COMPARE(describePort(pty.slave).state, PortState::Free);

        // Lock files name holders whose fd folders are closed to us; a dead one's lock is stale.
        QTemporaryDir locks;
        const QString lockName = u"LCK.."_s + pty.slave.mid(5).replace(u'/', u'_');
        const QByteArray dead = QByteArray::number(pid) + "\nsleep\nlocalhost\n";
        QVERIFY(WindowHarness::writeFile(locks.filePath(lockName), dead));
        QCOMPARE(detail::lockHolder(pty.slave, {locks.path()}), 0);
        QVERIFY(QFile::remove(locks.filePath(lockName)));
        QLockFile lock(locks.filePath(lockName));
        QVERIFY(lock.tryLock());
        QCOMPARE(detail::lockHolder(pty.slave, {locks.path()}), QCoreApplication::applicationPid());

        // Our own open port is no holder in a description made for ourselves. (A second opener
        // turned away, this process named as the holder: the window test.)
        QSerialPort first(pty.slave);
        QVERIFY(first.open(QIODevice::ReadWrite));
        QCOMPARE(describePort(pty.slave).state, PortState::Free);
    }
};

QTEST_MAIN(PortInfoTest)
#include "tst_portinfo.moc"
