// The window's start-up, connection, port list, settings and unplug, on the simulated device.
#include "support/windowharness.h"

#include "base/inifile.h"
#include "codefile/codefile.h"
#include "engine/deviceengine.h"
#include "protocol/frames.h"
#include "serial/devicelink.h"
#include "serial/portinfo.h"
#include "startoptions.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QUrl>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QStringList deviceControls = {QStringLiteral("Check1"),   QStringLiteral("Command2"),
                                    QStringLiteral("Check_0"),  QStringLiteral("Check_5"),
                                    QStringLiteral("Check_9"),  QStringLiteral("Command5"),
                                    QStringLiteral("Command6"), QStringLiteral("Frame3")};

bool allEnabled(const WindowHarness &h, bool enabled)
{
    for (const QString &name : deviceControls) {
        if (h.child<QWidget>(name)->isEnabled() != enabled)
            return false;
    }
    return true;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Index among the window's children: a later child is drawn above an earlier one.
int stackIndex(const WindowHarness &h, const QString &name)
{
    QWidget *w = h.child<QWidget>(name);
    return int(w->parentWidget()->children().indexOf(w));
}

bool deviceInFront(const WindowHarness &h)
{
    return stackIndex(h, QStringLiteral("Frame2")) > stackIndex(h, QStringLiteral("Frame3"));
}

QString setting(const QString &path, const QString &section, const QString &key)
{
    return irlearn::IniFile(path).read(section, key, QStringLiteral("?"));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The wait notice's text each time the engine reports progress, read after the window's own
// handler (connected first) has written it.
struct NoticeLog
{
    explicit NoticeLog(WindowHarness &h)
    {
        auto *label = h.child<QLabel>(QStringLiteral("Label3"));
        QObject::connect(&h.window().engine(), &irlearn::DeviceEngine::progress, &guard,
                         [this, label] { captions << label->text(); });
    }
    QStringList captions;
    QObject guard;
};

// A line on which every open fails as the system explains a port it does not let this user open;
// root opens anything, so only such a line shows the window's part of that case everywhere.
class DeniedLink : public irlearn::DeviceLink
{
public:
    bool open(const QString &devicePath, irlearn::OpenError *error) override
    {
        if (error)
            *error = {
                irlearn::OpenError::NotPermitted,
                irlearn::explainOpenFailure(devicePath, QSerialPort::PermissionError).message};
        return false;
    }
    void close() override {}
    bool isOpen() const override { return false; }
    bool discardPending() override { return true; }
    bool write(const QByteArray &) override { return false; }
};

// Receives the addresses QDesktopServices would hand to the browser.
class UrlSink : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void startUpConnectAndPanels();
    void portThatCannotBeOpenedStaysDisconnected();
    void portListFollowsTheSystem();
    void settingsSavedOnClose();
    void unplugDisconnectsAndFreesThePanels();
    void fixedSizeAndProjectLink();
    void progressAndVerifiedDownloads();
    void learningCountdownReachesZero();
    void logMenu();
    void commandLine();
};

void WindowTest::startUpConnectAndPanels()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());

    auto *combo1 = h.child<QComboBox>(QStringLiteral("Combo1"));
    QCOMPARE(combo1->currentText(), QStringLiteral("COM1"));
    QVERIFY(combo1->findText(QStringLiteral("COM1")) >= 0);
    QCOMPARE(combo1->toolTip(), sim.linkPath());
    QCOMPARE(h.child<QLineEdit>(QStringLiteral("Text1"))->text(), QStringLiteral("0001"));
    QCOMPARE(h.button(QStringLiteral("Command1"))->text(), QStringLiteral("连 接"));
    QVERIFY(allEnabled(h, false));
    QVERIFY(!h.button(QStringLiteral("Command4"))->isEnabled());
    for (const char *hidden : {"Picture1", "Picture2", "Frame4"})
        QVERIFY2(!h.child<QWidget>(QLatin1String(hidden))->isVisible(), hidden);
    QCOMPARE(h.child<QWidget>(QStringLiteral("Picture2"))->pos(), QPoint(64, 192));
    auto *combo2 = h.child<QComboBox>(QStringLiteral("Combo2"));
    QCOMPARE(combo2->count(), 108);
    QCOMPARE(combo2->itemText(107), QStringLiteral("108"));
    QCOMPARE(combo2->currentText(), QStringLiteral("1"));
    auto *log = h.child<QPlainTextEdit>(QStringLiteral("Text2"));
    QVERIFY(log->isReadOnly());
    QVERIFY(log->toPlainText().isEmpty());
    QVERIFY(h.child<QLineEdit>(QStringLiteral("Text3"))->text().isEmpty());
    QVERIFY(deviceInFront(h));
    QCOMPARE(h.child<QTableWidget>(QStringLiteral("Grid1"))->rowCount() + 1, 30);
    // The command line knows the keys by the names they carry here.
    for (int key = 0; key < irlearn::frames::keyCount; ++key)
        QCOMPARE(h.button(QStringLiteral("Check_%1").arg(key))->text(),
                 irlearn::frames::keyNames().at(key));

    QVERIFY(h.connectPort());
    QVERIFY(!combo1->isEnabled());
    QVERIFY(allEnabled(h, true));
    QVERIFY(!h.button(QStringLiteral("Command4"))->isEnabled());

    h.click(QStringLiteral("Check1"));
    QVERIFY(h.idle());
    QCOMPARE(sim.received(), QStringList{QStringLiteral("0001F0")});
    QVERIFY(h.logLines().contains(QStringLiteral("--== 输出指令[0001F0] ==--")));
    QVERIFY(h.logLines().contains(QStringLiteral("收到参数：F0")));

    // The command table comes forward in the same place and goes back.
    h.click(QStringLiteral("CommandPanel"));
    QVERIFY(!deviceInFront(h));
    QCOMPARE(h.button(QStringLiteral("CommandPanel"))->text(), QStringLiteral("设备面板"));
    QCOMPARE(h.child<QWidget>(QStringLiteral("Frame3"))->geometry(), QRect(0, 56, 545, 449));
    QCOMPARE(h.child<QWidget>(QStringLiteral("Frame2"))->geometry().topLeft(), QPoint(0, 56));
    h.click(QStringLiteral("CommandPanel"));
    QVERIFY(deviceInFront(h));
    QCOMPARE(h.button(QStringLiteral("CommandPanel"))->text(), QStringLiteral("指令表"));

    h.click(QStringLiteral("Command1"));
    QCOMPARE(h.button(QStringLiteral("Command1"))->text(), QStringLiteral("连 接"));
    QVERIFY(combo1->isEnabled());
    QVERIFY(allEnabled(h, false));
    QVERIFY(!h.window().engine().isOpen());
    // Released: another program can have the port now.
    QSerialPort other(sim.linkPath());
    QVERIFY(other.open(QIODevice::ReadWrite));
}

