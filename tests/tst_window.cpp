// The window's start-up, connection, settings and unplug, on the simulated device.
#include "support/windowharness.h"

#include "base/inifile.h"
#include "serial/commcontrol.h"
#include "workflows/session.h"

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

const QStringList deviceControls = {
    QStringLiteral("Check1"),   QStringLiteral("Command2"), QStringLiteral("Check_0"),
    QStringLiteral("Check_5"),  QStringLiteral("Check_9"),  QStringLiteral("Command5"),
    QStringLiteral("Command6"), QStringLiteral("Frame3"),   QStringLiteral("CommandPanel")};

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
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Index among the window's children: a later child is drawn above an earlier one.
int stackIndex(QWidget *w)
{
    return int(w->parentWidget()->children().indexOf(w));
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void startUpState();
    void firstRunCreatesSettingsOnClose();
    void connectSendsFramesAndDisconnects();
    void portThatCannotBeOpenedStaysDisconnected();
    void settingsKeptOnClose();
    void unplugDisconnectsWithoutSpinning();
    void commandTablePanelComesForward();
    void sizeIsFixed();
    void webLinkOpensTheProjectPage();
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

void WindowTest::startUpState()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());

    auto *combo1 = h.child<QComboBox>(QStringLiteral("Combo1"));
    QCOMPARE(combo1->currentText(), QStringLiteral("COM1"));
    QVERIFY(combo1->findText(QStringLiteral("COM1")) >= 0); // the simulator can be opened
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
    QCOMPARE(combo2->itemText(0), QStringLiteral("1"));
    QCOMPARE(combo2->itemText(107), QStringLiteral("108"));
    QCOMPARE(combo2->currentText(), QStringLiteral("1"));

    auto *log = h.child<QPlainTextEdit>(QStringLiteral("Text2"));
    QVERIFY(log->isReadOnly());
    QVERIFY(log->toPlainText().isEmpty());
    QVERIFY(h.child<QLineEdit>(QStringLiteral("Text3"))->text().isEmpty());

    // The device panel is in view, the command table beneath it.
    QVERIFY(stackIndex(h.child<QWidget>(QStringLiteral("Frame2"))) >
            stackIndex(h.child<QWidget>(QStringLiteral("Frame3"))));
    QCOMPARE(h.child<QTableWidget>(QStringLiteral("Grid1"))->rowCount() + 1, 30);
}

void WindowTest::firstRunCreatesSettingsOnClose()
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
    irlearn::IniFile ini(path);
    QCOMPARE(ini.read(QStringLiteral("Setup"), QStringLiteral("TXsbID"), QStringLiteral("?")),
             QStringLiteral("0007"));
    QCOMPARE(ini.read(QStringLiteral("Setup"), QStringLiteral("TXPort"), QStringLiteral("?")),
             QString());
}

void WindowTest::connectSendsFramesAndDisconnects()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());

    QVERIFY(h.connectPort());
    QVERIFY(!h.child<QComboBox>(QStringLiteral("Combo1"))->isEnabled());
    QVERIFY(allEnabled(h, true));
    QVERIFY(!h.button(QStringLiteral("Command4"))->isEnabled());

    h.click(QStringLiteral("Check1"));
    QVERIFY(sim.waitForReceived(1));
    QCOMPARE(sim.received(), QStringList{QStringLiteral("0001F0")});
    QVERIFY(h.logLines().contains(QStringLiteral("--== 输出指令[0001F0] ==--")));
    QVERIFY(h.logLines().contains(QStringLiteral("收到参数：F0")));
    QVERIFY(h.child<QPlainTextEdit>(QStringLiteral("Text2"))
                ->toPlainText()
                .contains(QStringLiteral("收到参数：F0")));

    h.click(QStringLiteral("Command1"));
    QCOMPARE(h.button(QStringLiteral("Command1"))->text(), QStringLiteral("连 接"));
    QVERIFY(h.child<QComboBox>(QStringLiteral("Combo1"))->isEnabled());
    QVERIFY(allEnabled(h, false));
    QVERIFY(!h.session().comm.PortOpen());

    // Released: another program can have the port now.
    QSerialPort other(sim.linkPath());
    QVERIFY(other.open(QIODevice::ReadWrite));
}

