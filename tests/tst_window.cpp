// The window's start-up, connection, port list, settings and unplug, on the simulated device.
#include "support/windowharness.h"

#include "base/inifile.h"
#include "engine/deviceengine.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QUrl>

#include <sys/resource.h>

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
    other.close();
    QVERIFY(h.connectPort());
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

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