void WindowTest::portThatCannotBeOpenedStaysDisconnected()
{
    SimProcess sim;
    QVERIFY(sim.start());
    {
        // A port with no device behind it, shown although it is not in the list.
        WindowHarness h(sim.linkPath(), QStringLiteral("0001"), QStringLiteral("COM9"));
        QCOMPARE(h.child<QComboBox>(QStringLiteral("Combo1"))->currentText(),
                 QStringLiteral("COM9"));
        QVERIFY(!h.connectPort());
        QVERIFY(allEnabled(h, false));
        QCOMPARE(h.logLines(), QStringList{QStringLiteral("端口不存在：COM9")});
    }
    // A port another program holds.
    WindowHarness h(sim.linkPath());
    QSerialPort other(sim.linkPath());
    QVERIFY(other.open(QIODevice::ReadWrite));
    QVERIFY(!h.connectPort());
    QVERIFY(allEnabled(h, false));
    // Told in the log and, whole, in the status strip's tooltip, with the holder named.
    const QString busy = h.logLines().constLast();
    QVERIFY2(busy.startsWith(QStringLiteral("端口被占用：") + sim.linkPath()) &&
                 busy.contains(QString::number(QCoreApplication::applicationPid())),
             qPrintable(busy));
    QCOMPARE(h.child<QLabel>(QStringLiteral("Label4"))->toolTip(), busy);
    other.close();
    QVERIFY(h.connectPort());
    QCOMPARE(h.child<QLabel>(QStringLiteral("Label4"))->toolTip(), QString());

    // A port this user may not open, with the group that owns it.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const QString slave = QString::fromLocal8Bit(::ptsname(master));
    QTemporaryDir dir;
    const QString pinned = dir.filePath(QStringLiteral("ttyIR"));
    QVERIFY(QFile::link(slave, pinned));
    const QString ini = dir.filePath(QStringLiteral("VexoSet.ini"));
    irlearn::IniFile(ini).write(QStringLiteral("Ports"), QStringLiteral("COM1"), pinned);
    irlearn::IniFile(ini).write(QStringLiteral("Setup"), QStringLiteral("TXPort"),
                                QStringLiteral("COM1"));
    {
        irlearn::MainWindow denied(irlearn::Settings(ini), new DeniedLink);
        denied.findChild<QPushButton *>(QStringLiteral("Command1"))->click();
        const QString why =
            denied.findChild<QPlainTextEdit *>(QStringLiteral("Text2"))->toPlainText();
        QVERIFY2(why.startsWith(QStringLiteral("没有权限打开端口：") + pinned) &&
                     why.contains(QStringLiteral(" %1 组").arg(QFileInfo(slave).group())),
                 qPrintable(why));
        QCOMPARE(denied.findChild<QLabel *>(QStringLiteral("Label4"))->toolTip(), why);
        QCOMPARE(denied.findChild<QPushButton *>(QStringLiteral("Command1"))->text(),
                 QStringLiteral("连 接"));
    }
    ::close(master);
}