void WindowTest::portThatCannotBeOpenedStaysDisconnected()
{
    SimProcess sim;
    QVERIFY(sim.start());
    {
        // A port with no device behind it.
        WindowHarness h(sim.linkPath(), QStringLiteral("0001"), QStringLiteral("COM9"));
        QCOMPARE(h.child<QComboBox>(QStringLiteral("Combo1"))->currentText(),
                 QStringLiteral("COM9")); // shown although it is not in the list
        QVERIFY(!h.connectPort());
        QVERIFY(allEnabled(h, false));
        QVERIFY(h.log().isEmpty());
    }
    {
        // A port another program holds.
        WindowHarness h(sim.linkPath());
        QSerialPort other(sim.linkPath());
        QVERIFY(other.open(QIODevice::ReadWrite));
        QVERIFY(!h.connectPort());
        QCOMPARE(h.button(QStringLiteral("Command1"))->text(), QStringLiteral("连 接"));
        QVERIFY(allEnabled(h, false));
        other.close();
        QVERIFY(h.connectPort());
    }
}

void WindowTest::settingsKeptOnClose()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    h.child<QLineEdit>(QStringLiteral("Text1"))->setText(QStringLiteral("00\n12"));
    h.window().close(); // while connected

    irlearn::IniFile ini(h.settingsPath());
    QCOMPARE(ini.read(QStringLiteral("Setup"), QStringLiteral("TXPort"), QString()),
             QStringLiteral("COM1"));
    QCOMPARE(ini.read(QStringLiteral("Setup"), QStringLiteral("TXsbID"), QString()),
             QStringLiteral("00 12"));
    QCOMPARE(ini.read(QStringLiteral("Ports"), QStringLiteral("COM1"), QString()), sim.linkPath());
}

void WindowTest::unplugDisconnectsWithoutSpinning()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());

    sim.kill();
    QVERIFY(WindowHarness::waitFor(
        [&] { return h.button(QStringLiteral("Command1"))->text() == QStringLiteral("连 接"); },
        5000));
    QVERIFY(h.logLines().contains(QStringLiteral("端口连接失败！")));
    QVERIFY(h.child<QComboBox>(QStringLiteral("Combo1"))->isEnabled());
    QVERIFY(allEnabled(h, false));

    // Nothing spins once the port is gone: the process stays almost idle.
    const double before = cpuSeconds();
    QTest::qWait(2000);
    const double used = cpuSeconds() - before;
    QVERIFY2(used < 0.5, qPrintable(QStringLiteral("CPU seconds used: %1").arg(used)));
}

void WindowTest::commandTablePanelComesForward()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    auto *frame2 = h.child<QWidget>(QStringLiteral("Frame2"));
    auto *frame3 = h.child<QWidget>(QStringLiteral("Frame3"));
    QVERIFY(!h.button(QStringLiteral("CommandPanel"))->isEnabled());
    QVERIFY(h.connectPort());

    h.click(QStringLiteral("CommandPanel"));
    QVERIFY(stackIndex(frame3) > stackIndex(frame2));
    QCOMPARE(h.button(QStringLiteral("CommandPanel"))->text(), QStringLiteral("设备面板"));
    // Both panels keep their places.
    QCOMPARE(frame3->geometry(), QRect(0, 56, 545, 449));
    QCOMPARE(frame2->geometry().topLeft(), QPoint(0, 56));

    h.click(QStringLiteral("CommandPanel"));
    QVERIFY(stackIndex(frame2) > stackIndex(frame3));
    QCOMPARE(h.button(QStringLiteral("CommandPanel"))->text(), QStringLiteral("指令表"));
}

void WindowTest::sizeIsFixed()
{
    WindowHarness h{QString()};
    const QSize designed(936, 534);
    QCOMPARE(h.window().size(), designed);
    h.window().resize(1200, 800);
    QTest::qWait(50);
    QCOMPARE(h.window().size(), designed);
    QVERIFY(!(h.window().windowFlags() & Qt::WindowMaximizeButtonHint));
}

void WindowTest::webLinkOpensTheProjectPage()
{
    WindowHarness h{QString()};
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