// A device that appears after the window was built (an adapter plugged in later): a connect finds
// it without the list having been opened, and the selector's list shows it once it opens.
void WindowTest::portListFollowsTheSystem()
{
    QTemporaryDir dir;
    const QString plugged = dir.filePath(QStringLiteral("ttyPlugged"));
    WindowHarness h{plugged};
    auto *combo1 = h.child<QComboBox>(QStringLiteral("Combo1"));
    QCOMPARE(combo1->findText(QStringLiteral("COM1")), -1);

    SimProcess sim;
    QVERIFY(sim.start());
    QVERIFY(QFile::link(sim.linkPath(), plugged));
    combo1->setEditText(QStringLiteral("COM1"));
    QVERIFY(h.connectPort());
    h.click(QStringLiteral("Check1"));
    QVERIFY(h.idle());
    QCOMPARE(sim.received(), QStringList{QStringLiteral("0001F0")});

    h.click(QStringLiteral("Command1")); // disconnect: the selector is usable again
    combo1->showPopup();
    combo1->hidePopup();
    QVERIFY(combo1->findText(QStringLiteral("COM1")) >= 0);
    QCOMPARE(combo1->toolTip(), plugged);
    // The entry names the device the system sees behind the pinned name.
    QCOMPARE(combo1->itemData(combo1->findText(QStringLiteral("COM1")), Qt::ToolTipRole).toString(),
             plugged + QLatin1Char('\n') + QFileInfo(sim.linkPath()).canonicalFilePath());
}

// Closing the window saves the port and the device number, on a first run (no file yet) and while
// connected. The desktop session's end takes the same path, but its signal cannot be raised from
// a test (its session manager cannot be made).
void WindowTest::settingsSavedOnClose()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("VexoSet.ini"));
    {
        irlearn::MainWindow window{irlearn::Settings(path)};
        QVERIFY(window.findChild<QComboBox *>(QStringLiteral("Combo1"))->currentText().isEmpty());
        QVERIFY(window.findChild<QLineEdit *>(QStringLiteral("Text1"))->text().isEmpty());
        QVERIFY(!QFile::exists(path));
        window.findChild<QLineEdit *>(QStringLiteral("Text1"))->setText(QStringLiteral("0007"));
        window.close();
    }
    const QString setup = QStringLiteral("Setup");
    QCOMPARE(setting(path, setup, QStringLiteral("TXsbID")), QStringLiteral("0007"));
    QCOMPARE(setting(path, setup, QStringLiteral("TXPort")), QString());

    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    h.child<QLineEdit>(QStringLiteral("Text1"))->setText(QStringLiteral("00\n12"));
    h.window().close();
    QCOMPARE(setting(h.settingsPath(), setup, QStringLiteral("TXPort")), QStringLiteral("COM1"));
    QCOMPARE(setting(h.settingsPath(), setup, QStringLiteral("TXsbID")), QStringLiteral("00 12"));
    QCOMPARE(setting(h.settingsPath(), QStringLiteral("Ports"), QStringLiteral("COM1")),
             sim.linkPath());
}

void WindowTest::unplugDisconnectsAndFreesThePanels()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    h.click(QStringLiteral("CommandPanel"));
    QVERIFY(!deviceInFront(h));

    sim.kill();
    QVERIFY(QTest::qWaitFor(
        [&] { return h.button(QStringLiteral("Command1"))->text() == QStringLiteral("连 接"); },
        5000));
    QVERIFY(h.logLines().contains(QStringLiteral("端口连接失败！")));
    QVERIFY(h.child<QComboBox>(QStringLiteral("Combo1"))->isEnabled());
    QVERIFY(allEnabled(h, false));
    // The device panel can still be brought back.
    h.click(QStringLiteral("CommandPanel"));
    QVERIFY(deviceInFront(h));

    // Nothing spins once the port is gone: the process stays almost idle.
    const double before = cpuSeconds();
    QTest::qWait(800);
    const double used = cpuSeconds() - before;
    QVERIFY2(used < 0.3, qPrintable(QStringLiteral("CPU seconds used: %1").arg(used)));
}

void WindowTest::fixedSizeAndProjectLink()
{
    WindowHarness h{QString()};
    const QSize designed(936, 534);
    QCOMPARE(h.window().size(), designed);
    h.window().resize(1200, 800);
    QTest::qWait(20);
    QCOMPARE(h.window().size(), designed);
    QVERIFY(!(h.window().windowFlags() & Qt::WindowMaximizeButtonHint));

    UrlSink sink;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &sink, "open");
    auto *link = h.child<QLabel>(QStringLiteral("Label5"));
    QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(link, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(sink.opened, QList<QUrl>{QUrl(irlearn::MainWindow::projectUrl)});
}

// The wait notice counts every record up to 16/16, on a read and on a verified download (the
// write, then the read back). A device that stores one record wrongly has that record named, a
// correct one all 16 confirmed, once each in a box and in the log. The option outlives a restart.
void WindowTest::progressAndVerifiedDownloads()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("table.bin"));
    const QString done = QStringLiteral("\n16/16  约剩0秒");
    for (const bool faulty : {true, false}) {
        // Three tables go over the line here: at its real speed that would be 13 s of waiting
        // for what the fault matrix already shows paced.
        SimProcess sim(faulty ? QStringList{QStringLiteral("--wrong-record"), QStringLiteral("6")}
                              : QStringList{QStringLiteral("--seed"), QStringLiteral("5")},
                       SimProcess::Pace::Instant);
        QVERIFY(sim.start());
        WindowHarness h(sim.linkPath());
        QVERIFY(h.connectPort());
        NoticeLog notice(h);
        auto *verify = h.child<QCheckBox>(QStringLiteral("CheckVerify"));
        QVERIFY(!verify->isChecked());
        if (faulty) {
            h.click(QStringLiteral("Command5"));
            QVERIFY(h.idle());
            QCOMPARE(notice.captions.size(), 17);
            QCOMPARE(notice.captions.constLast(), QStringLiteral("正在读取数据，请稍等...") + done);
            notice.captions.clear();
            QString error;
            QVERIFY2(irlearn::codefile::write(file, h.window().table(), &error), qPrintable(error));
        }
        h.click(verify);
        QCOMPARE(setting(h.settingsPath(), QStringLiteral("Download"), QStringLiteral("Verify")),
                 QStringLiteral("1"));
        h.answerNextFileDialog(file);
        h.click(QStringLiteral("Command6"));
        QVERIFY(h.idle());
        QCOMPARE(notice.captions.size(), 34);
        QCOMPARE(notice.captions.at(16), QStringLiteral("正在写入数据，请稍等...") + done);
        QCOMPARE(notice.captions.at(33), QStringLiteral("正在读取数据，请稍等...") + done);
        const QString verdict = faulty ? QStringLiteral("校验失败：第7条记录与文件不一致。")
                                       : QStringLiteral("校验完成：16条记录全部一致。");
        QCOMPARE(h.messages(), QStringList{verdict});
        QCOMPARE(h.logLines().count(verdict), 1);
        if (faulty) {
            irlearn::MainWindow again{irlearn::Settings(h.settingsPath())};
            auto *kept = again.findChild<QCheckBox *>(QStringLiteral("CheckVerify"));
            QVERIFY(kept->isChecked());
            kept->click();
            QCOMPARE(
                setting(h.settingsPath(), QStringLiteral("Download"), QStringLiteral("Verify")),
                QStringLiteral("0"));
        }
    }
}

void WindowTest::learningCountdownReachesZero()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    auto *prompt = h.child<QLabel>(QStringLiteral("Label2"));
    const QString text = prompt->text();
    QStringList shown;
    QObject guard;
    QObject::connect(&h.window().engine(), &irlearn::DeviceEngine::learningCountdown, &guard,
                     [&] { shown << prompt->text(); });
    h.click(QStringLiteral("CommandPanel"));
    h.child<QComboBox>(QStringLiteral("Combo2"))->setEditText(QStringLiteral("5"));
    h.child<QLineEdit>(QStringLiteral("Text3"))->setText(QStringLiteral("制冷"));
    h.click(QStringLiteral("Command3"));
    QVERIFY(h.idle());
    QVERIFY(shown.size() >= 2);
    QCOMPARE(shown.constFirst(), text + QStringLiteral(" 1秒"));
    QCOMPARE(shown.constLast(), text + QStringLiteral(" 0秒"));
    QCOMPARE(prompt->text(), text);
}

// The log pane's menu: it opens on a right-click; copy and select all; save (UTF-8, CR LF, time
// stamps once on); a save that cannot be made is told and leaves nothing behind; clear. The
// time-stamp option outlives a restart.
void WindowTest::logMenu()
{
    QTemporaryDir dir;
    const QString gone = dir.filePath(QStringLiteral("ttyGone"));
    WindowHarness h{gone}; // COM1 pinned to a device that is not there
    auto *pane = h.child<QPlainTextEdit>(QStringLiteral("Text2"));
    const auto action = [&h](const char *name) {
        return h.window().findChild<QAction *>(QLatin1String(name));
    };
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(20, 20),
                                 pane->viewport()->mapToGlobal(QPoint(20, 20)));
    QCoreApplication::sendEvent(pane->viewport(), &rightClick);
    auto *menu = h.window().findChild<QMenu *>(QStringLiteral("LogMenu"));
    QTRY_VERIFY(menu->isVisible());
    menu->hide();

    QVERIFY(!h.connectPort());
    action("LogTimeStamps")->trigger();
    QCOMPARE(setting(h.settingsPath(), QStringLiteral("Log"), QStringLiteral("TimeStamps")),
             QStringLiteral("1"));
    QVERIFY(!h.connectPort());
    const QStringList lines = h.logLines();
    QCOMPARE(lines.size(), 2);
    const QString missing = QStringLiteral("端口不存在：%1（设备未连接或已拔出）").arg(gone);
    QCOMPARE(lines.at(0), missing);
    const QRegularExpression stamped(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
    QVERIFY2(stamped.match(lines.at(1)).hasMatch() && lines.at(1).endsWith(missing),
             qPrintable(lines.at(1)));

    QVERIFY(!action("LogCopy")->isEnabled());
    action("LogSelectAll")->trigger();
    QVERIFY(action("LogCopy")->isEnabled());
    action("LogCopy")->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), pane->toPlainText());

    const QString path = dir.filePath(QStringLiteral("日志.txt"));
    h.answerNextFileDialog(path);
    action("LogSave")->trigger();
    QCOMPARE(readFile(path),
             (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
    QCOMPARE(h.fileDialogTitles(), QStringList{QStringLiteral("保存日志")});

    // Into a "folder" that is a regular file (root writes into read-only folders).
    const QString notFolder = dir.filePath(QStringLiteral("plain"));
    QVERIFY(QFile(notFolder).open(QIODevice::WriteOnly));
    const QString bad = notFolder + QStringLiteral("/log.txt");
    h.answerNextFileDialog(bad);
    action("LogSave")->trigger();
    QCOMPARE(h.messages().size(), 1);
    QVERIFY2(h.messages().at(0).startsWith(QStringLiteral("日志未保存：") + bad),
             qPrintable(h.messages().at(0)));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("plain"), QStringLiteral("日志.txt")}));
    QCOMPARE(QFileInfo(notFolder).size(), 0);

    action("LogClear")->trigger();
    QVERIFY(pane->toPlainText().isEmpty());
    h.answerNextFileDialog(path);
    action("LogSave")->trigger();
    QCOMPARE(readFile(path), QByteArray());

    irlearn::MainWindow again{irlearn::Settings(h.settingsPath())};
    QVERIFY(again.findChild<QAction *>(QStringLiteral("LogTimeStamps"))->isChecked());
}

// --port and --device select at start-up and are saved only where the operator changed them; a
// command line that cannot be followed is refused with status 2; --version prints the version.
void WindowTest::commandLine()
{
    using irlearn::StartOptions;
    const QString program = QStringLiteral("irlearn");
    const StartOptions given =
        StartOptions::parse({program, QStringLiteral("--port"), QStringLiteral("com7"),
                             QStringLiteral("--device"), QStringLiteral("0042")});
    QCOMPARE(given.action, StartOptions::Action::Run);
    QCOMPARE(given.port, QStringLiteral("COM7"));
    QCOMPARE(given.device, QStringLiteral("0042"));
    for (const char *bad : {"--port COM33", "--port COM0", "--port 7", "--device 42",
                            "--device 00x1", "--bogus", "stray", "--port"}) {
        const StartOptions refused = StartOptions::parse(
            QStringList{program} + QString::fromLatin1(bad).split(QLatin1Char(' ')));
        QVERIFY2(refused.action == StartOptions::Action::Refuse && !refused.error.isEmpty(), bad);
    }

    const QString setup = QStringLiteral("Setup");
    for (const bool changed : {false, true}) {
        WindowHarness h{QString()}; // saved: COM1, 0001
        h.window().startWith(QStringLiteral("COM7"), QStringLiteral("0042"));
        QCOMPARE(h.child<QComboBox>(QStringLiteral("Combo1"))->currentText(),
                 QStringLiteral("COM7"));
        QCOMPARE(h.child<QLineEdit>(QStringLiteral("Text1"))->text(), QStringLiteral("0042"));
        if (changed)
            h.child<QLineEdit>(QStringLiteral("Text1"))->setText(QStringLiteral("0043"));
        h.window().close();
        QCOMPARE(setting(h.settingsPath(), setup, QStringLiteral("TXPort")),
                 QStringLiteral("COM1"));
        QCOMPARE(setting(h.settingsPath(), setup, QStringLiteral("TXsbID")),
                 changed ? QStringLiteral("0043") : QStringLiteral("0001"));
    }

    QProcess app;
    app.start(QStringLiteral(IRLEARN_APP_PATH), {QStringLiteral("--version")});
    QVERIFY(app.waitForFinished(10000));
    QCOMPARE(app.exitCode(), 0);
    QCOMPARE(app.readAllStandardOutput(), QByteArray("irlearn " IRLEARN_VERSION "\n"));
    app.start(QStringLiteral(IRLEARN_APP_PATH), {QStringLiteral("--device"), QStringLiteral("12")});
    QVERIFY(app.waitForFinished(10000));
    QCOMPARE(app.exitCode(), StartOptions::refusedStatus);
    QVERIFY(app.readAllStandardOutput().isEmpty());
    QVERIFY(
        QString::fromUtf8(app.readAllStandardError()).contains(QStringLiteral("设备号无效：12")));
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
